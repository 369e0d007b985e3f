// The immutable value inside every Validator: root, pool, definitions, lazy index.
#pragma once

#include <vector>

#include "py/once_cell.h"
#include "schema/node.h"
#include "schema/pool.h"
#include "schema/precompute.h"

namespace qx {

// Nothing here changes after the schema is placed in its object, except the
// precompute cell, which goes once from empty to built.
struct CompiledSchema {
  SchemaNode root;
  ConstantsPool pool;
  std::vector<SchemaNode> definitions;
  // The one lazy piece: filled once by the first check, behind its own lock.
  mutable LazyCell<Precompute> precompute;

  CompiledSchema(SchemaNode r, ConstantsPool p, std::vector<SchemaNode> d)
      : root(std::move(r)), pool(std::move(p)), definitions(std::move(d)) {}
  // Moves never carry a built index: keys are addresses in the source tree.
  CompiledSchema(CompiledSchema&& other) noexcept
      : root(std::move(other.root)),
        pool(std::move(other.pool)),
        definitions(std::move(other.definitions)) {}
  CompiledSchema& operator=(CompiledSchema&&) = delete;
  ~CompiledSchema() {
    // Destroyed in declaration order: root, pool, definitions, then the index.
    root = SchemaNode();
    pool.clear();
    definitions.clear();
  }
};

// A new schema sharing the pooled objects (new references), with deep copies
// of root and definitions and an unbuilt index.
CompiledSchema clone_compiled_schema(const CompiledSchema& schema);

}  // namespace qx
