// Total order of schema trees: nodes, element shapes and constraint lists.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "schema/node.h"

namespace qx {

// Each returns -1, 0 or 1. Purely structural: pool indexes are compared as
// numbers and never through the pooled objects, so no Python runs, nothing
// is allocated and nothing fails. Two trees compare 0 exactly when
// schema_node_eq holds for them, and swapping the arguments negates the
// result.
int8_t node_cmp(const SchemaNode& a, const SchemaNode& b);
int8_t item_shape_cmp(const ItemShape& a, const ItemShape& b);
int8_t constraint_cmp(const Constraint& a, const Constraint& b);
int8_t constraint_slice_cmp(const Constraint* a, size_t a_len, const Constraint* b, size_t b_len);

// Whether `x` equals an element of `sorted` (ascending by node_cmp), by
// binary search: node_cmp is 0 exactly when the trees are equal, so the
// answer is that of an equality test against every element. The elements
// are nodes or pointers to nodes.
template <class Range>
bool contains_sorted(const Range& sorted, const SchemaNode& x) {
  size_t lo = 0;
  size_t hi = sorted.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    int8_t c = 0;
    if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(sorted[mid])>>) {
      c = node_cmp(*sorted[mid], x);
    } else {
      c = node_cmp(sorted[mid], x);
    }
    if (c == 0) return true;
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return false;
}

// What tells two nodes of one kind apart: nothing (the kinds without a
// payload), their index (Literal, Instance, Ref, Placeholder), or their tree.
enum class WithinKind : uint8_t { Equal, Index, Tree };
inline WithinKind within_kind(NodeKind kind) {
  switch (kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
      return WithinKind::Equal;
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return WithinKind::Index;
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Object:
    case NodeKind::Refinement:
      return WithinKind::Tree;
  }
  return WithinKind::Tree;
}

// Lists shorter than this are sorted in place by insertion, which allocates
// nothing; the short member and constraint lists of real schemas stay cheap.
inline constexpr size_t kMergeSortFrom = 21;

// Stable sort of `items` by `cmp` (a -1/0/1 comparison). From
// kMergeSortFrom elements a merge sort orders pointers and the elements are
// then moved once each, so wide unions cost n log n comparisons and n moves.
template <class T, class Cmp>
void stable_sort_by(std::vector<T>& items, Cmp cmp) {
  const size_t n = items.size();
  if (n < 2) return;
  if (n < kMergeSortFrom) {
    for (size_t i = 1; i < n; ++i) {
      if (cmp(items[i - 1], items[i]) <= 0) continue;
      T moving = std::move(items[i]);
      size_t j = i;
      for (; j > 0 && cmp(items[j - 1], moving) > 0; --j) items[j] = std::move(items[j - 1]);
      items[j] = std::move(moving);
    }
    return;
  }
  std::vector<T*> order;
  order.reserve(n);
  for (T& item : items) order.push_back(&item);
  std::stable_sort(order.begin(), order.end(),
                   [&](const T* x, const T* y) { return cmp(*x, *y) < 0; });
  std::vector<T> sorted;
  sorted.reserve(n);
  for (T* item : order) sorted.push_back(std::move(*item));
  items = std::move(sorted);
}

// stable_sort_by(nodes, node_cmp), with the merge sort reading the kind and
// index of each node from a compact array beside its pointer: the wide
// unions of literals that reach it are then ordered without touching the
// nodes themselves.
void sort_nodes(std::vector<SchemaNode>& nodes);

}  // namespace qx
