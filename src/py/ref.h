// Owning handle for one Python reference; ownership is in the type.
#pragma once

#include <Python.h>

namespace qx {

// Holds one strong reference (or none). `steal` adopts a new reference,
// `borrow` takes a new reference from a borrowed pointer, `release` hands
// ownership back to CPython.
class Ref {
 public:
  Ref() = default;
  static Ref steal(PyObject* obj) noexcept { return Ref(obj); }
  static Ref borrow(PyObject* obj) noexcept {
    Py_XINCREF(obj);
    return Ref(obj);
  }

  Ref(Ref&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      PyObject* old = ptr_;
      ptr_ = other.ptr_;
      other.ptr_ = nullptr;
      Py_XDECREF(old);
    }
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(ptr_); }

  PyObject* get() const noexcept { return ptr_; }
  [[nodiscard]] PyObject* release() noexcept {
    PyObject* p = ptr_;
    ptr_ = nullptr;
    return p;
  }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }
  Ref clone() const noexcept { return borrow(ptr_); }
  void reset() noexcept { *this = Ref(); }

 private:
  explicit Ref(PyObject* p) noexcept : ptr_(p) {}
  PyObject* ptr_ = nullptr;
};

}  // namespace qx
