// Fallible results: a value or an owned Python exception, raised only at the boundary.
#pragma once

#include <Python.h>

#include <cassert>
#include <string_view>
#include <utility>
#include <variant>

#include "py/ref.h"

namespace qx {

// An owned, normalised exception instance. Errors travel as values and are
// put back into the interpreter only by the boundary (or by code that hands
// control back to CPython), so Python code never runs with one pending.
class Error {
 public:
  // Takes the interpreter's pending exception. If none is pending (a C API
  // contract was broken), a SystemError stands in so an error is never lost.
  static Error fetch() noexcept;
  // A new `type` instance with `message` as its one argument.
  static Error make(PyObject* type, std::string_view message) noexcept;
  static Error from(Ref exception) noexcept { return Error(std::move(exception)); }

  PyObject* get() const noexcept { return exc_.get(); }
  Ref take() && noexcept { return std::move(exc_); }
  // Sets the exception as the interpreter's pending one.
  void restore() && noexcept { PyErr_SetRaisedException(exc_.release()); }
  // Whether the exception is an instance of `type`.
  bool matches(PyObject* type) const noexcept {
    return PyErr_GivenExceptionMatches(exc_.get(), type);
  }

 private:
  explicit Error(Ref exc) noexcept : exc_(std::move(exc)) {}
  Ref exc_;
};

Error type_error(std::string_view message) noexcept;
Error value_error(std::string_view message) noexcept;
Error not_implemented_error(std::string_view message) noexcept;
Error runtime_error(std::string_view message) noexcept;
// RecursionError: too little of the thread's native stack is left to go on.
Error stack_exhausted_error() noexcept;

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return v_.index() == 0; }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  Error&& error() && { return std::get<1>(std::move(v_)); }
  const Error& error() const& { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : err_(std::move(error).take()) {}
  static Status success() { return Status(); }
  bool ok() const noexcept { return !err_; }
  Error error() && { return Error::from(std::move(err_)); }

 private:
  Ref err_;
};

#define QX_CONCAT_INNER(a, b) a##b
#define QX_CONCAT(a, b) QX_CONCAT_INNER(a, b)

// Returns the error of a Status or Result expression from the enclosing function.
#define QX_TRY(expr)                                                    \
  do {                                                                  \
    auto&& qx_try_result_ = (expr);                                     \
    if (!qx_try_result_.ok()) return std::move(qx_try_result_).error(); \
  } while (0)

// `QX_ASSIGN(auto x, expr);` binds the value of a Result or returns its error.
#define QX_ASSIGN(lhs, expr) QX_ASSIGN_IMPL(QX_CONCAT(qx_res_, __LINE__), lhs, expr)
#define QX_ASSIGN_IMPL(tmp, lhs, expr)          \
  auto tmp = (expr);                            \
  if (!tmp.ok()) return std::move(tmp).error(); \
  lhs = std::move(tmp).value()

// A new reference from a C API call, or the pending error.
inline Result<Ref> checked(PyObject* obj) noexcept {
  if (obj == nullptr) return Error::fetch();
  return Ref::steal(obj);
}

}  // namespace qx
