// Error records: per-kind codes and names, record construction and ValidationError.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/value.h"
#include "py/ref.h"
#include "py/result.h"
#include "schema/node.h"

namespace qx {

enum class WalkMode : uint8_t { Collect = 0, FailFast = 1, Membership = 2 };

// The value under check, borrowed: a Python object or a parsed JSON value.
struct ValueRef {
  PyObject* obj = nullptr;
  const json::Value* json = nullptr;

  static ValueRef python(PyObject* o) { return ValueRef{o, nullptr}; }
  static ValueRef parsed(const json::Value* v) { return ValueRef{nullptr, v}; }
  bool is_json() const { return json != nullptr; }
  // The identity the recursion guard keys on.
  uint64_t identity() const {
    return is_json() ? reinterpret_cast<uintptr_t>(json) : reinterpret_cast<uintptr_t>(obj);
  }
};

// One step of an error path: a record key or attribute name, or a position.
struct PathSegment {
  bool is_index = false;
  uint64_t index = 0;
  std::string key;

  static PathSegment of_key(std::string k) { return PathSegment{false, 0, std::move(k)}; }
  static PathSegment of_index(uint64_t i) { return PathSegment{true, i, {}}; }
};

using Path = std::vector<PathSegment>;

// The text that stands for a record's value, or the value itself until
// the text is made (settled). A union's error pass that no user code can
// enter holds its records' values and settles only the records it keeps:
// nothing can change a value meanwhile, and the records it drops never pay
// for a repr. Copies hold the value too.
struct ValueText {
  std::string text;
  Ref held;         // the value, whose text is not made yet; null once it is
  size_t room = 0;  // native stack left where the record was made

  ValueText() = default;
  // A text made already.
  ValueText(std::string t) : text(std::move(t)) {}
  ValueText(const char* t) : text(t) {}
  ValueText(const ValueText& other)
      : text(other.text), held(other.held.clone()), room(other.room) {}
  ValueText(ValueText&&) noexcept = default;
  ValueText& operator=(const ValueText& other) {
    text = other.text;
    held = other.held.clone();
    room = other.room;
    return *this;
  }
  ValueText& operator=(ValueText&&) noexcept = default;

  // Holds `obj`, whose text is made later as repr_text_within(obj, room)
  // would make it now.
  static ValueText later(PyObject* obj, size_t room);
  // Makes the held value's text and lets the value go.
  void settle();
};

// One failure. `code` is a static text, never owned.
struct ErrorRecord {
  Path path;
  std::string expected;
  ValueText value;
  const char* code = "";
};

using ErrorList = std::vector<ErrorRecord>;

// The error code and kind name of a node (a Refinement answers for its base).
const char* schema_error_code(const SchemaNode& node);
const char* schema_kind_name(const SchemaNode& node);

// The kind name of each member, in order, duplicates kept.
std::vector<const char*> member_kind_names(const std::vector<SchemaNode>& members);

// The text of an offending value: repr_text, or for a parsed JSON value the
// repr_text of its conversion ("<unrepresentable>" when that fails).
std::string value_text(ValueRef value);

// A record with a copy of `path` (no new segment). Its value text is made
// now, or, when `late` and the value is a Python container, the value is
// held for settle_value_texts to make it: `late` may be said only where
// nothing can change the value or run code of the user's until then.
ErrorRecord new_error_record(const char* code, std::string_view expected, ValueRef value,
                             const Path& path, bool late);
// A record with a copy of `path` plus `segment`; the texts are taken over.
ErrorRecord make_error_record(const Path& path, PathSegment segment, const char* code,
                              std::string expected, std::string value);
// Appends new_error_record(...) when collecting; does nothing in Membership.
void push_error(const char* code, std::string_view expected, ValueRef value, const Path& path,
                WalkMode mode, bool late, ErrorList& errors);
// Makes the value texts that records[first...] still hold their values for.
void settle_value_texts(ErrorList& records, size_t first);

// Moves `records` to the end of `errors`, in order.
void extend_error_records(ErrorList& errors, ErrorList&& records);

// Appends the message line of one record, its value text made, to `out`.
void format_error_message(const ErrorRecord& record, std::string& out);

// The path as a new tuple: keys as str, indexes as int.
Result<Ref> error_path_to_tuple(const Path& path);

// The ValidationError for the records of one failed check (a default record
// when there are none), or the exception raised while building it. Makes
// the value texts the records still hold their values for.
Error build_validation_error(ErrorList& records);

}  // namespace qx
