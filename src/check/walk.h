// The validation walk: one recursive membership test of a value against a schema node.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "check/precompute.h"
#include "errors/records.h"
#include "py/ref.h"
#include "schema/node.h"
#include "schema/pool.h"

namespace qx {

// Pairs of (value identity, definition index) currently being walked, at
// most kMaxRecursion of them. Held inline: a depth this small is searched
// faster than it is hashed, and a Membership check must not allocate.
inline constexpr size_t kMaxRecursion = 128;

struct RecursionGuard {
  // Trivially constructible, so the array below is never filled on entry.
  struct Pair {
    uint64_t identity;
    uint64_t definition;
    bool operator==(const Pair&) const = default;
  };

  bool contains(Pair pair) const {
    for (size_t i = count; i > 0; --i) {
      if (active[i - 1] == pair) return true;
    }
    return false;
  }
  // False when the guard is full (the pair is then not inserted).
  bool insert(Pair pair) {
    if (count == kMaxRecursion) {
      ++refusals;
      return false;
    }
    active[count++] = pair;
    ++entered;
    if (count > peak) peak = static_cast<uint32_t>(count);
    return true;
  }
  // Pairs leave in the reverse order of their insertion.
  void erase_last() { --count; }
  size_t size() const { return count; }

  // Left uninitialised: only the first `count` pairs are ever read, and
  // filling 2 KiB would cost every check more than its walk.
  Pair active[kMaxRecursion];
  size_t count = 0;
  uint64_t entered = 0;   // pairs ever inserted: the check's walks into definitions
  uint64_t refusals = 0;  // pairs refused at the limit
  uint32_t peak = 0;      // the most pairs held at once, since the memo last reset it
};

// The first fatal exception of one check.
struct FatalSlot {
  Ref exception;
};

class FieldKeys;
class JsonConversions;
class LateTexts;
class WalkMemo;

// The state passed down one walk. Owns nothing: the entry builds it on its
// stack frame; sub-walks copy it, changing at most the mode.
struct WalkContext {
  const ConstantsPool* pool;
  const std::vector<SchemaNode>* definitions;
  const Precompute* precompute;
  RecursionGuard* guard;
  FatalSlot* fatal;
  bool* stop;
  WalkMode mode;
  // The Python objects made from the parsed document under check, if any.
  JsonConversions* conversions = nullptr;
  // Field name strs for the record check, kept for the whole check; null:
  // each lookup makes its own.
  FieldKeys* field_keys = nullptr;
  WalkMemo* memo = nullptr;  // walks remembered by the check, when it keeps them
  // Whether records may leave their value texts for later; null: never.
  LateTexts* late_texts = nullptr;

  WalkContext with_mode(WalkMode m) const {
    WalkContext c = *this;
    c.mode = m;
    return c;
  }
  bool collecting() const { return mode != WalkMode::Membership; }
};

// True when `value` is a member of `node`. Never raises: Python exceptions
// fold to false or become the check's fatal exception. `path` is restored on
// return; records are appended to `errors` only when collecting.
bool walk(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
          ErrorList& errors);

// Appends the node's own code and kind name when `verdict` is false and the
// mode collects; returns `verdict`.
bool push_type_error(bool verdict, const SchemaNode& node, ValueRef value, const Path& path,
                     const WalkContext& ctx, ErrorList& errors);

// Appends "{kind} of length {n}" (or "... at least {n}" with a rest) when collecting.
void push_length_error(const char* code, const char* kind, size_t n, bool has_rest, ValueRef value,
                       const Path& path, const WalkContext& ctx, ErrorList& errors);

// ---- Record and object checks -----------------------------------------------

// Explains why a dict is not a member of a Record (Collect/FailFast only);
// appends records, returns nothing.
void check_record(const SchemaNode& record, ValueRef value, Path& path, const WalkContext& ctx,
                  ErrorList& errors);

// Whether one undeclared (key, value) pair belongs to one catch-all clause.
bool check_pair(ValueRef key, const WalkContext& ctx, ValueRef value, const Clause& clause);

// The whole check of an Object node, in every mode.
bool check_object_attributes(uint64_t class_index, const std::vector<RecordField>& attributes,
                             ValueRef value, Path& path, const WalkContext& ctx, ErrorList& errors);

// ---- Constraints and exception folding --------------------------------------

// The rich-comparison operator of a bound (Ge, Gt, Le, Lt); -1 for another kind.
int bound_operator(ConstraintKind kind);

// Whether `constraint` holds for `value`, told without calling Python (exact
// numbers against a bound, a str against an indexed pattern). False when it
// fails or when only Python can tell: check_constraint then decides and
// reports. Never raises.
bool holds_natively(const Constraint& constraint, PyObject* value, const WalkContext& ctx);

// Whether a Refinement accepts `value`, told without calling Python: its base
// accepts it on a look at its type and every constraint holds natively.
bool refines_natively(const SchemaNode& refinement, PyObject* value, const WalkContext& ctx);

// One constraint of a Refinement against a Python object; appends its record.
bool check_constraint(const Constraint& constraint, PyObject* value, Path& path,
                      const WalkContext& ctx, ErrorList& errors);

// The verdict of a Python-side test: `outcome` is 1 or 0, or -1 with an
// exception pending, which is taken: an ordinary one is dropped (false), a
// fatal one goes to the check's FatalSlot and stops the walk (false).
bool fold_call_result(int outcome, const WalkContext& ctx);

// Not an Exception, or a MemoryError, or a RecursionError.
bool is_fatal_exception(PyObject* exception);

// Keeps the first fatal exception of the check and sets the stop flag.
void record_fatal_error(Ref exception, const WalkContext& ctx);

}  // namespace qx
