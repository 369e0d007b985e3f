// Record checks: why a dict is not a member of a record, and catch-all clause tests.
#include <string>
#include <string_view>

#include "absl/strings/string_view.h"
#include "check/dict_items.h"
#include "check/field_keys.h"
#include "check/late_texts.h"
#include "check/memo.h"
#include "errors/records.h"
#include "errors/texts.h"
#include "json/value.h"
#include "py/text.h"
#include "text/quote.h"

namespace qx {

namespace {

// str(key) as UTF-8 (lone surrogates made U+FFFD), or false with the
// exception dropped when str() raises.
bool key_str(PyObject* key, std::string& out) {
  Ref text = Ref::steal(PyObject_Str(key));
  if (!text) {
    PyErr_Clear();
    return false;
  }
  out = lossy_utf8(text.get());
  return true;
}

// The path segment of an undeclared key that no clause accepted: str() cut
// to 40 characters, or the key's repr when str() raises.
[[gnu::cold]] std::string clause_segment_text(PyObject* key) {
  std::string text;
  if (!key_str(key, text)) return repr_text(key);
  return truncate_text(text, 40);
}

[[gnu::cold]] [[gnu::noinline]] void push_extra_forbidden(PyObject* key, const Path& path,
                                                          ErrorList& errors) {
  std::string text;
  key_str(key, text);  // the empty text when str() raises
  std::string value = quote_text(text);
  errors.push_back(make_error_record(path, PathSegment::of_key(std::move(text)), "extra_forbidden",
                                     "no unexpected key", std::move(value)));
}

[[gnu::cold]] [[gnu::noinline]] void push_missing_key(const std::string& name, const Path& path,
                                                      ErrorList& errors) {
  errors.push_back(make_error_record(path, PathSegment::of_key(name), "missing_key",
                                     "required key " + quote_text(name), "missing"));
}

// The record's field names, found through the validator's index; a walk
// without one (or a record without fields) scans the fields instead.
class DeclaredNames {
 public:
  DeclaredNames(const SchemaNode& record, const Precompute& pre) : record_(record) {
    if (record.fields().empty()) return;
    auto hit = pre.records.find(&record);
    if (hit != pre.records.end()) keys_ = &hit->second;
  }

  // Whether a key is a declared field name: a str whose UTF-8 text names a
  // field. A str without UTF-8 text (a lone surrogate) is undeclared.
  bool declares(PyObject* key) const {
    std::string_view text;
    if (!PyUnicode_Check(key) || !utf8_view(key, text)) return false;
    if (keys_ != nullptr) {
      return keys_->positions.contains(absl::string_view(text.data(), text.size()));
    }
    for (const RecordField& field : record_.fields()) {
      if (field.name == text) return true;
    }
    return false;
  }

 private:
  const SchemaNode& record_;
  const DeclaredKeys* keys_ = nullptr;
};

// Step over the declared fields, in declaration order. Returns false when
// the check must end here (FailFast after a record, or a stopped walk).
bool check_fields(const std::vector<RecordField>& fields, PyObject* dict, Path& path,
                  const WalkContext& ctx, ErrorList& errors) {
  const size_t before = errors.size();
  for (const RecordField& field : fields) {
    Ref made;  // a key of this lookup alone, when the check keeps none
    PyObject* key = nullptr;
    if (ctx.field_keys != nullptr) {
      key = ctx.field_keys->of(field);
    } else {
      made = Ref::steal(PyUnicode_FromStringAndSize(field.name.data(),
                                                    static_cast<Py_ssize_t>(field.name.size())));
      key = made.get();
    }
    PyObject* item = nullptr;
    // Read through the underlying dict storage: a subclass's __getitem__
    // must never run during a check.
    int found = key != nullptr ? PyDict_GetItemRef(dict, key, &item) : -1;
    Ref held = Ref::steal(item);
    made.reset();
    if (found < 0) {
      PyErr_Clear();
      push_error("dict_type", "dict", ValueRef::python(dict), path, ctx.mode, late_texts(ctx),
                 errors);
    } else if (found == 0) {
      if (field.required) push_missing_key(field.name, path, errors);
    } else {
      path.push_back(PathSegment::of_key(field.name));
      walk(field.node, ValueRef::python(held.get()), path, ctx, errors);
      path.pop_back();
    }
    held.reset();
    if (*ctx.stop) return false;
    if (ctx.mode == WalkMode::FailFast && errors.size() > before) return false;
  }
  return true;
}

// One undeclared (key, value) pair. Returns false when the check must end.
bool check_undeclared(const std::vector<Clause>& clauses, PyObject* key, PyObject* value,
                      size_t before, Path& path, const WalkContext& ctx, ErrorList& errors) {
  if (clauses.empty()) {
    push_extra_forbidden(key, path, errors);
  } else {
    const WalkContext probe = ctx.with_mode(WalkMode::Membership);
    for (const Clause& clause : clauses) {
      if (check_pair(ValueRef::python(key), probe, ValueRef::python(value), clause)) return true;
      if (*ctx.stop) return false;
    }
    // Explained by the first clause alone: its key and value walks, both.
    path.push_back(PathSegment::of_key(clause_segment_text(key)));
    walk(clauses.front().key, ValueRef::python(key), path, ctx, errors);
    walk(clauses.front().value, ValueRef::python(value), path, ctx, errors);
    path.pop_back();
    if (*ctx.stop) return false;
  }
  return !(ctx.mode == WalkMode::FailFast && errors.size() > before);
}

// Step over the dict's own keys in its order, under the guard against a
// dict that changes size or keys meanwhile (member checks run Python code).
void check_undeclared_keys(const SchemaNode& record, PyObject* dict, size_t before, Path& path,
                           const WalkContext& ctx, ErrorList& errors) {
  const DeclaredNames declared(record, *ctx.precompute);
  for_each_dict_item(dict, ctx, [&](DictItem& item) {
    if (declared.declares(item.key())) return true;
    item.hold();
    return check_undeclared(record.clauses(), item.key(), item.value(), before, path, ctx, errors);
  });
}

void check_dict(const SchemaNode& record, PyObject* dict, Path& path, const WalkContext& ctx,
                ErrorList& errors) {
  const size_t before = errors.size();
  if (!check_fields(record.fields(), dict, path, ctx, errors)) return;
  check_undeclared_keys(record, dict, before, path, ctx, errors);
}

// The explaining pass proper: the value is made a dict if it was parsed.
void explain_record(const SchemaNode& record, ValueRef value, Path& path, const WalkContext& ctx,
                    ErrorList& errors) {
  Ref converted;
  PyObject* obj = value.obj;
  if (value.is_json()) {
    Result<Ref> made = json::json_value_to_python(*value.json);
    if (made.ok()) {
      converted = std::move(made).value();
      obj = converted.get();
    }
  }
  if (obj == nullptr || !PyDict_Check(obj)) {
    push_error("dict_type", "dict", value, path, ctx.mode, late_texts(ctx), errors);
    return;
  }
  check_dict(record, obj, path, ctx, errors);
}

}  // namespace

void check_record(const SchemaNode& record, ValueRef value, Path& path, const WalkContext& ctx,
                  ErrorList& errors) {
  if (!ctx.collecting() || *ctx.stop) return;
  // The fields walk again what failed.
  if (ctx.memo != nullptr) ctx.memo->begin_pass(&record, *ctx.guard);
  explain_record(record, value, path, ctx, errors);
  if (ctx.memo != nullptr) ctx.memo->end_pass(&record, *ctx.guard);
}

namespace {

// Whether `node` accepts `value`: natively, or by a walk whose fresh path
// and error list are dropped.
bool accepts_without_trace(const SchemaNode& node, ValueRef value, const WalkContext& ctx) {
  if (accepts_natively(node, value, ctx)) return true;
  Path path;
  ErrorList errors;
  return walk(node, value, path, ctx, errors);
}

// A JSON key is a string value made for this test only: its address names
// another key on the next test, so no walk of it is remembered.
[[gnu::noinline]] bool accepts_made_key(const SchemaNode& node, ValueRef key,
                                        const WalkContext& ctx) {
  WalkContext forgetful = ctx;
  forgetful.memo = nullptr;
  return accepts_without_trace(node, key, forgetful);
}

}  // namespace

bool check_pair(ValueRef key, const WalkContext& ctx, ValueRef value, const Clause& clause) {
  const bool key_accepted = key.is_json() && ctx.memo != nullptr
                                ? accepts_made_key(clause.key, key, ctx)
                                : accepts_without_trace(clause.key, key, ctx);
  return key_accepted && accepts_without_trace(clause.value, value, ctx);
}

}  // namespace qx
