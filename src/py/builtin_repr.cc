// The start of the repr of a value of builtin containers and scalars, written without CPython's
// repr.
#include "py/builtin_repr.h"

#include <string_view>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "py/builtin_types.h"
#include "py/container_items.h"
#include "py/ref.h"
#include "py/repr.h"
#include "py/text.h"

namespace qx {

namespace {

enum class Shape : uint8_t { List, Tuple, Dict, Set, FrozenSet };

bool container_shape(PyObject* obj, Shape& shape) {
  if (PyList_CheckExact(obj)) {
    shape = Shape::List;
  } else if (PyTuple_CheckExact(obj)) {
    shape = Shape::Tuple;
  } else if (PyDict_CheckExact(obj)) {
    shape = Shape::Dict;
  } else if (PySet_CheckExact(obj)) {
    shape = Shape::Set;
  } else if (PyFrozenSet_CheckExact(obj)) {
    shape = Shape::FrozenSet;
  } else {
    return false;
  }
  return true;
}

Py_ssize_t container_size(PyObject* obj, Shape shape) {
  switch (shape) {
    case Shape::List:
      return PyList_GET_SIZE(obj);
    case Shape::Tuple:
      return PyTuple_GET_SIZE(obj);
    case Shape::Dict:
      return PyDict_GET_SIZE(obj);
    case Shape::Set:
    case Shape::FrozenSet:
      return PySet_GET_SIZE(obj);
  }
  return 0;
}

// The texts CPython writes for a container: empty, met again inside itself
// (its repr is already on the path), and around its items.
struct Marks {
  std::string_view empty;
  std::string_view again;
  std::string_view open;
  std::string_view close;
};

Marks marks_of(Shape shape) {
  switch (shape) {
    case Shape::List:
      return {"[]", "[...]", "[", "]"};
    case Shape::Tuple:
      return {"()", "(...)", "(", ")"};  // one item closes with ",)"
    case Shape::Dict:
      return {"{}", "{...}", "{", "}"};
    case Shape::Set:
      return {"set()", "set(...)", "{", "}"};
    case Shape::FrozenSet:
      return {"frozenset()", "frozenset(...)", "frozenset({", "})"};
  }
  return {};
}

// One container whose repr is in progress.
struct Frame {
  ContainerItems items;
  Shape shape;
  size_t need;  // native stack the measure charges down to here
  int depth;    // CPython's repr nesting of its items
  bool first = true;
};

// Whether a repr is in progress on this thread: CPython then writes the
// containers it is inside as "[...]" wherever they recur.
bool repr_in_progress() {
  PyObject* dict = PyThreadState_GetDict();
  if (dict == nullptr) return false;
  PyObject* list = nullptr;
  if (PyDict_GetItemStringRef(dict, "Py_Repr", &list) < 0) {
    PyErr_Clear();
    return true;
  }
  Ref held = Ref::steal(list);
  return held && (!PyList_Check(list) || PyList_GET_SIZE(list) != 0);
}

// An exact int whose repr might raise: one of more than some 600 digits,
// the least limit on int to str conversion there can be. Smaller ones are
// written whatever the limit.
bool may_exceed_digit_limit(PyObject* number) {
  if (PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(number))) return false;
  constexpr Py_ssize_t kSafeBytes = 250;  // 2,000 bits: 603 digits
  const Py_ssize_t bytes = PyLong_AsNativeBytes(number, nullptr, 0, -1);
  if (bytes < 0) PyErr_Clear();
  return bytes < 0 || bytes > kSafeBytes;
}

class PrefixWriter {
 public:
  PrefixWriter(size_t room, int remaining, size_t chars, std::string& out)
      : room_(room),
        ample_(repr_room_is_ample(room)),
        remaining_(remaining),
        left_(chars),
        out_(out) {}

  BuiltinRepr run(PyObject* root) {
    if (!take(root, 0, 1)) return outcome_;
    while (!path_.empty()) {
      Frame& frame = path_.back();
      Ref item = frame.items.next();
      if (!item) {
        close(frame);
        continue;
      }
      const bool value = frame.shape == Shape::Dict && !frame.items.value_pending();
      if (value) {
        put(": ");
      } else if (!frame.first) {
        put(", ");
      }
      frame.first = false;
      const int depth = frame.depth;
      if (!take(item.get(), frame.need, depth)) return outcome_;
    }
    return raises_ ? BuiltinRepr::Raises : BuiltinRepr::Written;
  }

 private:
  // Takes one object whose repr CPython asks for at nesting `depth`, below
  // containers whose levels need `need` bytes of stack. False when the
  // writing ends here, with outcome_ saying how.
  bool take(PyObject* obj, size_t need, int depth) {
    // The repr at nesting `depth` finds the count lowered by the `depth` - 1
    // reprs it is inside, and raises when that is below 0.
    if (depth - 1 > remaining_) raises_ = true;
    if (is_builtin_scalar(obj)) {
      write_scalar(obj);
      return true;
    }
    Shape shape;
    if (!container_shape(obj, shape)) return stop(BuiltinRepr::Unsure);
    const Marks marks = marks_of(shape);
    if (on_path_.contains(obj)) {
      put(marks.again);
      return true;
    }
    // The measure before CPython's repr charges every container not
    // already on the path, empty ones too.
    need += repr_level_cost(obj);
    if (!ample_ && need > room_) return stop(BuiltinRepr::Raises);
    if (container_size(obj, shape) == 0) {
      put(marks.empty);
      return true;
    }
    put(marks.open);
    on_path_.insert(obj);
    // A set's repr is the repr of a list of its elements, one level more.
    const int below = shape == Shape::Set || shape == Shape::FrozenSet ? 2 : 1;
    path_.push_back(Frame{ContainerItems(Ref::borrow(obj)), shape, need, depth + below});
    return true;
  }

  void close(Frame& frame) {
    PyObject* container = frame.items.container();
    const bool single = frame.shape == Shape::Tuple && PyTuple_GET_SIZE(container) == 1;
    put(single ? ",)" : marks_of(frame.shape).close);
    on_path_.erase(container);
    path_.pop_back();
  }

  void write_scalar(PyObject* obj) {
    if (raises_) return;  // only the rest of the value's types still matter
    const bool writing = left_ != 0;
    if (!writing && !(PyLong_CheckExact(obj) && may_exceed_digit_limit(obj))) return;
    Ref repr = Ref::steal(Py_TYPE(obj)->tp_repr(obj));
    if (!repr) {
      PyErr_Clear();
      raises_ = true;
      return;
    }
    if (!writing) return;
    std::string_view text;
    if (!utf8_view(repr.get(), text)) {
      raises_ = true;  // not reached: the reprs of builtin scalars escape lone surrogates
      return;
    }
    put(text);
  }

  // Appends `text`, as far as the characters still wanted go.
  void put(std::string_view text) {
    if (left_ == 0 || raises_) return;
    size_t end = 0;
    for (; end < text.size(); ++end) {
      if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) continue;
      if (left_ == 0) break;
      --left_;
    }
    out_.append(text.substr(0, end));
  }

  bool stop(BuiltinRepr outcome) {
    outcome_ = outcome;
    return false;
  }

  const size_t room_;
  const bool ample_;
  const int remaining_;
  size_t left_;
  std::string& out_;
  bool raises_ = false;
  BuiltinRepr outcome_ = BuiltinRepr::Unsure;
  std::vector<Frame> path_;
  absl::flat_hash_set<PyObject*> on_path_;
};

}  // namespace

BuiltinRepr builtin_repr_prefix(PyObject* obj, size_t room, size_t chars, std::string& out) {
#if PY_VERSION_HEX >= 0x030E0000
  // Later versions bound a repr's nesting by the stack, not by a count.
  (void)obj, (void)room, (void)chars, (void)out;
  return BuiltinRepr::Unsure;
#else
  PyThreadState* thread = PyThreadState_Get();
  if (thread->recursion_headroom != 0 || repr_in_progress()) return BuiltinRepr::Unsure;
  // Each nested PyObject_Repr takes one from this count.
  PrefixWriter writer(room, thread->c_recursion_remaining, chars, out);
  return writer.run(obj);
#endif
}

}  // namespace qx
