// Small constructors every builder shares: unions, dict records and element shapes.
#include "compile/constructors.h"

namespace qx {

SchemaNode make_union_node(std::vector<SchemaNode> nodes) {
  if (nodes.empty()) return make_leaf(NodeKind::Nothing);
  return make_members(NodeKind::Union, std::move(nodes));
}

SchemaNode make_dict_node(SchemaNode key, SchemaNode value) {
  std::vector<Clause> clauses;
  clauses.push_back(Clause{std::move(key), std::move(value)});
  return make_record({}, std::move(clauses));
}

ItemShape make_fixed_item_shape(std::vector<SchemaNode> nodes) {
  std::vector<ItemShape> parts;
  parts.reserve(nodes.size());
  for (SchemaNode& n : nodes) parts.push_back(make_one_shape(std::move(n)));
  return make_parts_shape(ShapeKind::Seq, std::move(parts));
}

ItemShape make_variadic_item_shape(SchemaNode node) {
  return make_star_shape(make_one_shape(std::move(node)));
}

ItemShape make_fixed_then_variadic_shape(std::vector<SchemaNode> nodes, SchemaNode last) {
  std::vector<ItemShape> parts;
  parts.reserve(nodes.size() + 1);
  for (SchemaNode& n : nodes) parts.push_back(make_one_shape(std::move(n)));
  parts.push_back(make_variadic_item_shape(std::move(last)));
  return make_parts_shape(ShapeKind::Seq, std::move(parts));
}

}  // namespace qx
