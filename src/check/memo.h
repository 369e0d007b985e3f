// A check's memo of walks into recursive definitions, kept only where no user code can run.
#pragma once

#include <Python.h>

#include <cstdint>

#include "absl/container/flat_hash_map.h"
#include "check/precompute.h"
#include "check/walk.h"
#include "schema/compiled_schema.h"

namespace qx {

// The walks of one Collect or FailFast check into recursive definitions,
// keyed by everything their outcome depends on, so that a union's error pass
// and a record's explaining pass, which walk again what the first pass
// walked, each pay for a subtree once: without it a tree of unions of records
// costs time exponential in its depth.
//
// A walk's outcome depends on the node, the value, the mode and the
// recursion guard's active pairs (which decide "recursion_loop" and
// "recursion_limit"), and on nothing else only while no user code runs: an
// __eq__, a predicate or a repr may change a value already walked, and every
// call it makes must happen again on a second walk. So the memo opens only
// for a check whose schema calls no user code on builtin values and whose
// value is builtin throughout, and the guard's pairs, bottom to top, are
// named by one interned number, so that an entry is reused under exactly the
// guard it was made under, recursion events included.
//
// The memo stays closed, costing nothing, until walking again is likely:
// when a check starts explaining a failure, or when union members that
// failed had walked far into recursive definitions before failing.
class WalkMemo {
 public:
  // `root` is the Python value under check, or null for a parsed JSON
  // document, which holds builtin values only.
  WalkMemo(PyObject* root, const CompiledSchema& schema, const Precompute& precompute);

  // Decides, once, whether this check may memoise.
  void open(const RecursionGuard& guard);
  bool is_open() const { return state_ == State::Open; }
  // A union member failed after `visits` walks into definitions below its
  // own; the memo opens once such wasted walks add up.
  void note_waste(uint64_t visits, const RecursionGuard& guard);

  // Names the guard just pushed (its top pair is the walk's own) and, when
  // that walk in `mode` was made before under the same guard, appends its
  // records under `path` and gives its verdict; false when there is none.
  bool recall(const RecursionGuard& guard, WalkMode mode, const Path& path, ErrorList& errors,
              bool& verdict);
  // Remembers the walk that recall() did not find, before its pair is
  // popped: its verdict and the records it appended, whose paths all begin
  // with the `depth` segments of the walk's path.
  void remember(const RecursionGuard& guard, WalkMode mode, bool verdict, const ErrorList& errors,
                size_t depth);

 private:
  enum class State : uint8_t { Unasked, Open, Closed };
  struct Step {
    uint32_t below;
    RecursionGuard::Pair pair;
    bool operator==(const Step&) const = default;
    template <class H>
    friend H AbslHashValue(H h, const Step& s) {
      return H::combine(std::move(h), s.below, s.pair.identity, s.pair.definition);
    }
  };
  struct Entry {
    bool verdict;
    ErrorList records;  // paths relative to the walk's own path
  };

  uint32_t name(uint32_t below, RecursionGuard::Pair pair);
  static uint64_t key(uint32_t name, WalkMode mode) {
    return (static_cast<uint64_t>(name) << 2) | static_cast<uint64_t>(mode);
  }

  static constexpr uint64_t kWasteBeforeOpening = 64;

  PyObject* root_;
  bool possible_;
  State state_ = State::Unasked;
  uint64_t waste_ = 0;
  // names_[i] names the guard's bottom i + 1 pairs, valid while open;
  // firsts_[i] is where the records of the walk under that pair begin.
  uint32_t names_[kMaxRecursion];
  size_t firsts_[kMaxRecursion];
  absl::flat_hash_map<Step, uint32_t> steps_;
  absl::flat_hash_map<uint64_t, Entry> entries_;
};

}  // namespace qx
