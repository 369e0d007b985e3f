// Building the per-validator index a check consults to go faster.
#pragma once

#include <memory>

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

// An index with three empty tables, for walks that run without one.
const Precompute& empty_precompute();

}  // namespace qx
