// Schema algebra entries: combinators, rewrites and decisions.
#pragma once

#include <Python.h>

#include "py/result.h"
#include "schema/compiled_schema.h"

namespace qx {

// self | other (or other | self when `reflected`), limit-checked.
Result<CompiledSchema> union_operator(const CompiledSchema& self, PyObject* other, bool reflected);
// complement(schema) and intersection(*schemas) (`schemas` is a tuple).
Result<CompiledSchema> complement_impl(PyObject* schema);
Result<CompiledSchema> intersection_impl(PyObject* schemas);

// Decisions: True only when proven within the work budget. Only building
// `other` can raise.
bool is_empty_impl(const CompiledSchema& schema);
Result<bool> is_subtype_of_impl(const CompiledSchema& schema, PyObject* other);
Result<bool> is_equivalent_impl(const CompiledSchema& schema, PyObject* other);

// Rewrites: new limit-checked schemas; `schema` is only read.
Result<CompiledSchema> simplify_impl(const CompiledSchema& schema);
Result<CompiledSchema> open_impl(const CompiledSchema& schema);
Result<CompiledSchema> close_impl(const CompiledSchema& schema);

}  // namespace qx
