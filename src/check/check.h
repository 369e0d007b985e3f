// Entries of the validation walk for Python objects.
#pragma once

#include <Python.h>

#include "py/result.h"
#include "schema/compiled_schema.h"

namespace qx {

// Checks `obj` in Collect (or FailFast) mode: success, a ValidationError, or
// the fatal exception of the check.
Status validate_impl(const CompiledSchema& schema, PyObject* obj, bool fail_fast);

// Membership of `obj`: the verdict, or the fatal exception of the check.
Result<bool> is_valid_impl(const CompiledSchema& schema, PyObject* obj);

}  // namespace qx
