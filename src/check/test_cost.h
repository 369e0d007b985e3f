// What testing a value against a node may do: look at the value alone, walk into it, or run Python.
#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "py/builtin_types.h"
#include "schema/node.h"
#include "schema/pool.h"
#include "schema/precompute.h"

namespace qx {

// The costs of nodes of one schema. Definitions are costed once, as a
// fixpoint over their references, so costing a node never follows a Ref.
class TestCosts {
 public:
  TestCosts(const std::vector<SchemaNode>& definitions, const ConstantsPool& pool);

  TestCost of(const SchemaNode& node) const;

 private:
  const ConstantsPool& pool_;
  std::vector<TestCost> definitions_;
};

// Whether some node of the tree can call user code even when every value it
// meets is an exact builtin: a predicate, an Instance or Object, a literal,
// bound or divisor that is not a builtin scalar.
bool reaches_user_code(const SchemaNode& node, const ConstantsPool& pool);

}  // namespace qx
