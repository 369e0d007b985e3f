// The gate every constructed validator passes: depth, definition and node limits.
#include "compile/limits.h"

#include <algorithm>
#include <limits>

#include "absl/strings/str_cat.h"
#include "schema/measure.h"

namespace qx {

Result<CompiledSchema> finish_validator(SchemaNode root, ConstantsPool pool,
                                        std::vector<SchemaNode> definitions) {
  uint64_t depth = 0;
  for (const SchemaNode& d : definitions) depth = std::max(depth, schema_depth(d));
  depth = std::max(depth, schema_depth(root));
  if (depth > MAX_SCHEMA_DEPTH) {
    return value_error(absl::StrCat(
        "schema nesting is too deep: this validator reaches ", depth,
        " levels of nesting, past the limit of ", MAX_SCHEMA_DEPTH,
        ". A validator this deep comes from building in an unbounded loop; checking it would "
        "risk a native stack overflow. Express structural recursion with recursive(...) instead "
        "of nesting schemas."));
  }
  if (definitions.size() > MAX_DEFINITIONS) {
    return value_error(absl::StrCat(
        "schema holds too many recursive definitions: this validator has ", definitions.size(),
        " of them, past the limit of ", MAX_DEFINITIONS,
        ". A validator with this many comes from chaining recursive schemas in an unbounded "
        "loop; rendering or deciding it would risk a native stack overflow."));
  }
  uint64_t nodes = 0;
  for (const SchemaNode& d : definitions) nodes += count_schema_nodes(d);
  const uint64_t root_nodes = count_schema_nodes(root);
  nodes = nodes > std::numeric_limits<uint64_t>::max() - root_nodes
              ? std::numeric_limits<uint64_t>::max()
              : nodes + root_nodes;
  if (nodes > MAX_SCHEMA_NODES) {
    return value_error(absl::StrCat(
        "schema is too large: this validator spans ", nodes, " nodes, past the limit of ",
        MAX_SCHEMA_NODES,
        ". A schema this large comes from combining a validator with itself in an unbounded "
        "loop, which doubles its size each step; building it would exhaust memory."));
  }
  return CompiledSchema(std::move(root), std::move(pool), std::move(definitions));
}

Result<CompiledSchema> finish_build(SchemaBuilder builder, SchemaNode root,
                                    std::vector<SchemaNode> definitions) {
  builder.identity = {};
  return finish_validator(std::move(root), std::move(builder.pool), std::move(definitions));
}

}  // namespace qx
