// repr() of any object without running the native stack out: deep containers are measured first.
#include "py/repr.h"

#include <vector>

#include "absl/container/flat_hash_set.h"
#include "py/container_items.h"
#include "py/stack.h"

namespace qx {

namespace {

// Native stack that CPython's repr spends on one level of each builtin
// container (measured on CPython 3.13, rounded up); 0 for everything else,
// whose repr either recurses through Python or not at all.
constexpr size_t kListLevel = 160;
constexpr size_t kTupleLevel = 176;
constexpr size_t kMappingLevel = 224;  // dicts and sets, the costliest level

// How deep CPython lets a repr nest before it raises RecursionError itself.
#if defined(Py_C_RECURSION_LIMIT)
constexpr size_t kReprDepthLimit = Py_C_RECURSION_LIMIT;
#else
constexpr size_t kReprDepthLimit = 10000;
#endif

// One container on the path from the measured object down, with the stack
// its repr needs down to here.
struct Level {
  ContainerItems items;
  size_t need = 0;
};

// Whether the native recursion of repr(obj) fits in `room` bytes. A
// container already on the path is not entered: repr writes it as "[...]".
bool repr_fits(PyObject* obj, size_t cost, size_t room) {
  if (cost > room) return false;
  std::vector<Level> path;
  absl::flat_hash_set<PyObject*> on_path;
  path.push_back(Level{ContainerItems(Ref::borrow(obj)), cost});
  on_path.insert(obj);
  while (!path.empty()) {
    Ref item = path.back().items.next();
    if (!item) {
      on_path.erase(path.back().items.container());
      path.pop_back();
      continue;
    }
    const size_t level_cost = repr_level_cost(item.get());
    if (level_cost == 0 || on_path.contains(item.get())) continue;
    const size_t need = path.back().need + level_cost;
    if (need > room) return false;
    on_path.insert(item.get());
    path.push_back(Level{ContainerItems(std::move(item)), need});
  }
  return true;
}

}  // namespace

size_t repr_level_cost(PyObject* obj) {
  const reprfunc repr = Py_TYPE(obj)->tp_repr;
  if (repr == PyList_Type.tp_repr) return kListLevel;
  if (repr == PyTuple_Type.tp_repr) return kTupleLevel;
  if (repr == PyDict_Type.tp_repr || repr == PySet_Type.tp_repr ||
      repr == PyFrozenSet_Type.tp_repr) {
    return kMappingLevel;
  }
  return 0;
}

bool repr_room_is_ample(size_t room) {
  // CPython counts each nested repr against its C recursion limit and
  // raises RecursionError past it: with room for that many levels, nothing
  // needs measuring.
  return room / kMappingLevel >= kReprDepthLimit;
}

Ref repr_within_room(PyObject* obj, size_t room) {
  const size_t cost = repr_level_cost(obj);
  if (cost != 0 && !repr_room_is_ample(room) && !repr_fits(obj, cost, room)) {
    PyErr_SetString(PyExc_RecursionError, kStackExhaustedMessage);
    return Ref();
  }
  return Ref::steal(PyObject_Repr(obj));
}

Ref repr_within_stack(PyObject* obj) {
  if (repr_level_cost(obj) == 0) return Ref::steal(PyObject_Repr(obj));
  return repr_within_room(obj, stack_room());
}

}  // namespace qx
