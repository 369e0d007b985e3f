// Entries of the decisions: is_empty, is_subtype_of and is_equivalent over a validator.
#include "algebra/algebra.h"
#include "algebra/combinators.h"
#include "algebra/emptiness.h"
#include "algebra/oracle.h"
#include "algebra/subtype.h"

namespace qx {

namespace {

using Decision = bool (*)(const SchemaNode&, const SchemaNode&, LeafOracle&,
                          const std::vector<SchemaNode>&);

// Only compiling `other` can raise; it is not held to the limit check.
Result<bool> decide_against(const CompiledSchema& schema, PyObject* other, Decision decide) {
  QX_ASSIGN(SeededSchema seeded, compile_beside(schema, other));
  PoolOracle oracle(seeded.builder.pool, seeded.definitions);
  return decide(schema.root, seeded.node, oracle, seeded.definitions);
}

}  // namespace

bool is_empty_impl(const CompiledSchema& schema) {
  PoolOracle oracle(schema.pool, schema.definitions);
  return decide_empty(schema.root, oracle, schema.definitions);
}

Result<bool> is_subtype_of_impl(const CompiledSchema& schema, PyObject* other) {
  return decide_against(schema, other, decide_subtype);
}

Result<bool> is_equivalent_impl(const CompiledSchema& schema, PyObject* other) {
  return decide_against(schema, other, decide_equivalent);
}

}  // namespace qx
