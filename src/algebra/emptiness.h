// The emptiness decision: whether no value can belong to a schema.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "algebra/budget.h"
#include "algebra/kinds.h"
#include "algebra/oracle.h"
#include "algebra/tree_facts.h"
#include "schema/node.h"

namespace qx {

// What every decision step receives. All borrowed, for one query.
struct DecisionContext {
  LeafOracle& oracle;
  const std::vector<SchemaNode>& definitions;
  WorkBudget& budget;
  // Equality, class masks and the like of the query's trees, each worked out
  // once, so that no step costs more for meeting a large tree again.
  TreeFacts& facts;
};

// `empty`: proven empty. `inexact`: the value set is not exactly the union of
// `classes`, which then must not be used to conclude anything.
struct EmptinessSummary {
  bool empty = false;
  bool inexact = false;
  KindClasses classes = 0;
};

// The definitions being expanded by one emptiness question: a definition
// met again while it is on the stack counts as empty (a value of it would
// have to contain a smaller value of it, without end).
using DefinitionStack = std::vector<uint64_t>;

// Spends one budget step per call; an exhausted budget answers "not empty, inexact".
EmptinessSummary emptiness_rec(const SchemaNode& node, const DecisionContext& ctx,
                               DefinitionStack& stack);
// The summary of an Intersection of `members` (one step for the intersection
// itself), without building the node.
EmptinessSummary intersection_emptiness(std::span<const SchemaNode* const> members,
                                        const DecisionContext& ctx, DefinitionStack& stack);
// Whether no sequence matches `shape`. Shape nesting spends no budget.
bool item_shape_emptiness(const ItemShape& shape, const DecisionContext& ctx,
                          DefinitionStack& stack);

// Whether the numeric or length bounds of the constraints cannot hold
// together; `integer` says every value is an int.
bool refinement_bounds_unsat(const std::vector<Constraint>& constraints, LeafOracle& oracle,
                             bool integer);
bool intersection_bounds_unsat(std::span<const SchemaNode* const> members, LeafOracle& oracle);

inline constexpr EmptinessSummary kNotEmptyInexact{false, true, 0};

// The summary of a node whose kind alone fixes it (the kinds without a
// tree below them, and Set and FrozenSet, never empty): true with `out` set,
// else false.
inline bool fixed_summary(NodeKind kind, EmptinessSummary& out) {
  switch (kind) {
    case NodeKind::Anything:
    case NodeKind::Nothing:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes: {
      const KindClasses classes = kind_mask(kind).classes;
      out = {classes == 0, false, classes};
      return true;
    }
    case NodeKind::Any:
    case NodeKind::Literal:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Instance:
    case NodeKind::Placeholder:
      out = kNotEmptyInexact;
      return true;
    case NodeKind::Sequence:
    case NodeKind::Record:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Object:
    case NodeKind::Refinement:
    case NodeKind::Ref:
      return false;
  }
  return false;
}

EmptinessSummary node_emptiness_rec(const SchemaNode& node, const DecisionContext& ctx);

// emptiness_rec with a fresh DefinitionStack, as the inclusion decision asks
// it at most steps: a node whose kind fixes its summary spends its one step
// here, as emptiness_rec would, without the call.
inline EmptinessSummary node_emptiness(const SchemaNode& node, const DecisionContext& ctx) {
  EmptinessSummary fixed;
  if (!fixed_summary(node.kind, fixed)) return node_emptiness_rec(node, ctx);
  DepthScope depth(ctx.budget);
  if (!ctx.budget.spend()) return kNotEmptyInexact;
  return fixed;
}

// A whole emptiness query with its own budget.
bool decide_empty(const SchemaNode& root, LeafOracle& oracle,
                  const std::vector<SchemaNode>& definitions);

}  // namespace qx
