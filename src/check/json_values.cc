// Checks of parsed JSON values: answers that need no Python object, and one conversion per value.
#include "check/json_values.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "absl/strings/string_view.h"
#include "py/text.h"

namespace qx {

namespace {

// The exact type that json_value_to_python gives a parsed value.
PyTypeObject* converted_type(const json::Value& value) {
  switch (value.kind) {
    case json::Kind::Null:
      return Py_TYPE(Py_None);
    case json::Kind::Bool:
      return &PyBool_Type;
    case json::Kind::Int:
    case json::Kind::BigInt:
      return &PyLong_Type;
    case json::Kind::Float:
      return &PyFloat_Type;
    case json::Kind::String:
      return &PyUnicode_Type;
    case json::Kind::Array:
      return &PyList_Type;
    case json::Kind::Object:
      return &PyDict_Type;
  }
  return nullptr;
}

// How a value stands to a bound, as Python's comparison of the converted
// value would find it. Unordered: the comparison is refused (a TypeError)
// or involves a NaN, so every order test is false.
enum class Order : uint8_t { Less, Equal, Greater, Unordered, Unknown };

template <class T>
Order order_of(T a, T b) {
  if (a < b) return Order::Less;
  if (b < a) return Order::Greater;
  return a == b ? Order::Equal : Order::Unordered;
}

Order flip(Order order) {
  if (order == Order::Less) return Order::Greater;
  if (order == Order::Greater) return Order::Less;
  return order;
}

// Doubles are exact for integers up to this magnitude.
constexpr int64_t kExactInDouble = int64_t{1} << 53;

bool exact_in_double(int64_t v) { return v >= -kExactInDouble && v <= kExactInDouble; }

// A parsed big integer: beyond 64 bits, its digits without leading zeros.
struct BigInteger {
  bool negative;
  size_t digits;
};

BigInteger big_integer_of(const json::Value& value) {
  const bool negative = value.size != 0 && value.text[0] == '-';
  return BigInteger{negative, value.size - (negative ? 1 : 0)};
}

// Where |v| (10^(digits-1) <= |v| < 10^digits) lies against the magnitude
// `m` (at least 0, possibly rounded from an int, or infinite for an int
// beyond the doubles): Less, Greater, or Unknown when the ranges meet.
Order magnitude_order(size_t digits, double m) {
  constexpr double kSlack = 1e-9;  // far above the rounding of m and of pow
  if (std::isinf(m)) return digits <= 308 ? Order::Less : Order::Unknown;
  if (digits > 309) return Order::Greater;  // |v| >= 10^309, above every double
  if (m * (1 + kSlack) < std::pow(10.0, static_cast<double>(digits - 1))) return Order::Greater;
  if (m > std::pow(10.0, static_cast<double>(digits)) * (1 + kSlack)) return Order::Less;
  return Order::Unknown;
}

// A big integer against a non-zero magnitude of the same sign, or of another.
Order big_order(BigInteger v, bool bound_negative, double bound_magnitude) {
  if (v.negative != bound_negative) return v.negative ? Order::Less : Order::Greater;
  const Order by_size = magnitude_order(v.digits, bound_magnitude);
  return v.negative ? flip(by_size) : by_size;
}

// An exact int or bool bound, as read once: `small` when it fits 64 bits,
// else its sign and approximate magnitude.
struct IntBound {
  bool fits;
  int64_t small;
  bool negative;
  double magnitude;
};

IntBound read_int_bound(PyObject* bound) {
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(bound, &overflow);
  if (overflow == 0) return IntBound{true, small, false, 0};
  double approx = PyLong_AsDouble(bound);
  if (approx == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();  // beyond the doubles
    approx = overflow < 0 ? -HUGE_VAL : HUGE_VAL;
  }
  return IntBound{false, 0, overflow < 0, std::fabs(approx)};
}

Order int_against_int(int64_t v, const IntBound& b) {
  if (b.fits) return order_of(v, b.small);
  return b.negative ? Order::Greater : Order::Less;
}

Order number_against_int(const json::Value& value, const IntBound& b) {
  switch (value.kind) {
    case json::Kind::Bool:
      return int_against_int(value.boolean ? 1 : 0, b);
    case json::Kind::Int:
      return int_against_int(value.integer, b);
    case json::Kind::BigInt: {
      const BigInteger v = big_integer_of(value);
      if (b.fits) return v.negative ? Order::Less : Order::Greater;
      return big_order(v, b.negative, b.magnitude);
    }
    case json::Kind::Float:
      if (!b.fits || !exact_in_double(b.small)) return Order::Unknown;
      return order_of(value.number, static_cast<double>(b.small));
    case json::Kind::Null:
    case json::Kind::String:
    case json::Kind::Array:
    case json::Kind::Object:
      return Order::Unordered;
  }
  return Order::Unknown;
}

Order number_against_float(const json::Value& value, double b) {
  switch (value.kind) {
    case json::Kind::Bool:
      return order_of(value.boolean ? 1.0 : 0.0, b);
    case json::Kind::Int:
      if (!exact_in_double(value.integer)) return Order::Unknown;
      return order_of(static_cast<double>(value.integer), b);
    case json::Kind::BigInt: {
      if (std::isnan(b)) return Order::Unordered;
      if (std::isinf(b)) return b > 0 ? Order::Less : Order::Greater;
      const BigInteger v = big_integer_of(value);
      if (b == 0) return v.negative ? Order::Less : Order::Greater;
      return big_order(v, b < 0, std::fabs(b));
    }
    case json::Kind::Float:
      return order_of(value.number, b);
    case json::Kind::Null:
    case json::Kind::String:
    case json::Kind::Array:
    case json::Kind::Object:
      return Order::Unordered;
  }
  return Order::Unknown;
}

// Code point order is the byte order of UTF-8.
Order string_against_str(const json::Value& value, PyObject* bound) {
  if (value.kind != json::Kind::String) return Order::Unordered;
  std::string_view text;
  if (!utf8_view(bound, text)) return Order::Unknown;
  const int c = value.string().compare(text);
  return c < 0 ? Order::Less : c > 0 ? Order::Greater : Order::Equal;
}

// Only bounds whose comparison runs no Python code of the user's are read.
Order order_against(const json::Value& value, PyObject* bound) {
  if (Py_IS_TYPE(bound, &PyLong_Type) || Py_IS_TYPE(bound, &PyBool_Type)) {
    return number_against_int(value, read_int_bound(bound));
  }
  if (Py_IS_TYPE(bound, &PyFloat_Type)) {
    return number_against_float(value, PyFloat_AS_DOUBLE(bound));
  }
  if (PyUnicode_CheckExact(bound)) return string_against_str(value, bound);
  return Order::Unknown;
}

Decision decide(bool yes) { return yes ? Decision::Yes : Decision::No; }

Decision meets_order(ConstraintKind kind, Order order) {
  if (order == Order::Unknown) return Decision::Unknown;
  switch (kind) {
    case ConstraintKind::Ge:
      return decide(order == Order::Greater || order == Order::Equal);
    case ConstraintKind::Gt:
      return decide(order == Order::Greater);
    case ConstraintKind::Le:
      return decide(order == Order::Less || order == Order::Equal);
    case ConstraintKind::Lt:
      return decide(order == Order::Less);
    case ConstraintKind::MinLen:
    case ConstraintKind::MaxLen:
    case ConstraintKind::MultipleOf:
    case ConstraintKind::Predicate:
    case ConstraintKind::Regex:
      break;
  }
  return Decision::Unknown;
}

size_t code_points(std::string_view utf8) {
  size_t n = 0;
  for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// MinLen and MaxLen against len() of the converted value.
Decision meets_length(const Constraint& c, const json::Value& value) {
  const bool at_least = c.kind == ConstraintKind::MinLen;
  const auto meets = [&](uint64_t length) {
    return decide(at_least ? length >= c.value : length <= c.value);
  };
  switch (value.kind) {
    case json::Kind::Null:
    case json::Kind::Bool:
    case json::Kind::Int:
    case json::Kind::BigInt:
    case json::Kind::Float:
      return Decision::No;  // no len(): it raises, which fails
    case json::Kind::String:
      return meets(code_points(value.string()));
    case json::Kind::Array:
      return meets(value.size);
    case json::Kind::Object:
      // Repeated keys count once, so the member count only bounds len() from above.
      if (value.size <= 1) return meets(value.size);
      if (at_least && value.size < c.value) return Decision::No;
      if (!at_least && value.size <= c.value) return Decision::Yes;
      return Decision::Unknown;
  }
  return Decision::Unknown;
}

}  // namespace

bool JsonConversions::key_of(const json::Value& value, Key& key) {
  switch (value.kind) {
    case json::Kind::Null:
    case json::Kind::Bool:
    case json::Kind::Int:
    case json::Kind::Float:
      return false;
    case json::Kind::BigInt:
    case json::Kind::String:
      key = Key(value.text, value.size);
      break;
    case json::Kind::Array:
      key = Key(value.items, value.size);
      break;
    case json::Kind::Object:
      key = Key(value.members, value.size);
      break;
  }
  return value.size != 0;  // empty ones may share a payload address
}

PyObject* JsonConversions::find(const json::Value& value) const {
  Key key{};
  if (made_.empty() || !key_of(value, key)) return nullptr;
  auto found = made_.find(key);
  return found == made_.end() ? nullptr : found->second.get();
}

PyObject* JsonConversions::get(const json::Value& value, Ref& holder) {
  Key key{};
  if (!key_of(value, key)) return json_as_python(value, nullptr, holder);
  auto found = made_.find(key);
  if (found != made_.end()) return found->second.get();
  Result<Ref> made = json::json_value_to_python(value, this);
  if (!made.ok()) {
    std::move(made).error().restore();
    return nullptr;
  }
  return made_.emplace(key, std::move(made).value()).first->second.get();
}

PyObject* json_as_python(const json::Value& value, JsonConversions* conversions, Ref& holder) {
  if (conversions != nullptr) return conversions->get(value, holder);
  Result<Ref> made = json::json_value_to_python(value);
  if (!made.ok()) {
    std::move(made).error().restore();
    return nullptr;
  }
  holder = std::move(made).value();
  return holder.get();
}

Decision json_literal_equals(const json::Value& value, PyObject* literal) {
  if (Py_TYPE(literal) != converted_type(value)) return Decision::No;
  switch (value.kind) {
    case json::Kind::Null:
      return Decision::Yes;
    case json::Kind::Bool:
      return decide((literal == Py_True) == value.boolean);
    case json::Kind::Int:
    case json::Kind::BigInt: {
      const IntBound b = read_int_bound(literal);
      if (value.kind == json::Kind::Int) return decide(b.fits && b.small == value.integer);
      if (b.fits) return Decision::No;
      const Order order = big_order(big_integer_of(value), b.negative, b.magnitude);
      return order == Order::Unknown ? Decision::Unknown : Decision::No;
    }
    case json::Kind::Float:
      return decide(PyFloat_AS_DOUBLE(literal) == value.number);
    case json::Kind::String: {
      std::string_view text;
      // A str with a lone surrogate equals no parsed string: those are UTF-8.
      return decide(utf8_view(literal, text) && text == value.string());
    }
    case json::Kind::Array:
    case json::Kind::Object:
      return Decision::Unknown;
  }
  return Decision::Unknown;
}

Decision json_in_literal_sets(const LiteralSets& sets, const json::Value& value) {
  if (value.kind == json::Kind::Int) return decide(sets.ints.contains(value.integer));
  if (value.kind == json::Kind::String) {
    return decide(sets.strs.contains(absl::string_view(value.text, value.size)));
  }
  return Decision::Unknown;
}

Decision json_meets_constraint(const Constraint& constraint, const json::Value& value,
                               const ConstantsPool& pool) {
  switch (constraint.kind) {
    case ConstraintKind::Ge:
    case ConstraintKind::Gt:
    case ConstraintKind::Le:
    case ConstraintKind::Lt: {
      PyObject* bound = pool.get(constraint.value);
      if (bound == nullptr) return Decision::No;
      return meets_order(constraint.kind, order_against(value, bound));
    }
    case ConstraintKind::MinLen:
    case ConstraintKind::MaxLen:
      return meets_length(constraint, value);
    case ConstraintKind::Regex:
      return value.kind == json::Kind::String ? Decision::Unknown : Decision::No;
    case ConstraintKind::MultipleOf:
    case ConstraintKind::Predicate:
      return Decision::Unknown;
  }
  return Decision::Unknown;
}

}  // namespace qx
