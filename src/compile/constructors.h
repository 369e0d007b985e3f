// Small constructors every builder shares: unions, dict records and element shapes.
#pragma once

#include <vector>

#include "schema/node.h"

namespace qx {

// Nothing for no nodes; otherwise a Union of exactly these nodes in order
// (never flattened, never deduplicated, even for one node).
SchemaNode make_union_node(std::vector<SchemaNode> nodes);

// dict[K, V]: a Record with no fields and the one clause (key, value).
SchemaNode make_dict_node(SchemaNode key, SchemaNode value);

// Seq of One(node) per node (Seq with no parts for none).
ItemShape make_fixed_item_shape(std::vector<SchemaNode> nodes);
// Star(One(node)).
ItemShape make_variadic_item_shape(SchemaNode node);
// Seq of One(node) per node, then Star(One(last)).
ItemShape make_fixed_then_variadic_shape(std::vector<SchemaNode> nodes, SchemaNode last);

}  // namespace qx
