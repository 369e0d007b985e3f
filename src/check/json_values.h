// Checks of parsed JSON values: answers that need no Python object, and one conversion per value.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "absl/container/flat_hash_map.h"
#include "check/precompute.h"
#include "json/value.h"
#include "py/ref.h"
#include "schema/node.h"
#include "schema/pool.h"

namespace qx {

// A test's answer, or Unknown when only the converted value can give it.
enum class Decision : uint8_t { No, Yes, Unknown };

// The Python objects made from one parsed document during one check. A
// value that several tests need (the members of a union, the constraints of
// a refinement) is converted once and the same object is handed to each; a
// container converted after some of its items takes those items as made.
class JsonConversions final : public json::MadeValues {
 public:
  // The value as a Python object, borrowed from this cache or from
  // `holder`; null with the exception pending when the conversion raised.
  PyObject* get(const json::Value& value, Ref& holder);

  PyObject* find(const json::Value& value) const override;

 private:
  // A value is named by its text, items or members, which no other value
  // shares, rather than by the Value's address: a record's keys are handed
  // to the walk in temporary Values. Scalars other than big integers, and
  // empty values, have no key: remaking them costs less than a lookup.
  using Key = std::pair<const void*, size_t>;
  static bool key_of(const json::Value& value, Key& key);

  absl::flat_hash_map<Key, Ref> made_;
};

// `value` as a Python object through `conversions`, or made into `holder`
// when the check keeps none; null with the exception pending.
PyObject* json_as_python(const json::Value& value, JsonConversions* conversions, Ref& holder);

// Whether `value` equals the pooled `literal` (the walk's Literal test). A
// literal of another type than the conversion would give is never equal;
// scalars compare without being converted.
Decision json_literal_equals(const json::Value& value, PyObject* literal);

// The answer of a union's LiteralSets for a parsed value: exact for integers
// that fit 64 bits and for strings (always valid UTF-8 once parsed).
Decision json_in_literal_sets(const LiteralSets& sets, const json::Value& value);

// Whether `value` meets `constraint` without converting it: an order bound
// that is an exact int, float or bool, or a str bound for a string (a big
// integer is placed by its sign and digit count); a length for values that
// have none, or for strings and arrays; a pattern against a value that is
// not a string. Unknown for everything else.
Decision json_meets_constraint(const Constraint& constraint, const json::Value& value,
                               const ConstantsPool& pool);

}  // namespace qx
