// Facts one decision query works out once about its trees: ids, masks, views, field names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "algebra/kinds.h"
#include "schema/node.h"

namespace qx {

// The declared names of a Record's fields or an Object's attributes.
struct FieldFacts {
  const std::vector<RecordField>* all = nullptr;
  // Each name to the position of the first field declared with it.
  absl::flat_hash_map<std::string_view, uint32_t> first;
  // By position: the next position declared with the same name, 0 for none
  // (a later field is never at 0). Empty when every name is declared once.
  std::vector<uint32_t> next_same;
  // Positions of the required fields, ascending, for a list of many fields.
  std::vector<uint32_t> required;

  // The first field declared with `name`, or null.
  const RecordField* find(std::string_view name) const {
    auto it = first.find(name);
    return it == first.end() ? nullptr : &(*all)[it->second];
  }
  // The position after `position` declared with the same name, 0 for none.
  uint32_t next(uint32_t position) const { return next_same.empty() ? 0 : next_same[position]; }
};

// Facts about subtrees that a decision would otherwise work out again at
// every step that meets them, so that one step costs the same however large
// the trees it compares. Each is worked out once per query, in time linear
// in the subtree, without recursion on the native stack except for class
// masks (which recurse as kind_classes does).
//
// Nodes and shapes are known by address: every one asked about must stay in
// place and unchanged for the life of the facts, as the trees and
// definitions of a query do. A node without a payload (a leaf, which a step
// may make on its own stack) is never remembered by address: its facts are
// read off the node each time.
class TreeFacts {
 public:
  // Equal for two nodes exactly when schema_node_eq holds for them.
  uint64_t id(const SchemaNode& node);
  // schema_node_eq and item_shape_eq: small trees are compared as they
  // stand, larger ones by their ids, in constant time once those are known.
  bool same(const SchemaNode& a, const SchemaNode& b);
  bool same(const ItemShape& a, const ItemShape& b);
  // kind_classes.
  KindMask classes(const SchemaNode& node);
  // item_shape_prefix_rest: the view, or null when the shape has none. A
  // short shape is viewed into `scratch`, a long one once per query.
  const ShapeView* view(const ItemShape& shape, ShapeView& scratch);
  // The names of a Record's fields or an Object's attributes: those of a
  // few fields are made into `scratch` (without `required`), those of many
  // once per query.
  const FieldFacts& fields(const SchemaNode& node, FieldFacts& scratch);

  // Up to this many nodes, parts or fields, a tree, a shape or a field list
  // is read as it stands: that costs a step no more than a lookup would, and
  // a query over small trees remembers nothing.
  static constexpr size_t kSmall = 32;
  // Whether the tree under `node` has at most kSmall nodes and shapes.
  static bool small(const SchemaNode& node);

 private:
  uint64_t shape_id(const ItemShape& shape);
  static void name_fields(const SchemaNode& node, FieldFacts& facts, bool with_required);
  static KindMask classes_within(const SchemaNode& node, size_t& left, bool& settled);
  // Gives ids to every part of the tree under `node` or `shape` (one of the
  // two is null) that has none yet, children before their parents.
  void number(const SchemaNode* node, const ItemShape* shape);
  void put_child(std::string& key, const SchemaNode& child) const;
  std::string node_key(const SchemaNode& node) const;
  std::string shape_key(const ItemShape& shape) const;
  uint64_t intern(std::string key);

  struct ViewFacts {
    bool viewable = false;
    ShapeView view;
  };

  // Ids below this are the kinds without a payload, each its own id.
  static constexpr uint64_t kFirstFreeId = static_cast<uint64_t>(NodeKind::Bytes) + 1;
  // Ids from this one on are written, not counted: a Literal, Instance, Ref
  // or Placeholder whose index fits below bit kIndexBits is its kind there
  // and its index below. Counted ids never come near it.
  static constexpr int kIndexBits = 56;
  static constexpr int kKindBits = 7;
  static constexpr uint64_t kFirstWrittenId = uint64_t{1} << 63;
  uint64_t next_id_ = kFirstFreeId;
  // Each Literal, Instance, Ref or Placeholder with a larger index, by its
  // kind and index.
  absl::flat_hash_map<std::pair<NodeKind, uint64_t>, uint64_t> leaf_ids_;
  // Each distinct node or shape with a payload, written as its kind, its own
  // payload and the ids of its children, to its id.
  absl::flat_hash_map<std::string, uint64_t> ids_by_key_;
  absl::flat_hash_map<const SchemaNode*, uint64_t> node_ids_;
  absl::flat_hash_map<const ItemShape*, uint64_t> shape_ids_;
  absl::flat_hash_map<const SchemaNode*, KindMask> masks_;
  // Held by pointer: a decision keeps a view or field names across later steps.
  absl::flat_hash_map<const ItemShape*, std::unique_ptr<ViewFacts>> views_;
  absl::flat_hash_map<const SchemaNode*, std::unique_ptr<FieldFacts>> fields_;
};

}  // namespace qx
