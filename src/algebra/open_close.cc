// Open and close: every record with declared fields admits any undeclared key, or none.
#include "algebra/algebra.h"

#include "compile/limits.h"
#include "py/stack.h"
#include "schema/rewrite.h"

namespace qx {

namespace {

SchemaNode open_close_rec(const SchemaNode& node, bool open);

// open_close_rec with its flag bound, for the shape and field mappers.
struct OpenClose {
  bool open;
  SchemaNode operator()(const SchemaNode& node) const { return open_close_rec(node, open); }
};

std::vector<SchemaNode> open_close_nodes(const std::vector<SchemaNode>& nodes, bool open) {
  return map_nodes(nodes, OpenClose{open});
}

std::vector<RecordField> open_close_fields(const std::vector<RecordField>& fields, bool open) {
  return map_fields(fields, OpenClose{open});
}

// A record's old clauses are replaced, not rewritten, when it has fields; a
// mapping (no fields) keeps its clauses, rewritten.
SchemaNode open_close_record(const SchemaNode& node, bool open) {
  if (node.fields().empty()) return make_record({}, map_clauses(node.clauses(), OpenClose{open}));
  std::vector<Clause> clauses;
  if (open) {
    clauses.push_back(Clause{make_leaf(NodeKind::Anything), make_leaf(NodeKind::Anything)});
  }
  return make_record(open_close_fields(node.fields(), open), std::move(clauses));
}

SchemaNode open_close_rec(const SchemaNode& node, bool open) {
  ensure_stack();
  if (node.kind == NodeKind::Record) return open_close_record(node, open);
  return map_children(node, OpenClose{open}, clone_constraint_vec);
}

Result<CompiledSchema> open_close(const CompiledSchema& schema, bool open) {
  SchemaNode root = open_close_rec(schema.root, open);
  ConstantsPool pool = schema.pool.clone();
  // Definition indexes are positions: every one is rewritten, in order, so
  // each Ref still names the same definition.
  std::vector<SchemaNode> definitions = open_close_nodes(schema.definitions, open);
  return finish_validator(std::move(root), std::move(pool), std::move(definitions));
}

}  // namespace

Result<CompiledSchema> open_impl(const CompiledSchema& schema) { return open_close(schema, true); }

Result<CompiledSchema> close_impl(const CompiledSchema& schema) {
  return open_close(schema, false);
}

}  // namespace qx
