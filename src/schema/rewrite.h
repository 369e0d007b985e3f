// Tree rewrites shared by clone, import, simplify, open and close: nodes, shapes, fields, clauses
// and member lists mapped node by node.
#pragma once

#include <vector>

#include "py/stack.h"
#include "schema/node.h"

namespace qx {

// A shape of the same kinds, parts and order, with `f(const SchemaNode&)`
// giving each element node's replacement. Nothing is flattened or merged.
template <class F>
ItemShape map_item_shape(const ItemShape& shape, const F& f) {
  ensure_stack();
  switch (shape.kind) {
    case ShapeKind::Empty:
      return ItemShape(ShapeKind::Empty);
    case ShapeKind::One:
      return make_one_shape(f(*shape.node));
    case ShapeKind::Seq:
    case ShapeKind::Alt: {
      std::vector<ItemShape> parts;
      parts.reserve(shape.parts.size());
      for (const ItemShape& p : shape.parts) parts.push_back(map_item_shape(p, f));
      return make_parts_shape(shape.kind, std::move(parts));
    }
    case ShapeKind::Star:
      return make_star_shape(map_item_shape(*shape.inner, f));
  }
  return ItemShape(ShapeKind::Empty);
}

// Names, required flags and order kept; each value node replaced by `f`.
template <class F>
std::vector<RecordField> map_fields(const std::vector<RecordField>& fields, const F& f) {
  std::vector<RecordField> out;
  out.reserve(fields.size());
  for (const RecordField& field : fields) {
    out.push_back(RecordField{field.name, f(field.node), field.required});
  }
  return out;
}

template <class F>
std::vector<Clause> map_clauses(const std::vector<Clause>& clauses, const F& f) {
  std::vector<Clause> out;
  out.reserve(clauses.size());
  for (const Clause& c : clauses) out.push_back(Clause{f(c.key), f(c.value)});
  return out;
}

template <class F>
std::vector<SchemaNode> map_nodes(const std::vector<SchemaNode>& nodes, const F& f) {
  std::vector<SchemaNode> out;
  out.reserve(nodes.size());
  for (const SchemaNode& n : nodes) out.push_back(f(n));
  return out;
}

// A node of the same kind, flag and index whose child nodes are `f` of the
// old ones and whose constraints are `g(const std::vector<Constraint>&)` of
// the old ones.
template <class F, class G>
SchemaNode map_children(const SchemaNode& node, const F& f, const G& g) {
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
      break;
    case NodeKind::Sequence:
      return make_sequence(node.tuple, map_item_shape(node.shape(), f));
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
      return make_boxed(node.kind, f(node.child()));
    case NodeKind::Record:
      return make_record(map_fields(node.fields(), f), map_clauses(node.clauses(), f));
    case NodeKind::Union:
    case NodeKind::Intersection:
      return make_members(node.kind, map_nodes(node.members(), f));
    case NodeKind::Object:
      return make_object(node.index, map_fields(node.fields(), f));
    case NodeKind::Refinement:
      return make_refinement(f(node.child()), g(node.constraints()));
  }
  SchemaNode leaf(node.kind);
  leaf.tuple = node.tuple;
  leaf.index = node.index;
  return leaf;
}

}  // namespace qx
