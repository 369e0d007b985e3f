// Simplify: one bottom-up pass that rewrites a schema into its reduced, canonical form.
#include "algebra/simplify.h"

#include "algebra/order.h"
#include "compile/limits.h"
#include "py/stack.h"
#include "schema/rewrite.h"

namespace qx {

namespace {

SchemaNode simplify_one(const SchemaNode& node) { return simplify_rec(node); }

// Fields and clauses keep their order and number: a record's keys are not
// a lattice, so nothing is merged or dropped.
SchemaNode simplify_record(const SchemaNode& node) {
  return make_record(map_fields(node.fields(), simplify_one),
                     map_clauses(node.clauses(), simplify_one));
}

SchemaNode simplify_members(const SchemaNode& node) {
  MemberFold fold(node.kind, node.members().size());
  for (const SchemaNode& m : node.members()) {
    if (!fold.add(simplify_rec(m))) break;
  }
  return std::move(fold).finish();
}

// Nested refinements become one, their constraints sorted and repeats
// dropped. Bounds are never combined: two bound objects that happen to be
// equal, or one implying the other, both stay.
SchemaNode simplify_refinement(const SchemaNode& node) {
  SchemaNode base = simplify_rec(node.child());
  std::vector<Constraint> constraints = clone_constraint_vec(node.constraints());
  // A simplified base has merged its own chain, so this runs at most once.
  while (base.kind == NodeKind::Refinement) {
    std::vector<Constraint> merged = take_constraints(base);
    merged.insert(merged.end(), std::make_move_iterator(constraints.begin()),
                  std::make_move_iterator(constraints.end()));
    constraints = std::move(merged);
    SchemaNode inner = take_child(base);
    base = std::move(inner);
  }
  stable_sort_by(constraints, constraint_cmp);
  constraints.erase(std::unique(constraints.begin(), constraints.end(),
                                [](const Constraint& a, const Constraint& b) {
                                  return constraint_cmp(a, b) == 0;
                                }),
                    constraints.end());
  if (constraints.empty()) return base;
  return make_refinement(std::move(base), std::move(constraints));
}

}  // namespace

ItemShape simplify_item_shape(const ItemShape& shape) {
  return map_item_shape(shape, simplify_one);
}

SchemaNode simplify_rec(const SchemaNode& node) {
  ensure_stack();
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
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return clone_schema_node(node);
    case NodeKind::Sequence:
      return make_sequence(node.tuple, simplify_item_shape(node.shape()));
    case NodeKind::Set:
    case NodeKind::FrozenSet:
      return make_boxed(node.kind, simplify_rec(node.child()));
    case NodeKind::Record:
      return simplify_record(node);
    case NodeKind::Object:
      return make_object(node.index, map_fields(node.fields(), simplify_one));
    case NodeKind::Union:
    case NodeKind::Intersection:
      return simplify_members(node);
    case NodeKind::Complement:
      return negate_node(simplify_rec(node.child()));
    case NodeKind::Refinement:
      return simplify_refinement(node);
  }
  return clone_schema_node(node);
}

Result<CompiledSchema> simplify_impl(const CompiledSchema& schema) {
  SchemaNode root = simplify_rec(schema.root);
  ConstantsPool pool = schema.pool.clone();
  // Every definition stays at its index, used or not, so each Ref keeps its
  // meaning; none is inlined or merged.
  std::vector<SchemaNode> definitions;
  definitions.reserve(schema.definitions.size());
  for (const SchemaNode& d : schema.definitions) definitions.push_back(simplify_rec(d));
  return finish_validator(std::move(root), std::move(pool), std::move(definitions));
}

}  // namespace qx
