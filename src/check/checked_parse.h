// JSON checked as it is parsed: each value meets its schema node when the parser reaches it.
#pragma once

#include <cstdint>

#include "json/scanner.h"
#include "py/ref.h"
#include "schema/compiled_schema.h"
#include "schema/precompute.h"

namespace qx {

enum class CheckedParse : uint8_t {
  Member,   // one whole document, and every check passed
  NotJson,  // the input is not one whole JSON document
  Unsure,   // a check failed or could not be made: only the two-pass road can tell
};

// Both functions serve only schemas whose checks run no code of the user's
// (`precompute.may_run_user_code` is false): the order in which values are
// checked is then unobservable, and one pass answers what parsing first and
// walking afterwards would. A failing check is not final: a key repeated
// later in the same object may replace the value that failed.

// Membership of the document, building nothing but the trees of values that
// only the walk can decide (those under an intersection, a refinement, ...).
CheckedParse check_json_while_parsing(const json::Input& input, const CompiledSchema& schema,
                                      const Precompute& precompute);

// The document as Python objects, exactly as the parser builds them, when it
// is a member; a null Ref otherwise, with no exception pending.
Ref load_json_while_checking(const json::Input& input, const CompiledSchema& schema,
                             const Precompute& precompute);

}  // namespace qx
