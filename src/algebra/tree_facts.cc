// Facts one decision query may need again about its trees: equality, masks, views, field names.
#include "algebra/tree_facts.h"

#include <algorithm>
#include <limits>

#include "py/stack.h"
#include "schema/measure.h"

namespace qx {

namespace {

// Calls `on_node` on the element node or `on_shape` on each part of a shape.
template <class OnNode, class OnShape>
void for_each_part(const ItemShape& shape, const OnNode& on_node, const OnShape& on_shape) {
  switch (shape.kind) {
    case ShapeKind::Empty:
      return;
    case ShapeKind::One:
      on_node(*shape.node);
      return;
    case ShapeKind::Seq:
    case ShapeKind::Alt:
      for (const ItemShape& part : shape.parts) on_shape(part);
      return;
    case ShapeKind::Star:
      on_shape(*shape.inner);
      return;
  }
}

// Whether the tree under `node` (or `shape`) has no more than `left` nodes
// and shapes, counting `left` down; stops as soon as it has more.
bool fits(const ItemShape& shape, size_t& left);

bool fits(const SchemaNode& node, size_t& left) {
  if (left == 0) return false;
  --left;
  switch (node.kind) {
    case NodeKind::Sequence:
      return fits(node.shape(), left);
    case NodeKind::Record:
    case NodeKind::Object:
    case NodeKind::Union:
    case NodeKind::Intersection:
      if (node.members().size() + node.fields().size() + 2 * node.clauses().size() > left) {
        return false;
      }
      break;
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
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Refinement:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      break;
  }
  bool small = true;
  for_each_child(node, [&](const SchemaNode& child) { small = small && fits(child, left); });
  return small;
}

bool fits(const ItemShape& shape, size_t& left) {
  if (left == 0 || shape.parts.size() >= left) return false;
  --left;
  bool small = true;
  for_each_part(
      shape, [&](const SchemaNode& node) { small = small && fits(node, left); },
      [&](const ItemShape& part) { small = small && fits(part, left); });
  return small;
}

// A comparison that may stop before it knows: Unsettled when it has read
// all the nodes and shapes it was allowed.
enum class Verdict : uint8_t { Differ, Equal, Unsettled };

constexpr size_t kUnlimited = std::numeric_limits<size_t>::max();

Verdict of(bool equal) { return equal ? Verdict::Equal : Verdict::Differ; }

// schema_node_eq and item_shape_eq, reading at most `left` nodes and shapes
// (counted down), in the order they read them: a settled verdict is theirs.
Verdict compare_within(const SchemaNode& a, const SchemaNode& b, size_t& left);
Verdict compare_within(const ItemShape& a, const ItemShape& b, size_t& left);

template <class T, class Each>
Verdict pairwise_within(const std::vector<T>& a, const std::vector<T>& b, const Each& each) {
  if (a.size() != b.size()) return Verdict::Differ;
  for (size_t i = 0; i < a.size(); ++i) {
    const Verdict v = each(a[i], b[i]);
    if (v != Verdict::Equal) return v;
  }
  return Verdict::Equal;
}

Verdict fields_within(const std::vector<RecordField>& a, const std::vector<RecordField>& b,
                      size_t& left) {
  return pairwise_within(a, b, [&](const RecordField& f, const RecordField& g) {
    if (f.required != g.required || f.name != g.name) return Verdict::Differ;
    return compare_within(f.node, g.node, left);
  });
}

Verdict compare_within(const SchemaNode& a, const SchemaNode& b, size_t& left) {
  if (&a == &b) return Verdict::Equal;
  if (left == 0) return Verdict::Unsettled;
  --left;
  ensure_stack();
  if (a.kind != b.kind) return Verdict::Differ;
  const auto nodes = [&](const SchemaNode& x, const SchemaNode& y) {
    return compare_within(x, y, left);
  };
  switch (a.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
      return Verdict::Equal;
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return of(a.index == b.index);
    case NodeKind::Sequence:
      if (a.tuple != b.tuple) return Verdict::Differ;
      return compare_within(a.shape(), b.shape(), left);
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
      return compare_within(a.child(), b.child(), left);
    case NodeKind::Record: {
      const Verdict v = fields_within(a.fields(), b.fields(), left);
      if (v != Verdict::Equal) return v;
      return pairwise_within(a.clauses(), b.clauses(), [&](const Clause& x, const Clause& y) {
        const Verdict key = nodes(x.key, y.key);
        return key != Verdict::Equal ? key : nodes(x.value, y.value);
      });
    }
    case NodeKind::Union:
    case NodeKind::Intersection:
      return pairwise_within(a.members(), b.members(), nodes);
    case NodeKind::Object:
      if (a.index != b.index) return Verdict::Differ;
      return fields_within(a.fields(), b.fields(), left);
    case NodeKind::Refinement: {
      const Verdict v = compare_within(a.child(), b.child(), left);
      if (v != Verdict::Equal) return v;
      return of(constraint_slice_cmp(a.constraints().data(), a.constraints().size(),
                                     b.constraints().data(), b.constraints().size()) == 0);
    }
  }
  return Verdict::Differ;
}

Verdict compare_within(const ItemShape& a, const ItemShape& b, size_t& left) {
  if (&a == &b) return Verdict::Equal;
  if (left == 0) return Verdict::Unsettled;
  --left;
  ensure_stack();
  if (a.kind != b.kind) return Verdict::Differ;
  switch (a.kind) {
    case ShapeKind::Empty:
      return Verdict::Equal;
    case ShapeKind::One:
      return compare_within(*a.node, *b.node, left);
    case ShapeKind::Seq:
    case ShapeKind::Alt:
      return pairwise_within(a.parts, b.parts, [&](const ItemShape& x, const ItemShape& y) {
        return compare_within(x, y, left);
      });
    case ShapeKind::Star:
      return compare_within(*a.inner, *b.inner, left);
  }
  return Verdict::Differ;
}

// kind_classes reading at most `left` nodes; `settled` is cleared when that
// is not enough (the mask returned then means nothing).
KindMask classes_within(const SchemaNode& node, size_t& left, bool& settled) {
  return kind_classes_with(node, [&](const SchemaNode& child) {
    if (left == 0) settled = false;
    if (!settled) return KindMask{true, 0};  // opaque ends every reading at once
    --left;
    return classes_within(child, left, settled);
  });
}

void name_fields(const SchemaNode& node, FieldFacts& facts) {
  const std::vector<RecordField>& all = node.fields();
  facts.all = &all;
  facts.indexed = true;
  facts.first.reserve(all.size());
  // The last position of each chain of same-named fields, by its first
  // position; made only when a name comes again.
  std::vector<uint32_t> last;
  for (uint32_t i = 0; i < all.size(); ++i) {
    const auto [entry, fresh] = facts.first.try_emplace(all[i].name, i);
    if (fresh) continue;
    if (facts.next_same.empty()) {
      facts.next_same.assign(all.size(), 0);
      last.assign(all.size(), 0);
    }
    const uint32_t head = entry->second;
    facts.next_same[std::max(head, last[head])] = i;
    last[head] = i;
  }
}

std::vector<uint32_t> required_positions(const std::vector<RecordField>& fields) {
  std::vector<uint32_t> required;
  for (uint32_t i = 0; i < fields.size(); ++i) {
    if (fields[i].required) required.push_back(i);
  }
  return required;
}

}  // namespace

// The equality of two trees or shapes: read as they stand up to kSmall
// nodes, unless both took part in a long reading before; a longer reading
// is remembered for the pair, so that meeting the pair again costs a
// lookup. An eager build remembers every pair.
template <class Tree>
bool TreeFacts::same_by_reading(const Tree& a, const Tree& b) {
  const size_t slot_a = long_slot(&a);
  const size_t slot_b = long_slot(&b);
  const bool both_long =
      memos_ != nullptr && memos_->long_parts[slot_a] == &a && memos_->long_parts[slot_b] == &b;
  if (!eager_ && !both_long) {
    size_t left = kSmall;
    const Verdict quick = compare_within(a, b, left);
    if (quick != Verdict::Unsettled) return quick == Verdict::Equal;
  }
  Memos& memo = memos();
  const std::pair<const void*, const void*> key = &a < &b
                                                      ? std::pair<const void*, const void*>{&a, &b}
                                                      : std::pair<const void*, const void*>{&b, &a};
  if (auto it = memo.pairs.find(key); it != memo.pairs.end()) return it->second;
  size_t left = kUnlimited;
  const bool equal = compare_within(a, b, left) == Verdict::Equal;
  memo.pairs.try_emplace(key, equal);
  memo.long_parts[slot_a] = &a;
  memo.long_parts[slot_b] = &b;
  return equal;
}

bool TreeFacts::same_trees(const SchemaNode& a, const SchemaNode& b) {
  return same_by_reading(a, b);
}

bool TreeFacts::same(const ItemShape& a, const ItemShape& b) {
  if (&a == &b) return true;
  if (a.kind != b.kind) return false;
  return same_by_reading(a, b);
}

bool nodes_within(const SchemaNode& node, size_t& left) { return fits(node, left); }

bool TreeFacts::small(const SchemaNode& node) {
  size_t left = kSmall;
  return fits(node, left);
}

KindMask TreeFacts::composite_classes(const SchemaNode& node) {
  // Most masks settle within a few nodes (a union of literals at its first
  // member): those are read as they stand; a longer reading is remembered.
  if (!eager_) {
    size_t left = kSmall;
    bool settled = true;
    const KindMask quick = classes_within(node, left, settled);
    if (settled) return quick;
  }
  auto& masks = memos().masks;
  if (auto it = masks.find(&node); it != masks.end()) return it->second;
  const KindMask mask = kind_classes(node);
  memos().masks.try_emplace(&node, mask);
  return mask;
}

const ShapeView* TreeFacts::view(const ItemShape& shape, ShapeView& scratch) {
  if (shape.parts.size() < kSmall && !eager_) {
    return item_shape_prefix_rest(shape, scratch) ? &scratch : nullptr;
  }
  std::unique_ptr<ViewFacts>& slot = memos().views[&shape];
  if (slot == nullptr) {
    slot = std::make_unique<ViewFacts>();
    slot->viewable = item_shape_prefix_rest(shape, slot->view);
  }
  return slot->viewable ? &slot->view : nullptr;
}

const FieldFacts& TreeFacts::fields(const SchemaNode& node, FieldFacts& scratch, size_t lookups) {
  const size_t count = node.fields().size();
  if (!eager_ && lookups != kIndexed && count * lookups <= kScanPairs) {
    scratch.all = &node.fields();
    return scratch;
  }
  if (count < kSmall && !eager_) {
    name_fields(node, scratch);
    return scratch;
  }
  std::unique_ptr<FieldFacts>& slot = memos().fields[&node];
  if (slot == nullptr) {
    slot = std::make_unique<FieldFacts>();
    name_fields(node, *slot);
    slot->required = required_positions(node.fields());
  }
  return *slot;
}

const std::vector<uint32_t>* TreeFacts::required(const SchemaNode& node) {
  if (node.fields().size() < kSmall && !eager_) return nullptr;
  const auto [entry, fresh] = memos().required.try_emplace(&node);
  if (fresh && !eager_) return nullptr;
  if (entry->second == nullptr) {
    entry->second = std::make_unique<std::vector<uint32_t>>(required_positions(node.fields()));
  }
  return entry->second.get();
}

}  // namespace qx
