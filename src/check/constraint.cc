// Constraint checks: one condition of a refinement tested against a Python object.
#include <string>
#include <string_view>
#include <utility>

#include "check/late_texts.h"
#include "check/number_order.h"
#include "check/walk.h"
#include "check/walk_kinds.h"
#include "compile/pattern.h"
#include "errors/records.h"
#include "errors/texts.h"
#include "py/once_cell.h"
#include "py/text.h"
#include "text/quote.h"

namespace qx {

namespace {

// The truth of a call's result: 1 or 0, or -1 with the call's (null result)
// or the truth test's exception pending. The result is released with no
// exception pending, since its release may run Python code.
int truth_of(Ref&& call_result) {
  if (!call_result) return -1;
  Ref result = std::move(call_result);
  int truth = PyObject_IsTrue(result.get());
  if (truth < 0) {
    PyObject* exc = PyErr_GetRaisedException();
    result.reset();
    PyErr_SetRaisedException(exc);
  }
  return truth;
}

const char* constraint_code(ConstraintKind kind) {
  switch (kind) {
    case ConstraintKind::Ge:
      return "greater_than_equal";
    case ConstraintKind::Gt:
      return "greater_than";
    case ConstraintKind::Le:
      return "less_than_equal";
    case ConstraintKind::Lt:
      return "less_than";
    case ConstraintKind::MinLen:
      return "too_short";
    case ConstraintKind::MaxLen:
      return "too_long";
    case ConstraintKind::MultipleOf:
      return "multiple_of";
    case ConstraintKind::Predicate:
      return "predicate_failed";
    case ConstraintKind::Regex:
      return "string_pattern_mismatch";
  }
  return "validation_error";
}

// The expected text of a failed constraint. `raised` is the text of a
// predicate's ordinary exception, empty when the predicate did not raise.
[[gnu::cold]] [[gnu::noinline]] std::string expected_text(const Constraint& c,
                                                          const WalkContext& ctx,
                                                          const std::string* raised) {
  switch (c.kind) {
    case ConstraintKind::Ge:
      return ">= " + repr_text(ctx.pool->get(c.value));
    case ConstraintKind::Gt:
      return "> " + repr_text(ctx.pool->get(c.value));
    case ConstraintKind::Le:
      return "<= " + repr_text(ctx.pool->get(c.value));
    case ConstraintKind::Lt:
      return "< " + repr_text(ctx.pool->get(c.value));
    case ConstraintKind::MinLen:
      return "length >= " + std::to_string(c.value);
    case ConstraintKind::MaxLen:
      return "length <= " + std::to_string(c.value);
    case ConstraintKind::MultipleOf:
      return "a multiple of " + repr_text(ctx.pool->get(c.value));
    case ConstraintKind::Predicate:
      if (raised != nullptr) return "a predicate that does not raise (raised " + *raised + ")";
      return "a passing predicate";
    case ConstraintKind::Regex:
      return "a string matching " + quote_text(c.pattern);
  }
  return {};
}

// Appends the record of a failed constraint; the value is the object itself,
// the path the value's own (no segment).
[[gnu::cold]] [[gnu::noinline]] void push_constraint_error(const Constraint& c, PyObject* value,
                                                           const Path& path, const WalkContext& ctx,
                                                           ErrorList& errors,
                                                           const std::string* raised = nullptr) {
  const char* code = raised != nullptr ? "predicate_error" : constraint_code(c.kind);
  push_error(code, expected_text(c, ctx, raised), ValueRef::python(value), path, ctx.mode,
             late_texts(ctx), errors);
}

// "{type qualified name}: {str(exc)}" of an ordinary exception. Failures
// while making the text are dropped: the text is all that is wanted.
std::string exception_text(PyObject* exc) {
  std::string text;
  Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(exc)));
  if (qualname) {
    text = lossy_utf8(qualname.get());
  } else {
    PyErr_Clear();
    text = Py_TYPE(exc)->tp_name;
  }
  Ref message = Ref::steal(PyObject_Str(exc));
  if (!message) {
    PyErr_Clear();
    return text + ": <exception str() failed>";
  }
  return text + ": " + lossy_utf8(message.get());
}

OnceCell<Ref> mod_name_cell;

// The interned name "__mod__", made once per process.
PyObject* mod_name() {
  if (const Ref* name = mod_name_cell.peek()) return name->get();
  Result<const Ref*> cell = mod_name_cell.get(
      []() -> Result<Ref> { return checked(PyUnicode_InternFromString("__mod__")); });
  if (!cell.ok()) {
    std::move(cell).error().restore();
    return nullptr;
  }
  return cell.value()->get();
}

// value.__mod__(divisor), looked up by name on the value: the divisor's
// reflected method never runs, and NotImplemented (truthy) is a failure.
int is_multiple(PyObject* value, PyObject* divisor) {
  PyObject* name = mod_name();
  if (name == nullptr) return -1;
  PyObject* args[] = {value, divisor};
  Ref remainder = Ref::steal(
      PyObject_VectorcallMethod(name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  // NotImplemented is truthy, so not a multiple; answered without its
  // deprecated truth test, which would warn.
  if (remainder.get() == Py_NotImplemented) return 0;
  int truth = truth_of(std::move(remainder));
  return truth < 0 ? -1 : !truth;
}

// Whether the whole of `value` (a str) matches `pattern`. The validator's
// compiled pattern is used when its index has one; otherwise (a walk without
// a built index) the pattern is compiled for this one test. A value without
// UTF-8 text, or a pattern that does not compile, does not match.
// The validator's compiled pattern of a Regex constraint, or null when the
// walk runs without a built index.
const re2::RE2* indexed_regex(const Constraint& constraint, const WalkContext& ctx) {
  return ctx.precompute != nullptr ? ctx.precompute->regex_of(constraint) : nullptr;
}

// Whether `regex` (anchored at both ends) matches the text of `value`, a
// str; a str without UTF-8 text (a lone surrogate) does not match.
bool matches(const re2::RE2& regex, PyObject* value) {
  std::string_view view;
  if (!utf8_view(value, view)) return false;
  // Match itself, not PartialMatch: with no submatches to fill, the wrapper's
  // argument handling is pure overhead on every test.
  return regex.Match(re2::StringPiece(view.data(), view.size()), 0, view.size(),
                     re2::RE2::UNANCHORED, nullptr, 0);
}

// Whether the whole of `value` (a str) matches the constraint's pattern. A
// walk without a built index compiles the pattern for this one test; a
// pattern that does not compile matches nothing.
bool matches_pattern(const Constraint& constraint, PyObject* value, const WalkContext& ctx) {
  if (const re2::RE2* regex = indexed_regex(constraint, ctx)) return matches(*regex, value);
  std::string error;
  std::unique_ptr<re2::RE2> compiled = compile_anchored_pattern(constraint.pattern, &error);
  return compiled != nullptr && matches(*compiled, value);
}

// holds_natively, in line: a refinement's constraints are tried in a loop per
// item, where a call per constraint would cost more than a bound's comparison.
[[gnu::always_inline]] inline bool holds_in_line(const Constraint& constraint, PyObject* value,
                                                 const WalkContext& ctx) {
  switch (constraint.kind) {
    case ConstraintKind::Ge:
    case ConstraintKind::Gt:
    case ConstraintKind::Le:
    case ConstraintKind::Lt: {
      PyObject* bound = ctx.pool->get(constraint.value);
      const int op = bound_operator(constraint.kind);
      return bound != nullptr && compare_numbers(value, bound, op) == 1;
    }
    case ConstraintKind::Regex: {
      const re2::RE2* regex = indexed_regex(constraint, ctx);
      return regex != nullptr && PyUnicode_Check(value) && matches(*regex, value);
    }
    case ConstraintKind::MinLen:
    case ConstraintKind::MaxLen:
    case ConstraintKind::MultipleOf:
    case ConstraintKind::Predicate:
      return false;
  }
  return false;
}

}  // namespace

int bound_operator(ConstraintKind kind) {
  switch (kind) {
    case ConstraintKind::Ge:
      return Py_GE;
    case ConstraintKind::Gt:
      return Py_GT;
    case ConstraintKind::Le:
      return Py_LE;
    case ConstraintKind::Lt:
      return Py_LT;
    case ConstraintKind::MinLen:
    case ConstraintKind::MaxLen:
    case ConstraintKind::MultipleOf:
    case ConstraintKind::Predicate:
    case ConstraintKind::Regex:
      return -1;
  }
  return -1;
}

bool holds_natively(const Constraint& constraint, PyObject* value, const WalkContext& ctx) {
  return holds_in_line(constraint, value, ctx);
}

bool refines_natively(const SchemaNode& refinement, PyObject* value, const WalkContext& ctx) {
  if (!accepts_at_once(refinement.child(), ValueRef::python(value))) return false;
  for (const Constraint& constraint : refinement.constraints()) {
    if (!holds_in_line(constraint, value, ctx)) return false;
  }
  return true;
}

bool check_constraint(const Constraint& constraint, PyObject* value, Path& path,
                      const WalkContext& ctx, ErrorList& errors) {
  bool verdict = false;
  bool has_raised = false;  // a predicate raised an ordinary exception
  std::string raised;
  switch (constraint.kind) {
    case ConstraintKind::Ge:
    case ConstraintKind::Gt:
    case ConstraintKind::Le:
    case ConstraintKind::Lt: {
      PyObject* bound = ctx.pool->get(constraint.value);
      if (bound == nullptr) return false;
      const int op = bound_operator(constraint.kind);
      // Exact ints and floats compare without user code: answered natively.
      const int native = compare_numbers(value, bound, op);
      if (native >= 0) {
        verdict = native == 1;
        break;
      }
      Ref held = Ref::borrow(bound);
      Ref compared = Ref::steal(PyObject_RichCompare(value, held.get(), op));
      verdict = fold_call_result(truth_of(std::move(compared)), ctx);
      break;
    }
    case ConstraintKind::MinLen:
    case ConstraintKind::MaxLen: {
      Py_ssize_t size = PyObject_Size(value);
      if (size < 0) {
        verdict = fold_call_result(-1, ctx);
      } else if (constraint.kind == ConstraintKind::MinLen) {
        verdict = static_cast<uint64_t>(size) >= constraint.value;
      } else {
        verdict = static_cast<uint64_t>(size) <= constraint.value;
      }
      break;
    }
    case ConstraintKind::MultipleOf: {
      Ref divisor = Ref::borrow(ctx.pool->get(constraint.value));
      if (!divisor) return false;
      verdict = fold_call_result(is_multiple(value, divisor.get()), ctx);
      break;
    }
    case ConstraintKind::Predicate: {
      Ref predicate = Ref::borrow(ctx.pool->get(constraint.value));
      if (!predicate) return false;
      int outcome = truth_of(Ref::steal(PyObject_CallOneArg(predicate.get(), value)));
      if (outcome >= 0) {
        verdict = outcome == 1;
        break;
      }
      Ref exc = Ref::steal(PyErr_GetRaisedException());
      if (is_fatal_exception(exc.get())) {
        record_fatal_error(std::move(exc), ctx);
        return false;
      }
      // Taken in every mode: the exception must not outlive this check.
      raised = exception_text(exc.get());
      has_raised = true;
      break;
    }
    case ConstraintKind::Regex:
      verdict = PyUnicode_Check(value) && matches_pattern(constraint, value, ctx);
      break;
  }
  // Once a fatal exception has stopped the check its records are never seen,
  // so no more Python code (reprs) is run to make one.
  if (!verdict && ctx.collecting() && !*ctx.stop) {
    push_constraint_error(constraint, value, path, ctx, errors, has_raised ? &raised : nullptr);
  }
  return verdict;
}

}  // namespace qx
