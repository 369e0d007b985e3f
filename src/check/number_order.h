// Python's order of exact ints and floats, decided natively without calling Python.
#pragma once

#include <Python.h>

#include <cstdint>

namespace qx {

// How a value stands to another as Python's order would find it. Unordered:
// a NaN (every ordering test is false); Unknown: not told here.
enum class Order : uint8_t { Less, Equal, Greater, Unordered, Unknown };

// An exact int or float. An int beyond 64 bits keeps only its sign: it lies
// beyond every int64.
struct Number {
  enum class Kind : uint8_t { Int, Above, Below, Float } kind = Kind::Int;
  int64_t i = 0;
  double d = 0.0;
};

// Reads an exact int or float (not a subclass, not a bool); false otherwise.
bool read_number(PyObject* obj, Number& out);

// a against b, exactly; Unknown only where the digits of a wide int decide
// (two wide ints, or a wide int against a finite double beyond int64).
Order order_of(const Number& a, const Number& b);

Order reversed(Order order);

// The truth of `a <op> b` given their order: 1 or 0, or -1 for Unknown.
int order_holds(Order order, int op);

// The truth of `value <op> bound` (op one of Py_LT, Py_LE, Py_GT, Py_GE) when
// both are exact `int` or `float`: 1 or 0, exactly as Python compares them
// (ints of any size, ints against floats without rounding, NaN unordered).
// -1 when it cannot be told here (another type, a subclass such as bool, or
// two ints beyond 64 bits): the caller then asks Python. Never raises.
int compare_exact_numbers(PyObject* value, PyObject* bound, int op);

// compare_exact_numbers, with the common case of two small ints inline.
inline int compare_numbers(PyObject* value, PyObject* bound, int op) {
  if (Py_IS_TYPE(value, &PyLong_Type) && Py_IS_TYPE(bound, &PyLong_Type)) {
    auto* a = reinterpret_cast<PyLongObject*>(value);
    auto* b = reinterpret_cast<PyLongObject*>(bound);
    if (PyUnstable_Long_IsCompact(a) && PyUnstable_Long_IsCompact(b)) {
      const Py_ssize_t x = PyUnstable_Long_CompactValue(a);
      const Py_ssize_t y = PyUnstable_Long_CompactValue(b);
      switch (op) {
        case Py_LT:
          return x < y;
        case Py_LE:
          return x <= y;
        case Py_GT:
          return x > y;
        case Py_GE:
          return x >= y;
        default:
          return -1;
      }
    }
  }
  return compare_exact_numbers(value, bound, op);
}

}  // namespace qx
