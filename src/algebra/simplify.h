// Simplify's stages: the bottom-up pass, lattice normal forms and negation-normal form.
#pragma once

#include <vector>

#include "schema/node.h"

namespace qx {

// A new, simplified tree; the argument is only read. Ref nodes are not
// followed, so the recursion is bounded by the tree's own nesting.
SchemaNode simplify_rec(const SchemaNode& node);
ItemShape simplify_item_shape(const ItemShape& shape);

// Collects the members of a Union (or, dually, an Intersection) being built
// from simplified nodes: the identity (Nothing, or Anything) is dropped, a
// node of the same kind is spliced (one level: a simplified node never nests
// its own kind), and the absorbing element (Anything, or Nothing) decides
// the whole node at once.
class MemberFold {
 public:
  // `expected` is how many members are likely to be added (a capacity hint).
  MemberFold(NodeKind kind, size_t expected) : kind_(kind) { members_.reserve(expected); }
  // False once the absorbing element was met: later members cannot matter.
  bool add(SchemaNode member);
  // The absorbing element, or the collected members normalised.
  SchemaNode finish() &&;

 private:
  NodeKind kind_;
  bool absorbed_ = false;
  std::vector<SchemaNode> members_;
};

// Folds owned, simplified members into a Union or Intersection (`kind`).
SchemaNode fold_members(NodeKind kind, std::vector<SchemaNode> members);

// Sorted, deduplicated and reduced by the lattice identities. The members
// are simplified, flattened and free of the identity and absorbing element.
SchemaNode normalize_union(std::vector<SchemaNode> members);
SchemaNode normalize_intersection(std::vector<SchemaNode> members);

// Drops every member equal to the one kept just before it.
void dedup_nodes(std::vector<SchemaNode>& members);
// Moves every node of `more` to the end of `members`, in order.
void extend_nodes(std::vector<SchemaNode>& members, std::vector<SchemaNode> more);

// The complement of an owned, simplified node, in negation-normal form: a
// Complement is left only directly above a node that is not Anything,
// Nothing, Union, Intersection or Complement.
SchemaNode negate_node(SchemaNode node);
std::vector<SchemaNode> negate_members(std::vector<SchemaNode> members);

}  // namespace qx
