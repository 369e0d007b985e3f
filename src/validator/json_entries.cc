// JSON entries of a validator: classify the input, parse it, and check the result.
#include "validator/json_entries.h"

#include <string>
#include <string_view>

#include "check/check.h"
#include "check/checked_parse.h"
#include "check/json_values.h"
#include "check/memo.h"
#include "check/precompute.h"
#include "check/walk.h"
#include "errors/records.h"
#include "errors/texts.h"
#include "json/build_python.h"
#include "json/position.h"
#include "json/tree.h"

namespace qx {

namespace {

enum class InputKind : uint8_t { Utf8, LoneSurrogate, WrongType };

struct JsonInput {
  InputKind kind;
  json::Input bytes;  // Utf8 only: borrowed from `data`, never copied
};

// A str is read through its cached UTF-8 form, a bytes object through its
// buffer; only bytes can hold text that is not UTF-8.
JsonInput classify_json_input(PyObject* data) {
  if (PyUnicode_Check(data)) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(data, &size);
    if (utf8 == nullptr) {
      PyErr_Clear();  // a lone surrogate has no UTF-8 form
      return JsonInput{InputKind::LoneSurrogate, {}};
    }
    return JsonInput{InputKind::Utf8, json::Input{utf8, static_cast<size_t>(size), false}};
  }
  if (PyBytes_Check(data)) {
    return JsonInput{
        InputKind::Utf8,
        json::Input{PyBytes_AS_STRING(data), static_cast<size_t>(PyBytes_GET_SIZE(data)), true}};
  }
  return JsonInput{InputKind::WrongType, {}};
}

// The ValidationError of a document that does not decode.
[[gnu::cold]] Error json_invalid_error(std::string_view message) {
  ErrorList records;
  records.push_back(ErrorRecord{{}, "valid JSON", truncate_text(message, 80), "json_invalid"});
  return build_validation_error(records);
}

// The object the document denotes, or the TypeError or json_invalid error.
Result<Ref> parse_json_input(const JsonInput& input) {
  switch (input.kind) {
    case InputKind::WrongType:
      return type_error("JSON input must be a str or bytes object");
    case InputKind::LoneSurrogate:
      return json_invalid_error("input string is not valid UTF-8 (contains a lone surrogate)");
    case InputKind::Utf8:
      break;
  }
  json::ParseError syntax;
  QX_ASSIGN(Ref parsed, json::parse_to_python(input.bytes, &syntax));
  if (!parsed) {
    return json_invalid_error(
        json::parse_error_message(syntax, std::string_view(input.bytes.data, input.bytes.size)));
  }
  return parsed;
}

// The two passes: parse into objects, then walk them,
// collecting records. Every failure ends here, so its records stay exact.
Result<Ref> parse_then_validate(const CompiledSchema& schema, const JsonInput& input,
                                bool fail_fast) {
  QX_ASSIGN(Ref parsed, parse_json_input(input));
  QX_TRY(validate_impl(schema, parsed.get(), fail_fast));
  return parsed;
}

// Whether one pass may stand for the two: only where no check runs code of
// the user's, so the order of checks is unobservable.
const Precompute* one_pass_index(const CompiledSchema& schema, const JsonInput& input) {
  if (input.kind != InputKind::Utf8) return nullptr;
  const Precompute& precompute = ensure_precompute(schema);
  return precompute.may_run_user_code ? nullptr : &precompute;
}

}  // namespace

Result<Ref> load_impl(const CompiledSchema& schema, PyObject* data, bool fail_fast) {
  const JsonInput input = classify_json_input(data);
  // A member gets through in one pass that builds and checks each object.
  if (const Precompute* precompute = one_pass_index(schema, input)) {
    if (Ref loaded = load_json_while_checking(input.bytes, schema, *precompute)) return loaded;
  }
  return parse_then_validate(schema, input, fail_fast);
}

Status validate_json_impl(const CompiledSchema& schema, PyObject* data, bool fail_fast) {
  const JsonInput input = classify_json_input(data);
  // Nothing is returned, so a member needs no objects at all.
  if (const Precompute* precompute = one_pass_index(schema, input)) {
    if (check_json_while_parsing(input.bytes, schema, *precompute) == CheckedParse::Member) {
      return Status::success();
    }
  }
  QX_TRY(parse_then_validate(schema, input, fail_fast));
  return Status::success();
}

Result<bool> is_valid_json_impl(const CompiledSchema& schema, PyObject* data) {
  const JsonInput input = classify_json_input(data);
  if (input.kind != InputKind::Utf8) return false;
  const Precompute& precompute = ensure_precompute(schema);
  if (!precompute.may_run_user_code) {
    switch (check_json_while_parsing(input.bytes, schema, precompute)) {
      case CheckedParse::Member:
        return true;
      case CheckedParse::NotJson:
        return false;
      case CheckedParse::Unsure:
        break;  // the walk over the whole tree decides
    }
  }
  json::Tree tree;
  if (!json::parse_tree(input.bytes, tree)) return false;
  RecursionGuard guard;
  FatalSlot fatal;
  bool stop = false;
  Path path;
  ErrorList errors;
  JsonConversions conversions;
  WalkMemo memo(nullptr, schema, precompute);
  WalkContext ctx{&schema.pool, &schema.definitions,  &precompute, &guard, &fatal,
                  &stop,        WalkMode::Membership, &conversions};
  ctx.memo = &memo;
  const bool member = walk(schema.root, ValueRef::parsed(&tree.root), path, ctx, errors);
  if (fatal.exception) return Error::from(std::move(fatal.exception));
  return member;
}

}  // namespace qx
