// The step counter that bounds every decision query.
#pragma once

#include <cstdint>

namespace qx {

// One counter per query (is_empty, is_subtype_of, is_equivalent), shared by
// all of its recursion. An exhausted budget makes every further step answer
// "not shown", so a query that runs out answers False.
struct WorkBudget {
  static constexpr uint32_t kQuerySteps = 1'000'000;
  uint32_t remaining = kQuerySteps;

  // Spends one step; false (spending nothing) when none is left.
  bool spend() noexcept {
    if (remaining == 0) return false;
    --remaining;
    return true;
  }
};

}  // namespace qx
