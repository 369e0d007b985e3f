// Building the per-validator index a check consults to go faster.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "absl/container/flat_hash_set.h"

#include "schema/compiled_schema.h"
#include "schema/precompute.h"

namespace qx {

// The names, chains of same-named fields and required counts of one record's
// fields, as the index keeps them for each record it reaches.
DeclaredKeys declared_keys(const SchemaNode& record);

// Builds the index over the root and every definition. Runs no Python code;
// needs an attached thread only to read exact int and str objects.
std::unique_ptr<Precompute> init_precompute(const CompiledSchema& schema);

// The built index of `schema`, building it on first use.
const Precompute& ensure_precompute(const CompiledSchema& schema);

// The literal sets and compiled patterns of the trees that the walks of one
// decision enter, each tree indexed once, with the definitions its Refs
// reach: a walk that enters a large tree again costs what a check of a
// built validator costs, not a scan of the tree. Borrows the pool and the
// definitions; the nodes indexed must stay in place while it lives.
class WalkIndex {
 public:
  WalkIndex(const ConstantsPool& pool, const std::vector<SchemaNode>& definitions)
      : pool_(pool), definitions_(definitions) {}
  // The index, covering `root` and all it reaches.
  const Precompute& covering(const SchemaNode& root);

 private:
  const ConstantsPool& pool_;
  const std::vector<SchemaNode>& definitions_;
  Precompute tables_;
  absl::flat_hash_set<const SchemaNode*> indexed_;
  absl::flat_hash_set<uint64_t> definitions_indexed_;
};

}  // namespace qx
