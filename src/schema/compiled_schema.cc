// Copies of the immutable value inside a Validator.
#include "schema/compiled_schema.h"

namespace qx {

CompiledSchema clone_compiled_schema(const CompiledSchema& schema) {
  return CompiledSchema(clone_schema_node(schema.root), schema.pool.clone(),
                        clone_schema_node_vec(schema.definitions));
}

}  // namespace qx
