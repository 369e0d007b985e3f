// Whether a value is made of builtin containers and scalars throughout, and holds itself.
#include "check/builtin_values.h"

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

// Whether some container of a builtin value holds itself: a depth-first
// search that keeps each container it has met, so deep values cost their
// size and no native stack, and addresses stay unique while compared.
bool holds_itself(PyObject* root) {
  std::vector<ContainerItems> path;
  std::vector<Ref> finished;                 // keeps the containers `met` names alive
  absl::flat_hash_map<PyObject*, bool> met;  // container: still on the path
  path.emplace_back(Ref::borrow(root));
  met.emplace(root, true);
  while (!path.empty()) {
    Ref item = path.back().next();
    if (!item) {
      met[path.back().container()] = false;
      finished.push_back(Ref::borrow(path.back().container()));
      path.pop_back();
      continue;
    }
    if (is_builtin_scalar(item.get())) continue;
    auto [at, first] = met.try_emplace(item.get(), true);
    if (!first) {
      if (at->second) return true;
      continue;
    }
    path.emplace_back(std::move(item));
  }
  return false;
}

}  // namespace

ValueShape builtin_shape(PyObject* root) {
  if (is_builtin_scalar(root)) return ValueShape::Tree;
  switch (builtin_or_shared(root)) {
    case FirstLook::Foreign:
      return ValueShape::Foreign;
    case FirstLook::Tree:
      return ValueShape::Tree;
    case FirstLook::Shared:
      break;
  }
  return holds_itself(root) ? ValueShape::Cyclic : ValueShape::Tree;
}

}  // namespace qx
