// JSON entries of a validator: validate_json, load and is_valid_json.
#pragma once

#include <Python.h>

#include "py/result.h"
#include "schema/compiled_schema.h"

namespace qx {

// Parses `data` (str or bytes) into Python objects and validates them;
// returns the parsed object.
Result<Ref> load_impl(const CompiledSchema& schema, PyObject* data, bool fail_fast);

// Checks `data` as load_impl does, returning nothing.
Status validate_json_impl(const CompiledSchema& schema, PyObject* data, bool fail_fast);

// Parses `data` into a value tree and walks it in place (Membership).
Result<bool> is_valid_json_impl(const CompiledSchema& schema, PyObject* data);

}  // namespace qx
