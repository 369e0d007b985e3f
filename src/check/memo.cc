// A check's memo of walks into recursive definitions, kept only where no user code can run.
#include "check/memo.h"

#include <vector>

#include "absl/container/flat_hash_set.h"
#include "check/dict_items.h"
#include "check/test_cost.h"

namespace qx {

namespace {

bool is_builtin_container(PyObject* obj) {
  return PyList_CheckExact(obj) || PyTuple_CheckExact(obj) || PyDict_CheckExact(obj) ||
         PySet_CheckExact(obj) || PyFrozenSet_CheckExact(obj);
}

// Whether `root` and everything inside it are exact builtin scalars and
// containers, whose comparisons, hashes, lengths and reprs are the
// interpreter's own. Iterative, with each container visited once, so deep
// and cyclic values cost their size and no native stack.
bool holds_only_builtins(PyObject* root) {
  std::vector<Ref> todo;
  std::vector<Ref> containers;  // keeps what `seen` names alive
  absl::flat_hash_set<PyObject*> seen;
  todo.push_back(Ref::borrow(root));
  while (!todo.empty()) {
    Ref held = std::move(todo.back());
    todo.pop_back();
    PyObject* obj = held.get();
    if (is_builtin_scalar(obj)) continue;
    if (!is_builtin_container(obj)) return false;
    if (!seen.insert(obj).second) continue;
    if (PyList_CheckExact(obj)) {
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
        Ref item = Ref::steal(PyList_GetItemRef(obj, i));
        if (!item) {  // shrunk by another thread meanwhile
          PyErr_Clear();
          break;
        }
        todo.push_back(std::move(item));
      }
    } else if (PyTuple_CheckExact(obj)) {
      for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(obj); ++i) {
        todo.push_back(Ref::borrow(PyTuple_GET_ITEM(obj, i)));
      }
    } else if (PyDict_CheckExact(obj)) {
      Py_ssize_t pos = 0;
      DictItem item;
      while (item.next(obj, pos)) {
        todo.push_back(Ref::borrow(item.key()));
        todo.push_back(Ref::borrow(item.value()));
      }
    } else {
      // The exact set types iterate without hashing or comparing elements.
      Ref iterator = Ref::steal(PyObject_GetIter(obj));
      while (iterator) {
        Ref element = Ref::steal(PyIter_Next(iterator.get()));
        if (!element) break;
        todo.push_back(std::move(element));
      }
      if (PyErr_Occurred()) {
        PyErr_Clear();
        return false;
      }
    }
    containers.push_back(std::move(held));
  }
  return true;
}

}  // namespace

WalkMemo::WalkMemo(PyObject* root, const CompiledSchema& schema, const Precompute& precompute)
    : root_(root),
      possible_(!schema.definitions.empty() && precompute.builtin_values_run_no_python) {}

void WalkMemo::open(const RecursionGuard& guard) {
  if (state_ != State::Unasked) return;
  state_ =
      possible_ && (root_ == nullptr || holds_only_builtins(root_)) ? State::Open : State::Closed;
  if (state_ != State::Open) return;
  uint32_t below = 0;
  for (size_t i = 0; i < guard.size(); ++i) {
    below = name(below, guard.active[i]);
    names_[i] = below;
  }
}

void WalkMemo::note_waste(uint64_t visits, const RecursionGuard& guard) {
  if (state_ != State::Unasked) return;
  waste_ += visits;
  if (waste_ >= kWasteBeforeOpening) open(guard);
}

uint32_t WalkMemo::name(uint32_t below, RecursionGuard::Pair pair) {
  // Names start at 1: 0 is the empty guard.
  auto [it, added] = steps_.try_emplace(Step{below, pair}, 0);
  if (added) it->second = static_cast<uint32_t>(steps_.size());
  return it->second;
}

bool WalkMemo::recall(const RecursionGuard& guard, WalkMode mode, const Path& path,
                      ErrorList& errors, bool& verdict) {
  const size_t depth = guard.size();
  const uint32_t below = depth > 1 ? names_[depth - 2] : 0;
  names_[depth - 1] = name(below, guard.active[depth - 1]);
  firsts_[depth - 1] = errors.size();
  auto hit = entries_.find(key(names_[depth - 1], mode));
  if (hit == entries_.end()) return false;
  verdict = hit->second.verdict;
  for (const ErrorRecord& record : hit->second.records) {
    ErrorRecord copy{path, record.expected, record.value, record.code};
    copy.path.insert(copy.path.end(), record.path.begin(), record.path.end());
    errors.push_back(std::move(copy));
  }
  return true;
}

void WalkMemo::remember(const RecursionGuard& guard, WalkMode mode, bool verdict,
                        const ErrorList& errors, size_t depth) {
  const size_t first = firsts_[guard.size() - 1];
  Entry entry{verdict, {}};
  entry.records.reserve(errors.size() - first);
  for (size_t i = first; i < errors.size(); ++i) {
    const ErrorRecord& record = errors[i];
    if (record.path.size() < depth) return;  // not made below this walk: keep no entry
    entry.records.push_back(
        ErrorRecord{Path(record.path.begin() + static_cast<ptrdiff_t>(depth), record.path.end()),
                    record.expected, record.value, record.code});
  }
  entries_.insert_or_assign(key(names_[guard.size() - 1], mode), std::move(entry));
}

}  // namespace qx
