// Error records: per-kind codes and names, message lines, and the ValidationError they become.
#include "errors/records.h"

#include <string>
#include <utility>

#include "errors/texts.h"
#include "exception/validation_error.h"
#include "json/value.h"
#include "py/boundary.h"

namespace qx {

namespace {

const SchemaNode& refined_base(const SchemaNode& node) {
  const SchemaNode* n = &node;
  while (n->kind == NodeKind::Refinement) n = &n->child();
  return *n;
}

// Making a str, int, tuple or dict failed (for want of memory): an internal
// fault, not a verdict. The pending exception is reported as unraisable.
Error null_object_fault() {
  PyErr_WriteUnraisable(nullptr);
  raise_panic("PyObject pointer is null");
  return Error::fetch();
}

Result<Ref> new_str(std::string_view text) {
  PyObject* s = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (s == nullptr) return null_object_fault();
  return Ref::steal(s);
}

// Sets `name` on `target` to a new str of `text`.
Status set_text_attr(PyObject* target, const char* name, std::string_view text) {
  QX_ASSIGN(Ref value, new_str(text));
  if (PyObject_SetAttrString(target, name, value.get()) < 0) return Error::fetch();
  return Status::success();
}

Status set_dict_item(PyObject* dict, const char* key, PyObject* value) {
  if (PyDict_SetItemString(dict, key, value) < 0) return Error::fetch();
  return Status::success();
}

Status set_dict_text(PyObject* dict, const char* key, std::string_view text) {
  QX_ASSIGN(Ref value, new_str(text));
  return set_dict_item(dict, key, value.get());
}

// One entry of `errors`: code, path, message, expected, value, in that order.
Result<Ref> error_dict(const ErrorRecord& record, const std::string& line) {
  PyObject* d = PyDict_New();
  if (d == nullptr) return null_object_fault();
  Ref dict = Ref::steal(d);
  QX_TRY(set_dict_text(d, "code", record.code));
  QX_ASSIGN(Ref path, error_path_to_tuple(record.path));
  QX_TRY(set_dict_item(d, "path", path.get()));
  QX_TRY(set_dict_text(d, "message", line));
  QX_TRY(set_dict_text(d, "expected", record.expected));
  QX_TRY(set_dict_text(d, "value", record.value));
  return dict;
}

Result<Ref> make_validation_error(const ErrorRecord* records, size_t count) {
  std::vector<std::string> lines;
  lines.reserve(count);
  for (size_t i = 0; i < count; ++i) lines.push_back(format_error_message(records[i]));
  std::string message;
  if (count == 1) {
    message = lines[0];
  } else {
    message = std::to_string(count) + " validation errors:";
    for (const std::string& line : lines) {
      message += '\n';
      message += line;
    }
  }
  QX_ASSIGN(PyObject* type, validation_error_type());
  QX_ASSIGN(Ref text, new_str(message));
  QX_ASSIGN(Ref exc, checked(PyObject_CallOneArg(type, text.get())));
  PyObject* e = exc.get();
  const ErrorRecord& first = records[0];
  QX_TRY(set_text_attr(e, "code", first.code));
  QX_TRY(set_text_attr(e, "expected", first.expected));
  QX_TRY(set_text_attr(e, "value", first.value));
  QX_TRY(set_text_attr(e, "message", lines[0]));
  QX_ASSIGN(Ref path, error_path_to_tuple(first.path));
  if (PyObject_SetAttrString(e, "path", path.get()) < 0) return Error::fetch();
  PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(count));
  if (t == nullptr) return null_object_fault();
  Ref all = Ref::steal(t);
  for (size_t i = 0; i < count; ++i) {
    QX_ASSIGN(Ref dict, error_dict(records[i], lines[i]));
    PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), dict.release());
  }
  if (PyObject_SetAttrString(e, "errors", t) < 0) return Error::fetch();
  return exc;
}

}  // namespace

const char* schema_error_code(const SchemaNode& node) {
  const SchemaNode& n = refined_base(node);
  switch (n.kind) {
    case NodeKind::Anything: return "anything";
    case NodeKind::Any: return "any";
    case NodeKind::Nothing: return "no_match";
    case NodeKind::NoneType: return "none_type";
    case NodeKind::Bool: return "bool_type";
    case NodeKind::Int: return "int_type";
    case NodeKind::Float: return "float_type";
    case NodeKind::Str: return "string_type";
    case NodeKind::Bytes: return "bytes_type";
    case NodeKind::Literal: return "literal_error";
    case NodeKind::Sequence: return n.tuple ? "tuple_type" : "list_type";
    case NodeKind::Set: return "set_type";
    case NodeKind::FrozenSet: return "frozen_set_type";
    case NodeKind::Record: return "dict_type";
    case NodeKind::Union: return "union_error";
    case NodeKind::Intersection: return "intersection_error";
    case NodeKind::Complement: return "unexpected_match";
    case NodeKind::Instance: return "instance_type";
    case NodeKind::Object: return "instance_type";
    case NodeKind::Refinement: return "validation_error";  // unreachable: bases are never refinements
    case NodeKind::Ref: return "recursion";
    case NodeKind::Placeholder: return "unresolved_recursion";
  }
  return "validation_error";
}

const char* schema_kind_name(const SchemaNode& node) {
  const SchemaNode& n = refined_base(node);
  switch (n.kind) {
    case NodeKind::Anything: return "anything";
    case NodeKind::Any: return "any";
    case NodeKind::Nothing: return "nothing";
    case NodeKind::NoneType: return "None";
    case NodeKind::Bool: return "bool";
    case NodeKind::Int: return "int";
    case NodeKind::Float: return "float";
    case NodeKind::Str: return "str";
    case NodeKind::Bytes: return "bytes";
    case NodeKind::Literal: return "literal";
    case NodeKind::Sequence: return n.tuple ? "tuple" : "list";
    case NodeKind::Set: return "set";
    case NodeKind::FrozenSet: return "frozenset";
    case NodeKind::Record: return "dict";
    case NodeKind::Union: return "union";
    case NodeKind::Intersection: return "intersection";
    case NodeKind::Complement: return "complement";
    case NodeKind::Instance: return "instance";
    case NodeKind::Object: return "object";
    case NodeKind::Refinement: return "value";  // unreachable: bases are never refinements
    case NodeKind::Ref: return "value";
    case NodeKind::Placeholder: return "recursive value";
  }
  return "value";
}

std::vector<const char*> member_kind_names(const std::vector<SchemaNode>& members) {
  std::vector<const char*> names;
  names.reserve(members.size());
  for (const SchemaNode& m : members) names.push_back(schema_kind_name(m));
  return names;
}

std::string value_text(ValueRef value) {
  if (!value.is_json()) return repr_text(value.obj);
  Result<Ref> converted = json::json_value_to_python(*value.json);
  if (!converted.ok()) return "<unrepresentable>";  // the exception is dropped with the result
  return repr_text(converted.value().get());
}

ErrorRecord new_error_record(const char* code, std::string_view expected, ValueRef value,
                             const Path& path) {
  return ErrorRecord{path, std::string(expected), value_text(value), code};
}

ErrorRecord make_error_record(const Path& path, PathSegment segment, const char* code,
                              std::string expected, std::string value) {
  Path full;
  full.reserve(path.size() + 1);
  full.assign(path.begin(), path.end());
  full.push_back(std::move(segment));
  return ErrorRecord{std::move(full), std::move(expected), std::move(value), code};
}

void push_error(const char* code, std::string_view expected, ValueRef value, const Path& path,
                WalkMode mode, ErrorList& errors) {
  if (mode == WalkMode::Membership) return;
  errors.push_back(new_error_record(code, expected, value, path));
}

void extend_error_records(ErrorList& errors, ErrorList&& records) {
  if (errors.empty()) {
    errors = std::move(records);
    return;
  }
  errors.reserve(errors.size() + records.size());
  for (ErrorRecord& r : records) errors.push_back(std::move(r));
  records.clear();
}

std::string format_error_message(const ErrorRecord& record) {
  // Keys are joined with "." and indexes bracketed, so ("a", 0, "b") reads
  // a[0].b. Every key after the first segment gets its ".", even after an
  // empty key: two empty keys read ".".
  std::string where;
  bool first = true;
  for (const PathSegment& segment : record.path) {
    if (segment.is_index) {
      where += '[';
      where += std::to_string(segment.index);
      where += ']';
    } else {
      if (!first) where += '.';
      where += segment.key;
    }
    first = false;
  }
  std::string line;
  if (!where.empty()) {
    line = "at ";
    line += where;
    line += ": ";
  }
  line += "expected ";
  line += record.expected;
  line += ", got ";
  line += record.value;
  line += " [";
  line += record.code;
  line += ']';
  return line;
}

Result<Ref> error_path_to_tuple(const Path& path) {
  PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(path.size()));
  if (t == nullptr) return null_object_fault();
  Ref tuple = Ref::steal(t);
  for (size_t i = 0; i < path.size(); ++i) {
    const PathSegment& segment = path[i];
    PyObject* item = nullptr;
    if (segment.is_index) {
      item = PyLong_FromUnsignedLongLong(segment.index);
      if (item == nullptr) return null_object_fault();
    } else {
      QX_ASSIGN(Ref key, new_str(segment.key));
      item = key.release();
    }
    PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), item);
  }
  return tuple;
}

Error build_validation_error(const ErrorList& records) {
  // A check may fail without saying why (an index out of range, a shape
  // outside the supported form); it still gets one record.
  const ErrorRecord fallback{{}, "a member of the schema's set", "", "validation_error"};
  Result<Ref> made = records.empty() ? make_validation_error(&fallback, 1)
                                     : make_validation_error(records.data(), records.size());
  if (!made.ok()) return std::move(made).error();
  return Error::from(std::move(made).value());
}

}  // namespace qx
