// A check's memo of walks into recursive definitions, kept only where no user code can run.
#include "check/memo.h"

#include <algorithm>
#include <vector>

#include "check/builtin_values.h"

namespace qx {

WalkMemo::WalkMemo(PyObject* root, const CompiledSchema& schema, const Precompute& precompute)
    : root_(root),
      possible_(!schema.definitions.empty() && precompute.builtin_values_run_no_python) {}

void WalkMemo::open(const RecursionGuard& guard) {
  if (state_ != State::Unasked) return;
  state_ = State::Closed;
  if (!possible_) return;
  if (root_ != nullptr) {
    const ValueShape shape = builtin_shape(root_);
    if (shape == ValueShape::Foreign) return;
    whole_guard_ = shape == ValueShape::Cyclic;
  }
  state_ = State::Open;
  if (!whole_guard_) return;
  names_.resize(kMaxRecursion);
  uint32_t below = 0;
  for (size_t i = 0; i < guard.size(); ++i) {
    below = name(below, guard.active[i]);
    names_[i] = below;
  }
}

void WalkMemo::note_waste(uint64_t visits, const RecursionGuard& guard) {
  if (state_ != State::Unasked) return;
  waste_ += visits;
  if (waste_ >= kWasteBeforeOpening) open(guard);
}

void WalkMemo::forget_values() {
  if (!entries_.empty()) entries_.clear();
}

uint32_t WalkMemo::name(uint32_t below, RecursionGuard::Pair pair) {
  // Names start at 1: 0 is the empty guard.
  auto [it, added] = steps_.try_emplace(Step{below, pair}, 0);
  if (added) it->second = static_cast<uint32_t>(steps_.size());
  return it->second;
}

// The key of the walk on the guard's top pair; false when it cannot be
// named (a definition past what the key's bits hold).
bool WalkMemo::name_walk(const RecursionGuard& guard, ValueRef value, WalkMode mode, Key& key) {
  const size_t size = guard.size();
  const RecursionGuard::Pair own = guard.active[size - 1];
  key.mode = mode;
  if (whole_guard_) {
    names_[size - 1] = name(size > 1 ? names_[size - 2] : 0, own);
    key.name = names_[size - 1];
    return true;
  }
  constexpr uint64_t kBits = 2 * 64;
  if (own.definition >= kBits) return false;
  key.identity = value.identity();
  key.name = own.definition;
  for (size_t i = 0; i + 1 < size; ++i) {
    const RecursionGuard::Pair& pair = guard.active[i];
    if (pair.identity != key.identity) continue;
    if (pair.definition >= kBits) return false;
    key.on_value[pair.definition / 64] |= uint64_t{1} << (pair.definition % 64);
  }
  return true;
}

bool WalkMemo::recall(RecursionGuard& guard, ValueRef value, WalkMode mode, const Path& path,
                      ErrorList& errors, bool& verdict) {
  const size_t size = guard.size();
  if (levels_.size() < size) levels_.resize(size);
  Level& level = levels_[size - 1];
  level.key = Key{};
  level.kept = name_walk(guard, value, mode, level.key);
  if (level.kept) {
    auto hit = entries_.find(level.key);
    const Entry* entry = hit == entries_.end() ? nullptr : &hit->second;
    for (; entry != nullptr; entry = entry->next.get()) {
      if (!answers_alike(*entry, size)) continue;
      verdict = entry->verdict;
      for (const ErrorRecord& record : entry->records) {
        ErrorRecord copy{path, record.expected, record.value, record.code};
        copy.path.insert(copy.path.end(), record.path.begin(), record.path.end());
        errors.push_back(std::move(copy));
      }
      // What the walk did to the guard, the walks around it must learn.
      guard.peak = std::max<uint32_t>(guard.peak, static_cast<uint32_t>(size) + entry->height);
      if (entry->refused) ++guard.refusals;
      return true;
    }
  }
  level.value = level.kept && !value.is_json() ? Ref::borrow(value.obj) : Ref();
  level.first = errors.size();
  level.peak = guard.peak;
  level.refusals = guard.refusals;
  guard.peak = static_cast<uint32_t>(size);
  return false;
}

void WalkMemo::finish(RecursionGuard& guard, bool keep, bool verdict, const ErrorList& errors,
                      size_t depth) {
  const size_t size = guard.size();
  Level& level = levels_[size - 1];
  const uint32_t peak = guard.peak;
  guard.peak = std::max(level.peak, peak);
  Ref value = std::move(level.value);
  if (!keep || !level.kept) return;
  Entry entry{static_cast<uint32_t>(size),
              peak - static_cast<uint32_t>(size),
              // Under a whole-guard name the size is part of the name.
              guard.refusals != level.refusals || whole_guard_,
              verdict,
              {},
              std::move(value)};
  entry.records.reserve(errors.size() - level.first);
  for (size_t i = level.first; i < errors.size(); ++i) {
    const ErrorRecord& record = errors[i];
    if (record.path.size() < depth) return;  // not made below this walk: keep no entry
    entry.records.push_back(
        ErrorRecord{Path(record.path.begin() + static_cast<ptrdiff_t>(depth), record.path.end()),
                    record.expected, record.value, record.code});
  }
  auto [at, added] = entries_.try_emplace(level.key);
  if (!added) entry.next = std::make_unique<Entry>(std::move(at->second));
  at->second = std::move(entry);
}

}  // namespace qx
