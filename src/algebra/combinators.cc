// The combinators complement(), intersection() and the | operator: exactly the node asked for.
#include "algebra/combinators.h"

#include "algebra/algebra.h"
#include "compile/compile.h"
#include "compile/constructors.h"
#include "compile/limits.h"
#include "py/args.h"

namespace qx {

SchemaNode make_complement_node(SchemaNode node) {
  return make_boxed(NodeKind::Complement, std::move(node));
}

Result<SeededSchema> compile_beside(const CompiledSchema& self, PyObject* other) {
  SeededSchema seeded{builder_from_pool(self.pool.clone()), clone_schema_node_vec(self.definitions),
                      SchemaNode()};
  QX_ASSIGN(seeded.node, compile_schema(other, seeded.builder, seeded.definitions));
  return seeded;
}

Result<CompiledSchema> complement_impl(PyObject* schema) {
  SchemaBuilder builder;
  std::vector<SchemaNode> definitions;
  QX_ASSIGN(SchemaNode node, compile_schema(schema, builder, definitions));
  return finish_build(std::move(builder), make_complement_node(std::move(node)),
                      std::move(definitions));
}

Result<CompiledSchema> intersection_impl(PyObject* schemas) {
  QX_ASSIGN(CompiledArguments args, compile_schemas_tuple(schemas));
  // Even one argument keeps its Intersection level: combinators never simplify.
  SchemaNode root = args.nodes.empty()
                        ? make_leaf(NodeKind::Anything)
                        : make_members(NodeKind::Intersection, std::move(args.nodes));
  return finish_build(std::move(args.builder), std::move(root), std::move(args.definitions));
}

Result<CompiledSchema> union_operator(const CompiledSchema& self, PyObject* other, bool reflected) {
  QX_ASSIGN(SeededSchema seeded, compile_beside(self, other));
  std::vector<SchemaNode> members;
  members.reserve(2);
  SchemaNode mine = clone_schema_node(self.root);
  // Members keep the source order of the expression.
  if (reflected) {
    members.push_back(std::move(seeded.node));
    members.push_back(std::move(mine));
  } else {
    members.push_back(std::move(mine));
    members.push_back(std::move(seeded.node));
  }
  return finish_build(std::move(seeded.builder), make_union_node(std::move(members)),
                      std::move(seeded.definitions));
}

}  // namespace qx
