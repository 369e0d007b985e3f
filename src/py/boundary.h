// The one boundary between CPython and our code: results become returns or raised errors.
#pragma once

#include <Python.h>

#include <exception>
#include <new>

#include "py/result.h"
#include "py/stack.h"

namespace qx {

// Raises the module's PanicException (a direct BaseException subclass) with
// `message`: an internal fault, never a verdict.
void raise_panic(const char* message) noexcept;

// The type object of PanicException, created on first use; null with an
// error set if it cannot be made.
PyObject* panic_exception_type() noexcept;

namespace detail {
inline void raise_cpp_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const StackExhausted&) {
    PyErr_SetString(PyExc_RecursionError, kStackExhaustedMessage);
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown internal fault");
  }
}
}  // namespace detail

// Runs `body` (returning Result<Ref>) for a CPython entry returning an object.
template <class Body>
PyObject* boundary(Body&& body) noexcept {
  try {
    Result<Ref> result = body();
    if (result.ok()) return std::move(result).value().release();
    std::move(result).error().restore();
  } catch (...) {
    detail::raise_cpp_exception();
  }
  return nullptr;
}

// Runs `body` (returning Result<T>) for an entry returning an integer-like T;
// errors return `failure` with the exception set.
template <class T, class Body>
T boundary_value(T failure, Body&& body) noexcept {
  try {
    Result<T> result = body();
    if (result.ok()) return result.value();
    std::move(result).error().restore();
  } catch (...) {
    detail::raise_cpp_exception();
  }
  return failure;
}

}  // namespace qx
