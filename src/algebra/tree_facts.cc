// Facts one decision query works out once about its trees: ids, masks, views, field names.
#include "algebra/tree_facts.h"

#include <algorithm>
#include <utility>

#include "algebra/order.h"
#include "py/stack.h"
#include "schema/measure.h"

namespace qx {

namespace {

bool has_tree(const SchemaNode& node) { return within_kind(node.kind) == WithinKind::Tree; }

// Calls `on_node` on the element node or `on_shape` on each part of a
// shape, in the order its key writes them.
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

template <class Tree>
bool both_small(const Tree& a, const Tree& b) {
  size_t left = TreeFacts::kSmall;
  if (!fits(a, left)) return false;
  left = TreeFacts::kSmall;
  return fits(b, left);
}

// Keys are byte strings: fixed-width numbers and length-prefixed texts, so
// two keys are equal exactly when what they write is.
void put_u64(std::string& key, uint64_t value) {
  key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void put_text(std::string& key, const std::string& text) {
  put_u64(key, text.size());
  key.append(text);
}

constexpr char kNodeTag = 'n';
constexpr char kShapeTag = 's';

}  // namespace

uint64_t TreeFacts::intern(std::string key) {
  const auto [entry, fresh] = ids_by_key_.try_emplace(std::move(key), next_id_);
  if (fresh) ++next_id_;
  return entry->second;
}

// A child is its kind, then its index or the id of its tree: the kind tells
// which, so distinct children never write the same bytes.
void TreeFacts::put_child(std::string& key, const SchemaNode& child) const {
  key.push_back(static_cast<char>(child.kind));
  switch (within_kind(child.kind)) {
    case WithinKind::Equal:
      return;
    case WithinKind::Index:
      put_u64(key, child.index);
      return;
    case WithinKind::Tree:
      put_u64(key, node_ids_.at(&child));
      return;
  }
}

// Everything schema_node_eq compares of a node with a payload, with each
// child tree by its id.
std::string TreeFacts::node_key(const SchemaNode& node) const {
  std::string key;
  key.push_back(kNodeTag);
  key.push_back(static_cast<char>(node.kind));
  const auto put_fields = [&] {
    put_u64(key, node.fields().size());
    for (const RecordField& f : node.fields()) {
      put_text(key, f.name);
      key.push_back(f.required ? 1 : 0);
      put_child(key, f.node);
    }
  };
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
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      break;  // leaves have ids of their own and are written inline by put_child
    case NodeKind::Sequence:
      key.push_back(node.tuple ? 1 : 0);
      put_u64(key, shape_ids_.at(&node.shape()));
      break;
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
      put_child(key, node.child());
      break;
    case NodeKind::Refinement:
      put_child(key, node.child());
      put_u64(key, node.constraints().size());
      for (const Constraint& c : node.constraints()) {
        key.push_back(static_cast<char>(c.kind));
        if (c.kind == ConstraintKind::Regex) {
          put_text(key, c.pattern);
        } else {
          put_u64(key, c.value);
        }
      }
      break;
    case NodeKind::Record:
      put_fields();
      put_u64(key, node.clauses().size());
      for (const Clause& c : node.clauses()) {
        put_child(key, c.key);
        put_child(key, c.value);
      }
      break;
    case NodeKind::Object:
      put_u64(key, node.index);
      put_fields();
      break;
    case NodeKind::Union:
    case NodeKind::Intersection:
      put_u64(key, node.members().size());
      for (const SchemaNode& m : node.members()) put_child(key, m);
      break;
  }
  return key;
}

std::string TreeFacts::shape_key(const ItemShape& shape) const {
  std::string key;
  key.push_back(kShapeTag);
  key.push_back(static_cast<char>(shape.kind));
  switch (shape.kind) {
    case ShapeKind::Empty:
      break;
    case ShapeKind::One:
      put_child(key, *shape.node);
      break;
    case ShapeKind::Seq:
    case ShapeKind::Alt:
      put_u64(key, shape.parts.size());
      for (const ItemShape& part : shape.parts) put_u64(key, shape_ids_.at(&part));
      break;
    case ShapeKind::Star:
      put_u64(key, shape_ids_.at(shape.inner.get()));
      break;
  }
  return key;
}

// Post-order on an explicit stack: a deep tree needs no native stack.
void TreeFacts::number(const SchemaNode* root_node, const ItemShape* root_shape) {
  struct Pending {
    const SchemaNode* node;
    const ItemShape* shape;
    bool opened;
  };
  std::vector<Pending> work{{root_node, root_shape, false}};
  const auto open_node = [&](const SchemaNode& child) {
    if (has_tree(child) && !node_ids_.contains(&child)) work.push_back({&child, nullptr, false});
  };
  const auto open_shape = [&](const ItemShape& child) {
    if (!shape_ids_.contains(&child)) work.push_back({nullptr, &child, false});
  };
  while (!work.empty()) {
    const Pending top = work.back();
    if (top.opened) {
      work.pop_back();
      if (top.node != nullptr) {
        node_ids_.try_emplace(top.node, intern(node_key(*top.node)));
      } else {
        shape_ids_.try_emplace(top.shape, intern(shape_key(*top.shape)));
      }
      continue;
    }
    work.back().opened = true;
    if (top.node == nullptr) {
      for_each_part(*top.shape, open_node, open_shape);
    } else if (top.node->kind == NodeKind::Sequence) {
      open_shape(top.node->shape());
    } else {
      for_each_child(*top.node, open_node);
    }
  }
}

uint64_t TreeFacts::id(const SchemaNode& node) {
  switch (within_kind(node.kind)) {
    case WithinKind::Equal:
      return static_cast<uint64_t>(node.kind);
    case WithinKind::Index: {
      // The kind and a fitting index are the id itself, above every counted
      // one; a larger index is counted like a tree.
      if (node.index < kFirstWrittenId >> kKindBits) {
        return kFirstWrittenId | (static_cast<uint64_t>(node.kind) << kIndexBits) | node.index;
      }
      const auto [entry, fresh] = leaf_ids_.try_emplace(std::pair{node.kind, node.index}, next_id_);
      if (fresh) ++next_id_;
      return entry->second;
    }
    case WithinKind::Tree:
      break;
  }
  if (auto it = node_ids_.find(&node); it != node_ids_.end()) return it->second;
  // A node whose children are all leaves (a complemented literal, a union
  // of literals) is keyed at once, without a stack of pending parts.
  bool flat = node.kind != NodeKind::Sequence;
  if (flat) for_each_child(node, [&](const SchemaNode& child) { flat = flat && !has_tree(child); });
  if (flat) return node_ids_.try_emplace(&node, intern(node_key(node))).first->second;
  number(&node, nullptr);
  return node_ids_.at(&node);
}

uint64_t TreeFacts::shape_id(const ItemShape& shape) {
  if (auto it = shape_ids_.find(&shape); it != shape_ids_.end()) return it->second;
  number(nullptr, &shape);
  return shape_ids_.at(&shape);
}

bool TreeFacts::small(const SchemaNode& node) {
  size_t left = kSmall;
  return fits(node, left);
}

bool TreeFacts::same(const SchemaNode& a, const SchemaNode& b) {
  if (&a == &b) return true;
  if (a.kind != b.kind) return false;
  if (!has_tree(a) || both_small(a, b)) return schema_node_eq(a, b);
  return id(a) == id(b);
}

bool TreeFacts::same(const ItemShape& a, const ItemShape& b) {
  if (&a == &b) return true;
  if (a.kind != b.kind) return false;
  if (both_small(a, b)) return item_shape_eq(a, b);
  return shape_id(a) == shape_id(b);
}

KindMask TreeFacts::classes(const SchemaNode& node) {
  if (node.kind != NodeKind::Union && node.kind != NodeKind::Intersection &&
      node.kind != NodeKind::Complement) {
    return kind_classes(node);
  }
  // Most masks are settled within a few nodes (a union of literals at its
  // first member): those are read as they stand; longer readings once.
  size_t left = kSmall;
  bool settled = true;
  const KindMask quick = classes_within(node, left, settled);
  if (settled) return quick;
  if (auto it = masks_.find(&node); it != masks_.end()) return it->second;
  ensure_stack();
  const KindMask mask =
      kind_classes_with(node, [this](const SchemaNode& child) { return classes(child); });
  masks_.try_emplace(&node, mask);
  return mask;
}

// kind_classes reading at most `left` nodes; `settled` is cleared when that
// is not enough (the mask returned then means nothing).
KindMask TreeFacts::classes_within(const SchemaNode& node, size_t& left, bool& settled) {
  return kind_classes_with(node, [&](const SchemaNode& child) {
    if (left == 0) settled = false;
    if (!settled) return KindMask{true, 0};  // opaque ends every reading at once
    --left;
    return classes_within(child, left, settled);
  });
}

const ShapeView* TreeFacts::view(const ItemShape& shape, ShapeView& scratch) {
  if (shape.parts.size() < kSmall) {
    return item_shape_prefix_rest(shape, scratch) ? &scratch : nullptr;
  }
  std::unique_ptr<ViewFacts>& slot = views_[&shape];
  if (slot == nullptr) {
    slot = std::make_unique<ViewFacts>();
    slot->viewable = item_shape_prefix_rest(shape, slot->view);
  }
  return slot->viewable ? &slot->view : nullptr;
}

const FieldFacts& TreeFacts::fields(const SchemaNode& node, FieldFacts& scratch) {
  if (node.fields().size() < kSmall) {
    name_fields(node, scratch, false);
    return scratch;
  }
  std::unique_ptr<FieldFacts>& slot = fields_[&node];
  if (slot == nullptr) {
    slot = std::make_unique<FieldFacts>();
    name_fields(node, *slot, true);
  }
  return *slot;
}

void TreeFacts::name_fields(const SchemaNode& node, FieldFacts& facts, bool with_required) {
  const std::vector<RecordField>& all = node.fields();
  facts.all = &all;
  facts.first.reserve(all.size());
  // The last position of each chain of same-named fields, by its first
  // position; made only when a name comes again.
  std::vector<uint32_t> last;
  for (uint32_t i = 0; i < all.size(); ++i) {
    if (with_required && all[i].required) facts.required.push_back(i);
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

}  // namespace qx
