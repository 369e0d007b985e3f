// The items of a builtin container, read from its own storage without running Python code.
#pragma once

#include <Python.h>

#include <utility>

#include "py/ref.h"

namespace qx {

// Hands out the items of a list, tuple, dict, set or frozenset (or of a
// subclass of one), for a dict each key and then its value. Only the builtin
// types' own storage or iterators are read, so no Python code runs; the
// container and each item handed out are held, so reading is sound without
// the interpreter lock.
class ContainerItems {
 public:
  explicit ContainerItems(Ref container) : container_(std::move(container)) {}

  PyObject* container() const { return container_.get(); }
  // The next item, or null at the end (or where a set changed size).
  Ref next();
  // Whether the item handed out last was a dict's key, its value next.
  bool value_pending() const { return static_cast<bool>(pending_); }

 private:
  Ref container_;
  Py_ssize_t pos_ = 0;
  Ref iterator_;  // sets
  Ref pending_;   // dicts: the value of the key just handed out
};

}  // namespace qx
