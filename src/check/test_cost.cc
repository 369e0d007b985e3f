// What testing a value against a node may do: look at the value alone, walk into it, or run Python.
#include "check/test_cost.h"

#include <algorithm>

#include "schema/measure.h"

namespace qx {

namespace {

// The cost of two tests of the same value. A Bounded test beside a walk is
// costed as Python: the walk is not Plain, so the pair cannot be tested early,
// and a subclass value may still run its own comparison.
TestCost both(TestCost a, TestCost b) {
  if ((a == TestCost::Bounded && b == TestCost::Pure) ||
      (a == TestCost::Pure && b == TestCost::Bounded)) {
    return TestCost::Python;
  }
  return std::max(a, b);
}

// The cost a part adds to the node that walks into it: the part meets other
// values (items, field values), which may be subclasses of anything.
TestCost inside(TestCost part) {
  return part == TestCost::Bounded ? TestCost::Python : std::max(part, TestCost::Pure);
}

// A comparison or modulo with a builtin scalar is the interpreter's own when
// the value is one too.
TestCost bound_cost(PyObject* bound) {
  return bound == nullptr || is_builtin_scalar(bound) ? TestCost::Bounded : TestCost::Python;
}

TestCost constraint_cost(const Constraint& c, const ConstantsPool& pool) {
  switch (c.kind) {
    case ConstraintKind::Regex:
      return TestCost::Plain;  // reads the text, calls nothing
    case ConstraintKind::MinLen:
    case ConstraintKind::MaxLen:
      return TestCost::Bounded;
    case ConstraintKind::Ge:
    case ConstraintKind::Gt:
    case ConstraintKind::Le:
    case ConstraintKind::Lt:
    case ConstraintKind::MultipleOf:
      return bound_cost(pool.get(c.value));
    case ConstraintKind::Predicate:
      return TestCost::Python;
  }
  return TestCost::Python;
}

}  // namespace

TestCosts::TestCosts(const std::vector<SchemaNode>& definitions, const ConstantsPool& pool)
    : pool_(pool), definitions_(definitions.size(), TestCost::Plain) {
  // Costs only rise from the optimistic start (a Ref costs Pure, or Python
  // once its definition does), so this settles within one round per definition.
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t i = 0; i < definitions.size(); ++i) {
      TestCost cost = of(definitions[i]);
      if (cost != definitions_[i]) {
        definitions_[i] = cost;
        changed = true;
      }
    }
  }
}

TestCost TestCosts::of(const SchemaNode& node) const {
  switch (node.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Placeholder:
      return TestCost::Plain;
    case NodeKind::Literal: {
      // Only a value of the literal's exact type is compared with it.
      PyObject* literal = pool_.get(node.index);
      return literal == nullptr || is_builtin_scalar(literal) ? TestCost::Plain : TestCost::Python;
    }
    case NodeKind::Instance:
    case NodeKind::Object:
      return TestCost::Python;
    case NodeKind::Ref:
      if (node.index >= definitions_.size()) return TestCost::Plain;  // refused, nothing called
      return inside(definitions_[node.index]) == TestCost::Python ? TestCost::Python
                                                                  : TestCost::Pure;
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Refinement: {
      TestCost cost = TestCost::Plain;
      for_each_child(node, [&](const SchemaNode& child) { cost = both(cost, of(child)); });
      for (const Constraint& c : node.constraints()) cost = both(cost, constraint_cost(c, pool_));
      return cost;
    }
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record: {
      TestCost cost = TestCost::Pure;
      for_each_child(node, [&](const SchemaNode& child) { cost = both(cost, inside(of(child))); });
      return cost;
    }
  }
  return TestCost::Python;
}

bool reaches_user_code(const SchemaNode& node, const ConstantsPool& pool) {
  if (node.kind == NodeKind::Instance || node.kind == NodeKind::Object) return true;
  if (node.kind == NodeKind::Literal) {
    PyObject* literal = pool.get(node.index);
    if (literal != nullptr && !is_builtin_scalar(literal)) return true;
  }
  for (const Constraint& c : node.constraints()) {
    if (constraint_cost(c, pool) == TestCost::Python) return true;
  }
  bool found = false;
  for_each_child(node,
                 [&](const SchemaNode& child) { found = found || reaches_user_code(child, pool); });
  return found;
}

}  // namespace qx
