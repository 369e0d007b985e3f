// Decimal integer text of any length to a Python int.
#pragma once

#include <string_view>

#include "py/result.h"

namespace qx::json {

// A new int for `text`: an optional '-' and one or more decimal digits,
// already checked. Any length converts, outside the interpreter's limit on
// digits for str-to-int conversion, in near-linear time.
Result<Ref> decimal_to_int(std::string_view text);

}  // namespace qx::json
