// Structural hashing of schema trees into a SipHash-1-3 byte stream.
#include "schema/hash.h"

#include "py/stack.h"

namespace qx {

namespace {
void hash_fields(const std::vector<RecordField>& fields, SipHasher13& h) {
  h.write_u64(fields.size());
  for (const RecordField& f : fields) {
    h.write_text(f.name);
    hash_schema_node(f.node, h);
    h.write_u8(f.required ? 1 : 0);
  }
}
}  // namespace

void hash_schema_node(const SchemaNode& node, SipHasher13& h) {
  ensure_stack();
  h.write_u64(static_cast<uint64_t>(node.kind));
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
      return;
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      h.write_u64(node.index);
      return;
    case NodeKind::Sequence:
      h.write_u64(node.tuple ? 1 : 0);
      hash_item_shape(node.shape(), h);
      return;
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
      hash_schema_node(node.child(), h);
      return;
    case NodeKind::Record:
      hash_fields(node.fields(), h);
      h.write_u64(node.clauses().size());
      for (const Clause& c : node.clauses()) {
        hash_schema_node(c.key, h);
        hash_schema_node(c.value, h);
      }
      return;
    case NodeKind::Union:
    case NodeKind::Intersection:
      h.write_u64(node.members().size());
      for (const SchemaNode& m : node.members()) hash_schema_node(m, h);
      return;
    case NodeKind::Object:
      h.write_u64(node.index);
      hash_fields(node.fields(), h);
      return;
    case NodeKind::Refinement:
      hash_schema_node(node.child(), h);
      h.write_u64(node.constraints().size());
      for (const Constraint& c : node.constraints()) {
        h.write_u64(static_cast<uint64_t>(c.kind));
        if (c.kind == ConstraintKind::Regex) {
          h.write_text(c.pattern);
        } else {
          h.write_u64(c.value);
        }
      }
      return;
  }
}

void hash_item_shape(const ItemShape& shape, SipHasher13& h) {
  ensure_stack();
  h.write_u64(static_cast<uint64_t>(shape.kind));
  switch (shape.kind) {
    case ShapeKind::Empty:
      return;
    case ShapeKind::One:
      hash_schema_node(*shape.node, h);
      return;
    case ShapeKind::Seq:
    case ShapeKind::Alt:
      h.write_u64(shape.parts.size());
      for (const ItemShape& p : shape.parts) hash_item_shape(p, h);
      return;
    case ShapeKind::Star:
      hash_item_shape(*shape.inner, h);
      return;
  }
}

}  // namespace qx
