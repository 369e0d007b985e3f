// Checks of parsed JSON values: answers that need no Python object, and one conversion per value.
#include "check/json_values.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "absl/strings/string_view.h"
#include "check/number_order.h"
#include "check/walk.h"
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

// The approximate magnitude of an int beyond 64 bits; infinite beyond the doubles.
double wide_magnitude(PyObject* wide) {
  const double approx = PyLong_AsDouble(wide);
  if (approx == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return HUGE_VAL;
  }
  return std::fabs(approx);
}

// A big integer against a wide int or a double beyond int64 (`b`, read from
// `bound`), where the shared order needs the digits: placed by sign, then by
// digit count against the bound's magnitude.
Order big_order(const json::Value& value, PyObject* bound, const Number& b) {
  const BigInteger v = big_integer_of(value);
  const bool float_bound = b.kind == Number::Kind::Float;
  const bool bound_negative = float_bound ? b.d < 0 : b.kind == Number::Kind::Below;
  if (v.negative != bound_negative) return v.negative ? Order::Less : Order::Greater;
  const Order by_size =
      magnitude_order(v.digits, float_bound ? std::fabs(b.d) : wide_magnitude(bound));
  return v.negative ? reversed(by_size) : by_size;
}

// A parsed number as the shared order reads it (a boolean as 0 or 1, a big
// integer by its sign); false for values that are no number.
bool parsed_number(const json::Value& value, Number& out) {
  switch (value.kind) {
    case json::Kind::Bool:
      out.i = value.boolean ? 1 : 0;
      return true;
    case json::Kind::Int:
      out.i = value.integer;
      return true;
    case json::Kind::BigInt:
      out.kind = big_integer_of(value).negative ? Number::Kind::Below : Number::Kind::Above;
      return true;
    case json::Kind::Float:
      out.kind = Number::Kind::Float;
      out.d = value.number;
      return true;
    case json::Kind::Null:
    case json::Kind::String:
    case json::Kind::Array:
    case json::Kind::Object:
      return false;
  }
  return false;
}

// Code point order is the byte order of UTF-8.
Order string_against_str(const json::Value& value, PyObject* bound) {
  if (value.kind != json::Kind::String) return Order::Unordered;
  std::string_view text;
  if (!utf8_view(bound, text)) return Order::Unknown;
  const int c = value.string().compare(text);
  return c < 0 ? Order::Less : c > 0 ? Order::Greater : Order::Equal;
}

// A parsed value against an exact number `b`, read from `other`; Unordered
// for a value that is no number, since Python refuses to order it.
Order number_order(const json::Value& value, PyObject* other, const Number& b) {
  Number a;
  if (!parsed_number(value, a)) return Order::Unordered;
  const Order order = order_of(a, b);
  if (order != Order::Unknown || value.kind != json::Kind::BigInt) return order;
  return big_order(value, other, b);
}

// Only bounds whose comparison runs no Python code of the user's are read:
// an exact int, float or bool, or an exact str. A comparison Python refuses
// (a TypeError, which fails the test) is Unordered like one with a NaN.
Order order_against(const json::Value& value, PyObject* bound) {
  if (PyUnicode_CheckExact(bound)) return string_against_str(value, bound);
  Number b;
  if (Py_IS_TYPE(bound, &PyBool_Type)) {
    b.i = bound == Py_True ? 1 : 0;
  } else if (!read_number(bound, b)) {
    return Order::Unknown;
  }
  return number_order(value, bound, b);
}

Decision decide(bool yes) { return yes ? Decision::Yes : Decision::No; }

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
      Number b;
      read_number(literal, b);  // an exact int
      const Order order = number_order(value, literal, b);
      return order == Order::Unknown ? Decision::Unknown : decide(order == Order::Equal);
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
      const int holds = order_holds(order_against(value, bound), bound_operator(constraint.kind));
      return holds < 0 ? Decision::Unknown : decide(holds == 1);
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
