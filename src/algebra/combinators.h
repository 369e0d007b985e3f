// Compiling a second schema against an existing validator's pool and definitions.
#pragma once

#include <Python.h>

#include <vector>

#include "py/result.h"
#include "schema/compiled_schema.h"
#include "schema/node.h"
#include "schema/pool.h"

namespace qx {

// `other` compiled beside `self`: the builder holds a copy of self's pool, so
// every object already pooled keeps its index, and `definitions` starts as a
// deep copy of self's, so self's Ref nodes keep their meaning. `self` is only read.
struct SeededSchema {
  SchemaBuilder builder;
  std::vector<SchemaNode> definitions;
  SchemaNode node;
};
Result<SeededSchema> compile_beside(const CompiledSchema& self, PyObject* other);

// A Complement node over `node`.
SchemaNode make_complement_node(SchemaNode node);

}  // namespace qx
