// PanicException: what an internal fault becomes at the boundary.
#include "py/boundary.h"

#include "py/once_cell.h"

namespace qx {

namespace {
OnceCell<PyObject*> panic_type_cell;
}

PyObject* panic_exception_type() noexcept {
  if (PyObject* const* t = panic_type_cell.peek()) return *t;
  Result<PyObject* const*> cell = panic_type_cell.get([]() -> Result<PyObject*> {
    PyObject* type = PyErr_NewExceptionWithDoc(
        "quendrix.PanicException",
        "An internal fault of quendrix: a bug, never a verdict about a value.", PyExc_BaseException,
        nullptr);
    if (type == nullptr) return Error::fetch();
    return type;
  });
  if (!cell.ok()) {
    std::move(cell).error().restore();
    return nullptr;
  }
  return *cell.value();
}

void raise_panic(const char* message) noexcept {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the failure to make the type is raised instead
  PyErr_SetString(type, message);
}

}  // namespace qx
