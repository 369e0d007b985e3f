// Whether a value is made of builtin containers and scalars throughout, and where it holds itself.
#include "check/builtin_values.h"

#include <algorithm>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"
#include "check/dict_items.h"
#include "py/builtin_types.h"
#include "py/container_items.h"
#include "py/ref.h"

namespace qx {

namespace {

// Whether `root` is builtin throughout, visiting each container
// once in any order: cheap, and enough where no container is met twice, since
// a container that holds itself is met again through its own items. Shared
// where one is met twice, which only the depth-first search below tells
// apart from a cycle. Iterative, so deep values cost no native stack.
enum class FirstLook : uint8_t { Foreign, Tree, Shared };

FirstLook builtin_or_shared(PyObject* root) {
  std::vector<Ref> todo;
  std::vector<Ref> containers;  // keeps what `seen` names alive
  absl::flat_hash_set<PyObject*> seen;
  bool shared = false;
  todo.push_back(Ref::borrow(root));
  while (!todo.empty()) {
    Ref held = std::move(todo.back());
    todo.pop_back();
    PyObject* obj = held.get();
    if (is_builtin_scalar(obj)) continue;
    if (!is_builtin_container(obj)) return FirstLook::Foreign;
    if (!seen.insert(obj).second) {
      shared = true;
      continue;
    }
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
    } else {  // the set types: through their own iterator
      ContainerItems items(Ref::borrow(obj));
      while (Ref element = items.next()) todo.push_back(std::move(element));
    }
    containers.push_back(std::move(held));
  }
  return shared ? FirstLook::Shared : FirstLook::Tree;
}

// The components of the containers of a builtin value that lie on a cycle
// (Tarjan's algorithm, iterative, so deep values cost their size and no native
// stack). Each container met is held, so addresses stay unique while
// compared.
void find_cycles(PyObject* root, CycleComponents& out) {
  struct Frame {
    ContainerItems items;
    uint32_t id;
    bool holds_itself;
  };
  absl::flat_hash_map<PyObject*, uint32_t> ids;  // container: its order of discovery
  std::vector<uint32_t> low;                     // by id: the lowest id it reaches back to
  std::vector<bool> pending;                     // by id: on the component stack
  std::vector<Ref> held;                         // by id
  std::vector<uint32_t> stack;
  std::vector<Frame> path;
  uint32_t components = 0;
  auto enter = [&](Ref container) {
    const auto id = static_cast<uint32_t>(held.size());
    ids.emplace(container.get(), id);
    low.push_back(id);
    pending.push_back(true);
    held.push_back(Ref::borrow(container.get()));
    stack.push_back(id);
    path.push_back(Frame{ContainerItems(std::move(container)), id, false});
  };
  enter(Ref::borrow(root));
  while (!path.empty()) {
    Frame& frame = path.back();
    if (Ref item = frame.items.next()) {
      if (is_builtin_scalar(item.get())) continue;
      auto met = ids.find(item.get());
      if (met == ids.end()) {
        enter(std::move(item));  // `frame` is not used past this point
        continue;
      }
      if (met->second == frame.id) frame.holds_itself = true;
      if (pending[met->second]) low[frame.id] = std::min(low[frame.id], met->second);
      continue;
    }
    const uint32_t id = frame.id;
    const bool holds_itself = frame.holds_itself;
    path.pop_back();
    if (!path.empty()) low[path.back().id] = std::min(low[path.back().id], low[id]);
    if (low[id] != id) continue;
    const bool cycle = stack.back() != id || holds_itself;
    if (cycle) ++components;
    uint32_t member;
    do {
      member = stack.back();
      stack.pop_back();
      pending[member] = false;
      if (cycle) {
        out.of.emplace(held[member].get(), components);
        out.held.push_back(std::move(held[member]));
      }
    } while (member != id);
  }
}

}  // namespace

bool holds_only_builtins(PyObject* root) {
  return is_builtin_scalar(root) || builtin_or_shared(root) != FirstLook::Foreign;
}

bool holds_only_builtins(PyObject* root, CycleComponents& cycles) {
  if (is_builtin_scalar(root)) return true;
  const FirstLook look = builtin_or_shared(root);
  // Only a container met twice can hold itself.
  if (look == FirstLook::Shared) find_cycles(root, cycles);
  return look != FirstLook::Foreign;
}

}  // namespace qx
