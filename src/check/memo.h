// A check's memo of walks into recursive definitions, kept only where no user code can run.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "check/builtin_values.h"
#include "check/precompute.h"
#include "check/walk.h"
#include "py/ref.h"
#include "schema/compiled_schema.h"

// A build with QX_EAGER_MEMO set opens the memo at a check's first walk into
// a definition, so that the whole suite runs through it.
#ifndef QX_EAGER_MEMO
#define QX_EAGER_MEMO 0
#endif

namespace qx {

// The walks of one check into recursive definitions, keyed by everything
// their outcome depends on, so that a union's error pass and a record's
// explaining pass, which walk again what the first pass walked, and a union
// whose members reach one value through several chains of definitions, each
// pay for a subtree once: without it such checks cost time exponential in
// the value's depth.
//
// A walk's outcome depends on the node, the value, the mode and the
// recursion guard's active pairs (which decide "recursion_loop" and
// "recursion_limit"), and on nothing else only while no user code runs: an
// __eq__, a predicate or a repr may change a value already walked, and every
// call it makes must happen again on a second walk. So the memo opens only
// for a check whose schema calls no user code on builtin values and whose
// value is builtin throughout.
//
// Which of the guard's pairs matter: every active pair names a value the
// walk passed on its way down, so the value under walk lies inside each of
// them. A walk below the value meets only what the value holds; it meets a
// pair's value again only where that value also lies inside the value under
// walk, that is, where the two hold each other: where they lie on one cycle
// (one component of CycleComponents). So
// - a value on no cycle (every parsed document, most Python values, and the
//   tree parts of a value that holds itself elsewhere) can meet again only
//   the pairs on itself: an entry is named by the value, the definition, the
//   mode and the definitions active on the value itself;
// - a value on a cycle can meet again only the pairs whose values lie on its
//   own component: an entry is named by those pairs, bottom to top, as one
//   interned number, beside the value, the definition and the mode.
// Beyond those, the guard counts only through its size, and only if a pair
// is refused at the limit: a walk that stayed `height` pairs below the limit
// answers alike under any size that keeps it there.
//
// A value is named by its address, so every value an entry names is kept
// alive by the memo while the entry lives, or, for the values a checked parse
// makes one at a time, forgotten when the next one is walked.
//
// The memo records only while a pass that may walk its value again is under
// way, and costs nothing until walking again is likely:
// - a union whose members that failed had walked far into recursive
//   definitions before failing, or an intersection whose members had, owns
//   it from then until it ends, and records every walk;
// - a union or a record that explains a failure owns it for its explaining
//   pass, which walks again only what failed, and records the walks that
//   fail (a walk that accepts, of an item beside the one at fault, is asked
//   for once), and every walk once its own branches, or the unions below
//   it, waste as much.
// Waste is counted by each union and pass for itself, so a long list of
// small items, each a union wasting a few walks, never opens the memo. What
// an owner recorded is kept after it ends only for a pass that encloses it:
// the next owner nearer the root of the guard takes it over (the chains of
// unions that re-walk a value nest so), any other drops it. So the memo
// holds what one union decides, not the whole value.
class WalkMemo {
 public:
  // `root` is the Python value under check, or null for parsed JSON, which
  // holds builtin values only and no cycle.
  WalkMemo(PyObject* root, const CompiledSchema& schema, const Precompute& precompute);

  // Whether the value under check holds only builtins, for a check whose
  // schema runs no user code on them; decided once.
  bool builtin_value();
  // Whether walks starting now are remembered.
  bool in_use(const RecursionGuard& guard) {
    if (QX_EAGER_MEMO && owner_ == nullptr) own(this, guard, Recording::All);
    return recording_ != Recording::Off;
  }
  // A member of `pass` (a union, an intersection or an explaining pass)
  // made `visits` walks into definitions below its own, which the members
  // after it, or an explaining pass, may make again; `waste` is the pass's
  // own count of them. Once they add up, the memo records, owned by `pass`
  // until end_pass unless a pass around it owns it.
  void note_waste(uint64_t visits, uint64_t& waste, const void* pass, const RecursionGuard& guard) {
    waste += visits;
    if (waste < kWasteBeforeOpening) return;
    if (owner_ == nullptr) {
      own(pass, guard, Recording::All);
    } else {
      recording_ = Recording::All;
    }
  }
  // Whether the pass that counted `waste` may own the memo.
  static bool may_own(uint64_t waste) { return waste >= kWasteBeforeOpening; }
  // An explaining pass of `pass` begins: it walks again what failed, and
  // owns the memo unless a pass around it does.
  void begin_pass(const void* pass, const RecursionGuard& guard) {
    if (owner_ == nullptr) own(pass, guard, Recording::Failures);
  }
  // The first pass of the union `pass` at the guard's present size failed,
  // and its explaining pass follows: if it owns the memo, it keeps what it
  // recorded, and records from now on as begin_pass has it.
  void pause(const void* pass, const RecursionGuard& guard) {
    if (owner_ == pass && owner_size_ == guard.size()) recording_ = Recording::Failures;
  }
  // The pass `pass` at the guard's present size ends: if it owns the memo,
  // recording stops, and what it recorded waits for an enclosing owner.
  void end_pass(const void* pass, const RecursionGuard& guard) {
    if (owner_ == pass && owner_size_ == guard.size()) {
      owner_ = nullptr;
      recording_ = Recording::Off;
    }
  }
  // The values walked so far are gone (a checked parse hands the walk each
  // value in memory that the next one reuses): no entry may name them.
  void forget_values();

  // Called when a walk of `value` into the definition of the guard's top
  // pair begins. When that walk was made before under a guard that answers
  // alike, appends its records under `path`, sets `verdict` and returns
  // true; otherwise returns false, and finish() must follow the walk.
  bool recall(RecursionGuard& guard, ValueRef value, WalkMode mode, const Path& path,
              ErrorList& errors, bool& verdict);
  // Ends the walk that recall() did not find, before its pair is popped,
  // keeping it when `keep`: its verdict and the records it appended, whose
  // paths all begin with the `depth` segments of the walk's path.
  void finish(RecursionGuard& guard, bool keep, bool verdict, const ErrorList& errors,
              size_t depth);

 private:
  enum class Shape : uint8_t { Unread, Builtin, Foreign };

  struct Step {
    uint32_t below;
    RecursionGuard::Pair pair;
    bool operator==(const Step&) const = default;
    template <class H>
    friend H AbslHashValue(H h, const Step& s) {
      return H::combine(std::move(h), s.below, s.pair.identity, s.pair.definition);
    }
  };
  struct Key {
    uint64_t identity = 0;      // the value
    uint64_t on_value[2] = {};  // on no cycle: definitions active on the value itself, a bit each
    uint64_t name = 0;          // the definition
    uint32_t cycle = 0;         // on a cycle: the active pairs on its component, interned
    WalkMode mode = WalkMode::Collect;
    bool operator==(const Key&) const = default;
    template <class H>
    friend H AbslHashValue(H h, const Key& k) {
      return H::combine(std::move(h), k.identity, k.on_value[0], k.on_value[1], k.name, k.cycle,
                        k.mode);
    }
  };
  struct Entry {
    uint32_t size;    // the guard's size under which the walk was made
    uint32_t height;  // how many pairs above `size` the guard held at most
    bool refused;     // a pair was refused at the limit: holds at `size` only
    bool verdict;
    ErrorList records;            // paths relative to the walk's own path
    Ref value;                    // keeps the named value's address its own
    std::unique_ptr<Entry> next;  // the walk made before under another guard size
  };
  // A walk under way that recall() did not find.
  struct Level {
    bool kept = false;  // whether the walk can be remembered
    Key key;
    Ref value;
    size_t first = 0;   // where its records begin
    uint32_t peak = 0;  // the guard's peak before it
    uint64_t refusals = 0;
    // Where the value holds itself somewhere: what is read of the value of
    // the pair at this position while it is active.
    uint32_t component = kUnread;  // of its value, once read; 0: on no cycle
    uint32_t chain = 0;            // its component's pairs up to it, interned; 0: not yet
  };

  static constexpr uint64_t kWasteBeforeOpening = 16;
  static constexpr uint32_t kUnread = ~uint32_t{0};

  // What the owner records, as the class comment says.
  enum class Recording : uint8_t { Off, Failures, All };
  // Makes `pass`, under way at the guard's present size, the owner, where
  // the check may memoise.
  void own(const void* pass, const RecursionGuard& guard, Recording recording);
  uint32_t component(const RecursionGuard& guard, size_t position);
  uint32_t chain(const RecursionGuard& guard, size_t position);
  bool name_walk(const RecursionGuard& guard, ValueRef value, WalkMode mode, Key& key);
  static bool answers_alike(const Entry& entry, size_t size) {
    return entry.refused ? entry.size == size : size + entry.height <= kMaxRecursion;
  }

  PyObject* root_;
  bool possible_;
  Shape shape_ = Shape::Unread;
  const void* owner_ = nullptr;                // the pass that owns the memo, if any
  Recording recording_ = Recording::Off;       // Off exactly while no pass owns the memo
  size_t owner_size_ = 0;                      // the guard's size under it, or under the last owner
  CycleComponents cycles_;                     // where the value holds itself
  absl::flat_hash_map<Step, uint32_t> steps_;  // interned chains of pairs on a cycle
  std::vector<Level> levels_;                  // by guard position, while open
  absl::flat_hash_map<Key, Entry> entries_;
};

}  // namespace qx
