// The exact builtin types whose comparisons, hashes, lengths and reprs are the interpreter's own.
#pragma once

#include <Python.h>

namespace qx {

// None, bool, or an exact int, float, str or bytes.
inline bool is_builtin_scalar(PyObject* obj) {
  return obj == Py_None || PyBool_Check(obj) || PyLong_CheckExact(obj) || PyFloat_CheckExact(obj) ||
         PyUnicode_CheckExact(obj) || PyBytes_CheckExact(obj);
}

// An exact list, tuple, dict, set or frozenset.
inline bool is_builtin_container(PyObject* obj) {
  return PyList_CheckExact(obj) || PyTuple_CheckExact(obj) || PyDict_CheckExact(obj) ||
         PySet_CheckExact(obj) || PyFrozenSet_CheckExact(obj);
}

}  // namespace qx
