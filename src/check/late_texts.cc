// When records may leave their value texts for later: within a union's error pass that no user code
// can enter.
#include "check/late_texts.h"

#include "check/builtin_values.h"

namespace qx {

bool LateTexts::begin(ValueRef value, bool quiet) {
  if (holding_ || !possible_ || value.is_json()) return false;
  if (!quiet && !holds_only_builtins(value.obj)) return false;
  holding_ = true;
  return true;
}

bool late_texts(const WalkContext& ctx) {
  return ctx.collecting() && ctx.late_texts != nullptr && ctx.late_texts->holding();
}

}  // namespace qx
