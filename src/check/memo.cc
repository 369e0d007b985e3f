// A check's memo of walks into recursive definitions, kept only where no user code can run.
#include "check/memo.h"

#include <algorithm>
#include <vector>

#include "check/builtin_values.h"

namespace qx {

WalkMemo::WalkMemo(PyObject* root, const CompiledSchema& schema, const Precompute& precompute)
    : root_(root),
      possible_(!schema.definitions.empty() && precompute.builtin_values_run_no_python) {}

bool WalkMemo::builtin_value() {
  if (shape_ == Shape::Unread) {
    const bool builtin = possible_ && (root_ == nullptr || holds_only_builtins(root_, cycles_));
    shape_ = builtin ? Shape::Builtin : Shape::Foreign;
  }
  return shape_ == Shape::Builtin;
}

void WalkMemo::own(const void* pass, const RecursionGuard& guard, Recording recording) {
  if (!builtin_value()) return;
  // A pass nearer the root of the guard encloses the one that recorded the
  // entries, and walks again what it walked; any other pass is beside it.
  if (guard.size() >= owner_size_) forget_values();
  owner_ = pass;
  owner_size_ = guard.size();
  recording_ = recording;
  // The walks under way began before: none of them is kept, but the walks
  // below them read their pairs, whose levels were not kept up meanwhile
  // (read only where the value holds itself).
  if (cycles_.of.empty()) return;
  if (levels_.size() < guard.size()) levels_.resize(guard.size());
  for (size_t i = 0; i < guard.size(); ++i) {
    levels_[i].component = kUnread;
    levels_[i].chain = 0;
  }
}

void WalkMemo::forget_values() {
  if (!entries_.empty()) entries_.clear();
}

// The component of the value of the guard's pair at `position`; 0 when it
// lies on no cycle.
uint32_t WalkMemo::component(const RecursionGuard& guard, size_t position) {
  if (cycles_.of.empty()) return 0;
  Level& level = levels_[position];
  if (level.component == kUnread) {
    auto hit = cycles_.of.find(reinterpret_cast<PyObject*>(guard.active[position].identity));
    level.component = hit != cycles_.of.end() ? hit->second : 0;
  }
  return level.component;
}

// The name of the guard's pairs at `position` and below whose values lie on
// the component of the value at `position`, bottom to top. Each level keeps
// its name while its pair is active, so a name costs one interning per pair.
uint32_t WalkMemo::chain(const RecursionGuard& guard, size_t position) {
  const uint32_t own = component(guard, position);
  uint8_t unnamed[kMaxRecursion];  // positions without a name yet, top first
  size_t count = 0;
  uint32_t below = 0;
  for (size_t i = position + 1; i > 0; --i) {
    if (component(guard, i - 1) != own) continue;
    if (levels_[i - 1].chain != 0) {
      below = levels_[i - 1].chain;
      break;
    }
    unnamed[count++] = static_cast<uint8_t>(i - 1);
  }
  while (count > 0) {
    const size_t i = unnamed[--count];
    // Names start at 1: 0 is the empty chain.
    auto [it, added] = steps_.try_emplace(Step{below, guard.active[i]}, 0);
    if (added) it->second = static_cast<uint32_t>(steps_.size());
    below = it->second;
    levels_[i].chain = below;
  }
  return below;
}

// The key of the walk on the guard's top pair; false when it cannot be
// named (a definition past what the key's bits hold).
bool WalkMemo::name_walk(const RecursionGuard& guard, ValueRef value, WalkMode mode, Key& key) {
  const size_t top = guard.size() - 1;
  key.mode = mode;
  key.identity = value.identity();
  key.name = guard.active[top].definition;
  if (const uint32_t own = component(guard, top); own != 0) {
    for (size_t i = top; i > 0; --i) {
      if (component(guard, i - 1) == own) {
        key.cycle = chain(guard, i - 1);
        break;
      }
    }
    return true;
  }
  constexpr uint64_t kBits = 2 * 64;
  for (size_t i = 0; i < top; ++i) {
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
  level.component = kUnread;
  level.chain = 0;
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
  if (!keep || !level.kept || (verdict && recording_ == Recording::Failures)) return;
  Entry entry{static_cast<uint32_t>(size),
              peak - static_cast<uint32_t>(size),
              guard.refusals != level.refusals,
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
