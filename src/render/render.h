// Annotation text: renders a schema tree as the type expression that builds it.
#pragma once

#include "py/result.h"
#include "schema/compiled_schema.h"

namespace qx {

// The repr of a validator, as a new str.
Result<Ref> repr_impl(const CompiledSchema& schema);

}  // namespace qx
