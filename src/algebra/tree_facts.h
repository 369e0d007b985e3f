// Facts one decision query may need again about its trees: equality, masks, views, field names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "algebra/kinds.h"
#include "algebra/order.h"
#include "schema/node.h"

// A build with QX_EAGER_MEMO set remembers every fact from its first
// reading, small trees included, so that the suite runs through the
// remembered answers as well as the plain readings.
#ifndef QX_EAGER_MEMO
#define QX_EAGER_MEMO 0
#endif

namespace qx {

// The declared names of a Record's fields or an Object's attributes.
struct FieldFacts {
  const std::vector<RecordField>* all = nullptr;
  // Whether names are found through `first`; without it, by a scan of the
  // few fields, which costs less than making the table for a few lookups.
  bool indexed = false;
  // Each name to the position of the first field declared with it.
  absl::flat_hash_map<std::string_view, uint32_t> first;
  // By position: the next position declared with the same name, 0 for none
  // (a later field is never at 0). Empty when every name is declared once.
  std::vector<uint32_t> next_same;
  // Positions of the required fields, ascending, for a list of many fields.
  std::vector<uint32_t> required;

  // The first field declared with `name`, or null.
  const RecordField* find(std::string_view name) const {
    if (!indexed) {
      for (const RecordField& f : *all) {
        if (f.name == name) return &f;
      }
      return nullptr;
    }
    auto it = first.find(name);
    return it == first.end() ? nullptr : &(*all)[it->second];
  }
  // The position after `position` declared with the same name, 0 for none.
  uint32_t next(uint32_t position) const { return next_same.empty() ? 0 : next_same[position]; }
};

// Whether the tree under `node` has at most `left` nodes and shapes,
// counting `left` down; reads no more than that.
bool nodes_within(const SchemaNode& node, size_t& left);

// What a decision would otherwise work out again each time it meets the
// same large subtree: whether two trees are equal, class masks, the view of
// a long shape, the names and required fields of a long field list, the
// complement test of a wide intersection.
//
// A fact is first read as it stands, exactly as the plain decision reads
// it, and remembered only where that reading was long (more than kSmall
// nodes, or a list of as many parts): remembering then costs one table
// entry beside a reading it dwarfs, so a tree compared or read once costs
// what the plain reading costs. Required field positions, which a single
// emptiness question reads in place as cheaply, are listed only for a
// record met again. Met again, a remembered fact costs a lookup, however
// large its trees.
//
// Nodes and shapes are known by address: every one asked about must stay in
// place and unchanged for the life of the facts, as the trees and
// definitions of a query do. Nodes a step makes on its own stack are leaves,
// never remembered.
class TreeFacts {
 public:
  // Up to this many nodes and shapes, a reading is not remembered: it costs
  // no more than a lookup would. Field lists and shapes with fewer parts are
  // read into the caller's scratch.
  static constexpr size_t kSmall = 32;

  explicit TreeFacts(bool eager = QX_EAGER_MEMO) : eager_(eager) {}

  // schema_node_eq and item_shape_eq.
  bool same(const SchemaNode& a, const SchemaNode& b) {
    if (&a == &b) return true;
    if (a.kind != b.kind) return false;
    switch (within_kind(a.kind)) {
      case WithinKind::Equal:
        return true;
      case WithinKind::Index:
        return a.index == b.index;
      case WithinKind::Tree:
        break;
    }
    return same_trees(a, b);
  }
  bool same(const ItemShape& a, const ItemShape& b);

  // kind_classes.
  KindMask classes(const SchemaNode& node) {
    return mask_from_parts(node.kind) ? composite_classes(node) : kind_mask(node.kind);
  }

  // item_shape_prefix_rest: the view, or null when the shape has none. A
  // short shape is viewed into `scratch`, a long one once per query.
  const ShapeView* view(const ItemShape& shape, ShapeView& scratch);
  // The names of a Record's fields or an Object's attributes, for `lookups`
  // lookups (kIndexed: for iterating `first` too): a list scanned at no more
  // than kScanPairs comparisons in all is left unindexed, the names of a few
  // fields are made into `scratch` (without `required`), those of many once
  // per query.
  static constexpr size_t kScanPairs = 256;
  static constexpr size_t kIndexed = std::numeric_limits<size_t>::max();
  const FieldFacts& fields(const SchemaNode& node, FieldFacts& scratch, size_t lookups);
  // The ascending positions of the required fields of a Record or Object of
  // many fields, once it is met again; null for a short list or at the first
  // meeting, when the fields are best read in place.
  const std::vector<uint32_t>* required(const SchemaNode& node);

  // A yes-or-no fact of `node` that `work()` works out from the tree alone,
  // remembered for the node; worked out each time for a null node.
  template <class Work>
  bool remembered(const SchemaNode* node, const Work& work) {
    if (node == nullptr) return work();
    auto& facts = memos().node_facts;
    if (auto it = facts.find(node); it != facts.end()) return it->second;
    const bool fact = work();
    memos().node_facts.try_emplace(node, fact);
    return fact;
  }

  // Whether the tree under `node` has at most kSmall nodes and shapes.
  static bool small(const SchemaNode& node);
  // Whether facts are remembered from their first reading (QX_EAGER_MEMO).
  bool eager() const { return eager_; }

 private:
  template <class Tree>
  bool same_by_reading(const Tree& a, const Tree& b);
  bool same_trees(const SchemaNode& a, const SchemaNode& b);
  KindMask composite_classes(const SchemaNode& node);

  // The slot of a node or shape among Memos::long_parts.
  static constexpr size_t kLongSlots = 16;
  static size_t long_slot(const void* part) {
    return (reinterpret_cast<uintptr_t>(part) >> 4) % kLongSlots;
  }

  struct ViewFacts {
    bool viewable = false;
    ShapeView view;
  };

  // The remembered facts, made at the first one: a query over small trees
  // remembers nothing and makes none of it.
  struct Memos {
    // Equality of pairs of trees (or of shapes) whose reading was long, by
    // their addresses, the lower first.
    absl::flat_hash_map<std::pair<const void*, const void*>, bool> pairs;
    // Nodes and shapes met in a long reading, each in a slot chosen by its
    // address (a later one takes the slot): a pair of them is looked up among
    // `pairs` before it is read at all, which spares a pair met at every step
    // its first kSmall nodes each time. A part pushed out of its slot is only
    // read again before its lookup.
    std::array<const void*, kLongSlots> long_parts{};
    absl::flat_hash_map<const SchemaNode*, KindMask> masks;
    absl::flat_hash_map<const SchemaNode*, bool> node_facts;
    // Held by pointer: a decision keeps a view, field names or required
    // positions across later steps that may add entries.
    absl::flat_hash_map<const ItemShape*, std::unique_ptr<ViewFacts>> views;
    absl::flat_hash_map<const SchemaNode*, std::unique_ptr<FieldFacts>> fields;
    // An entry without positions marks a list met once.
    absl::flat_hash_map<const SchemaNode*, std::unique_ptr<std::vector<uint32_t>>> required;
  };
  Memos& memos() {
    if (memos_ == nullptr) memos_ = std::make_unique<Memos>();
    return *memos_;
  }

  bool eager_;
  std::unique_ptr<Memos> memos_;
};

}  // namespace qx
