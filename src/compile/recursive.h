// recursive(builder): a recursive schema tied as a checked fixpoint.
#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "py/result.h"
#include "schema/compiled_schema.h"
#include "schema/node.h"

namespace qx {

// The schema of recursive(builder); `builder` is the extracted argument and
// `make_placeholder` makes the validator over a Placeholder node that the
// builder receives (the Validator class stands above the compiler).
using PlaceholderMaker = Result<Ref> (*)(SchemaNode node);
Result<CompiledSchema> recursive_impl(PyObject* builder, PlaceholderMaker make_placeholder);

// Turns every Placeholder carrying recursive id `id` into Ref(`d`); other
// placeholders, refs, leaves, names, flags and constraints stay as they are.
// Rewrites in place: callers own the freshly compiled tree they bind.
void bind_placeholder(SchemaNode& node, uint64_t id, uint64_t d);
void bind_placeholder_shape(ItemShape& shape, uint64_t id, uint64_t d);
void bind_placeholder_fields(std::vector<RecordField>& fields, uint64_t id, uint64_t d);
void bind_placeholder_nodes(std::vector<SchemaNode>& nodes, uint64_t id, uint64_t d);

// Whether `node` holds a Ref(`d`) that no Sequence, Set, FrozenSet, Record or
// Object encloses (`guarded` says one already does). Refs are not followed.
bool has_unguarded_ref(const SchemaNode& node, uint64_t d, bool guarded);

}  // namespace qx
