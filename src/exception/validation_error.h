// The ValidationError exception type, made once per process.
#pragma once

#include <Python.h>

#include "py/result.h"

namespace qx {

// The type object (borrowed; lives for the process), made on first use.
Result<PyObject*> validation_error_type();

}  // namespace qx
