// The per-validator index a check consults to go faster; holds no Python objects.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"
#include "re2/re2.h"
#include "schema/node.h"

namespace qx {

// What testing a value against a node may do, ordered from cheapest to
// dearest; a node costs at least what its parts do.
enum class TestCost : uint8_t {
  Plain,    // decided on the value itself, never calling code the user wrote
  Bounded,  // Plain for an exact builtin value; a subclass may bring its own
            // comparison, length or modulo
  Pure,     // walks into the value (items, fields, recursion) but never calls user code
  Python,   // may call user code: a predicate, isinstance, an attribute, a foreign __eq__
};

// A record's declared field names to field positions, and how many fields are required.
// `costs` (by field position) and `clauses` tell the first pass which tests
// it may take early: the verdict is a conjunction, so where no user code can
// run the order in which the tests are taken is unobservable.
struct DeclaredKeys {
  // Each name to the position of the first field declared with it.
  absl::flat_hash_map<std::string, uint32_t> positions;
  // By field position: the position of the next field declared with the same
  // name, 0 for none (a later field is never at 0). Empty when every name is
  // declared once.
  std::vector<uint32_t> same_name;
  // By field position: how many required fields are declared before it, so
  // a pass that meets fields out of order still finds where one is missing.
  std::vector<uint32_t> required_before;
  uint64_t required = 0;
  std::vector<TestCost> costs;
  TestCost clauses = TestCost::Python;
};

// The exact-int values (fitting 64 bits) and exact-str texts of a union
// whose members are all literals.
struct LiteralSets {
  absl::flat_hash_set<int64_t> ints;
  absl::flat_hash_set<std::string> strs;
};

// A union whose record members are told apart by one key: each of them
// requires it, with a value that only str literals accept, and none can call
// user code, so skipping the members whose literals the value's tag is not
// is unobservable. Other members may call user code that changes the tag,
// which is then read again.
struct TagIndex {
  std::string key;
  uint32_t hint = 0;                      // the key's position in the first tagged member
  std::vector<bool> tagged;               // by member: told apart by the key
  std::vector<bool> may_run_user_code;    // by member: its test may call user code
  std::vector<const DeclaredKeys*> keys;  // by member: a tagged record's entry in `records`
  std::vector<uint32_t> fields;           // by member: the key's field position in it
  // Each tag text with the members whose literals hold it, in member order;
  // a few are scanned, many are found through `by_text` (indexes into `texts`).
  std::vector<std::pair<std::string, std::vector<uint32_t>>> texts;
  absl::flat_hash_map<std::string, uint32_t> by_text;
};

// An accelerator, never a source of truth: a missing entry sends the walk
// down its slower road with the same verdict. Keys are addresses of nodes
// inside one CompiledSchema, so an index never moves to another schema.
struct Precompute {
  absl::flat_hash_map<const SchemaNode*, DeclaredKeys> records;          // keyed by Record node
  absl::flat_hash_map<const SchemaNode*, LiteralSets> unions;            // keyed by Union node
  absl::flat_hash_map<std::string, std::unique_ptr<re2::RE2>> patterns;  // keyed by pattern text
  absl::flat_hash_map<const SchemaNode*, TagIndex> tags;                 // keyed by Union node
  // No node calls user code while every value it meets is an exact builtin.
  bool builtin_values_run_no_python = false;
  // Each Regex constraint's entry of `patterns`, sorted by the constraint's
  // address: a check finds its regex by a short search, hashing no text.
  std::vector<std::pair<const Constraint*, const re2::RE2*>> regexes;

  // The compiled pattern of a Regex constraint, or null when it has none here.
  const re2::RE2* regex_of(const Constraint& constraint) const {
    auto hit =
        std::lower_bound(regexes.begin(), regexes.end(), &constraint,
                         [](const auto& entry, const Constraint* c) { return entry.first < c; });
    return hit != regexes.end() && hit->first == &constraint ? hit->second : nullptr;
  }

  // Whether checking a value made from JSON may run code of the user's (a
  // predicate, an __instancecheck__, a comparison with a user object). When
  // it cannot, the checks' order is unobservable and a document may be
  // checked as it is parsed.
  bool may_run_user_code = false;
};

}  // namespace qx
