// Nesting depth and node count of schema trees.
#include "schema/measure.h"

#include <algorithm>

#include "py/stack.h"

namespace qx {

uint64_t item_shape_depth(const ItemShape& shape) {
  ensure_stack();
  switch (shape.kind) {
    case ShapeKind::Empty:
    case ShapeKind::One:
      return 0;
    case ShapeKind::Star:
      return 1 + item_shape_depth(*shape.inner);
    case ShapeKind::Seq:
    case ShapeKind::Alt: {
      uint64_t deepest = 0;
      for (const ItemShape& p : shape.parts) deepest = std::max(deepest, item_shape_depth(p));
      return 1 + deepest;
    }
  }
  return 0;
}

uint64_t schema_depth(const SchemaNode& node) {
  ensure_stack();
  uint64_t depth = 1;
  if (node.kind == NodeKind::Sequence) depth += item_shape_depth(node.shape());
  uint64_t deepest = 0;
  for_each_child(node, [&](const SchemaNode& c) { deepest = std::max(deepest, schema_depth(c)); });
  return depth + deepest;
}

uint64_t count_schema_nodes(const SchemaNode& node) {
  ensure_stack();
  uint64_t count = 1;
  if (node.kind == NodeKind::Refinement) count += node.constraints().size();
  for_each_child(node, [&](const SchemaNode& c) { count += count_schema_nodes(c); });
  return count;
}

}  // namespace qx
