// The walk over unions: the literal fast path, the first pass and the scored error pass.
#include <algorithm>
#include <string>
#include <string_view>

#include "absl/strings/string_view.h"
#include "check/json_values.h"
#include "check/walk_kinds.h"
#include "errors/records.h"
#include "py/text.h"

namespace qx {

namespace {

constexpr size_t kScoredBranches = 64;
constexpr size_t kTypeProbeMembers = 4;

enum class FastAnswer { No, Yes, Unknown };

// A union of literals answers an exact int or str, or a parsed integer or
// string, with one set lookup, the exact answer of the first pass.
// Other values, and ints beyond 64 bits or texts without UTF-8, go the
// ordinary way: the sets are exact only for what they can hold.
FastAnswer literal_fast_path(const SchemaNode& node, ValueRef value, const WalkContext& ctx) {
  const auto& unions = ctx.precompute->unions;
  if (unions.empty()) return FastAnswer::Unknown;
  auto hit = unions.find(&node);
  if (hit == unions.end()) return FastAnswer::Unknown;
  const LiteralSets& sets = hit->second;
  if (value.is_json()) {
    const Decision decided = json_in_literal_sets(sets, *value.json);
    if (decided == Decision::Unknown) return FastAnswer::Unknown;
    return decided == Decision::Yes ? FastAnswer::Yes : FastAnswer::No;
  }
  PyObject* obj = value.obj;
  if (Py_IS_TYPE(obj, &PyLong_Type)) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow != 0) return FastAnswer::Unknown;
    return sets.ints.contains(v) ? FastAnswer::Yes : FastAnswer::No;
  }
  if (PyUnicode_CheckExact(obj)) {
    std::string_view text;
    if (!utf8_view(obj, text)) return FastAnswer::Unknown;
    return sets.strs.contains(absl::string_view(text.data(), text.size())) ? FastAnswer::Yes
                                                                           : FastAnswer::No;
  }
  return FastAnswer::Unknown;
}

// How far into the value a branch got before failing, relative to the union.
size_t branch_score(const ErrorList& records, size_t base) {
  size_t deepest = 0;
  for (const ErrorRecord& r : records) deepest = std::max(deepest, r.path.size());
  return deepest > base ? deepest - base : 0;
}

[[gnu::cold, gnu::noinline]] void append_union_error(const SchemaNode& node, ValueRef value,
                                                     const Path& path, ErrorList& errors) {
  std::string expected = "one of: ";
  bool first = true;
  for (const char* name : member_kind_names(node.members())) {
    if (!first) expected += ", ";
    expected += name;
    first = false;
  }
  errors.push_back(new_error_record("union_error", expected, value, path));
}

// Explains a failed union: the branch that got deepest into the value before
// failing (the earliest on a tie), or one "union_error" when none got past
// the union's own level. Branches run in Collect mode even for FailFast.
[[gnu::cold, gnu::noinline]] void explain_union(const SchemaNode& node, ValueRef value,
                                                Path& path, const WalkContext& ctx,
                                                ErrorList& errors) {
  const WalkContext collect = ctx.with_mode(WalkMode::Collect);
  const size_t base = path.size();
  const size_t scored = std::min(node.members().size(), kScoredBranches);
  ErrorList best;
  size_t best_score = 0;
  for (size_t i = 0; i < scored; ++i) {
    ErrorList branch;
    walk(node.members()[i], value, path, collect, branch);
    size_t score = branch_score(branch, base);
    if (i == 0 || score > best_score) {
      best = std::move(branch);
      best_score = score;
    }
  }
  if (*ctx.stop) return;
  if (best_score == 0) {
    append_union_error(node, value, path, errors);
  } else {
    extend_error_records(errors, std::move(best));
  }
}

}  // namespace

bool walk_union(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
                ErrorList& errors) {
  // A member that the type alone decides costs less than a set lookup in a
  // small union; like the sets, it answers the first pass exactly.
  if (node.members().size() <= kTypeProbeMembers) {
    for (const SchemaNode& member : node.members()) {
      if (accepts_at_once(member, value)) return true;
    }
  }
  // The sets answer the first pass exactly, so every mode may ask them.
  const FastAnswer fast = literal_fast_path(node, value, ctx);
  if (fast == FastAnswer::Yes) return true;
  if (fast == FastAnswer::Unknown) {
    const WalkContext probe = ctx.with_mode(WalkMode::Membership);
    Path probe_path;
    ErrorList probe_errors;
    for (const SchemaNode& member : node.members()) {
      if (accepts_at_once(member, value)) return true;
      if (walk(member, value, probe_path, probe, probe_errors)) return !*ctx.stop;
    }
  }
  if (ctx.collecting() && !*ctx.stop) explain_union(node, value, path, ctx, errors);
  return false;
}

}  // namespace qx
