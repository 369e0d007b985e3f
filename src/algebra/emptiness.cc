// The emptiness decision: class masks, contradictions, bounds and self-reference.
#include "algebra/emptiness.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <limits>

#include "algebra/order.h"

namespace qx {

namespace {

// The bound test over constraints visited in order: lengths first, then one
// pass over the numeric bounds keeping the tightest ones that the oracle can
// order (a bound it cannot order is simply not used). Contradicting lengths
// settle it before any bound is compared, so no comparison hook runs then.
class BoundsFold {
 public:
  explicit BoundsFold(LeafOracle& oracle) : oracle_(oracle) {}

  // `each(visit)` calls `visit(const Constraint&)` on every constraint in order.
  template <class Each>
  bool unsat(const Each& each, bool integer) {
    each([this](const Constraint& c) { add_length(c); });
    if (has_min_len_ && has_max_len_ && min_len_ > max_len_) return true;
    each([this](const Constraint& c) { add_bound(c); });
    return bounds_unsat(integer);
  }

 private:
  void add_length(const Constraint& c) {
    if (c.kind == ConstraintKind::MinLen) {
      min_len_ = std::max(min_len_, c.value);
      has_min_len_ = true;
    } else if (c.kind == ConstraintKind::MaxLen) {
      max_len_ = std::min(max_len_, c.value);
      has_max_len_ = true;
    }
  }

  void add_bound(const Constraint& c) {
    switch (c.kind) {
      case ConstraintKind::Ge:
        tighten(lower_, c.value, false, 1);
        break;
      case ConstraintKind::Gt:
        tighten(lower_, c.value, true, 1);
        break;
      case ConstraintKind::Le:
        tighten(upper_, c.value, false, -1);
        break;
      case ConstraintKind::Lt:
        tighten(upper_, c.value, true, -1);
        break;
      case ConstraintKind::MinLen:
      case ConstraintKind::MaxLen:
      case ConstraintKind::MultipleOf:
      case ConstraintKind::Predicate:
      case ConstraintKind::Regex:
        break;
    }
  }

  bool bounds_unsat(bool integer) {
    if (!lower_.present || !upper_.present) return false;
    const int8_t order = oracle_.compare_constants(lower_.index, upper_.index);
    if (order == 1) return true;
    if (order == 0) return lower_.exclusive || upper_.exclusive;
    return integer && oracle_.no_integer_between(lower_.index, lower_.exclusive, upper_.index,
                                                 upper_.exclusive) == kOracleYes;
  }

  struct Bound {
    bool present = false;
    bool exclusive = false;
    uint64_t index = 0;
  };

  // `tighter` is the order (1 for a lower bound, -1 for an upper one) at
  // which the new bound replaces the kept one.
  void tighten(Bound& kept, uint64_t index, bool exclusive, int8_t tighter) {
    if (!kept.present) {
      kept = Bound{true, exclusive, index};
      return;
    }
    const int8_t order = oracle_.compare_constants(index, kept.index);
    if (order == tighter) {
      kept = Bound{true, exclusive, index};
    } else if (order == 0 && exclusive) {
      kept.exclusive = true;
    }
  }

  LeafOracle& oracle_;
  Bound lower_;
  Bound upper_;
  bool has_min_len_ = false;
  bool has_max_len_ = false;
  uint64_t min_len_ = 0;
  uint64_t max_len_ = std::numeric_limits<uint64_t>::max();
};

bool is_integer_kind(const SchemaNode& node) {
  const BaseKind k = base_kind(node);
  return k == BaseKind::Bool || k == BaseKind::Int;
}

// A Record or an Object is empty when one of its required fields is. A
// list of many fields met again visits only its required ones, so that
// optional ones cost nothing however often the record is met.
EmptinessSummary fields_emptiness(const SchemaNode& node, const DecisionContext& ctx,
                                  DefinitionStack& stack) {
  const std::vector<RecordField>& fields = node.fields();
  const auto empty_at = [&](size_t position) {
    return fields[position].required && emptiness_rec(fields[position].node, ctx, stack).empty;
  };
  if (const std::vector<uint32_t>* required = ctx.facts.required(node)) {
    for (const uint32_t position : *required) {
      if (empty_at(position)) return {true, true, 0};
    }
    return kNotEmptyInexact;
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    if (empty_at(i)) return {true, true, 0};
  }
  return kNotEmptyInexact;
}

EmptinessSummary union_emptiness(const std::vector<SchemaNode>& members, const DecisionContext& ctx,
                                 DefinitionStack& stack) {
  EmptinessSummary s{true, false, 0};
  for (const SchemaNode& m : members) {
    const EmptinessSummary r = emptiness_rec(m, ctx, stack);
    s.empty = s.empty && r.empty;
    s.classes |= r.classes;
    s.inexact = s.inexact || r.inexact;
    if (s.inexact && !s.empty) break;
  }
  return s;
}

EmptinessSummary ref_emptiness(uint64_t d, const DecisionContext& ctx, DefinitionStack& stack) {
  if (std::find(stack.begin(), stack.end(), d) != stack.end()) return {true, true, 0};
  if (d >= ctx.definitions.size()) return kNotEmptyInexact;
  stack.push_back(d);
  const EmptinessSummary r = emptiness_rec(ctx.definitions[d], ctx, stack);
  stack.pop_back();
  return {r.empty, true, r.classes};
}

// Up to this many members, the two tests below go pair by pair as written:
// that allocates nothing and is as quick as any index for the few members
// of a common intersection. Wider ones are indexed, so that the tests cost
// n log n rather than n squared; both ways give the same answer.
constexpr size_t kPairwiseUpTo = 8;

// Orders trees by the total order, which is 0 exactly for equal trees.
constexpr auto node_less = [](const SchemaNode* x, const SchemaNode* y) {
  return node_cmp(*x, *y) < 0;
};

// Whether some member from `from` on equals one of `sorted` (ascending by
// node_cmp). A comparison stops at the first difference, so it reads no
// more of a tree than comparing the two for equality would.
bool member_among_sorted(std::span<const SchemaNode* const> members, size_t from,
                         const std::vector<const SchemaNode*>& sorted) {
  return std::any_of(members.begin() + static_cast<std::ptrdiff_t>(from), members.end(),
                     [&](const SchemaNode* m) { return contains_sorted(sorted, *m); });
}

// Ordering `large` operands costs some log2(count) comparisons per operand,
// each reading at most the smaller tree; they are ordered once the pairs
// compared one by one number this many times that.
constexpr size_t kPairsPerOrderingCost = 4;

// Whether some member equals one of the `large` operands (trees of more
// than TreeFacts::kSmall nodes). A tree met once is compared as it stands,
// member by member against the operands of its kind, as the plain test
// compares it: a large operand is then read no further than its first
// difference. Once those comparisons have cost some times what ordering
// the operands would (counted as they go, a little at a time), the
// operands are ordered and the remaining members looked up by binary
// search, so a wide intersection of large operands costs n log n. Ordering
// compares operands with each other, which the plain test never does:
// hence it waits until the pairs compared pay for it.
bool member_among_large(std::span<const SchemaNode* const> members,
                        std::vector<const SchemaNode*>& large, TreeFacts& facts) {
  std::array<std::vector<const SchemaNode*>, static_cast<size_t>(NodeKind::Placeholder) + 1>
      by_kind;
  for (const SchemaNode* operand : large) {
    by_kind[static_cast<size_t>(operand->kind)].push_back(operand);
  }
  const size_t log2_count = std::bit_width(large.size());
  size_t pairs = 0;
  size_t next_count = facts.eager() ? 0 : 64 * large.size();
  for (size_t i = 0; i < members.size(); ++i) {
    for (const SchemaNode* operand : by_kind[static_cast<size_t>(members[i]->kind)]) {
      if (pairs >= next_count) {
        next_count = 2 * std::max<size_t>(pairs, 1);
        // Counted only up to what the pairs so far would pay for.
        size_t left = pairs / (kPairsPerOrderingCost * log2_count);
        const bool cheap =
            std::ranges::all_of(large, [&](const SchemaNode* o) { return nodes_within(*o, left); });
        if (cheap || facts.eager()) {
          std::ranges::stable_sort(large, node_less);
          return member_among_sorted(members, i, large);
        }
      }
      ++pairs;
      if (facts.same(*operand, *members[i])) return true;
    }
  }
  return false;
}

// Some member X beside a member complement(X), for an X other than Any.
// A wide intersection looks every member up among the complemented
// operands: the small ones sorted by the total order of nodes (a comparison
// with a small tree reads no more of either than the small one holds), the
// large ones as member_among_large finds them. The answer for a wide
// Intersection node (`owner`, null for a list of operands) is remembered:
// a decision may meet the node at every step.
bool complement_contradiction(std::span<const SchemaNode* const> members, const SchemaNode* owner,
                              TreeFacts& facts) {
  const auto complemented = [](const SchemaNode* m) {
    return m->kind == NodeKind::Complement && m->child().kind != NodeKind::Any;
  };
  if (members.size() <= kPairwiseUpTo && !facts.eager()) {
    for (const SchemaNode* m : members) {
      if (!complemented(m)) continue;
      for (const SchemaNode* other : members) {
        if (facts.same(*other, m->child())) return true;
      }
    }
    return false;
  }
  return facts.remembered(owner, [&] {
    std::vector<const SchemaNode*> small;
    std::vector<const SchemaNode*> large;
    for (const SchemaNode* m : members) {
      if (!complemented(m)) continue;
      (TreeFacts::small(m->child()) ? small : large).push_back(&m->child());
    }
    if (!small.empty()) {
      std::ranges::sort(small, node_less);
      if (member_among_sorted(members, 0, small)) return true;
    }
    return !large.empty() && member_among_large(members, large, facts);
  });
}

// Some two members disjoint by their base kinds; a wide intersection finds
// them in one pass.
bool some_pair_disjoint(std::span<const SchemaNode* const> members) {
  if (members.size() <= kPairwiseUpTo) {
    for (size_t i = 0; i < members.size(); ++i) {
      for (size_t j = i + 1; j < members.size(); ++j) {
        if (disjoint_base_kinds(*members[i], *members[j])) return true;
      }
    }
    return false;
  }
  DisjointPairFinder finder;
  for (const SchemaNode* m : members) finder.add(*m);
  return finder.found();
}

EmptinessSummary intersection_members_emptiness(std::span<const SchemaNode* const> members,
                                                const SchemaNode* owner, const DecisionContext& ctx,
                                                DefinitionStack& stack) {
  EmptinessSummary s{false, false, kAllClasses};
  for (const SchemaNode* m : members) {
    const EmptinessSummary r = emptiness_rec(*m, ctx, stack);
    s.empty = s.empty || r.empty;
    s.classes &= r.classes;
    s.inexact = s.inexact || r.inexact;
    if (s.empty && s.inexact) break;
  }
  if (s.empty || (!s.inexact && s.classes == 0)) {
    s.empty = true;
    return s;
  }
  s.empty = complement_contradiction(members, owner, ctx.facts) || some_pair_disjoint(members) ||
            intersection_bounds_unsat(members, ctx.oracle);
  return s;
}

// Borrowed pointers to the members of a node, so an Intersection node and a
// temporary list of operands share one rule.
std::vector<const SchemaNode*> member_pointers(const std::vector<SchemaNode>& members) {
  std::vector<const SchemaNode*> out;
  out.reserve(members.size());
  for (const SchemaNode& m : members) out.push_back(&m);
  return out;
}

}  // namespace

bool item_shape_emptiness(const ItemShape& shape, const DecisionContext& ctx,
                          DefinitionStack& stack) {
  switch (shape.kind) {
    case ShapeKind::Empty:
    case ShapeKind::Star:
      return false;
    case ShapeKind::One:
      return emptiness_rec(*shape.node, ctx, stack).empty;
    case ShapeKind::Seq:
      for (const ItemShape& part : shape.parts) {
        if (item_shape_emptiness(part, ctx, stack)) return true;
      }
      return false;
    case ShapeKind::Alt:
      for (const ItemShape& part : shape.parts) {
        if (!item_shape_emptiness(part, ctx, stack)) return false;
      }
      return true;
  }
  return false;
}

EmptinessSummary emptiness_rec(const SchemaNode& node, const DecisionContext& ctx,
                               DefinitionStack& stack) {
  DepthScope depth(ctx.budget);
  if (!ctx.budget.spend()) return kNotEmptyInexact;
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
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Instance:
    case NodeKind::Placeholder: {
      EmptinessSummary fixed;
      fixed_summary(node.kind, fixed);
      return fixed;
    }
    case NodeKind::Sequence:
      return {item_shape_emptiness(node.shape(), ctx, stack), true, 0};
    case NodeKind::Record:
    case NodeKind::Object:
      return fields_emptiness(node, ctx, stack);
    case NodeKind::Union:
      return union_emptiness(node.members(), ctx, stack);
    case NodeKind::Intersection: {
      const std::vector<const SchemaNode*> members = member_pointers(node.members());
      return intersection_members_emptiness(members, &node, ctx, stack);
    }
    case NodeKind::Complement: {
      const EmptinessSummary r = emptiness_rec(node.child(), ctx, stack);
      return {!r.inexact && r.classes == kAllClasses, r.inexact,
              static_cast<KindClasses>(kAllClasses & ~r.classes)};
    }
    case NodeKind::Refinement: {
      if (emptiness_rec(node.child(), ctx, stack).empty) return {true, true, 0};
      return {
          refinement_bounds_unsat(node.constraints(), ctx.oracle, is_integer_kind(node.child())),
          true, 0};
    }
    case NodeKind::Ref:
      return ref_emptiness(node.index, ctx, stack);
  }
  return kNotEmptyInexact;
}

EmptinessSummary intersection_emptiness(std::span<const SchemaNode* const> members,
                                        const DecisionContext& ctx, DefinitionStack& stack) {
  if (!ctx.budget.spend()) return kNotEmptyInexact;
  return intersection_members_emptiness(members, nullptr, ctx, stack);
}

bool refinement_bounds_unsat(const std::vector<Constraint>& constraints, LeafOracle& oracle,
                             bool integer) {
  if (constraints.empty()) return false;
  const auto each = [&](const auto& visit) {
    for (const Constraint& c : constraints) visit(c);
  };
  return BoundsFold(oracle).unsat(each, integer);
}

bool intersection_bounds_unsat(std::span<const SchemaNode* const> members, LeafOracle& oracle) {
  bool any = false;
  bool integer = false;
  for (const SchemaNode* m : members) {
    integer = integer || is_integer_kind(*m);
    any = any || (m->kind == NodeKind::Refinement && !m->constraints().empty());
  }
  if (!any) return false;
  // Only the members' own constraints: those of a Refinement nested in a
  // member's base are not gathered.
  const auto each = [&](const auto& visit) {
    for (const SchemaNode* m : members) {
      if (m->kind != NodeKind::Refinement) continue;
      for (const Constraint& c : m->constraints()) visit(c);
    }
  };
  return BoundsFold(oracle).unsat(each, integer);
}

EmptinessSummary node_emptiness_rec(const SchemaNode& node, const DecisionContext& ctx) {
  DefinitionStack stack;
  return emptiness_rec(node, ctx, stack);
}

bool decide_empty(const SchemaNode& root, LeafOracle& oracle,
                  const std::vector<SchemaNode>& definitions) {
  return decide_within_stack([&] {
    WorkBudget budget;
    TreeFacts facts;
    const DecisionContext ctx{oracle, definitions, budget, facts};
    DefinitionStack stack;
    return emptiness_rec(root, ctx, stack).empty;
  });
}

}  // namespace qx
