// The spec compiler: one Python spec to one schema tree over the builder's pool.
#pragma once

#include <Python.h>

#include <string_view>
#include <vector>

#include "py/result.h"
#include "schema/compiled_schema.h"
#include "schema/node.h"
#include "schema/pool.h"

namespace qx {

// Compiles `spec` (borrowed). Pooled objects are interned into `builder`;
// recursive definitions brought in by imported validators are appended to
// `definitions`. On error the builder is not rolled back: callers drop it.
Result<SchemaNode> compile_schema(PyObject* spec, SchemaBuilder& builder,
                                  std::vector<SchemaNode>& definitions);

// The star arguments of union() and intersection(), compiled in order into
// one builder and one definitions vector.
struct CompiledArguments {
  SchemaBuilder builder;
  std::vector<SchemaNode> definitions;
  std::vector<SchemaNode> nodes;
};
Result<CompiledArguments> compile_schemas_tuple(PyObject* schemas);

// The schema of `obj` when it is a Validator, else null. The Validator class
// stands above the compiler, so the module hands its lookup in at start-up;
// until then no object counts as a Validator.
using ValidatorLookup = const CompiledSchema* (*)(PyObject* obj) noexcept;
void set_validator_lookup(ValidatorLookup lookup) noexcept;

// A spec the frontend refuses: NotImplementedError with `message`.
Error make_build_error(std::string_view message);

}  // namespace qx
