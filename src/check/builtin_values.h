// Whether a value is made of builtin containers and scalars throughout, and where it holds itself.
#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "py/ref.h"

namespace qx {

enum class ValueShape : uint8_t {
  Foreign,  // something in it is not an exact builtin scalar or container
  Tree,     // builtin throughout, and no container holds itself
  Cyclic,   // builtin throughout, and some container holds itself
};

// The containers of a builtin value that lie on a cycle. Two of them share a
// number when each holds the other, at any depth (a strongly connected
// component of the graph of containers and their items); a container on no
// cycle has none.
struct CycleComponents {
  absl::flat_hash_map<PyObject*, uint32_t> of;  // numbers start at 1
  std::vector<Ref> held;                        // keeps the addresses in `of` their own
};

// Whether `root` and everything inside it are exact builtin scalars and
// containers, whose comparisons, hashes, lengths and reprs are the
// interpreter's own, and whether some container holds itself; where one
// does, fills `cycles`.
ValueShape builtin_shape(PyObject* root, CycleComponents& cycles);

// Whether `root` and everything inside it are exact builtin scalars and
// containers, without looking for cycles.
bool holds_only_builtins(PyObject* root);

}  // namespace qx
