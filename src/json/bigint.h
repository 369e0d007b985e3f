// Decimal integer text of any length to a Python int.
#pragma once

#include <string_view>

#include "py/result.h"

namespace qx::json {

// A new int for `text`: an optional '-' and one or more decimal digits,
// already checked. Long texts are converted by halves, multiplying by cached
// powers of ten, in subquadratic time and outside the interpreter's limit on
// digits for str-to-int conversion.
Result<Ref> decimal_to_int(std::string_view text);

}  // namespace qx::json
