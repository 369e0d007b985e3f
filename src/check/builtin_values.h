// Whether a value is made of builtin containers and scalars throughout, and holds itself.
#pragma once

#include <Python.h>

#include <cstdint>

namespace qx {

enum class ValueShape : uint8_t {
  Foreign,  // something in it is not an exact builtin scalar or container
  Tree,     // builtin throughout, and no container holds itself
  Cyclic,   // builtin throughout, and some container holds itself
};

// Whether `root` and everything inside it are exact builtin scalars and
// containers, whose comparisons, hashes, lengths and reprs are the
// interpreter's own, and whether some container holds itself.
ValueShape builtin_shape(PyObject* root);

inline bool holds_only_builtins(PyObject* root) {
  return builtin_shape(root) != ValueShape::Foreign;
}

}  // namespace qx
