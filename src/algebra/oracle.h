// The leaf oracle: the questions the decisions cannot answer from node structure alone.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "algebra/enum_member.h"
#include "check/precompute.h"
#include "check/walk.h"
#include "schema/node.h"
#include "schema/pool.h"

namespace qx {

// Three-valued answers of leaf_subtype and no_integer_between.
inline constexpr uint8_t kOracleNo = 0;
inline constexpr uint8_t kOracleYes = 1;
inline constexpr uint8_t kOracleCannotTell = 2;
// The "cannot tell" of compare_constants (0xFE as a byte); the others are -1, 0, 1.
inline constexpr int8_t kOrderUnknown = static_cast<int8_t>(0xFE);

// Only a definite yes (or a definite order) counts as proof; every other
// answer leaves a decision unproven. No operation raises. The decisions
// borrow an oracle for one query and never own it, hence no virtual
// destructor.
class LeafOracle {
 public:
  // Whether every value of leaf `a` is a value of `b`.
  virtual uint8_t leaf_subtype(const SchemaNode& a, const SchemaNode& b) = 0;
  // The order of the constant at pool index i against the one at j: -1, 0, 1
  // or kOrderUnknown.
  virtual int8_t compare_constants(uint64_t i, uint64_t j) = 0;
  // kOracleYes when no integer lies between the constants at `lo` and `hi`,
  // each end open when its flag is set; kOracleNo when one does.
  virtual uint8_t no_integer_between(uint64_t lo, bool lo_exclusive, uint64_t hi,
                                     bool hi_exclusive) = 0;

 protected:
  ~LeafOracle() = default;
};

// The oracle that asks Python, over one pool and its definitions (borrowed
// for one decision). Every exception it meets is discarded.
class PoolOracle final : public LeafOracle {
 public:
  PoolOracle(const ConstantsPool& pool, const std::vector<SchemaNode>& definitions)
      : pool_(pool), definitions_(definitions) {}

  uint8_t leaf_subtype(const SchemaNode& a, const SchemaNode& b) override;
  int8_t compare_constants(uint64_t i, uint64_t j) override;
  uint8_t no_integer_between(uint64_t lo, bool lo_exclusive, uint64_t hi,
                             bool hi_exclusive) override;

 private:
  bool speaks_for_its_equals(PyObject* literal);
  uint8_t literal_in_literal(PyObject* literal, const SchemaNode& b);
  uint8_t literal_member(PyObject* literal, const SchemaNode& b);
  const Precompute& walk_tables(const SchemaNode& b);

  const ConstantsPool& pool_;
  const std::vector<SchemaNode>& definitions_;
  // Scratch for the membership walks of one decision: every walk leaves it
  // empty again, so one serves them all without being rebuilt each time.
  RecursionGuard guard_;
  // What the walks look up instead of scanning a wide union of literals or
  // compiling a pattern again: made for a tree the walks enter again, at
  // the second walk, so that a tree walked once costs a plain walk. Made at
  // the first walk into a tree: most decisions walk none.
  struct Walks {
    Walks(const ConstantsPool& pool, const std::vector<SchemaNode>& definitions)
        : index(pool, definitions) {}
    WalkIndex index;
    absl::flat_hash_set<const SchemaNode*> walked_once;
  };
  std::unique_ptr<Walks> walks_;
  // The tree last indexed and its tables, met again at most steps of a
  // decision that walks many literals against one tree.
  const SchemaNode* last_indexed_ = nullptr;
  const Precompute* last_tables_ = nullptr;
  EnumMemberReadings enum_members_;
};

}  // namespace qx
