// Exception values: fetching and making owned Python exceptions.
#include "py/result.h"

#include "py/stack.h"

namespace qx {

Error Error::fetch() noexcept {
  PyObject* exc = PyErr_GetRaisedException();
  if (exc == nullptr) {
    PyErr_SetString(PyExc_SystemError, "error return without exception set");
    exc = PyErr_GetRaisedException();
  }
  return Error(Ref::steal(exc));
}

Error Error::make(PyObject* type, std::string_view message) noexcept {
  Ref text = Ref::steal(
      PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return fetch();
  Ref exc = Ref::steal(PyObject_CallOneArg(type, text.get()));
  if (!exc) return fetch();
  return Error(std::move(exc));
}

Error type_error(std::string_view message) noexcept {
  return Error::make(PyExc_TypeError, message);
}
Error value_error(std::string_view message) noexcept {
  return Error::make(PyExc_ValueError, message);
}
Error not_implemented_error(std::string_view message) noexcept {
  return Error::make(PyExc_NotImplementedError, message);
}
Error runtime_error(std::string_view message) noexcept {
  return Error::make(PyExc_RuntimeError, message);
}
Error stack_exhausted_error() noexcept {
  return Error::make(PyExc_RecursionError, kStackExhaustedMessage);
}

}  // namespace qx
