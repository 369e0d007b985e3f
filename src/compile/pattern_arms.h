// Alternation arms: spelling out case-folded letters that the engine would merge wrongly.
#pragma once

#include <string>

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

// Rewrites `pattern`, in the engine's syntax and already parsed by it, where
// the engine's merging of single-character alternation arms into one class
// (once it has factored out what neighbouring arms begin with) may meet a
// case-folded letter that it merges wrongly. The engine reads a class of
// exactly one ASCII letter in both cases ("[Kk]"), and a letter under the flag
// i, as a case-folded letter, and merging adds every Unicode fold of it: the
// Kelvin sign to k, the long s to s, which neither the class nor Python's re
// matches. With `lost_capitals` (see engine_merges_folded_arms), a folded
// letter merged after an arm that may hold it in lower case alone is spelled
// out too. A letter is spelled out as the alternation of its two cases,
// "(?:K|k)", or "(?-i:K|k)" under the flag i, which the engine merges into a
// class of exactly those two; a class whose characters are not read here is
// wrapped in "(?:" and "){1}" instead, which keeps it out of the merge.
// Everything else is kept byte for byte, so a pattern with nothing to spell
// out comes back as it was. Returns true when it changed `pattern`.
bool unfold_merged_letters(std::string& pattern, bool lost_capitals);

}  // namespace qx
