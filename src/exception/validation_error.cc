// The ValidationError exception type, made once per process.
#include "exception/validation_error.h"

#include "py/once_cell.h"

namespace qx {

namespace {
OnceCell<PyObject*> validation_error_cell;

Result<PyObject*> create_validation_error_type() {
  PyObject* type = PyErr_NewExceptionWithDoc(
      "_quendrix.ValidationError", "Raised when a value is not a member of a schema's set.",
      PyExc_Exception, nullptr);
  if (type == nullptr) return Error::fetch();
  return type;
}
}  // namespace

Result<PyObject*> validation_error_type() {
  if (PyObject* const* t = validation_error_cell.peek()) return *t;
  QX_ASSIGN(PyObject* const* cell, validation_error_cell.get(create_validation_error_type));
  return *cell;
}

}  // namespace qx
