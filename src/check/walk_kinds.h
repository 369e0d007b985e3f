// The walk's per-kind steps that live in their own files, and what they share.
#pragma once

#include "check/walk.h"

namespace qx {

// The (items, rest) reduction of a shape, read in place: the fixed items are
// either one node or the leading One parts of a Seq, so nothing is copied.
struct FixedItems {
  const SchemaNode* single = nullptr;
  const ItemShape* parts = nullptr;
  size_t count = 0;
  const SchemaNode* rest = nullptr;

  // The node of item i; items past the fixed ones take the rest.
  const SchemaNode& node_at(size_t i) const {
    if (i >= count) return *rest;
    return single ? *single : *parts[i].node;
  }
};

// False for a shape outside the form "fixed items, then an optional repeated
// rest": such a sequence node accepts nothing.
bool reduce_shape(const ItemShape& shape, FixedItems& out);

bool walk_sequence(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
                   ErrorList& errors);
bool walk_set(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
              ErrorList& errors);
bool walk_record(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
                 ErrorList& errors);
bool walk_union(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
                ErrorList& errors);

// A field whose test the caller has made already: its position in the
// record, and the value it accepted (a Python object or a parsed value, by
// address). Only that very value is taken as accepted.
struct KnownField {
  size_t position;
  const void* value;
};

// The first pass of a record, its Membership test (what walk_record answers
// in Membership mode once the check is not stopped); `keys` is the record's
// index entry when the caller has it, `known` a field already tested, each
// null otherwise.
bool record_first_pass(const SchemaNode& record, ValueRef value, const WalkContext& ctx,
                       const DeclaredKeys* keys, const KnownField* known);

// Whether `node` accepts `value` on a look at its type alone: Anything and
// Any, or a plain kind whose type test passes. False means: walk it (or,
// for a plain kind, a mismatch). Item loops use it to skip the call, and the
// path segment, for the common passing item.
//
// Plain kinds are decided from a Python object's type flags, never by
// calling Python, or from a parsed JSON value's kind. True is an int and so
// is JSON true; an int is not a float, nor is a JSON integer; nothing in
// JSON is bytes.
inline bool accepts_at_once(const SchemaNode& node, ValueRef value) {
  const json::Value* j = value.json;
  PyObject* o = value.obj;
  switch (node.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
      return true;
    case NodeKind::NoneType:
      return j ? j->kind == json::Kind::Null : o == Py_None;
    case NodeKind::Bool:
      return j ? j->kind == json::Kind::Bool : Py_IS_TYPE(o, &PyBool_Type);
    case NodeKind::Int:
      return j ? j->kind == json::Kind::Bool || j->kind == json::Kind::Int ||
                     j->kind == json::Kind::BigInt
               : PyLong_Check(o);
    case NodeKind::Float:
      return j ? j->kind == json::Kind::Float : PyFloat_Check(o);
    case NodeKind::Str:
      return j ? j->kind == json::Kind::String : PyUnicode_Check(o);
    case NodeKind::Bytes:
      return !j && PyBytes_Check(o);
    case NodeKind::Nothing:
    case NodeKind::Literal:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refinement:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return false;
  }
  return false;
}

// accepts_at_once of one node for Python objects, read once for a loop over
// many: the node's type test as a type-flag bit or an exact type, so an item
// costs one look at its type's flags. True only where accepts_at_once is; a
// false answer means: test the item the full way. A default test accepts
// nothing.
class TypeTest {
 public:
  TypeTest() = default;
  explicit TypeTest(const SchemaNode& node) {
    switch (node.kind) {
      case NodeKind::Anything:
      case NodeKind::Any:
        flags_ = Py_TPFLAGS_READY;  // set on the type of every object that exists
        return;
      case NodeKind::NoneType:
        exact_ = Py_TYPE(Py_None);
        return;
      case NodeKind::Bool:
        exact_ = &PyBool_Type;
        return;
      case NodeKind::Int:
        flags_ = Py_TPFLAGS_LONG_SUBCLASS;
        return;
      case NodeKind::Float:
        exact_ = &PyFloat_Type;
        return;  // a subclass: the full way
      case NodeKind::Str:
        flags_ = Py_TPFLAGS_UNICODE_SUBCLASS;
        return;
      case NodeKind::Bytes:
        flags_ = Py_TPFLAGS_BYTES_SUBCLASS;
        return;
      case NodeKind::Nothing:
      case NodeKind::Literal:
      case NodeKind::Sequence:
      case NodeKind::Set:
      case NodeKind::FrozenSet:
      case NodeKind::Record:
      case NodeKind::Union:
      case NodeKind::Intersection:
      case NodeKind::Complement:
      case NodeKind::Instance:
      case NodeKind::Object:
      case NodeKind::Refinement:
      case NodeKind::Ref:
      case NodeKind::Placeholder:
        return;
    }
  }

  bool accepts(PyObject* obj) const {
    PyTypeObject* type = Py_TYPE(obj);
    return (type->tp_flags & flags_) != 0 || type == exact_;
  }

 private:
  unsigned long flags_ = 0;
  PyTypeObject* exact_ = nullptr;
};

// accepts_at_once, or a Refinement of such a base whose every constraint
// holds natively (refines_natively): no Python code runs, so a loop may look
// at a borrowed item, and a false answer costs only the walk that follows.
inline bool accepts_natively(const SchemaNode& node, ValueRef value, const WalkContext& ctx) {
  if (accepts_at_once(node, value)) return true;
  return node.kind == NodeKind::Refinement && !value.is_json() &&
         refines_natively(node, value.obj, ctx);
}

// Whether a loop over items, elements or members goes on after a failure:
// only a Collect check that no fatal exception has stopped.
inline bool keep_going(const WalkContext& ctx) {
  return ctx.mode == WalkMode::Collect && !*ctx.stop;
}

// The conjunction of test(0) .. test(n - 1), in order; after a failure only
// a Collect check goes on.
template <class Test>
bool all_pass(size_t n, const WalkContext& ctx, Test&& test) {
  bool verdict = true;
  for (size_t i = 0; i < n; ++i) {
    if (test(i)) continue;
    verdict = false;
    if (!keep_going(ctx)) break;
  }
  return verdict;
}

// Ends the check with a RuntimeError carrying `message` (a container that
// changed under the walk): the entry raises it in place of a verdict.
void stop_with_runtime_error(const char* message, const WalkContext& ctx);

}  // namespace qx
