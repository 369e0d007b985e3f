// recursive(builder): compiles the user's body and ties its self-reference into a back edge.
#include "compile/recursive.h"

#include <atomic>
#include <utility>

#include "compile/compile.h"
#include "compile/limits.h"
#include "py/stack.h"
#include "schema/measure.h"

namespace qx {

namespace {

// Ids are never reused, so a placeholder that outlives its call (kept by the
// user's builder) can never be mistaken for another call's.
std::atomic<uint64_t> next_recursive_id{0};

constexpr const char* kNotContractive =
    "recursive schema is not contractive: the recursive reference must occur under a "
    "structural constructor (a list, tuple, set, dict, record, or object)";

// The kinds whose values are strictly larger than their parts, so a back edge
// below one of them cannot loop without consuming input.
bool is_structural(NodeKind kind) {
  switch (kind) {
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Object:
      return true;
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
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Refinement:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return false;
  }
  return false;
}

}  // namespace

void bind_placeholder(SchemaNode& node, uint64_t id, uint64_t d) {
  ensure_stack();
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
      return;
    case NodeKind::Placeholder:
      if (node.index == id) node = make_indexed(NodeKind::Ref, d);
      return;
    case NodeKind::Sequence:
      bind_placeholder_shape(node.mutable_shape(), id, d);
      return;
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
    case NodeKind::Refinement:
      bind_placeholder(node.mutable_child(), id, d);
      return;
    case NodeKind::Record:
      bind_placeholder_fields(node.mutable_fields(), id, d);
      for (Clause& c : node.mutable_clauses()) {
        bind_placeholder(c.key, id, d);
        bind_placeholder(c.value, id, d);
      }
      return;
    case NodeKind::Union:
    case NodeKind::Intersection:
      bind_placeholder_nodes(node.mutable_members(), id, d);
      return;
    case NodeKind::Object:
      bind_placeholder_fields(node.mutable_fields(), id, d);
      return;
  }
}

void bind_placeholder_shape(ItemShape& shape, uint64_t id, uint64_t d) {
  ensure_stack();
  switch (shape.kind) {
    case ShapeKind::Empty:
      return;
    case ShapeKind::One:
      bind_placeholder(*shape.node, id, d);
      return;
    case ShapeKind::Seq:
    case ShapeKind::Alt:
      for (ItemShape& part : shape.parts) bind_placeholder_shape(part, id, d);
      return;
    case ShapeKind::Star:
      bind_placeholder_shape(*shape.inner, id, d);
      return;
  }
}

void bind_placeholder_fields(std::vector<RecordField>& fields, uint64_t id, uint64_t d) {
  for (RecordField& f : fields) bind_placeholder(f.node, id, d);
}

void bind_placeholder_nodes(std::vector<SchemaNode>& nodes, uint64_t id, uint64_t d) {
  for (SchemaNode& n : nodes) bind_placeholder(n, id, d);
}

bool has_unguarded_ref(const SchemaNode& node, uint64_t d, bool guarded) {
  ensure_stack();
  if (node.kind == NodeKind::Ref) return node.index == d && !guarded;
  const bool below = guarded || is_structural(node.kind);
  bool found = false;
  for_each_child(node, [&](const SchemaNode& child) {
    if (!found) found = has_unguarded_ref(child, d, below);
  });
  return found;
}

Result<CompiledSchema> recursive_impl(PyObject* builder, PlaceholderMaker make_placeholder) {
  const uint64_t id = next_recursive_id.fetch_add(1, std::memory_order_relaxed);
  QX_ASSIGN(Ref placeholder, make_placeholder(make_indexed(NodeKind::Placeholder, id)));
  // The error (if any) is taken before our reference goes, so no exception is
  // pending while the placeholder is released.
  Result<Ref> spec = checked(PyObject_CallOneArg(builder, placeholder.get()));
  placeholder.reset();
  if (!spec.ok()) return std::move(spec).error();

  SchemaBuilder schema_builder;
  std::vector<SchemaNode> definitions;
  QX_ASSIGN(SchemaNode body, compile_schema(spec.value().get(), schema_builder, definitions));
  // Definitions that came in with imported validators keep their own
  // placeholders: only the body is rebound.
  const uint64_t d = definitions.size();
  bind_placeholder(body, id, d);
  if (has_unguarded_ref(body, d, false)) return value_error(kNotContractive);
  definitions.push_back(std::move(body));
  return finish_build(std::move(schema_builder), make_indexed(NodeKind::Ref, d),
                      std::move(definitions));
}

}  // namespace qx
