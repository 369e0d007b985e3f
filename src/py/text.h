// UTF-8 views of str objects, without a call for the common compact-ASCII case.
#pragma once

#include <Python.h>

#include <string_view>

namespace qx {

// The UTF-8 text of a str (or subclass), borrowed from the object. False,
// with the exception cleared, when the str holds a lone surrogate and so has
// no UTF-8 form. Compact ASCII strings are read in place: their bytes are
// already UTF-8, and this is the case of nearly every dict key.
inline bool utf8_view(PyObject* str, std::string_view& out) {
  if (PyUnicode_IS_COMPACT_ASCII(str)) {
    out = std::string_view(static_cast<const char*>(PyUnicode_DATA(str)),
                           static_cast<size_t>(PyUnicode_GET_LENGTH(str)));
    return true;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) {
    PyErr_Clear();
    return false;
  }
  out = std::string_view(data, static_cast<size_t>(size));
  return true;
}

}  // namespace qx
