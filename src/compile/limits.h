// The gate every constructed validator passes: depth, definition and node limits.
#pragma once

#include <cstdint>
#include <vector>

#include "py/result.h"
#include "schema/compiled_schema.h"

namespace qx {

inline constexpr uint64_t MAX_SCHEMA_DEPTH = 128;
inline constexpr uint64_t MAX_DEFINITIONS = 128;
inline constexpr uint64_t MAX_SCHEMA_NODES = 100000;

// Measures the schema and assembles it, or refuses it with ValueError (the
// pieces are dropped, releasing every pooled reference).
Result<CompiledSchema> finish_validator(SchemaNode root, ConstantsPool pool,
                                        std::vector<SchemaNode> definitions);

// finish_validator over a finished build: the identity map is dropped, the
// pool moves into the schema.
Result<CompiledSchema> finish_build(SchemaBuilder builder, SchemaNode root,
                                    std::vector<SchemaNode> definitions);

}  // namespace qx
