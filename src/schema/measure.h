// Children of a node in visiting order, nesting depth and node count.
#pragma once

#include <cstdint>

#include "py/stack.h"
#include "schema/node.h"

namespace qx {

// Calls `f(const SchemaNode&)` for each element node of a shape, depth first.
template <class F>
void for_each_shape_child(const ItemShape& shape, F&& f) {
  ensure_stack();
  switch (shape.kind) {
    case ShapeKind::Empty:
      return;
    case ShapeKind::One:
      f(*shape.node);
      return;
    case ShapeKind::Seq:
    case ShapeKind::Alt:
      for (const ItemShape& p : shape.parts) for_each_shape_child(p, f);
      return;
    case ShapeKind::Star:
      for_each_shape_child(*shape.inner, f);
      return;
  }
}

// Calls `f(const SchemaNode&)` for each child of `node` in the fixed order:
// sequence elements; the boxed child; record field values then each clause's
// key and value; members; object attributes; a refinement's base. A Ref is
// not followed into its definition.
template <class F>
void for_each_child(const SchemaNode& node, F&& f) {
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
      return;
    case NodeKind::Sequence:
      for_each_shape_child(node.shape(), f);
      return;
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
    case NodeKind::Refinement:
      f(node.child());
      return;
    case NodeKind::Record:
      for (const RecordField& fld : node.fields()) f(fld.node);
      for (const Clause& c : node.clauses()) {
        f(c.key);
        f(c.value);
      }
      return;
    case NodeKind::Union:
    case NodeKind::Intersection:
      for (const SchemaNode& m : node.members()) f(m);
      return;
    case NodeKind::Object:
      for (const RecordField& fld : node.fields()) f(fld.node);
      return;
  }
}

uint64_t schema_depth(const SchemaNode& node);
uint64_t item_shape_depth(const ItemShape& shape);
uint64_t count_schema_nodes(const SchemaNode& node);

}  // namespace qx
