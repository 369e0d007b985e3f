// Lattice normal forms of unions and intersections: splice, sort, dedup, identities.
#include "algebra/kinds.h"
#include "algebra/order.h"
#include "algebra/simplify.h"

namespace qx {

namespace {

bool is_union(NodeKind kind) { return kind == NodeKind::Union; }

// X beside complement(X), for an X other than Any: Any is no universe to the
// algebra, so Any with complement(Any) is left alone.
bool has_member_beside_complement(const std::vector<SchemaNode>& sorted) {
  for (const SchemaNode& m : sorted) {
    if (m.kind != NodeKind::Complement || m.child().kind == NodeKind::Any) continue;
    if (contains_sorted(sorted, m.child())) return true;
  }
  return false;
}

void sort_and_dedup(std::vector<SchemaNode>& members) {
  sort_nodes(members);
  dedup_nodes(members);
}

SchemaNode single_or(NodeKind kind, std::vector<SchemaNode> members) {
  if (members.size() == 1) return std::move(members[0]);
  return make_members(kind, std::move(members));
}

bool union_is_universal(const std::vector<SchemaNode>& sorted) {
  KindClasses classes = 0;
  DisjointPairFinder complements;
  for (const SchemaNode& m : sorted) {
    const KindMask mask = kind_classes(m);
    if (!mask.opaque) classes |= mask.classes;
    if (m.kind == NodeKind::Complement) complements.add(m.child());
  }
  // complement(X) | complement(Y) is complement(X & Y): everything when X
  // and Y share no value.
  return classes == kAllClasses || has_member_beside_complement(sorted) || complements.found();
}

bool intersection_is_empty(const std::vector<SchemaNode>& sorted) {
  KindClasses classes = kAllClasses;
  DisjointPairFinder members;
  for (const SchemaNode& m : sorted) {
    const KindMask mask = kind_classes(m);
    if (!mask.opaque) classes &= mask.classes;
    members.add(m);
  }
  return classes == 0 || has_member_beside_complement(sorted) || members.found();
}

}  // namespace

bool MemberFold::add(SchemaNode member) {
  if (absorbed_) return false;
  const bool union_fold = is_union(kind_);
  const NodeKind identity = union_fold ? NodeKind::Nothing : NodeKind::Anything;
  const NodeKind absorbing = union_fold ? NodeKind::Anything : NodeKind::Nothing;
  if (member.kind == identity) return true;
  if (member.kind == absorbing) {
    absorbed_ = true;
    members_.clear();
    return false;
  }
  if (member.kind == kind_) {
    extend_nodes(members_, take_members(member));
  } else {
    members_.push_back(std::move(member));
  }
  return true;
}

SchemaNode MemberFold::finish() && {
  const bool union_fold = is_union(kind_);
  if (absorbed_) return make_leaf(union_fold ? NodeKind::Anything : NodeKind::Nothing);
  return union_fold ? normalize_union(std::move(members_))
                    : normalize_intersection(std::move(members_));
}

SchemaNode fold_members(NodeKind kind, std::vector<SchemaNode> members) {
  MemberFold fold(kind, members.size());
  for (SchemaNode& m : members) {
    if (!fold.add(std::move(m))) break;
  }
  return std::move(fold).finish();
}

SchemaNode normalize_union(std::vector<SchemaNode> members) {
  sort_and_dedup(members);
  if (union_is_universal(members)) return make_leaf(NodeKind::Anything);
  if (members.empty()) return make_leaf(NodeKind::Nothing);
  return single_or(NodeKind::Union, std::move(members));
}

SchemaNode normalize_intersection(std::vector<SchemaNode> members) {
  sort_and_dedup(members);
  if (members.empty()) return make_leaf(NodeKind::Anything);
  if (intersection_is_empty(members)) return make_leaf(NodeKind::Nothing);
  return single_or(NodeKind::Intersection, std::move(members));
}

void dedup_nodes(std::vector<SchemaNode>& members) {
  if (members.size() < 2) return;
  size_t kept = 0;
  for (size_t i = 1; i < members.size(); ++i) {
    if (schema_node_eq(members[kept], members[i])) continue;
    ++kept;
    if (kept != i) members[kept] = std::move(members[i]);
  }
  members.erase(members.begin() + static_cast<std::ptrdiff_t>(kept + 1), members.end());
}

void extend_nodes(std::vector<SchemaNode>& members, std::vector<SchemaNode> more) {
  if (members.empty()) {
    members = std::move(more);
    return;
  }
  members.reserve(members.size() + more.size());
  for (SchemaNode& n : more) members.push_back(std::move(n));
}

}  // namespace qx
