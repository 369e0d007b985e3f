// A parsed JSON value tree, held in an arena that lives for one call.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "py/result.h"

namespace qx::json {

enum class Kind : uint8_t { Null, Bool, Int, BigInt, Float, String, Array, Object };

struct Member;

// One value. Texts, items and members point into the arena (or, for strings
// without escapes, into the input), which outlives every walk over the tree.
//   Bool: `boolean`; Int: `integer`; Float: `number`
//   String: `text`, `size` bytes of UTF-8
//   BigInt: `text`, `size` bytes of decimal digits with an optional leading '-'
//   Array: `items`, `size` values in document order
//   Object: `members`, `size` members in document order, repeated keys kept
struct Value {
  Kind kind = Kind::Null;
  size_t size = 0;
  union {
    bool boolean;
    int64_t integer;
    double number;
    const char* text;
    const Value* items;
    const Member* members;
  };

  std::string_view string() const { return std::string_view(text, size); }
};

struct Member {
  std::string_view key;
  Value value;
};

// Python objects already made for values of one tree, which a conversion
// takes for an item or member value instead of making it again.
class MadeValues {
 public:
  // The object made for `value` (borrowed), or null.
  virtual PyObject* find(const Value& value) const = 0;

 protected:
  ~MadeValues() = default;
};

// A new Python object for a parsed value: null to None, booleans to bool,
// integers to int, floats to float, strings to str, arrays to list, objects
// to dict (a repeated key keeps its first position and its last value).
// Items and member values that `made` holds are taken from it.
Result<Ref> json_value_to_python(const Value& value, const MadeValues* made = nullptr);

}  // namespace qx::json
