// Schema trees: the node kinds, element shapes, fields and constraints.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qx {

// Kind numbers are fixed: hashing and the total order of nodes use them.
enum class NodeKind : uint8_t {
  Anything = 0,
  Any = 1,
  Nothing = 2,
  NoneType = 3,
  Bool = 4,
  Int = 5,
  Float = 6,
  Str = 7,
  Bytes = 8,
  Literal = 9,
  Sequence = 10,
  Set = 11,
  FrozenSet = 12,
  Record = 13,
  Union = 14,
  Intersection = 15,
  Complement = 16,
  Instance = 17,
  Object = 18,
  Refinement = 19,
  Ref = 20,
  Placeholder = 21,
};

enum class ShapeKind : uint8_t { Empty = 0, One = 1, Seq = 2, Alt = 3, Star = 4 };

enum class ConstraintKind : uint8_t {
  Ge = 0,
  Gt = 1,
  Le = 2,
  Lt = 3,
  MinLen = 4,
  MaxLen = 5,
  MultipleOf = 6,
  Predicate = 7,
  Regex = 8,
};

struct ItemShape;
struct RecordField;
struct Clause;

// One condition of a Refinement. `value` is a pool index (Ge..Lt,
// MultipleOf, Predicate) or a count (MinLen, MaxLen); `pattern` is the
// Regex text as written.
struct Constraint {
  ConstraintKind kind = ConstraintKind::Ge;
  uint64_t value = 0;
  std::string pattern;
};

// One node of a schema tree. Plain, finite, acyclic data: children are owned
// exclusively, Python objects are named by pool index and recursion by
// definition index, so trees are copied, compared and hashed without the
// interpreter. Built trees are immutable ("Get. No set."): only the
// constructors below write a node. The payload of each kind:
//   Literal, Instance, Object: `index` is a pool index
//   Ref: `index` is a definition index; Placeholder: `index` is the recursive id
//   Sequence: `tuple`, `shape()`
//   Set, FrozenSet, Complement: `child()`; Refinement: `child()` (base), `constraints()`
//   Record: `fields()`, `clauses()`; Object: `index`, `fields()` (attributes)
//   Union, Intersection: `members()`
// A list a kind does not have reads as empty; `child()` and `shape()` are
// read only on kinds that have them.
//
// A node is three words: the kind, the index and one pointer to a payload
// allocated only for the kinds that carry more, so that leaves, member
// lists and field lists stay small and dense.
struct SchemaNode {
  NodeKind kind = NodeKind::Anything;
  bool tuple = false;
  uint64_t index = 0;

  SchemaNode() = default;
  explicit SchemaNode(NodeKind k) : kind(k) {}  // kinds without a payload
  SchemaNode(SchemaNode&& other) noexcept
      : kind(other.kind), tuple(other.tuple), index(other.index), payload_(other.payload_) {
    other.payload_ = nullptr;
  }
  SchemaNode& operator=(SchemaNode&& other) noexcept;
  ~SchemaNode() {
    if (payload_ != nullptr) release_payload();
  }

  const SchemaNode& child() const;
  const ItemShape& shape() const;
  const std::vector<SchemaNode>& members() const;
  const std::vector<RecordField>& fields() const;
  const std::vector<Clause>& clauses() const;
  const std::vector<Constraint>& constraints() const;

  // For the builder's in-place binding of recursive placeholders only: a
  // finished tree is never written.
  SchemaNode& mutable_child();
  ItemShape& mutable_shape();
  std::vector<SchemaNode>& mutable_members();
  std::vector<RecordField>& mutable_fields();
  std::vector<Clause>& mutable_clauses();

 private:
  friend SchemaNode make_boxed(NodeKind kind, SchemaNode child);
  friend SchemaNode make_sequence(bool tuple, ItemShape shape);
  friend SchemaNode make_record(std::vector<RecordField> fields, std::vector<Clause> clauses);
  friend SchemaNode make_members(NodeKind kind, std::vector<SchemaNode> members);
  friend SchemaNode make_object(uint64_t class_index, std::vector<RecordField> attributes);
  friend SchemaNode make_refinement(SchemaNode base, std::vector<Constraint> constraints);
  friend std::vector<Constraint> take_constraints(SchemaNode& node);

  void release_payload() noexcept;

  // Set, FrozenSet, Complement, Refinement: ChildPayload; Sequence: ItemShape;
  // Record, Object: RecordPayload; Union, Intersection: std::vector<SchemaNode>;
  // every other kind: null.
  void* payload_ = nullptr;
};

// The elements of a Sequence as a regular expression over element nodes.
//   One: `node`; Seq, Alt: `parts`; Star: `inner`; Empty: nothing.
struct ItemShape {
  ShapeKind kind = ShapeKind::Empty;
  std::unique_ptr<SchemaNode> node;
  std::vector<ItemShape> parts;
  std::unique_ptr<ItemShape> inner;

  ItemShape() = default;
  explicit ItemShape(ShapeKind k) : kind(k) {}
  ItemShape(ItemShape&&) noexcept = default;
  ItemShape& operator=(ItemShape&&) noexcept = default;
  ~ItemShape();
};

// A declared key of a Record or attribute of an Object.
struct RecordField {
  std::string name;
  SchemaNode node;
  bool required = true;
};

// A catch-all clause of a Record: undeclared keys matching `key` with values
// matching `value`.
struct Clause {
  SchemaNode key;
  SchemaNode value;
};

// The payloads behind SchemaNode's pointer. Set, FrozenSet and Complement
// share the Refinement's payload with no constraints, and Object the
// Record's with no clauses: a child, or a field list, then sits at one place
// whichever of those kinds holds it.
struct ChildPayload {
  SchemaNode child;
  std::vector<Constraint> constraints;
};
struct RecordPayload {
  std::vector<RecordField> fields;
  std::vector<Clause> clauses;
};

// The lists that kinds without them read.
extern const std::vector<SchemaNode> kNoNodes;
extern const std::vector<RecordField> kNoFields;
extern const std::vector<Clause> kNoClauses;
extern const std::vector<Constraint> kNoConstraints;

inline bool has_record_payload(NodeKind kind) {
  return kind == NodeKind::Record || kind == NodeKind::Object;
}
inline bool has_members_payload(NodeKind kind) {
  return kind == NodeKind::Union || kind == NodeKind::Intersection;
}

inline const SchemaNode& SchemaNode::child() const {
  return static_cast<const ChildPayload*>(payload_)->child;
}
inline const ItemShape& SchemaNode::shape() const {
  return *static_cast<const ItemShape*>(payload_);
}
inline const std::vector<SchemaNode>& SchemaNode::members() const {
  if (!has_members_payload(kind)) return kNoNodes;
  return *static_cast<const std::vector<SchemaNode>*>(payload_);
}
inline const std::vector<RecordField>& SchemaNode::fields() const {
  if (!has_record_payload(kind)) return kNoFields;
  return static_cast<const RecordPayload*>(payload_)->fields;
}
inline const std::vector<Clause>& SchemaNode::clauses() const {
  if (!has_record_payload(kind)) return kNoClauses;
  return static_cast<const RecordPayload*>(payload_)->clauses;
}
inline const std::vector<Constraint>& SchemaNode::constraints() const {
  if (kind != NodeKind::Refinement) return kNoConstraints;
  return static_cast<const ChildPayload*>(payload_)->constraints;
}

inline SchemaNode& SchemaNode::mutable_child() {
  return static_cast<ChildPayload*>(payload_)->child;
}
inline ItemShape& SchemaNode::mutable_shape() { return *static_cast<ItemShape*>(payload_); }
inline std::vector<SchemaNode>& SchemaNode::mutable_members() {
  return *static_cast<std::vector<SchemaNode>*>(payload_);
}
inline std::vector<RecordField>& SchemaNode::mutable_fields() {
  return static_cast<RecordPayload*>(payload_)->fields;
}
inline std::vector<Clause>& SchemaNode::mutable_clauses() {
  return static_cast<RecordPayload*>(payload_)->clauses;
}

// ---- Constructors ---------------------------------------------------------

SchemaNode make_leaf(NodeKind kind);                     // kinds without payload
SchemaNode make_indexed(NodeKind kind, uint64_t index);  // Literal, Instance, Ref, Placeholder
SchemaNode make_boxed(NodeKind kind, SchemaNode child);  // Set, FrozenSet, Complement
SchemaNode make_sequence(bool tuple, ItemShape shape);
SchemaNode make_record(std::vector<RecordField> fields, std::vector<Clause> clauses);
SchemaNode make_members(NodeKind kind, std::vector<SchemaNode> members);  // Union, Intersection
SchemaNode make_object(uint64_t class_index, std::vector<RecordField> attributes);
SchemaNode make_refinement(SchemaNode base, std::vector<Constraint> constraints);

ItemShape make_one_shape(SchemaNode node);
ItemShape make_star_shape(ItemShape inner);
ItemShape make_parts_shape(ShapeKind kind, std::vector<ItemShape> parts);  // Seq, Alt

// Move one payload out of a node that is being taken apart; the node is left
// to be dropped or overwritten.
SchemaNode take_child(SchemaNode& node);                 // Set, FrozenSet, Complement, Refinement
std::vector<SchemaNode> take_members(SchemaNode& node);  // Union, Intersection
std::vector<Constraint> take_constraints(SchemaNode& node);  // Refinement

// ---- Value operations: pure, no Python, no locks ---------------------------

SchemaNode clone_schema_node(const SchemaNode& node);
std::vector<SchemaNode> clone_schema_node_vec(const std::vector<SchemaNode>& nodes);
std::vector<Constraint> clone_constraint_vec(const std::vector<Constraint>& constraints);

// Structural equality: order always counts, pool indexes are compared as
// numbers and never through the pooled objects.
bool schema_node_eq(const SchemaNode& a, const SchemaNode& b);
bool item_shape_eq(const ItemShape& a, const ItemShape& b);
bool constraint_slice_eq(const std::vector<Constraint>& a, const std::vector<Constraint>& b);
bool record_fields_eq(const std::vector<RecordField>& a, const std::vector<RecordField>& b);

// The (items, rest) view of a shape: fixed items then an optional repeated
// rest. Returns false when the shape has no such view. Borrows the nodes.
struct ShapeView {
  std::vector<const SchemaNode*> items;
  const SchemaNode* rest = nullptr;
};
bool item_shape_prefix_rest(const ItemShape& shape, ShapeView& view);

}  // namespace qx
