// The Validator class: the Python object that owns one compiled schema.
#pragma once

#include <Python.h>

#include "py/result.h"
#include "schema/compiled_schema.h"

namespace qx {

struct ValidatorObject {
  PyObject_HEAD CompiledSchema schema;
};

// The Validator type (borrowed; lives for the process), made on first use.
Result<PyObject*> validator_type();

// A new Validator owning `schema` (destroyed on failure).
Result<Ref> create_validator_object(CompiledSchema schema);

// A Validator over one node, with an empty pool and no definitions; no limit check.
Result<Ref> validator_from_node(SchemaNode node);

// The schema of `obj` when it is a Validator, else null.
const CompiledSchema* borrow_validator(PyObject* obj) noexcept;

// The body of union(*schemas); `schemas` is the collected tuple.
Result<Ref> union_impl(PyObject* schemas);

}  // namespace qx
