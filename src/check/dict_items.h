// Guarded iteration over a dict's own storage, for checks that run Python code per item.
#pragma once

#include <Python.h>

#include "check/walk_kinds.h"
#include "py/ref.h"

namespace qx {

// One step of the dict's own iteration (PyDict_Next: a subclass's overridden
// methods never run), atomic against writers on free-threaded builds; the
// key and value come back as new references. The lock is not held between
// steps, so the visitor may run Python code that touches the dict.
inline bool dict_next(PyObject* dict, Py_ssize_t& pos, Ref& key, Ref& value) {
  bool more = false;
  Py_BEGIN_CRITICAL_SECTION(dict);
  PyObject* k = nullptr;
  PyObject* v = nullptr;
  more = PyDict_Next(dict, &pos, &k, &v) != 0;
  if (more) {
    key = Ref::borrow(k);
    value = Ref::borrow(v);
  }
  Py_END_CRITICAL_SECTION();
  return more;
}

// Calls visit(key, value) for each item in the dict's order until it returns
// false. A dict that changes size or keys meanwhile ends the check with the
// matching RuntimeError (the entry raises it) and the loop with false.
template <class Visit>  // Visit: (PyObject* key, PyObject* value) -> bool
bool for_each_dict_item(PyObject* dict, const WalkContext& ctx, Visit&& visit) {
  const Py_ssize_t size = PyDict_GET_SIZE(dict);
  Py_ssize_t left = size;
  Py_ssize_t pos = 0;
  Ref key;
  Ref value;
  for (;;) {
    if (PyDict_GET_SIZE(dict) != size) {
      stop_with_runtime_error("dictionary changed size during iteration", ctx);
      return false;
    }
    if (!dict_next(dict, pos, key, value)) return true;
    if (left-- == 0) {
      stop_with_runtime_error("dictionary keys changed during iteration", ctx);
      return false;
    }
    if (!visit(key.get(), value.get())) return false;
  }
}

}  // namespace qx
