// Lattice normal forms of unions and intersections: splice, sort, dedup, identities.
#include <array>

#include "algebra/kinds.h"
#include "algebra/order.h"
#include "algebra/simplify.h"

namespace qx {

namespace {

bool is_union(NodeKind kind) { return kind == NodeKind::Union; }

// Whether `x` equals a member of `sorted` (sorted by node_cmp), by binary
// search: node_cmp is 0 exactly when the trees are equal.
bool contains_sorted(const std::vector<SchemaNode>& sorted, const SchemaNode& x) {
  size_t lo = 0;
  size_t hi = sorted.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const int8_t c = node_cmp(sorted[mid], x);
    if (c == 0) return true;
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return false;
}

// X beside complement(X), for an X other than Any: Any is no universe to the
// algebra, so Any with complement(Any) is left alone.
bool has_member_beside_complement(const std::vector<SchemaNode>& sorted) {
  for (const SchemaNode& m : sorted) {
    if (m.kind != NodeKind::Complement || m.child().kind == NodeKind::Any) continue;
    if (contains_sorted(sorted, m.child())) return true;
  }
  return false;
}

// Finds whether some two of the nodes added are disjoint by
// disjoint_base_kinds without testing every pair. That test reads only
// whether a node is Nothing itself and the node's base kind, so nodes of one
// base kind are interchangeable: one representative per base kind, plus any
// Nothing, decide it. Linear in the nodes, so wide unions stay cheap.
class DisjointPairFinder {
 public:
  void add(const SchemaNode& node) {
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

  bool found() const {
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

 private:
  // The eleven known base kinds, then one slot for the unknown.
  static constexpr size_t kSlots = static_cast<size_t>(BaseKind::Dict) + 2;
  std::array<const SchemaNode*, kSlots> reps_{};
  const SchemaNode* first_ = nullptr;
  const SchemaNode* second_ = nullptr;
  const SchemaNode* nothing_ = nullptr;
};

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
