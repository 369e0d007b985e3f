// The step counter that bounds every decision query.
#pragma once

#include <cstdint>

#include "py/stack.h"

namespace qx {

// One counter per query (is_empty, is_subtype_of, is_equivalent), shared by
// all of its recursion. An exhausted budget makes every further step answer
// "not shown", so a query that runs out answers False.
struct WorkBudget {
  static constexpr uint32_t kQuerySteps = 1'000'000;
  // Nested steps of one query, bounded so that a deep coinductive proof stays
  // off the end of a thread's native stack: past the bound, or with too
  // little of the stack left, the query spends its whole budget and so
  // answers False, as when it runs out of steps.
  static constexpr uint32_t kMaxDepth = 512;
  uint32_t remaining = kQuerySteps;
  uint32_t depth = 0;

  // Spends one step; false (spending nothing) when none is left.
  bool spend() noexcept {
    if (remaining == 0) return false;
    --remaining;
    return true;
  }
};

// Counts one nested step of a query for as long as it lives.
class DepthScope {
 public:
  explicit DepthScope(WorkBudget& budget) noexcept : budget_(budget) {
    if (++budget_.depth > WorkBudget::kMaxDepth || stack_exhausted()) budget_.remaining = 0;
  }
  ~DepthScope() { --budget_.depth; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;

 private:
  WorkBudget& budget_;
};

// Runs one decision query. The tree operations a query uses (equality,
// kind classes) cannot stop early and signal the end of the native stack by
// StackExhausted; a query that meets it is undecided, so it answers False.
template <class Decide>
bool decide_within_stack(const Decide& decide) {
  try {
    return decide();
  } catch (const StackExhausted&) {
    return false;
  }
}

}  // namespace qx
