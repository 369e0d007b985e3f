// Schema trees: constructors, deep clone, structural equality and the (items, rest) view.
#include "schema/node.h"

#include "py/stack.h"
#include "schema/rewrite.h"

namespace qx {

// Field and member lists hold nodes by value: a node that grows grows every list.
static_assert(sizeof(SchemaNode) <= 3 * sizeof(uint64_t));

const std::vector<SchemaNode> kNoNodes;
const std::vector<RecordField> kNoFields;
const std::vector<Clause> kNoClauses;
const std::vector<Constraint> kNoConstraints;

SchemaNode& SchemaNode::operator=(SchemaNode&& other) noexcept {
  if (this == &other) return *this;
  // `other` may live inside this node's own payload (a node replaced by its
  // own child): the old payload goes only once `other` has been read.
  SchemaNode old(std::move(*this));
  kind = other.kind;
  tuple = other.tuple;
  index = other.index;
  payload_ = other.payload_;
  other.payload_ = nullptr;
  return *this;
}

void SchemaNode::release_payload() noexcept {
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
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      break;
    case NodeKind::Sequence:
      delete static_cast<ItemShape*>(payload_);
      break;
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
    case NodeKind::Refinement:
      delete static_cast<ChildPayload*>(payload_);
      break;
    case NodeKind::Record:
    case NodeKind::Object:
      delete static_cast<RecordPayload*>(payload_);
      break;
    case NodeKind::Union:
    case NodeKind::Intersection:
      delete static_cast<std::vector<SchemaNode>*>(payload_);
      break;
  }
  payload_ = nullptr;
}

ItemShape::~ItemShape() = default;

SchemaNode make_leaf(NodeKind kind) { return SchemaNode(kind); }

SchemaNode make_indexed(NodeKind kind, uint64_t index) {
  SchemaNode n(kind);
  n.index = index;
  return n;
}

SchemaNode make_boxed(NodeKind kind, SchemaNode child) {
  SchemaNode n(kind);
  n.payload_ = new ChildPayload{std::move(child), {}};
  return n;
}

SchemaNode make_sequence(bool tuple, ItemShape shape) {
  SchemaNode n(NodeKind::Sequence);
  n.tuple = tuple;
  n.payload_ = new ItemShape(std::move(shape));
  return n;
}

SchemaNode make_record(std::vector<RecordField> fields, std::vector<Clause> clauses) {
  SchemaNode n(NodeKind::Record);
  n.payload_ = new RecordPayload{std::move(fields), std::move(clauses)};
  return n;
}

SchemaNode make_members(NodeKind kind, std::vector<SchemaNode> members) {
  SchemaNode n(kind);
  n.payload_ = new std::vector<SchemaNode>(std::move(members));
  return n;
}

SchemaNode make_object(uint64_t class_index, std::vector<RecordField> attributes) {
  SchemaNode n(NodeKind::Object);
  n.index = class_index;
  n.payload_ = new RecordPayload{std::move(attributes), {}};
  return n;
}

SchemaNode make_refinement(SchemaNode base, std::vector<Constraint> constraints) {
  SchemaNode n(NodeKind::Refinement);
  n.payload_ = new ChildPayload{std::move(base), std::move(constraints)};
  return n;
}

ItemShape make_one_shape(SchemaNode node) {
  ItemShape s(ShapeKind::One);
  s.node = std::make_unique<SchemaNode>(std::move(node));
  return s;
}

ItemShape make_star_shape(ItemShape inner) {
  ItemShape s(ShapeKind::Star);
  s.inner = std::make_unique<ItemShape>(std::move(inner));
  return s;
}

ItemShape make_parts_shape(ShapeKind kind, std::vector<ItemShape> parts) {
  ItemShape s(kind);
  s.parts = std::move(parts);
  return s;
}

SchemaNode take_child(SchemaNode& node) { return std::move(node.mutable_child()); }

std::vector<SchemaNode> take_members(SchemaNode& node) { return std::move(node.mutable_members()); }

std::vector<Constraint> take_constraints(SchemaNode& node) {
  return std::move(static_cast<ChildPayload*>(node.payload_)->constraints);
}

// ---- clone -----------------------------------------------------------------

SchemaNode clone_schema_node(const SchemaNode& node) {
  ensure_stack();
  return map_children(node, clone_schema_node, clone_constraint_vec);
}

std::vector<SchemaNode> clone_schema_node_vec(const std::vector<SchemaNode>& nodes) {
  return map_nodes(nodes, clone_schema_node);
}

std::vector<Constraint> clone_constraint_vec(const std::vector<Constraint>& constraints) {
  return constraints;  // plain values: a copy is a deep copy
}

// ---- equality --------------------------------------------------------------

namespace {
bool node_vec_eq(const std::vector<SchemaNode>& a, const std::vector<SchemaNode>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!schema_node_eq(a[i], b[i])) return false;
  }
  return true;
}
}  // namespace

bool record_fields_eq(const std::vector<RecordField>& a, const std::vector<RecordField>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].required != b[i].required || a[i].name != b[i].name) return false;
    if (!schema_node_eq(a[i].node, b[i].node)) return false;
  }
  return true;
}

bool constraint_slice_eq(const std::vector<Constraint>& a, const std::vector<Constraint>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind) return false;
    if (a[i].kind == ConstraintKind::Regex) {
      if (a[i].pattern != b[i].pattern) return false;
    } else if (a[i].value != b[i].value) {
      return false;
    }
  }
  return true;
}

bool schema_node_eq(const SchemaNode& a, const SchemaNode& b) {
  ensure_stack();
  if (a.kind != b.kind) return false;
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
      return true;
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return a.index == b.index;
    case NodeKind::Sequence:
      return a.tuple == b.tuple && item_shape_eq(a.shape(), b.shape());
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
      return schema_node_eq(a.child(), b.child());
    case NodeKind::Record:
      if (!record_fields_eq(a.fields(), b.fields())) return false;
      if (a.clauses().size() != b.clauses().size()) return false;
      for (size_t i = 0; i < a.clauses().size(); ++i) {
        if (!schema_node_eq(a.clauses()[i].key, b.clauses()[i].key) ||
            !schema_node_eq(a.clauses()[i].value, b.clauses()[i].value)) {
          return false;
        }
      }
      return true;
    case NodeKind::Union:
    case NodeKind::Intersection:
      return node_vec_eq(a.members(), b.members());
    case NodeKind::Object:
      return a.index == b.index && record_fields_eq(a.fields(), b.fields());
    case NodeKind::Refinement:
      return schema_node_eq(a.child(), b.child()) &&
             constraint_slice_eq(a.constraints(), b.constraints());
  }
  return false;
}

bool item_shape_eq(const ItemShape& a, const ItemShape& b) {
  ensure_stack();
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case ShapeKind::Empty:
      return true;
    case ShapeKind::One:
      return schema_node_eq(*a.node, *b.node);
    case ShapeKind::Seq:
    case ShapeKind::Alt:
      if (a.parts.size() != b.parts.size()) return false;
      for (size_t i = 0; i < a.parts.size(); ++i) {
        if (!item_shape_eq(a.parts[i], b.parts[i])) return false;
      }
      return true;
    case ShapeKind::Star:
      return item_shape_eq(*a.inner, *b.inner);
  }
  return false;
}

// ---- (items, rest) view ----------------------------------------------------

bool item_shape_prefix_rest(const ItemShape& shape, ShapeView& view) {
  view.items.clear();
  view.rest = nullptr;
  switch (shape.kind) {
    case ShapeKind::Empty:
      return true;
    case ShapeKind::One:
      view.items.push_back(shape.node.get());
      return true;
    case ShapeKind::Star:
      if (shape.inner->kind != ShapeKind::One) return false;
      view.rest = shape.inner->node.get();
      return true;
    case ShapeKind::Alt:
      return false;
    case ShapeKind::Seq: {
      const size_t n = shape.parts.size();
      view.items.reserve(n);
      for (size_t i = 0; i < n; ++i) {
        const ItemShape& part = shape.parts[i];
        if (part.kind == ShapeKind::One) {
          view.items.push_back(part.node.get());
        } else if (part.kind == ShapeKind::Star && i + 1 == n &&
                   part.inner->kind == ShapeKind::One) {
          view.rest = part.inner->node.get();
        } else {
          view.items.clear();
          view.rest = nullptr;
          return false;
        }
      }
      return true;
    }
  }
  return false;
}

}  // namespace qx
