// Python's order of exact ints and floats, decided natively without calling Python.
#include "check/number_order.h"

#include <cmath>
#include <cstdint>

namespace qx {

// Reads the common compact int without a call.
bool read_number(PyObject* obj, Number& out) {
  if (Py_IS_TYPE(obj, &PyFloat_Type)) {
    out.kind = Number::Kind::Float;
    out.d = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  if (!Py_IS_TYPE(obj, &PyLong_Type)) return false;
  auto* number = reinterpret_cast<PyLongObject*>(obj);
  if (PyUnstable_Long_IsCompact(number)) {
    out.i = PyUnstable_Long_CompactValue(number);
    return true;
  }
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (overflow != 0) {
    out.kind = overflow > 0 ? Number::Kind::Above : Number::Kind::Below;
    return true;
  }
  out.i = v;
  return true;  // an exact int converts without raising
}

namespace {

Order order_of(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return Order::Unordered;
  if (a < b) return Order::Less;
  return a == b ? Order::Equal : Order::Greater;
}

template <class T>
Order order_of_ints(T a, T b) {
  if (a < b) return Order::Less;
  return a == b ? Order::Equal : Order::Greater;
}

// 2**63: every int64 lies in [-2**63, 2**63).
constexpr double kTwo63 = 9223372036854775808.0;

// An int64 against a double, exactly: the double's floor is compared as an
// integer, then its fraction breaks a tie. Converting the int to a double
// instead would round beyond 2**53.
Order order_of(int64_t i, double d) {
  if (std::isnan(d)) return Order::Unordered;
  if (d >= kTwo63) return Order::Less;
  if (d < -kTwo63) return Order::Greater;
  const double floor = std::floor(d);
  const Order by_floor = order_of_ints(i, static_cast<int64_t>(floor));
  if (by_floor != Order::Equal) return by_floor;
  return floor == d ? Order::Equal : Order::Less;
}

// An int beyond int64 (above: >= 2**63, below: < -2**63) against a double.
// Only a finite double beyond int64's range needs the digits: unknown.
Order order_of_wide(bool above, double d) {
  if (std::isnan(d)) return Order::Unordered;
  if (above) {
    if (d < kTwo63) return Order::Greater;
    return std::isinf(d) ? Order::Less : Order::Unknown;
  }
  if (d >= -kTwo63) return Order::Less;
  return std::isinf(d) ? Order::Greater : Order::Unknown;
}

}  // namespace

Order reversed(Order o) {
  if (o == Order::Less) return Order::Greater;
  if (o == Order::Greater) return Order::Less;
  return o;
}

Order order_of(const Number& a, const Number& b) {
  using Kind = Number::Kind;
  const bool a_wide = a.kind == Kind::Above || a.kind == Kind::Below;
  const bool b_wide = b.kind == Kind::Above || b.kind == Kind::Below;
  if (a.kind == Kind::Float) {
    if (b.kind == Kind::Float) return order_of(a.d, b.d);
    if (b_wide) return reversed(order_of_wide(b.kind == Kind::Above, a.d));
    return reversed(order_of(b.i, a.d));
  }
  if (b.kind == Kind::Float) {
    if (a_wide) return order_of_wide(a.kind == Kind::Above, b.d);
    return order_of(a.i, b.d);
  }
  if (a_wide && b_wide) return Order::Unknown;  // two wide ints: their digits decide
  if (a_wide) return a.kind == Kind::Above ? Order::Greater : Order::Less;
  if (b_wide) return b.kind == Kind::Above ? Order::Less : Order::Greater;
  return order_of_ints(a.i, b.i);
}

int compare_exact_numbers(PyObject* value, PyObject* bound, int op) {
  Number a;
  Number b;
  if (!read_number(value, a) || !read_number(bound, b)) return -1;
  return order_holds(order_of(a, b), op);
}

int order_holds(Order order, int op) {
  switch (order) {
    case Order::Unknown:
      return -1;
    case Order::Unordered:
      return 0;  // NaN: every ordering comparison is false
    case Order::Less:
      return op == Py_LT || op == Py_LE;
    case Order::Equal:
      return op == Py_LE || op == Py_GE;
    case Order::Greater:
      return op == Py_GT || op == Py_GE;
  }
  return -1;
}

}  // namespace qx
