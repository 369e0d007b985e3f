// Error records: per-kind codes and names, record construction and ValidationError.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>
#include <vector>

#include "check/walk.h"
#include "py/result.h"
#include "schema/node.h"

namespace qx {

// The error code and kind name of a node (a Refinement answers for its base).
const char* schema_error_code(const SchemaNode& node);
const char* schema_kind_name(const SchemaNode& node);

// The kind name of each member, in order, duplicates kept.
std::vector<const char*> member_kind_names(const std::vector<SchemaNode>& members);

// The text of an offending value: repr_text, or for a parsed JSON value the
// repr_text of its conversion ("<unrepresentable>" when that fails).
std::string value_text(ValueRef value);

// A record with a copy of `path` (no new segment).
ErrorRecord new_error_record(const char* code, std::string_view expected, ValueRef value,
                             const Path& path);
// A record with a copy of `path` plus `segment`; the texts are taken over.
ErrorRecord make_error_record(const Path& path, PathSegment segment, const char* code,
                              std::string expected, std::string value);
// Appends new_error_record(...) when collecting; does nothing in Membership.
void push_error(const char* code, std::string_view expected, ValueRef value, const Path& path,
                WalkMode mode, ErrorList& errors);
// Moves `records` to the end of `errors`, in order.
void extend_error_records(ErrorList& errors, ErrorList&& records);

// The message line of one record.
std::string format_error_message(const ErrorRecord& record);

// The path as a new tuple: keys as str, indexes as int.
Result<Ref> error_path_to_tuple(const Path& path);

// The ValidationError for the records of one failed check (a default record
// when there are none), or the exception raised while building it.
Error build_validation_error(const ErrorList& records);

}  // namespace qx
