// Perl classes in patterns: \d \w \s and their negations with the meaning Python's re gives them.
#pragma once

#include <string>
#include <string_view>

namespace qx {

// Rewrites \d \w \s \D \W \S into explicit Unicode classes: Unicode digits,
// word characters and white space, as in Python's re for str patterns (the
// engine's own are ASCII-only). Takes a pattern the engine already parsed.
std::string rewrite_perl_classes(std::string_view pattern);

}  // namespace qx
