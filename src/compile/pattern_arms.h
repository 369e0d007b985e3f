// Alternation arms: keeping apart the arms an engine would merge wrongly across case folding.
#pragma once

#include <string>
#include <string_view>

#ifndef QX_KEEP_FOLDED_ARMS_APART
#define QX_KEEP_FOLDED_ARMS_APART 0
#endif

namespace qx {

// True when the engine merges a case-folded letter into an earlier arm that
// holds the same letter in lower case only, and then matches the lower case
// alone ("x|[Xx]" refusing "X"), as some of its releases do. Asked of the
// engine once per process. A build with QX_KEEP_FOLDED_ARMS_APART set answers
// true on any engine, so that the suite runs the rewrite below where it is
// not needed.
bool engine_merges_folded_arms();

// Rewrites `pattern`, in the engine's syntax and already parsed by it, so that
// no arm of an alternation that may hold a case-folded letter is merged with
// an earlier arm that may hold that letter in lower case only: each such arm
// is wrapped in "(?:" and "){1}". The engine's parser keeps a count of one as
// a node of its own, which it merges with nothing, and its simplifier then
// drops it, so the program only loses the merges. The flag groups an arm sets
// for the arms after it are repeated after its wrapper, so the rewritten
// pattern means what the pattern means; one with no such arm comes back as it
// was.
std::string keep_folded_arms_apart(std::string_view pattern);

}  // namespace qx
