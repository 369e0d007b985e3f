// The walk's per-kind steps that live in their own files, and what they share.
#pragma once

#include "check/walk.h"

namespace qx {

bool walk_sequence(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
                   ErrorList& errors);
bool walk_set(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
              ErrorList& errors);
bool walk_record(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
                 ErrorList& errors);
bool walk_union(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
                ErrorList& errors);

// Whether a loop over items, elements or members goes on after a failure:
// only a Collect check that no fatal exception has stopped.
inline bool keep_going(const WalkContext& ctx) {
  return ctx.mode == WalkMode::Collect && !*ctx.stop;
}

// The conjunction of test(0) .. test(n - 1), in order; after a failure only
// a Collect check goes on.
template <class Test>
bool all_pass(size_t n, const WalkContext& ctx, Test&& test) {
  bool verdict = true;
  for (size_t i = 0; i < n; ++i) {
    if (test(i)) continue;
    verdict = false;
    if (!keep_going(ctx)) break;
  }
  return verdict;
}

// Ends the check with a RuntimeError carrying `message` (a container that
// changed under the walk): the entry raises it in place of a verdict.
void stop_with_runtime_error(const char* message, const WalkContext& ctx);

}  // namespace qx
