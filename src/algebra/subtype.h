// The inclusion decision: whether every value of one schema belongs to another.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "algebra/emptiness.h"
#include "schema/node.h"

namespace qx {

// Pairs (a, b) being expanded through a Ref, borrowed from the query's
// trees: met again, a pair is taken as included (coinduction). A pair is
// met again when both sides are structurally equal to it; the query's
// TreeFacts remembers a long comparison, so looking a pair up again costs
// the same however large its trees.
using AssumptionStack = std::vector<std::pair<const SchemaNode*, const SchemaNode*>>;

// Whether `a` is included in `b`. False when not shown.
bool subtype_rec(const SchemaNode& a, const SchemaNode& b, const DecisionContext& ctx,
                 AssumptionStack& stack);

bool item_shape_subtype(const ItemShape& sa, const ItemShape& sb, const DecisionContext& ctx,
                        AssumptionStack& stack);
// item_shape_subtype of two shapes known to differ.
bool unequal_shapes_subtype(const ItemShape& sa, const ItemShape& sb, const DecisionContext& ctx,
                            AssumptionStack& stack);
// Record `a` (fields and catch-all clauses) against record `b`.
bool record_subtype(const SchemaNode& a, const SchemaNode& b, const DecisionContext& ctx,
                    AssumptionStack& stack);
// Object `a` (class and attributes) against object `b`.
bool object_subtype(const SchemaNode& a, const SchemaNode& b, const DecisionContext& ctx,
                    AssumptionStack& stack);
// `a` (not a Complement) against the complement of `b_operand`: their
// intersection must be proven empty.
bool subtype_of_complement(const SchemaNode& a, const SchemaNode& b_operand,
                           const DecisionContext& ctx);
// Whether every constraint of `b` is implied by some constraint of `a`.
bool constraints_implied(const std::vector<Constraint>& b, const std::vector<Constraint>& a,
                         LeafOracle& oracle);

// Whole queries, each with its own budget; is_equivalent shares one budget
// between its two directions and runs the second only when the first holds.
bool decide_subtype(const SchemaNode& a, const SchemaNode& b, LeafOracle& oracle,
                    const std::vector<SchemaNode>& definitions);
bool decide_equivalent(const SchemaNode& a, const SchemaNode& b, LeafOracle& oracle,
                       const std::vector<SchemaNode>& definitions);

}  // namespace qx
