// The walk over unions: the literal fast path, the first pass and the scored error pass.
#include <algorithm>
#include <string>
#include <string_view>

#include "absl/strings/string_view.h"
#include "check/dict_items.h"
#include "check/json_values.h"
#include "check/late_texts.h"
#include "check/memo.h"
#include "check/walk_kinds.h"
#include "errors/records.h"
#include "json/scanner.h"
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

// The members of a tagged union that the value's tag leaves in play: the
// tagged members whose literals hold its text, and every member that is not
// tagged. A member whose test may call user code may change the dict: the
// tag is read again after it, so that each member meets the value as it is
// when its turn comes, as in a walk that reads no tag.
struct TagPick {
  const TagIndex* index = nullptr;
  const std::vector<uint32_t>* members = nullptr;  // the tagged members its text picks
  size_t next = 0;                                 // the first of them not yet passed
  Ref tag;                          // the tag's str, whose text the pick was made from
  const void* tag_value = nullptr;  // the tag's value: that str, or the parsed string

  // Whether member i may accept; asked for each member in order.
  bool in_play(size_t i) {
    if (!index->tagged[i]) return true;
    if (members == nullptr || next == members->size() || (*members)[next] != i) return false;
    ++next;
    return true;
  }
  // Member i refused `value`. Its test may have called user code that
  // changed the dict (a parsed value stays as it is whatever runs). False
  // when the tag, read again, cannot tell the members apart any more.
  bool refused(ValueRef value, size_t i) {
    return !index->may_run_user_code[i] || value.is_json() || read_again(value, i + 1);
  }
  // Reads the tag of `value` again, for the members from `first` on.
  bool read_again(ValueRef value, size_t first);
};

// Whether two texts are equal, short ones compared without a call.
bool same(std::string_view a, std::string_view b) {
  return a.size() == b.size() && json::same_text(a.data(), b.data(), a.size());
}

// The members whose literals hold `text`, or null.
[[gnu::always_inline]] inline const std::vector<uint32_t>* tagged_members(const TagIndex& index,
                                                                          std::string_view text) {
  constexpr size_t kScanned = 16;  // fewer tags than this are compared, not hashed
  if (index.texts.size() <= kScanned) {
    for (const auto& [tag, members] : index.texts) {
      if (same(tag, text)) return &members;
    }
    return nullptr;
  }
  auto hit = index.by_text.find(absl::string_view(text.data(), text.size()));
  return hit == index.by_text.end() ? nullptr : &index.texts[hit->second].second;
}

// The value under the tag's key: in a dict the first key with that text (the
// key most dicts of these records hold at the tag's declared position), in
// a JSON object the last member, as the record's own pass reads them.
// Returns false when the tag cannot decide: the tag is a str without UTF-8
// text, which only the literals' own comparison can judge. Inlined, as is
// tagged_members, into the first read, which every check of the union makes.
[[gnu::always_inline]] inline bool tag_text(const TagIndex& index, ValueRef value,
                                            std::string_view& text, bool& found, Ref& item,
                                            const void*& at) {
  found = false;
  if (value.is_json()) {
    const json::Value& object = *value.json;
    for (size_t i = object.size; i > 0; --i) {
      const json::Member& member = object.members[i - 1];
      if (!same(member.key, index.key)) continue;
      if (member.value.kind == json::Kind::String) {
        text = std::string_view(member.value.text, member.value.size);
        at = &member.value;
        found = true;
      }
      return true;
    }
    return true;
  }
  PyObject* dict = value.obj;
  // One step of the dict's iteration at `pos`; on the tag's key, takes its value.
  enum class Step { End, Other, Tag };
  auto step = [&](Py_ssize_t& pos) {
    DictItem entry;
    if (!entry.next(dict, pos)) return Step::End;
    std::string_view name;
    if (!PyUnicode_Check(entry.key()) || !utf8_view(entry.key(), name) || !same(name, index.key)) {
      return Step::Other;
    }
    item = Ref::borrow(entry.value());
    return Step::Tag;
  };
  // Where dicts of these records put the tag: its declared place, or last.
  Py_ssize_t pos = index.hint;
  bool hit = step(pos) == Step::Tag;
  pos = PyDict_GET_SIZE(dict) - 1;
  hit = hit || (pos > 0 && step(pos) == Step::Tag);
  for (pos = 0; !hit;) {
    const Step next = step(pos);
    if (next == Step::End) break;
    hit = next == Step::Tag;
  }
  if (!hit || !PyUnicode_CheckExact(item.get())) {  // no tagged member accepts
    item.reset();  // any other object is let go now, as a walk would not keep it
    return true;
  }
  if (!utf8_view(item.get(), text)) return false;
  at = item.get();
  found = true;
  return true;
}

// Out of line, as it is rare: the loop over the members stays small.
[[gnu::noinline]] bool TagPick::read_again(ValueRef value, size_t first) {
  members = nullptr;
  tag_value = nullptr;
  std::string_view text;
  bool found = false;
  if (!tag_text(*index, value, text, found, tag, tag_value)) return false;
  if (found) members = tagged_members(*index, text);
  next = 0;
  if (members == nullptr) return true;
  while (next < members->size() && (*members)[next] < first) ++next;  // the members passed
  return true;
}

// The pick of a union with a tag index, for a dict or JSON object.
TagPick pick_by_tag(const SchemaNode& node, ValueRef value, const WalkContext& ctx) {
  TagPick pick;
  const auto& tags = ctx.precompute->tags;
  const bool object =
      value.is_json() ? value.json->kind == json::Kind::Object : PyDict_Check(value.obj) != 0;
  if (!object) return pick;
  auto hit = tags.find(&node);
  if (hit == tags.end()) return pick;
  std::string_view text;
  bool found = false;
  if (!tag_text(hit->second, value, text, found, pick.tag, pick.tag_value)) return pick;
  pick.index = &hit->second;
  if (found) pick.members = tagged_members(*pick.index, text);
  return pick;
}

// How a member answers on what no user code can change: the value's type,
// or the text of an exact str literal. Unknown: only a walk can tell.
enum class AtOnce { Accepts, Rejects, Unknown };

AtOnce literal_at_once(const SchemaNode& member, ValueRef value, const WalkContext& ctx) {
  PyObject* literal = ctx.pool->get(member.index);
  if (literal == nullptr) return AtOnce::Rejects;
  if (value.is_json()) {
    switch (json_literal_equals(*value.json, literal)) {
      case Decision::Yes:
        return AtOnce::Accepts;
      case Decision::No:
        return AtOnce::Rejects;
      case Decision::Unknown:
        return AtOnce::Unknown;
    }
    return AtOnce::Unknown;
  }
  if (Py_TYPE(value.obj) != Py_TYPE(literal)) return AtOnce::Rejects;
  std::string_view text;
  std::string_view want;
  if (!PyUnicode_CheckExact(literal) || !utf8_view(value.obj, text) || !utf8_view(literal, want)) {
    return AtOnce::Unknown;
  }
  return text == want ? AtOnce::Accepts : AtOnce::Rejects;
}

AtOnce decide_at_once(const SchemaNode& member, ValueRef value, const WalkContext& ctx) {
  if (accepts_at_once(member, value)) return AtOnce::Accepts;
  const json::Value* j = value.json;
  PyObject* o = value.obj;
  bool fits = false;  // the value is of the member's container type
  switch (member.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
      return AtOnce::Accepts;
    case NodeKind::Nothing:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Placeholder:
      return AtOnce::Rejects;
    case NodeKind::Literal:
      return literal_at_once(member, value, ctx);
    case NodeKind::Sequence:
      fits = j ? !member.tuple && j->kind == json::Kind::Array
               : (member.tuple ? PyTuple_Check(o) : PyList_Check(o));
      break;
    case NodeKind::Set:
      fits = !j && PySet_Check(o);
      break;
    case NodeKind::FrozenSet:
      fits = !j && PyFrozenSet_Check(o);
      break;
    case NodeKind::Record:
      fits = j ? j->kind == json::Kind::Object : PyDict_Check(o);
      break;
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refinement:
    case NodeKind::Ref:
      return AtOnce::Unknown;
  }
  return fits ? AtOnce::Unknown : AtOnce::Rejects;
}

// Walks the members in order, each in Membership mode, skipping those that
// `pick` (if any) leaves out of play; true at the first that accepts.
bool members_accept(const SchemaNode& node, ValueRef value, const WalkContext& ctx, TagPick* pick) {
  const WalkContext probe = ctx.with_mode(WalkMode::Membership);
  Path probe_path;
  ErrorList probe_errors;
  uint64_t waste = 0;  // walks below the members' own definitions that failed
  bool accepted = false;
  for (size_t i = 0; i < node.members().size(); ++i) {
    if (pick != nullptr && !pick->in_play(i)) continue;
    const SchemaNode& member = node.members()[i];
    if (accepts_at_once(member, value)) {
      accepted = true;
      break;
    }
    const uint64_t entered = ctx.guard->entered;
    if (pick != nullptr && pick->index->tagged[i]) {
      // A tagged record, whose index entry the tag index holds.
      // Its tag holds the value's text, so its tag field accepts that value.
      const KnownField tag{pick->index->fields[i], pick->tag_value};
      if (!*ctx.stop && record_first_pass(member, value, probe, pick->index->keys[i], &tag)) {
        accepted = true;
        break;
      }
    } else if (walk(member, value, probe_path, probe, probe_errors)) {
      accepted = true;
      break;
    }
    if (pick != nullptr && !pick->refused(value, i)) pick = nullptr;  // the rest are walked
    // Walks below the member's own definition were wasted, and the next
    // member, or the error pass, may make them again.
    const uint64_t visits = ctx.guard->entered - entered;
    if (visits > 1 && ctx.memo != nullptr) {
      ctx.memo->note_waste(visits - 1, waste, &node, *ctx.guard);
    }
  }
  // An owner that explains next keeps the memo through its error pass.
  if (WalkMemo::may_own(waste)) {
    if (accepted || !ctx.collecting() || *ctx.stop) {
      ctx.memo->end_pass(&node, *ctx.guard);
    } else {
      ctx.memo->pause(&node, *ctx.guard);
    }
  }
  return accepted;
}

// The members of a tagged union that its tag leaves in play, or false in
// `decided` when the tag cannot tell. Out of line, as is the walk it leads
// to: the recursion through untagged unions keeps its frames small.
[[gnu::noinline]] bool tagged_members_accept(const SchemaNode& node, ValueRef value,
                                             const WalkContext& ctx, bool& decided) {
  TagPick pick = pick_by_tag(node, value, ctx);
  decided = pick.index != nullptr;
  return decided && members_accept(node, value, ctx, &pick);
}

// The first pass: whether some member accepts, the members tried in order,
// each in Membership mode. Shortcuts skip only members whose tests could
// call no user code: the calls a walk makes stay the same.
bool some_member_accepts(const SchemaNode& node, ValueRef value, const WalkContext& ctx) {
  // In a small union, members that the value's type or text alone decide
  // cost less than any lookup, taken in order while those before them fail
  // without a walk.
  if (node.members().size() <= kTypeProbeMembers) {
    bool all_rejected = true;
    for (const SchemaNode& member : node.members()) {
      const AtOnce answer = decide_at_once(member, value, ctx);
      if (answer == AtOnce::Accepts) return true;
      if (answer == AtOnce::Unknown) {
        all_rejected = false;
        break;
      }
    }
    if (all_rejected) return false;
  }
  if (!ctx.precompute->tags.empty()) {
    bool decided = false;
    const bool accepted = tagged_members_accept(node, value, ctx, decided);
    if (decided) return accepted;
  }
  // The sets answer exactly where they answer at all.
  const FastAnswer fast = literal_fast_path(node, value, ctx);
  if (fast != FastAnswer::Unknown) return fast == FastAnswer::Yes;
  return members_accept(node, value, ctx, nullptr);
}

// How far into the value a branch got before failing, relative to the union.
size_t branch_score(const ErrorList& records, size_t base) {
  size_t deepest = 0;
  for (const ErrorRecord& r : records) deepest = std::max(deepest, r.path.size());
  return deepest > base ? deepest - base : 0;
}

[[gnu::cold, gnu::noinline]] void append_union_error(const SchemaNode& node, ValueRef value,
                                                     const Path& path, const WalkContext& ctx,
                                                     ErrorList& errors) {
  std::string expected = "one of: ";
  bool first = true;
  for (const char* name : member_kind_names(node.members())) {
    if (!first) expected += ", ";
    expected += name;
    first = false;
  }
  errors.push_back(new_error_record("union_error", expected, value, path, late_texts(ctx)));
}

// Explains a failed union: the branch that got deepest into the value before
// failing (the earliest on a tie), or one "union_error" when none got past
// the union's own level. Branches run in Collect mode even for FailFast.
[[gnu::cold, gnu::noinline]] void explain_branches(const SchemaNode& node, ValueRef value,
                                                   Path& path, const WalkContext& ctx,
                                                   ErrorList& errors) {
  const WalkContext collect = ctx.with_mode(WalkMode::Collect);
  const size_t base = path.size();
  const size_t scored = std::min(node.members().size(), kScoredBranches);
  ErrorList best;
  size_t best_score = 0;
  uint64_t waste = 0;
  for (size_t i = 0; i < scored; ++i) {
    ErrorList branch;
    const uint64_t entered = ctx.guard->entered;
    walk(node.members()[i], value, path, collect, branch);
    // The next branch may walk again what this one walked.
    const uint64_t visits = ctx.guard->entered - entered;
    if (visits > 1 && ctx.memo != nullptr) {
      ctx.memo->note_waste(visits - 1, waste, &node, *ctx.guard);
    }
    size_t score = branch_score(branch, base);
    if (i == 0 || score > best_score) {
      best = std::move(branch);
      best_score = score;
    }
  }
  if (*ctx.stop) return;
  if (best_score == 0) {
    append_union_error(node, value, path, ctx, errors);
  } else {
    extend_error_records(errors, std::move(best));
  }
}

// The error pass, with the texts of the records it drops never made where
// that cannot be told (see LateTexts).
[[gnu::cold, gnu::noinline]] void explain_union(const SchemaNode& node, ValueRef value, Path& path,
                                                const WalkContext& ctx, ErrorList& errors) {
  // The branches walk again what failed.
  if (ctx.memo != nullptr) ctx.memo->begin_pass(&node, *ctx.guard);
  const size_t first = errors.size();
  const bool quiet = ctx.memo != nullptr && ctx.memo->builtin_value();
  const bool holding = ctx.late_texts != nullptr && ctx.late_texts->begin(value, quiet);
  explain_branches(node, value, path, ctx, errors);
  if (ctx.memo != nullptr) ctx.memo->end_pass(&node, *ctx.guard);
  if (!holding) return;
  ctx.late_texts->end();
  settle_value_texts(errors, first);
}

}  // namespace

bool walk_union(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
                ErrorList& errors) {
  if (some_member_accepts(node, value, ctx)) return !*ctx.stop;
  if (ctx.collecting() && !*ctx.stop) explain_union(node, value, path, ctx, errors);
  return false;
}

}  // namespace qx
