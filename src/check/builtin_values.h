// Whether a value is made of builtin containers and scalars throughout, and where it holds itself.
#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "py/ref.h"

namespace qx {

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
// interpreter's own.
bool holds_only_builtins(PyObject* root);
// The same; where they are, fills `cycles` with the containers that lie on
// a cycle, if any.
bool holds_only_builtins(PyObject* root, CycleComponents& cycles);

}  // namespace qx
