// Whether a value is made of builtin containers and scalars throughout, and holds itself.
#include "check/builtin_values.h"

#include <vector>

#include "absl/container/flat_hash_map.h"
#include "check/test_cost.h"
#include "py/container_items.h"
#include "py/ref.h"

namespace qx {

namespace {

bool is_builtin_container(PyObject* obj) {
  return PyList_CheckExact(obj) || PyTuple_CheckExact(obj) || PyDict_CheckExact(obj) ||
         PySet_CheckExact(obj) || PyFrozenSet_CheckExact(obj);
}

}  // namespace

// A depth-first search that keeps each container it has met, so deep values
// cost their size and no native stack, and addresses stay unique while they
// are compared.
ValueShape builtin_shape(PyObject* root) {
  if (is_builtin_scalar(root)) return ValueShape::Tree;
  if (!is_builtin_container(root)) return ValueShape::Foreign;
  std::vector<ContainerItems> path;
  std::vector<Ref> finished;                 // keeps the containers `met` names alive
  absl::flat_hash_map<PyObject*, bool> met;  // container: still on the path
  bool cyclic = false;
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
    PyObject* obj = item.get();
    if (is_builtin_scalar(obj)) continue;
    if (!is_builtin_container(obj)) return ValueShape::Foreign;
    auto [at, first] = met.try_emplace(obj, true);
    if (!first) {
      cyclic = cyclic || at->second;
      continue;
    }
    path.emplace_back(std::move(item));
  }
  return cyclic ? ValueShape::Cyclic : ValueShape::Tree;
}

}  // namespace qx
