// Entries of the walk for Python values: one check's state, set up and turned into a result.
#include "check/check.h"
#include "check/field_keys.h"
#include "check/late_texts.h"
#include "check/memo.h"
#include "check/walk.h"
#include "errors/records.h"

namespace qx {

namespace {

// Everything one check owns; it lives on the entry's frame.
struct Check {
  RecursionGuard guard;
  FatalSlot fatal;
  bool stop = false;
  Path path;
  ErrorList errors;
  FieldKeys field_keys;

  WalkContext context(const CompiledSchema& schema, WalkMode mode) {
    WalkContext ctx{
        &schema.pool, &schema.definitions, &ensure_precompute(schema), &guard, &fatal, &stop, mode};
    ctx.field_keys = &field_keys;
    return ctx;
  }
};

}  // namespace

Status validate_impl(const CompiledSchema& schema, PyObject* obj, bool fail_fast) {
  Check check;
  WalkContext ctx = check.context(schema, fail_fast ? WalkMode::FailFast : WalkMode::Collect);
  WalkMemo memo(obj, schema, *ctx.precompute);
  ctx.memo = &memo;
  LateTexts late_texts(*ctx.precompute);
  ctx.late_texts = &late_texts;
  bool member = walk(schema.root, ValueRef::python(obj), check.path, ctx, check.errors);
  if (check.fatal.exception) return Error::from(std::move(check.fatal.exception));
  if (member) return Status::success();
  return build_validation_error(check.errors);
}

Result<bool> is_valid_impl(const CompiledSchema& schema, PyObject* obj) {
  Check check;
  WalkContext ctx = check.context(schema, WalkMode::Membership);
  WalkMemo memo(obj, schema, *ctx.precompute);
  ctx.memo = &memo;
  bool member = walk(schema.root, ValueRef::python(obj), check.path, ctx, check.errors);
  if (check.fatal.exception) return Error::from(std::move(check.fatal.exception));
  return member;
}

}  // namespace qx
