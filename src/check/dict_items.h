// Guarded iteration over a dict's own storage, for checks that run Python code per item.
#pragma once

#include <Python.h>

#include "check/walk_kinds.h"
#include "py/ref.h"

namespace qx {

// One item of a dict under iteration, read from the dict's own storage
// (PyDict_Next: a subclass's overridden methods never run). With the GIL the
// key and value are borrowed: the dict holds them while no Python code runs,
// and a look that runs none costs no reference counting. hold() takes
// references before anything that may run Python code, which could change
// the dict. Free-threaded builds hold both from the start, since another
// thread may change the dict at any time.
class DictItem {
 public:
  PyObject* key() const { return key_; }
  PyObject* value() const { return value_; }
  void hold() {
    if (held_key_) return;
    held_key_ = Ref::borrow(key_);
    held_value_ = Ref::borrow(value_);
  }

  // One step of the iteration at `pos`, atomic against writers on
  // free-threaded builds; false at the end.
  bool next(PyObject* dict, Py_ssize_t& pos) {
    bool more = false;
    Py_BEGIN_CRITICAL_SECTION(dict);
    more = PyDict_Next(dict, &pos, &key_, &value_) != 0;
#ifdef Py_GIL_DISABLED
    if (more) hold();
#endif
    Py_END_CRITICAL_SECTION();
    return more;
  }

 private:
  PyObject* key_ = nullptr;
  PyObject* value_ = nullptr;
  Ref held_key_;
  Ref held_value_;
};

// Calls visit(item) for each item in the dict's order until it returns
// false. A dict that changes size or keys meanwhile ends the check with the
// matching RuntimeError (the entry raises it) and the loop with false.
template <class Visit>  // Visit: (DictItem& item) -> bool
bool for_each_dict_item(PyObject* dict, const WalkContext& ctx, Visit&& visit) {
  const Py_ssize_t size = PyDict_GET_SIZE(dict);
  Py_ssize_t left = size;
  Py_ssize_t pos = 0;
  for (;;) {
    if (PyDict_GET_SIZE(dict) != size) {
      stop_with_runtime_error("dictionary changed size during iteration", ctx);
      return false;
    }
    DictItem item;
    if (!item.next(dict, pos)) return true;
    if (left-- == 0) {
      stop_with_runtime_error("dictionary keys changed during iteration", ctx);
      return false;
    }
    if (!visit(item)) return false;
  }
}

}  // namespace qx
