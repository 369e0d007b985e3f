// Error records: per-kind codes and names, message lines, and the ValidationError they become.
#include "errors/records.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "errors/texts.h"
#include "exception/validation_error.h"
#include "json/value.h"
#include "py/boundary.h"
#include "py/once_cell.h"
#include "py/repr.h"
#include "py/stack.h"

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

Result<Ref> new_index(uint64_t index) {
  PyObject* i = PyLong_FromUnsignedLongLong(index);
  if (i == nullptr) return null_object_fault();
  return Ref::steal(i);
}

// One object for each distinct code, expected text, path key and index of
// one error's records, which recur across records: made once, not per record.
class SharedObjects {
 public:
  Result<Ref> text(std::string_view text) { return shared(texts_, text, new_str); }
  Result<Ref> index(uint64_t index) { return shared(indexes_, index, new_index); }

 private:
  template <class Map, class Key, class Make>
  static Result<Ref> shared(Map& map, const Key& key, Make&& make) {
    auto hit = map.find(key);
    if (hit != map.end()) return hit->second.clone();
    QX_ASSIGN(Ref made, make(key));
    map.emplace(key, made.clone());
    return made;
  }

  absl::flat_hash_map<std::string_view, Ref> texts_;  // texts borrowed from the records
  absl::flat_hash_map<uint64_t, Ref> indexes_;
};

Result<Ref> path_tuple(const Path& path, SharedObjects* shared) {
  PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(path.size()));
  if (t == nullptr) return null_object_fault();
  Ref tuple = Ref::steal(t);
  for (size_t i = 0; i < path.size(); ++i) {
    const PathSegment& segment = path[i];
    Result<Ref> item =
        shared == nullptr
            ? (segment.is_index ? new_index(segment.index) : new_str(segment.key))
            : (segment.is_index ? shared->index(segment.index) : shared->text(segment.key));
    if (!item.ok()) return std::move(item).error();
    PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), std::move(item).value().release());
  }
  // Only str and int items: no cycle can pass through the tuple, so the
  // collector need not follow it, nor the error dict that holds it (CPython
  // would untrack it at its first collection).
  PyObject_GC_UnTrack(t);
  return tuple;
}

// The names of the exception's attributes and of each error dict's keys,
// interned once per process: a record's dict then hashes no key text.
struct ErrorNames {
  Ref code;
  Ref path;
  Ref message;
  Ref expected;
  Ref value;
  Ref errors;
};

OnceCell<ErrorNames> error_names_cell;

Result<const ErrorNames*> error_names() {
  if (const ErrorNames* names = error_names_cell.peek()) return names;
  return error_names_cell.get([]() -> Result<ErrorNames> {
    ErrorNames names;
    for (auto [slot, text] : {std::pair{&names.code, "code"},
                              {&names.path, "path"},
                              {&names.message, "message"},
                              {&names.expected, "expected"},
                              {&names.value, "value"},
                              {&names.errors, "errors"}}) {
      PyObject* name = PyUnicode_InternFromString(text);
      if (name == nullptr) return null_object_fault();
      *slot = Ref::steal(name);
    }
    return names;
  });
}

Status set_attr(PyObject* target, const Ref& name, PyObject* value) {
  if (PyObject_SetAttr(target, name.get(), value) < 0) return Error::fetch();
  return Status::success();
}

Status set_text_attr(PyObject* target, const Ref& name, std::string_view text) {
  QX_ASSIGN(Ref value, new_str(text));
  return set_attr(target, name, value.get());
}

Status set_dict_item(PyObject* dict, const Ref& key, PyObject* value) {
  if (PyDict_SetItem(dict, key.get(), value) < 0) return Error::fetch();
  return Status::success();
}

Status set_dict_text(PyObject* dict, const Ref& key, Result<Ref> text) {
  if (!text.ok()) return std::move(text).error();
  return set_dict_item(dict, key, text.value().get());
}

// One entry of `errors`: code, path, message, expected, value, in that order.
Result<Ref> error_dict(const ErrorRecord& record, std::string_view line, const ErrorNames& names,
                       SharedObjects& shared) {
  PyObject* d = PyDict_New();
  if (d == nullptr) return null_object_fault();
  Ref dict = Ref::steal(d);
  QX_TRY(set_dict_text(d, names.code, shared.text(record.code)));
  QX_ASSIGN(Ref path, path_tuple(record.path, &shared));
  QX_TRY(set_dict_item(d, names.path, path.get()));
  QX_TRY(set_dict_text(d, names.message, new_str(line)));
  QX_TRY(set_dict_text(d, names.expected, shared.text(record.expected)));
  QX_TRY(set_dict_text(d, names.value, new_str(record.value.text)));
  return dict;
}

// The whole message, with each record's line written once into it; `lines`
// says where each line lies in the text.
struct Message {
  std::string text;
  std::vector<std::pair<size_t, size_t>> lines;  // (offset, length) in `text`

  std::string_view line(size_t i) const {
    return std::string_view(text).substr(lines[i].first, lines[i].second);
  }
};

Message format_message(const ErrorRecord* records, size_t count) {
  Message message;
  message.lines.reserve(count);
  if (count > 1) message.text = std::to_string(count) + " validation errors:";
  for (size_t i = 0; i < count; ++i) {
    if (count > 1) message.text += '\n';
    const size_t start = message.text.size();
    format_error_message(records[i], message.text);
    message.lines.emplace_back(start, message.text.size() - start);
  }
  return message;
}

Result<Ref> make_validation_error(const ErrorRecord* records, size_t count) {
  const Message message = format_message(records, count);
  QX_ASSIGN(const ErrorNames* names, error_names());
  QX_ASSIGN(PyObject * type, validation_error_type());
  QX_ASSIGN(Ref text, new_str(message.text));
  QX_ASSIGN(Ref exc, checked(PyObject_CallOneArg(type, text.get())));
  PyObject* e = exc.get();
  const ErrorRecord& first = records[0];
  QX_TRY(set_text_attr(e, names->code, first.code));
  QX_TRY(set_text_attr(e, names->expected, first.expected));
  QX_TRY(set_text_attr(e, names->value, first.value.text));
  QX_TRY(set_text_attr(e, names->message, message.line(0)));
  QX_ASSIGN(Ref path, error_path_to_tuple(first.path));
  QX_TRY(set_attr(e, names->path, path.get()));
  PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(count));
  if (t == nullptr) return null_object_fault();
  Ref all = Ref::steal(t);
  SharedObjects shared;
  for (size_t i = 0; i < count; ++i) {
    QX_ASSIGN(Ref dict, error_dict(records[i], message.line(i), *names, shared));
    PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), dict.release());
  }
  QX_TRY(set_attr(e, names->errors, t));
  return exc;
}

}  // namespace

const char* schema_error_code(const SchemaNode& node) {
  const SchemaNode& n = refined_base(node);
  switch (n.kind) {
    case NodeKind::Anything:
      return "anything";
    case NodeKind::Any:
      return "any";
    case NodeKind::Nothing:
      return "no_match";
    case NodeKind::NoneType:
      return "none_type";
    case NodeKind::Bool:
      return "bool_type";
    case NodeKind::Int:
      return "int_type";
    case NodeKind::Float:
      return "float_type";
    case NodeKind::Str:
      return "string_type";
    case NodeKind::Bytes:
      return "bytes_type";
    case NodeKind::Literal:
      return "literal_error";
    case NodeKind::Sequence:
      return n.tuple ? "tuple_type" : "list_type";
    case NodeKind::Set:
      return "set_type";
    case NodeKind::FrozenSet:
      return "frozen_set_type";
    case NodeKind::Record:
      return "dict_type";
    case NodeKind::Union:
      return "union_error";
    case NodeKind::Intersection:
      return "intersection_error";
    case NodeKind::Complement:
      return "unexpected_match";
    case NodeKind::Instance:
      return "instance_type";
    case NodeKind::Object:
      return "instance_type";
    case NodeKind::Refinement:
      return "validation_error";  // unreachable: bases are never refinements
    case NodeKind::Ref:
      return "recursion";
    case NodeKind::Placeholder:
      return "unresolved_recursion";
  }
  return "validation_error";
}

const char* schema_kind_name(const SchemaNode& node) {
  const SchemaNode& n = refined_base(node);
  switch (n.kind) {
    case NodeKind::Anything:
      return "anything";
    case NodeKind::Any:
      return "any";
    case NodeKind::Nothing:
      return "nothing";
    case NodeKind::NoneType:
      return "None";
    case NodeKind::Bool:
      return "bool";
    case NodeKind::Int:
      return "int";
    case NodeKind::Float:
      return "float";
    case NodeKind::Str:
      return "str";
    case NodeKind::Bytes:
      return "bytes";
    case NodeKind::Literal:
      return "literal";
    case NodeKind::Sequence:
      return n.tuple ? "tuple" : "list";
    case NodeKind::Set:
      return "set";
    case NodeKind::FrozenSet:
      return "frozenset";
    case NodeKind::Record:
      return "dict";
    case NodeKind::Union:
      return "union";
    case NodeKind::Intersection:
      return "intersection";
    case NodeKind::Complement:
      return "complement";
    case NodeKind::Instance:
      return "instance";
    case NodeKind::Object:
      return "object";
    case NodeKind::Refinement:
      return "value";  // unreachable: bases are never refinements
    case NodeKind::Ref:
      return "value";
    case NodeKind::Placeholder:
      return "recursive value";
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

ValueText ValueText::later(PyObject* obj, size_t room) {
  ValueText out;
  out.held = Ref::borrow(obj);
  out.room = room;
  return out;
}

void ValueText::settle() {
  if (!held) return;
  text = held_repr_text(held.get(), room);
  held.reset();
}

ErrorRecord new_error_record(const char* code, std::string_view expected, ValueRef value,
                             const Path& path, bool late) {
  ValueText text;
  if (value.is_json() || repr_level_cost(value.obj) == 0) {
    // Not a container: its repr is measured by nothing, and costs no more
    // than the value's own size.
    text = value_text(value);
  } else {
    // The repr's measure reads the stack here, whether the text is made now
    // or later: a text made later, on a shallower stack, reads the same.
    const size_t room = stack_room();
    text = late ? ValueText::later(value.obj, room) : repr_text_within(value.obj, room);
  }
  return ErrorRecord{path, std::string(expected), std::move(text), code};
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
                WalkMode mode, bool late, ErrorList& errors) {
  if (mode == WalkMode::Membership) return;
  errors.push_back(new_error_record(code, expected, value, path, late));
}

void settle_value_texts(ErrorList& records, size_t first) {
  for (size_t i = first; i < records.size(); ++i) records[i].value.settle();
}

void extend_error_records(ErrorList& errors, ErrorList&& records) {
  if (errors.empty()) {
    errors = std::move(records);
    return;
  }
  // Grown as push_back grows it: a list extended once per item of a long
  // value, reserved to the exact size each time, is copied whole each time.
  const size_t needed = errors.size() + records.size();
  if (needed > errors.capacity()) errors.reserve(std::max(needed, 2 * errors.capacity()));
  for (ErrorRecord& r : records) errors.push_back(std::move(r));
  records.clear();
}

void format_error_message(const ErrorRecord& record, std::string& out) {
  // Keys are joined with "." and indexes bracketed, so ("a", 0, "b") reads
  // a[0].b. Every key after the first segment gets its ".", even after an
  // empty key: two empty keys read ".".
  const size_t start = out.size();
  out += "at ";
  const size_t where = out.size();
  bool first = true;
  for (const PathSegment& segment : record.path) {
    if (segment.is_index) {
      char digits[24];
      const auto end = std::to_chars(digits, digits + sizeof digits, segment.index).ptr;
      out += '[';
      out.append(digits, end);
      out += ']';
    } else {
      if (!first) out += '.';
      out += segment.key;
    }
    first = false;
  }
  if (out.size() == where) {
    out.resize(start);  // an empty path text: no "at" part
  } else {
    out += ": ";
  }
  out += "expected ";
  out += record.expected;
  out += ", got ";
  out += record.value.text;
  out += " [";
  out += record.code;
  out += ']';
}

Result<Ref> error_path_to_tuple(const Path& path) { return path_tuple(path, nullptr); }

Error build_validation_error(ErrorList& records) {
  settle_value_texts(records, 0);
  // A check may fail without saying why (an index out of range, a shape
  // outside the supported form); it still gets one record.
  const ErrorRecord fallback{{}, "a member of the schema's set", "", "validation_error"};
  Result<Ref> made = records.empty() ? make_validation_error(&fallback, 1)
                                     : make_validation_error(records.data(), records.size());
  if (!made.ok()) return std::move(made).error();
  return Error::from(std::move(made).value());
}

}  // namespace qx
