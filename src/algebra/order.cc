// Total order of schema trees: kind first, then the payload, pairwise and length last.
#include "algebra/order.h"

#include <string>

#include "py/stack.h"

namespace qx {

namespace {

template <class T>
int8_t three_way(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Bytes compared as unsigned, a proper prefix first.
int8_t text_cmp(const std::string& a, const std::string& b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

template <class T, class Cmp>
int8_t pairwise_cmp(const std::vector<T>& a, const std::vector<T>& b, Cmp cmp) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (int8_t c = cmp(a[i], b[i])) return c;
  }
  return three_way(a.size(), b.size());
}

// Name, value node, then optional before required.
int8_t field_cmp(const RecordField& a, const RecordField& b) {
  if (int8_t c = text_cmp(a.name, b.name)) return c;
  if (int8_t c = node_cmp(a.node, b.node)) return c;
  return three_way(a.required, b.required);
}

int8_t clause_cmp(const Clause& a, const Clause& b) {
  if (int8_t c = node_cmp(a.key, b.key)) return c;
  return node_cmp(a.value, b.value);
}

struct SortKey {
  NodeKind kind;
  WithinKind within;
  uint64_t index;
  SchemaNode* node;
};

bool key_less(const SortKey& a, const SortKey& b) {
  if (a.kind != b.kind) return a.kind < b.kind;
  switch (a.within) {
    case WithinKind::Equal:
      return false;
    case WithinKind::Index:
      return a.index < b.index;
    case WithinKind::Tree:
      return node_cmp(*a.node, *b.node) < 0;
  }
  return false;
}

}  // namespace

void sort_nodes(std::vector<SchemaNode>& nodes) {
  const size_t n = nodes.size();
  if (n < kMergeSortFrom) {
    stable_sort_by(nodes, node_cmp);
    return;
  }
  std::vector<SortKey> keys;
  keys.reserve(n);
  for (SchemaNode& node : nodes) {
    keys.push_back(SortKey{node.kind, within_kind(node.kind), node.index, &node});
  }
  std::stable_sort(keys.begin(), keys.end(), key_less);
  // Apply the permutation in place, cycle by cycle: each node moves once and
  // no second wide vector is allocated. A visited slot's key is cleared.
  SchemaNode* const base = nodes.data();
  for (size_t start = 0; start < n; ++start) {
    if (keys[start].node == nullptr) continue;
    SchemaNode held = std::move(nodes[start]);
    size_t slot = start;
    for (;;) {
      const size_t from = static_cast<size_t>(keys[slot].node - base);
      keys[slot].node = nullptr;
      if (from == start) {
        nodes[slot] = std::move(held);
        break;
      }
      nodes[slot] = std::move(nodes[from]);
      slot = from;
    }
  }
}

int8_t node_cmp(const SchemaNode& a_root, const SchemaNode& b_root) {
  ensure_stack();
  const SchemaNode* a = &a_root;
  const SchemaNode* b = &b_root;
  // Single-child kinds step down in this loop, so chains of them do not grow
  // the stack.
  for (;;) {
    if (a->kind != b->kind) return three_way(a->kind, b->kind);
    switch (a->kind) {
      case NodeKind::Anything:
      case NodeKind::Any:
      case NodeKind::Nothing:
      case NodeKind::NoneType:
      case NodeKind::Bool:
      case NodeKind::Int:
      case NodeKind::Float:
      case NodeKind::Str:
      case NodeKind::Bytes:
        return 0;
      case NodeKind::Literal:
      case NodeKind::Instance:
      case NodeKind::Ref:
      case NodeKind::Placeholder:
        return three_way(a->index, b->index);
      case NodeKind::Sequence:
        if (a->tuple != b->tuple) return a->tuple ? 1 : -1;
        return item_shape_cmp(a->shape(), b->shape());
      case NodeKind::Set:
      case NodeKind::FrozenSet:
      case NodeKind::Complement:
        a = &a->child();
        b = &b->child();
        continue;
      case NodeKind::Record:
        if (int8_t c = pairwise_cmp(a->fields(), b->fields(), field_cmp)) return c;
        return pairwise_cmp(a->clauses(), b->clauses(), clause_cmp);
      case NodeKind::Union:
      case NodeKind::Intersection:
        return pairwise_cmp(a->members(), b->members(), node_cmp);
      case NodeKind::Object:
        if (int8_t c = three_way(a->index, b->index)) return c;
        return pairwise_cmp(a->fields(), b->fields(), field_cmp);
      case NodeKind::Refinement:
        if (int8_t c = node_cmp(a->child(), b->child())) return c;
        return constraint_slice_cmp(a->constraints().data(), a->constraints().size(),
                                    b->constraints().data(), b->constraints().size());
    }
    return 0;
  }
}

int8_t item_shape_cmp(const ItemShape& a_root, const ItemShape& b_root) {
  ensure_stack();
  const ItemShape* a = &a_root;
  const ItemShape* b = &b_root;
  for (;;) {
    if (a->kind != b->kind) return three_way(a->kind, b->kind);
    switch (a->kind) {
      case ShapeKind::Empty:
        return 0;
      case ShapeKind::One:
        return node_cmp(*a->node, *b->node);
      case ShapeKind::Seq:
      case ShapeKind::Alt:
        return pairwise_cmp(a->parts, b->parts, item_shape_cmp);
      case ShapeKind::Star:
        a = a->inner.get();
        b = b->inner.get();
        continue;
    }
    return 0;
  }
}

int8_t constraint_cmp(const Constraint& a, const Constraint& b) {
  if (a.kind != b.kind) return three_way(a.kind, b.kind);
  if (a.kind == ConstraintKind::Regex) return text_cmp(a.pattern, b.pattern);
  return three_way(a.value, b.value);
}

int8_t constraint_slice_cmp(const Constraint* a, size_t a_len, const Constraint* b, size_t b_len) {
  const size_t n = std::min(a_len, b_len);
  for (size_t i = 0; i < n; ++i) {
    if (int8_t c = constraint_cmp(a[i], b[i])) return c;
  }
  return three_way(a_len, b_len);
}

}  // namespace qx
