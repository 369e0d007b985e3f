// The validation walk: dispatch on the node kind, plain kinds and the small composite kinds.
#include "check/walk.h"

#include <string>

#include "check/json_values.h"
#include "check/late_texts.h"
#include "check/memo.h"
#include "check/walk_kinds.h"
#include "errors/records.h"
#include "errors/texts.h"
#include "py/stack.h"

namespace qx {

namespace {

// ---- Cold record builders: texts are made only here ------------------------

[[gnu::cold, gnu::noinline]] void append_type_error(const SchemaNode& node, ValueRef value,
                                                    const Path& path, const WalkContext& ctx,
                                                    ErrorList& errors) {
  errors.push_back(new_error_record(schema_error_code(node), schema_kind_name(node), value, path,
                                    late_texts(ctx)));
}

[[gnu::cold, gnu::noinline]] void append_literal_error(PyObject* literal, ValueRef value,
                                                       const Path& path, const WalkContext& ctx,
                                                       ErrorList& errors) {
  errors.push_back(new_error_record("literal_error", "the literal " + repr_text(literal), value,
                                    path, late_texts(ctx)));
}

[[gnu::cold, gnu::noinline]] void append_instance_error(PyObject* cls, ValueRef value,
                                                        const Path& path, const WalkContext& ctx,
                                                        ErrorList& errors) {
  errors.push_back(
      new_error_record("instance_type", class_name_text(cls), value, path, late_texts(ctx)));
}

[[gnu::cold, gnu::noinline]] void append_complement_error(const SchemaNode& inner, ValueRef value,
                                                          const Path& path, const WalkContext& ctx,
                                                          ErrorList& errors) {
  errors.push_back(new_error_record("unexpected_match",
                                    std::string("not ") + schema_kind_name(inner), value, path,
                                    late_texts(ctx)));
}

[[gnu::cold, gnu::noinline]] void append_recursion_limit(ValueRef value, const Path& path,
                                                         const WalkContext& ctx,
                                                         ErrorList& errors) {
  errors.push_back(new_error_record(
      "recursion_limit", "at most " + std::to_string(kMaxRecursion) + " levels of recursion", value,
      path, late_texts(ctx)));
}

// The value as a Python object: itself, or a parsed JSON value converted
// once per check (or into `holder`). Null when the conversion raised, the
// exception pending.
PyObject* as_python(ValueRef value, Ref& holder, const WalkContext& ctx) {
  if (!value.is_json()) return value.obj;
  return json_as_python(*value.json, ctx.conversions, holder);
}

// ---- Composite kinds: out of line, so walk() itself stays a small dispatch ---

// A literal accepts only values of its own exact type that compare equal:
// True is not the literal 1 and 1.0 is not either.
[[gnu::noinline]] bool walk_literal(const SchemaNode& node, ValueRef value, const Path& path,
                                    const WalkContext& ctx, ErrorList& errors) {
  PyObject* literal = ctx.pool->get(node.index);
  if (literal == nullptr) return false;
  // Most parsed values are decided without converting: by type, then as scalars.
  const Decision decided =
      value.is_json() ? json_literal_equals(*value.json, literal) : Decision::Unknown;
  bool member;
  if (decided != Decision::Unknown) {
    member = decided == Decision::Yes;
  } else {
    Ref holder;
    PyObject* obj = as_python(value, holder, ctx);
    if (obj == nullptr) {
      member = fold_call_result(-1, ctx);
    } else if (Py_TYPE(obj) != Py_TYPE(literal)) {
      member = false;
    } else {
      Ref eq = Ref::steal(PyObject_RichCompare(obj, literal, Py_EQ));
      member = fold_call_result(eq ? PyObject_IsTrue(eq.get()) : -1, ctx);
    }
  }
  if (!member && ctx.collecting() && !*ctx.stop) {
    append_literal_error(literal, value, path, ctx, errors);
  }
  return member;
}

[[gnu::noinline]] bool walk_instance(const SchemaNode& node, ValueRef value, const Path& path,
                                     const WalkContext& ctx, ErrorList& errors) {
  PyObject* cls = ctx.pool->get(node.index);
  if (cls == nullptr) return false;
  Ref holder;
  PyObject* obj = as_python(value, holder, ctx);
  bool member = fold_call_result(obj == nullptr ? -1 : PyObject_IsInstance(obj, cls), ctx);
  if (!member && ctx.collecting() && !*ctx.stop) {
    append_instance_error(cls, value, path, ctx, errors);
  }
  return member;
}

[[gnu::noinline]] bool walk_complement(const SchemaNode& node, ValueRef value, const Path& path,
                                       const WalkContext& ctx, ErrorList& errors) {
  Path probe_path;
  ErrorList probe_errors;
  bool inner =
      walk(node.child(), value, probe_path, ctx.with_mode(WalkMode::Membership), probe_errors);
  if (*ctx.stop) return false;
  if (!inner) return true;
  if (ctx.collecting()) append_complement_error(node.child(), value, path, ctx, errors);
  return false;
}

[[gnu::noinline]] bool walk_intersection(const SchemaNode& node, ValueRef value, Path& path,
                                         const WalkContext& ctx, ErrorList& errors) {
  const std::vector<SchemaNode>& members = node.members();
  uint64_t waste = 0;  // walks below the members' own definitions
  const bool passed = all_pass(members.size(), ctx, [&](size_t i) {
    const uint64_t entered = ctx.guard->entered;
    const bool member = walk(members[i], value, path, ctx, errors);
    // The next member may make them again.
    const uint64_t visits = ctx.guard->entered - entered;
    if (visits > 1 && ctx.memo != nullptr) {
      ctx.memo->note_waste(visits - 1, waste, &node, *ctx.guard);
    }
    return member;
  });
  if (WalkMemo::may_own(waste)) ctx.memo->end_pass(&node, *ctx.guard);
  return passed;
}

// The constraints of a refinement on a parsed value, in Membership mode: each
// is first asked of the parsed value, and the value is converted only for
// one that needs the Python object.
bool json_constraints_pass(const std::vector<Constraint>& constraints, const json::Value& value,
                           Path& path, const WalkContext& ctx, ErrorList& errors) {
  Ref holder;
  PyObject* obj = nullptr;
  for (const Constraint& constraint : constraints) {
    const Decision decided = json_meets_constraint(constraint, value, *ctx.pool);
    if (decided == Decision::No) return false;
    if (decided == Decision::Yes) continue;
    if (obj == nullptr) obj = json_as_python(value, ctx.conversions, holder);
    if (obj == nullptr) {
      PyErr_Clear();  // an unconvertible value meets no constraint, and says nothing
      return false;
    }
    if (!check_constraint(constraint, obj, path, ctx, errors)) return false;
  }
  return true;
}

[[gnu::noinline]] bool walk_refinement(const SchemaNode& node, ValueRef value, Path& path,
                                       const WalkContext& ctx, ErrorList& errors) {
  if (!accepts_at_once(node.child(), value) && !walk(node.child(), value, path, ctx, errors)) {
    return false;
  }
  const std::vector<Constraint>& constraints = node.constraints();
  if (value.is_json() && !ctx.collecting()) {
    return json_constraints_pass(constraints, *value.json, path, ctx, errors);
  }
  Ref holder;
  PyObject* obj = as_python(value, holder, ctx);
  if (obj == nullptr) {
    // An unconvertible value meets no constraint and says nothing, unless
    // the conversion failed fatally (the stack ran out): that stops the check.
    return fold_call_result(-1, ctx);
  }
  return all_pass(constraints.size(), ctx, [&](size_t i) {
    const Constraint& constraint = constraints[i];
    return check_constraint(constraint, obj, path, ctx, errors);
  });
}

// A recursive definition, under the guard: a value met again inside its own
// definition is a cycle, and the active pairs never exceed kMaxRecursion.
// Where the check keeps a memo, a walk made before under a guard that
// answers alike is taken from it; a memo opened during this walk (by a
// failure below it) learns of it only from then on, so it is not remembered.
[[gnu::noinline]] bool walk_ref(const SchemaNode& node, ValueRef value, Path& path,
                                const WalkContext& ctx, ErrorList& errors) {
  const RecursionGuard::Pair pair{value.identity(), node.index};
  RecursionGuard& guard = *ctx.guard;
  if (guard.contains(pair)) {
    push_error("recursion_loop", "a finite (non-cyclic) value", value, path, ctx.mode,
               late_texts(ctx), errors);
    return false;
  }
  if (!guard.insert(pair)) {
    if (ctx.collecting()) append_recursion_limit(value, path, ctx, errors);
    return false;
  }
  bool verdict = false;
  if (node.index < ctx.definitions->size()) {
    WalkMemo* memo = ctx.memo != nullptr && ctx.memo->in_use(guard) ? ctx.memo : nullptr;
    if (memo == nullptr || !memo->recall(guard, value, ctx.mode, path, errors, verdict)) {
      verdict = walk((*ctx.definitions)[node.index], value, path, ctx, errors);
      if (memo != nullptr) memo->finish(guard, !*ctx.stop, verdict, errors, path.size());
    }
  }
  guard.erase_last();
  return verdict;
}

}  // namespace

bool push_type_error(bool verdict, const SchemaNode& node, ValueRef value, const Path& path,
                     const WalkContext& ctx, ErrorList& errors) {
  if (!verdict && ctx.collecting()) append_type_error(node, value, path, ctx, errors);
  return verdict;
}

void push_length_error(const char* code, const char* kind, size_t n, bool has_rest, ValueRef value,
                       const Path& path, const WalkContext& ctx, ErrorList& errors) {
  if (!ctx.collecting()) return;
  std::string expected = kind;
  expected += has_rest ? " of length at least " : " of length ";
  expected += std::to_string(n);
  errors.push_back(new_error_record(code, expected, value, path, late_texts(ctx)));
}

void stop_with_runtime_error(const char* message, const WalkContext& ctx) {
  record_fatal_error(runtime_error(message).take(), ctx);
}

namespace {

// A value nested deeper than the thread's stack can follow is not a
// non-member: the check cannot go on, and stops with RecursionError.
[[gnu::cold, gnu::noinline]] bool stop_at_stack_end(const WalkContext& ctx) {
  record_fatal_error(stack_exhausted_error().take(), ctx);
  return false;
}

}  // namespace

bool walk(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
          ErrorList& errors) {
  if (*ctx.stop) return false;
  if (stack_exhausted()) return stop_at_stack_end(ctx);
  switch (node.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
      return true;
    case NodeKind::Nothing:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
      return push_type_error(accepts_at_once(node, value), node, value, path, ctx, errors);
    case NodeKind::Literal:
      return walk_literal(node, value, path, ctx, errors);
    case NodeKind::Sequence:
      return walk_sequence(node, value, path, ctx, errors);
    case NodeKind::Set:
    case NodeKind::FrozenSet:
      return walk_set(node, value, path, ctx, errors);
    case NodeKind::Record:
      return walk_record(node, value, path, ctx, errors);
    case NodeKind::Union:
      return walk_union(node, value, path, ctx, errors);
    case NodeKind::Intersection:
      return walk_intersection(node, value, path, ctx, errors);
    case NodeKind::Complement:
      return walk_complement(node, value, path, ctx, errors);
    case NodeKind::Instance:
      return walk_instance(node, value, path, ctx, errors);
    case NodeKind::Object:
      return check_object_attributes(node.index, node.fields(), value, path, ctx, errors);
    case NodeKind::Refinement:
      return walk_refinement(node, value, path, ctx, errors);
    case NodeKind::Ref:
      return walk_ref(node, value, path, ctx, errors);
    case NodeKind::Placeholder:
      push_error("unresolved_recursion", "a resolved recursive value", value, path, ctx.mode,
                 late_texts(ctx), errors);
      return false;
  }
  return false;
}

}  // namespace qx
