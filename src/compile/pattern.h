// Pattern constraints: compiling a pattern text as a whole-string regular expression.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "re2/re2.h"

namespace qx {

// Compiles "\A(?:" + pattern + ")\z" so that only whole strings match.
// Returns null with the engine's description of the fault in `error`.
// The pattern is read as Python's re reads it where the engine's syntax falls
// short: \u and \U escapes, the verbose flag x, the flag u, and Perl classes
// (\d \w \s and their negations) that mean Unicode digits, word characters
// and white space. A case-folded letter that the engine would merge into a
// class with neighbouring arms of an alternation is spelled out so that the
// class holds its two cases and nothing else.
std::unique_ptr<re2::RE2> compile_anchored_pattern(std::string_view pattern, std::string* error);

}  // namespace qx
