// Perl classes in patterns: \d \w \s and their negations with the meaning Python's re gives them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qx {

// Rewrites \d \w \s \D \W \S into explicit Unicode classes: Unicode digits,
// word characters and white space, as in Python's re for str patterns (the
// engine's own are ASCII-only). Takes a pattern the engine already parsed.
std::string rewrite_perl_classes(std::string_view pattern);

// True when `pattern` (one the engine already parsed) is certain to compile,
// once its Perl classes are rewritten, to a program over the engine's memory
// budget of `max_mem` bytes. Answers without building the rewritten pattern,
// whose text and parse grow by kilobytes for each class; false when in doubt.
bool perl_classes_exceed_budget(std::string_view pattern, int64_t max_mem);

}  // namespace qx
