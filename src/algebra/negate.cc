// Negation-normal form: complements pushed through unions and intersections to the leaves.
#include "algebra/simplify.h"

#include "py/stack.h"

namespace qx {

SchemaNode negate_node(SchemaNode node) {
  ensure_stack();
  switch (node.kind) {
    case NodeKind::Anything:
      return make_leaf(NodeKind::Nothing);
    case NodeKind::Nothing:
      return make_leaf(NodeKind::Anything);
    case NodeKind::Complement: {
      SchemaNode operand = take_child(node);
      return operand;
    }
    // De Morgan: the negated members go through the dual fold, so the result
    // is again flattened and normalised.
    case NodeKind::Union:
      return fold_members(NodeKind::Intersection, negate_members(take_members(node)));
    case NodeKind::Intersection:
      return fold_members(NodeKind::Union, negate_members(take_members(node)));
    // Any is not the universe to the algebra, so complement(Any) stays.
    case NodeKind::Any:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Literal:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refinement:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      break;
  }
  return make_boxed(NodeKind::Complement, std::move(node));
}

std::vector<SchemaNode> negate_members(std::vector<SchemaNode> members) {
  for (SchemaNode& m : members) m = negate_node(std::move(m));
  return members;
}

}  // namespace qx
