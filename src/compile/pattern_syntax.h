// Pattern syntax: the forms of Python's re syntax that the engine lacks, rewritten into its own.
#pragma once

#include <string>
#include <string_view>

namespace qx {

// Rewrites `pattern` into the engine's syntax with the meaning Python's re
// gives it: \uXXXX and \UXXXXXXXX become \x{...} (inside brackets too); the
// flags u (Unicode matching, the engine's default) and x (verbose) leave their
// flag groups, and wherever x is in force white space and # comments between
// items are dropped, as Python's re drops them. Everything else is copied
// unchanged, so a pattern without these forms comes back as it was. Returns
// false with the engine-style description of the fault in `error` for a
// malformed \u or \U escape, or for a repetition that only white space
// separates from what cannot be repeated ("a* ?", "( ?:a)"): joining them
// would change what the pattern means instead of refusing it as Python does.
bool translate_python_syntax(std::string_view pattern, std::string& out, std::string& error);

}  // namespace qx
