// The items of a builtin container, read from its own storage without running Python code.
#include "py/container_items.h"

namespace qx {

Ref ContainerItems::next() {
  if (pending_) return std::move(pending_);
  PyObject* c = container_.get();
  if (PyList_Check(c)) {
    if (pos_ >= PyList_GET_SIZE(c)) return Ref();
    Ref item = Ref::steal(PyList_GetItemRef(c, pos_++));
    if (!item) PyErr_Clear();
    return item;
  }
  if (PyTuple_Check(c)) {
    if (pos_ >= PyTuple_GET_SIZE(c)) return Ref();
    return Ref::borrow(PyTuple_GET_ITEM(c, pos_++));
  }
  if (PyDict_Check(c)) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Ref out;
    Py_BEGIN_CRITICAL_SECTION(c);
    if (PyDict_Next(c, &pos_, &key, &value)) {
      out = Ref::borrow(key);
      pending_ = Ref::borrow(value);
    }
    Py_END_CRITICAL_SECTION();
    return out;
  }
  if (!iterator_) {
    PyTypeObject* base = PyFrozenSet_Check(c) ? &PyFrozenSet_Type : &PySet_Type;
    iterator_ = Ref::steal(base->tp_iter(c));
    if (!iterator_) {
      PyErr_Clear();
      return Ref();
    }
  }
  Ref item = Ref::steal(PyIter_Next(iterator_.get()));
  if (!item) PyErr_Clear();  // a set changed size: its repr will say what it holds
  return item;
}

}  // namespace qx
