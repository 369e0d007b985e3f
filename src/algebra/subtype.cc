// The inclusion decision: structural recursion over two trees that share one pool.
#include "algebra/subtype.h"

#include <algorithm>

namespace qx {

namespace {

bool assumed(const AssumptionStack& stack, const SchemaNode& a, const SchemaNode& b,
             TreeFacts& facts) {
  for (const auto& [left, right] : stack) {
    if (facts.same(*left, a) && facts.same(*right, b)) return true;
  }
  return false;
}

// `a` against `b` with the pair (a_ref, b_ref) assumed included meanwhile.
bool expand(const SchemaNode& a_ref, const SchemaNode& b_ref, const SchemaNode& a,
            const SchemaNode& b, const DecisionContext& ctx, AssumptionStack& stack) {
  stack.emplace_back(&a_ref, &b_ref);
  const bool included = subtype_rec(a, b, ctx, stack);
  stack.pop_back();
  return included;
}

// Whether constraint `d` of the narrower side implies constraint `c` of the wider one.
bool implies(const Constraint& d, const Constraint& c, LeafOracle& oracle) {
  if (d.kind == c.kind) {
    const bool same = c.kind == ConstraintKind::Regex ? d.pattern == c.pattern : d.value == c.value;
    if (same) return true;
  }
  const bool lower = d.kind == ConstraintKind::Ge || d.kind == ConstraintKind::Gt;
  const bool upper = d.kind == ConstraintKind::Le || d.kind == ConstraintKind::Lt;
  switch (c.kind) {
    case ConstraintKind::Ge:
    case ConstraintKind::Gt: {
      if (!lower) return false;
      // d's bound must reach c's; a closed d needs strictly more to imply an open c.
      const int8_t order = oracle.compare_constants(d.value, c.value);
      const bool strict = c.kind == ConstraintKind::Gt && d.kind == ConstraintKind::Ge;
      return order == 1 || (order == 0 && !strict);
    }
    case ConstraintKind::Le:
    case ConstraintKind::Lt: {
      if (!upper) return false;
      const int8_t order = oracle.compare_constants(d.value, c.value);
      const bool strict = c.kind == ConstraintKind::Lt && d.kind == ConstraintKind::Le;
      return order == -1 || (order == 0 && !strict);
    }
    case ConstraintKind::MinLen:
      return d.kind == ConstraintKind::MinLen && d.value >= c.value;
    case ConstraintKind::MaxLen:
      return d.kind == ConstraintKind::MaxLen && d.value <= c.value;
    case ConstraintKind::MultipleOf:
    case ConstraintKind::Predicate:
    case ConstraintKind::Regex:
      return false;
  }
  return false;
}

}  // namespace

bool subtype_rec(const SchemaNode& a_in, const SchemaNode& b_in, const DecisionContext& ctx,
                 AssumptionStack& stack) {
  const SchemaNode* a = &a_in;
  const SchemaNode* b = &b_in;
  DepthScope depth(ctx.budget);
  // Each pass is one step; the restarts below re-enter it instead of recursing.
  for (;;) {
    if (!ctx.budget.spend()) return false;
    if (assumed(stack, *a, *b, ctx.facts)) return true;

    const KindMask ma = ctx.facts.classes(*a);
    const KindMask mb = ctx.facts.classes(*b);
    if (!ma.opaque && !mb.opaque) return (ma.classes & ~mb.classes & kAllClasses) == 0;
    if (ctx.facts.same(*a, *b)) return true;
    if (node_emptiness(*a, ctx).empty) return true;
    const EmptinessSummary right = node_emptiness(*b, ctx);
    if (!right.inexact && right.classes == kAllClasses) return true;

    const auto within_b = [&](const SchemaNode& m) { return subtype_rec(m, *b, ctx, stack); };
    const auto has_a = [&](const SchemaNode& m) { return subtype_rec(*a, m, ctx, stack); };
    if (a->kind == NodeKind::Union) return std::ranges::all_of(a->members(), within_b);
    if (b->kind == NodeKind::Intersection) return std::ranges::all_of(b->members(), has_a);
    if (a->kind == NodeKind::Intersection) {
      if (std::ranges::any_of(a->members(), within_b)) return true;
      return b->kind == NodeKind::Union && std::ranges::any_of(b->members(), has_a);
    }
    if (b->kind == NodeKind::Union) return std::ranges::any_of(b->members(), has_a);
    if (a->kind == NodeKind::Ref) {
      if (a->index >= ctx.definitions.size()) return false;
      return expand(*a, *b, ctx.definitions[a->index], *b, ctx, stack);
    }

    switch (b->kind) {
      case NodeKind::Sequence:
        if (a->kind == NodeKind::Sequence && a->tuple == b->tuple) {
          // Equal shapes would have made the two nodes equal above.
          return unequal_shapes_subtype(a->shape(), b->shape(), ctx, stack);
        }
        break;
      case NodeKind::Set:
      case NodeKind::FrozenSet:
        if (a->kind == b->kind) {
          a = &a->child();
          b = &b->child();
          continue;
        }
        break;
      case NodeKind::Record:
        if (a->kind == NodeKind::Record) return record_subtype(*a, *b, ctx, stack);
        break;
      case NodeKind::Complement:
        if (a->kind == NodeKind::Complement) {
          // not A within not B exactly when B within A.
          const SchemaNode* swapped = &b->child();
          b = &a->child();
          a = swapped;
          continue;
        }
        return subtype_of_complement(*a, b->child(), ctx);
      case NodeKind::Instance:
        if (a->kind == NodeKind::Object) {
          // Every value of an Object is an instance of its class.
          const SchemaNode instance = make_indexed(NodeKind::Instance, a->index);
          return subtype_rec(instance, *b, ctx, stack);
        }
        break;
      case NodeKind::Object:
        if (a->kind == NodeKind::Object) return object_subtype(*a, *b, ctx, stack);
        break;
      case NodeKind::Refinement:
        if (a->kind == NodeKind::Refinement) {
          return subtype_rec(a->child(), b->child(), ctx, stack) &&
                 constraints_implied(b->constraints(), a->constraints(), ctx.oracle);
        }
        break;
      case NodeKind::Ref:
        if (b->index >= ctx.definitions.size()) return false;
        return expand(*a, *b, *a, ctx.definitions[b->index], ctx, stack);
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
      case NodeKind::Union:
      case NodeKind::Intersection:
      case NodeKind::Placeholder:
        break;
    }

    // Dropping a refinement's constraints can only widen it.
    if (a->kind == NodeKind::Refinement) {
      a = &a->child();
      continue;
    }
    return ctx.oracle.leaf_subtype(*a, *b) == kOracleYes;
  }
}

bool item_shape_subtype(const ItemShape& sa, const ItemShape& sb, const DecisionContext& ctx,
                        AssumptionStack& stack) {
  return ctx.facts.same(sa, sb) || unequal_shapes_subtype(sa, sb, ctx, stack);
}

bool unequal_shapes_subtype(const ItemShape& sa, const ItemShape& sb, const DecisionContext& ctx,
                            AssumptionStack& stack) {
  if (sa.kind == ShapeKind::Alt) {
    for (const ItemShape& alt : sa.parts) {
      if (!item_shape_subtype(alt, sb, ctx, stack)) return false;
    }
    return true;
  }
  if (sb.kind == ShapeKind::Alt) {
    for (const ItemShape& alt : sb.parts) {
      if (item_shape_subtype(sa, alt, ctx, stack)) return true;
    }
    return false;
  }
  // A long shape is viewed once per query: a long tuple met again costs
  // nothing more than a short one until its items are compared.
  ShapeView scratch_a;
  ShapeView scratch_b;
  const ShapeView* va = ctx.facts.view(sa, scratch_a);
  const ShapeView* vb = va == nullptr ? nullptr : ctx.facts.view(sb, scratch_b);
  if (vb == nullptr) return false;
  // A rest that admits nothing only allows the zero-repeat case.
  const SchemaNode* a_rest = va->rest;
  if (a_rest != nullptr && node_emptiness(*a_rest, ctx).empty) a_rest = nullptr;
  if (va->items.size() < vb->items.size()) return false;
  for (size_t i = 0; i < va->items.size(); ++i) {
    const SchemaNode* wider = i < vb->items.size() ? vb->items[i] : vb->rest;
    if (wider == nullptr || !subtype_rec(*va->items[i], *wider, ctx, stack)) return false;
  }
  if (a_rest == nullptr) return va->items.size() == vb->items.size() || vb->rest != nullptr;
  return vb->rest != nullptr && subtype_rec(*a_rest, *vb->rest, ctx, stack);
}

bool subtype_of_complement(const SchemaNode& a, const SchemaNode& b_operand,
                           const DecisionContext& ctx) {
  const SchemaNode* operands[] = {&a, &b_operand};
  DefinitionStack definitions;
  return intersection_emptiness(operands, ctx, definitions).empty;
}

bool constraints_implied(const std::vector<Constraint>& b, const std::vector<Constraint>& a,
                         LeafOracle& oracle) {
  return std::ranges::all_of(b, [&](const Constraint& c) {
    return std::ranges::any_of(a, [&](const Constraint& d) { return implies(d, c, oracle); });
  });
}

bool decide_subtype(const SchemaNode& a, const SchemaNode& b, LeafOracle& oracle,
                    const std::vector<SchemaNode>& definitions) {
  return decide_within_stack([&] {
    WorkBudget budget;
    TreeFacts facts;
    const DecisionContext ctx{oracle, definitions, budget, facts};
    AssumptionStack stack;
    return subtype_rec(a, b, ctx, stack);
  });
}

bool decide_equivalent(const SchemaNode& a, const SchemaNode& b, LeafOracle& oracle,
                       const std::vector<SchemaNode>& definitions) {
  return decide_within_stack([&] {
    WorkBudget budget;
    TreeFacts facts;
    const DecisionContext ctx{oracle, definitions, budget, facts};
    AssumptionStack forward;
    if (!subtype_rec(a, b, ctx, forward)) return false;
    AssumptionStack backward;
    return subtype_rec(b, a, ctx, backward);
  });
}

}  // namespace qx
