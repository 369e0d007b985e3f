// The constants pool, the builder that fills it, and import of another validator's schema.
#include "schema/pool.h"

#include "py/stack.h"
#include "schema/rewrite.h"

namespace qx {

ConstantsPool& ConstantsPool::operator=(ConstantsPool&& other) noexcept {
  if (this != &other) {
    clear();
    objects_ = std::move(other.objects_);
    other.objects_.clear();
  }
  return *this;
}

uint64_t ConstantsPool::push(PyObject* obj) {
  objects_.push_back(Ref::borrow(obj));
  return objects_.size() - 1;
}

ConstantsPool ConstantsPool::clone() const {
  ConstantsPool copy;
  copy.objects_.reserve(objects_.size());
  for (const Ref& obj : objects_) copy.push(obj.get());
  return copy;
}

void ConstantsPool::clear() noexcept {
  // Move out first: a release may run a finaliser that reaches this pool.
  std::vector<Ref> objects = std::move(objects_);
  objects_.clear();
  for (Ref& obj : objects) obj.reset();
}

uint64_t intern_object(SchemaBuilder& builder, PyObject* obj) {
  const uintptr_t key = reinterpret_cast<uintptr_t>(obj);
  if (!builder.identity.empty()) {
    auto it = builder.identity.find(key);
    if (it != builder.identity.end()) return it->second;
  }
  const uint64_t index = builder.pool.push(obj);
  builder.identity.emplace(key, index);
  return index;
}

std::vector<uint64_t> intern_objects(SchemaBuilder& builder, const ConstantsPool& other) {
  std::vector<uint64_t> table;
  table.reserve(other.size());
  for (size_t i = 0; i < other.size(); ++i) table.push_back(intern_object(builder, other[i]));
  return table;
}

namespace {
uint64_t map_index(const std::vector<uint64_t>& table, uint64_t i) {
  // An index outside the table is left as it is: it stays out of range and
  // every reader treats it as such.
  return i < table.size() ? table[i] : i;
}
}  // namespace

namespace {
// remap_node with the table and offset bound, for the shared mapping helpers.
struct Remap {
  const std::vector<uint64_t>& table;
  uint64_t offset;
  SchemaNode operator()(const SchemaNode& n) const { return remap_node(n, table, offset); }
};
}  // namespace

SchemaNode remap_node(const SchemaNode& node, const std::vector<uint64_t>& table, uint64_t offset) {
  ensure_stack();
  const auto remap_constraints = [&](const std::vector<Constraint>& constraints) {
    std::vector<Constraint> out = constraints;
    for (Constraint& c : out) {
      switch (c.kind) {
        case ConstraintKind::Ge:
        case ConstraintKind::Gt:
        case ConstraintKind::Le:
        case ConstraintKind::Lt:
        case ConstraintKind::MultipleOf:
        case ConstraintKind::Predicate:
          c.value = map_index(table, c.value);
          break;
        case ConstraintKind::MinLen:
        case ConstraintKind::MaxLen:
        case ConstraintKind::Regex:
          break;
      }
    }
    return out;
  };
  SchemaNode n = map_children(node, Remap{table, offset}, remap_constraints);
  switch (node.kind) {
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Object:
      n.index = map_index(table, node.index);
      break;
    case NodeKind::Ref:
      n.index = node.index + offset;
      break;
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Refinement:
    case NodeKind::Placeholder:
      break;
  }
  return n;
}

void extend_remapped_nodes(std::vector<SchemaNode>& definitions,
                           const std::vector<SchemaNode>& other, const std::vector<uint64_t>& table,
                           uint64_t offset) {
  definitions.reserve(definitions.size() + other.size());
  for (const SchemaNode& d : other) definitions.push_back(remap_node(d, table, offset));
}

SchemaBuilder builder_from_pool(ConstantsPool pool) {
  SchemaBuilder builder;
  builder.identity.reserve(pool.size());
  for (size_t i = 0; i < pool.size(); ++i) {
    builder.identity.emplace(reinterpret_cast<uintptr_t>(pool[i]), i);
  }
  builder.pool = std::move(pool);
  return builder;
}

}  // namespace qx
