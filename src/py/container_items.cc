// The items of a builtin container read from its own storage, running no Python code.
#include "py/container_items.h"

namespace qx {

Ref next_item(ItemCursor& cursor) {
  if (cursor.pending) return std::move(cursor.pending);
  PyObject* c = cursor.container.get();
  if (PyList_Check(c)) {
    if (cursor.pos >= PyList_GET_SIZE(c)) return Ref();
    Ref item = Ref::steal(PyList_GetItemRef(c, cursor.pos++));
    if (!item) PyErr_Clear();
    return item;
  }
  if (PyTuple_Check(c)) {
    if (cursor.pos >= PyTuple_GET_SIZE(c)) return Ref();
    return Ref::borrow(PyTuple_GET_ITEM(c, cursor.pos++));
  }
  if (PyDict_Check(c)) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Ref out;
    Py_BEGIN_CRITICAL_SECTION(c);
    if (PyDict_Next(c, &cursor.pos, &key, &value)) {
      out = Ref::borrow(key);
      cursor.pending = Ref::borrow(value);
    }
    Py_END_CRITICAL_SECTION();
    return out;
  }
  if (!cursor.iterator) {
    PyTypeObject* base = PyFrozenSet_Check(c) ? &PyFrozenSet_Type : &PySet_Type;
    cursor.iterator = Ref::steal(base->tp_iter(c));
    if (!cursor.iterator) {
      PyErr_Clear();
      return Ref();
    }
  }
  Ref item = Ref::steal(PyIter_Next(cursor.iterator.get()));
  if (!item) PyErr_Clear();
  return item;
}

}  // namespace qx
