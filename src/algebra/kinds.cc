// Coarse classification of schema nodes: top-level value classes and base Python types.
#include "algebra/kinds.h"

#include "py/stack.h"

namespace qx {

KindMask kind_classes(const SchemaNode& node) {
  if (!mask_from_parts(node.kind)) return kind_mask(node.kind);
  ensure_stack();
  return kind_classes_with(node, [](const SchemaNode& child) { return kind_classes(child); });
}

BaseKind base_kind(const SchemaNode& node) {
  const SchemaNode* n = &node;
  while (n->kind == NodeKind::Refinement) n = &n->child();
  switch (n->kind) {
    case NodeKind::NoneType:
      return BaseKind::None;
    case NodeKind::Bool:
      return BaseKind::Bool;
    case NodeKind::Int:
      return BaseKind::Int;
    case NodeKind::Float:
      return BaseKind::Float;
    case NodeKind::Str:
      return BaseKind::Str;
    case NodeKind::Bytes:
      return BaseKind::Bytes;
    case NodeKind::Sequence:
      return n->tuple ? BaseKind::Tuple : BaseKind::List;
    case NodeKind::Set:
      return BaseKind::Set;
    case NodeKind::FrozenSet:
      return BaseKind::FrozenSet;
    case NodeKind::Record:
      return BaseKind::Dict;
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::Literal:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refinement:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return BaseKind::Unknown;
  }
  return BaseKind::Unknown;
}

bool disjoint_base_kinds(const SchemaNode& x, const SchemaNode& y) {
  if (x.kind == NodeKind::Nothing || y.kind == NodeKind::Nothing) return true;
  const BaseKind a = base_kind(x);
  const BaseKind b = base_kind(y);
  if (a == b || a == BaseKind::Unknown || b == BaseKind::Unknown) return false;
  // A bool is an int: the two kinds share every bool value.
  const bool int_pair =
      (a == BaseKind::Bool && b == BaseKind::Int) || (a == BaseKind::Int && b == BaseKind::Bool);
  return !int_pair;
}

void DisjointPairFinder::add(const SchemaNode& node) {
  if (first_ == nullptr) {
    first_ = &node;
  } else if (second_ == nullptr) {
    second_ = &node;
  }
  if (node.kind == NodeKind::Nothing && nothing_ == nullptr) nothing_ = &node;
  const BaseKind kind = base_kind(node);
  const size_t slot = kind == BaseKind::Unknown ? kSlots - 1 : static_cast<size_t>(kind);
  if (reps_[slot] == nullptr) reps_[slot] = &node;
}

bool DisjointPairFinder::found() const {
  if (second_ == nullptr) return false;
  if (nothing_ != nullptr) {
    return disjoint_base_kinds(*nothing_, nothing_ == first_ ? *second_ : *first_);
  }
  for (size_t i = 0; i < kSlots; ++i) {
    if (reps_[i] == nullptr) continue;
    for (size_t j = i + 1; j < kSlots; ++j) {
      if (reps_[j] != nullptr && disjoint_base_kinds(*reps_[i], *reps_[j])) return true;
    }
  }
  return false;
}

}  // namespace qx
