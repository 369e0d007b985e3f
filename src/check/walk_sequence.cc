// The walk over lists, tuples, JSON arrays, sets and frozensets.
#include <algorithm>

#include "check/item_test.h"
#include "check/walk_kinds.h"
#include "errors/records.h"

namespace qx {

namespace {

bool is_one(const ItemShape& shape) { return shape.kind == ShapeKind::One; }
bool is_star_of_one(const ItemShape& shape) {
  return shape.kind == ShapeKind::Star && is_one(*shape.inner);
}

}  // namespace

bool reduce_shape(const ItemShape& shape, FixedItems& out) {
  switch (shape.kind) {
    case ShapeKind::Empty:
      return true;
    case ShapeKind::One:
      out.single = shape.node.get();
      out.count = 1;
      return true;
    case ShapeKind::Star:
      if (!is_one(*shape.inner)) return false;
      out.rest = shape.inner->node.get();
      return true;
    case ShapeKind::Seq: {
      const size_t n = shape.parts.size();
      size_t fixed = n;
      if (n > 0 && is_star_of_one(shape.parts[n - 1])) {
        fixed = n - 1;
        out.rest = shape.parts[n - 1].inner->node.get();
      }
      for (size_t i = 0; i < fixed; ++i) {
        if (!is_one(shape.parts[i])) return false;
      }
      out.parts = shape.parts.data();
      out.count = fixed;
      return true;
    }
    case ShapeKind::Alt:
      return false;
  }
  return false;
}

namespace {

// Walks item i against its node, with an Index segment when collecting.
bool walk_item(const FixedItems& shape, size_t i, ValueRef item, Path& path, const WalkContext& ctx,
               ErrorList& errors) {
  const SchemaNode& node = shape.node_at(i);
  if (accepts_natively(node, item, ctx)) return true;
  if (!ctx.collecting()) return walk(node, item, path, ctx, errors);
  path.push_back(PathSegment::of_index(i));
  bool ok = walk(node, item, path, ctx, errors);
  path.pop_back();
  return ok;
}

#ifndef Py_GIL_DISABLED
// From item i on, the end of the run of items that `rest` accepts at a
// borrowed look. Out of line, so that the prepared test stays off the frames
// of the recursive walk.
[[gnu::noinline]] size_t accepted_run_end(const SchemaNode& rest, PyObject* list, size_t i,
                                          size_t end, const WalkContext& ctx) {
  const ItemTest test(rest, ctx);
  while (i < end && test.accepts(PyList_GET_ITEM(list, i))) ++i;
  return i;
}
#endif

// A list is read through its own storage, one new reference per item, and
// only up to its current length: code run by an item's check may shrink it.
bool walk_list_items(const FixedItems& shape, PyObject* list, size_t seen, Path& path,
                     const WalkContext& ctx, ErrorList& errors) {
  bool verdict = true;
  const auto end = [&] { return std::min(seen, static_cast<size_t>(PyList_GET_SIZE(list))); };
  for (size_t i = 0; i < end(); ++i) {
#ifndef Py_GIL_DISABLED
    // A borrowed look suffices where no Python code runs to decide: nothing
    // can change the list under it.
    if (i >= shape.count) {
      i = accepted_run_end(*shape.rest, list, i, end(), ctx);
      if (i == end()) break;
    } else if (accepts_natively(shape.node_at(i), ValueRef::python(PyList_GET_ITEM(list, i)),
                                ctx)) {
      continue;
    }
#endif
    Ref item = Ref::steal(PyList_GetItemRef(list, static_cast<Py_ssize_t>(i)));
    if (!item) {  // shrunk by another thread since the length was read
      PyErr_Clear();
      break;
    }
    if (walk_item(shape, i, ValueRef::python(item.get()), path, ctx, errors)) continue;
    verdict = false;
    if (!keep_going(ctx)) break;
  }
  return verdict;
}

bool walk_tuple_items(const FixedItems& shape, PyObject* tuple, size_t size, Path& path,
                      const WalkContext& ctx, ErrorList& errors) {
  // Items are borrowed: whoever handed the tuple to the walk holds it, and it never changes.
  return all_pass(size, ctx, [&](size_t i) {
    PyObject* item = PyTuple_GET_ITEM(tuple, static_cast<Py_ssize_t>(i));
    return walk_item(shape, i, ValueRef::python(item), path, ctx, errors);
  });
}

bool walk_array_items(const FixedItems& shape, const json::Value& array, Path& path,
                      const WalkContext& ctx, ErrorList& errors) {
  return all_pass(array.size, ctx, [&](size_t i) {
    return walk_item(shape, i, ValueRef::parsed(&array.items[i]), path, ctx, errors);
  });
}

// The sequence's length: of a list or tuple subclass too, read from the
// underlying storage; false when the value is not of the node's type.
bool sequence_length(const SchemaNode& node, ValueRef value, size_t& length) {
  if (value.is_json()) {
    if (node.tuple || value.json->kind != json::Kind::Array) return false;
    length = value.json->size;
    return true;
  }
  PyObject* obj = value.obj;
  if (node.tuple) {
    if (!PyTuple_Check(obj)) return false;
    length = static_cast<size_t>(PyTuple_GET_SIZE(obj));
    return true;
  }
  if (!PyList_Check(obj)) return false;
  length = static_cast<size_t>(PyList_GET_SIZE(obj));
  return true;
}

// Iterates with the set type's own iterator, so a subclass's __iter__ never runs.
bool walk_set_elements(const SchemaNode& node, PyObject* set, Path& path, const WalkContext& ctx,
                       ErrorList& errors) {
  const bool frozen = node.kind == NodeKind::FrozenSet;
  PyTypeObject* base = frozen ? &PyFrozenSet_Type : &PySet_Type;
  Ref iterator = Ref::steal(base->tp_iter(set));
  bool verdict = true;
  if (iterator) {
    while (Ref element = Ref::steal(PyIter_Next(iterator.get()))) {
      const ValueRef item = ValueRef::python(element.get());
      const SchemaNode& inner = node.child();
      if (accepts_natively(inner, item, ctx) || walk(inner, item, path, ctx, errors)) continue;
      verdict = false;
      if (!keep_going(ctx)) return false;
    }
  }
  if (PyErr_Occurred()) {
    // The set changed size under the walk (or no iterator could be made).
    PyErr_Clear();
    stop_with_runtime_error(
        frozen ? "frozenset iteration should be infallible" : "set iteration should be infallible",
        ctx);
    return false;
  }
  return verdict;
}

}  // namespace

bool walk_sequence(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
                   ErrorList& errors) {
  FixedItems shape;
  if (!reduce_shape(node.shape(), shape)) return false;
  size_t length = 0;
  if (!sequence_length(node, value, length)) {
    return push_type_error(false, node, value, path, ctx, errors);
  }
  const bool has_rest = shape.rest != nullptr;
  if (has_rest ? length < shape.count : length != shape.count) {
    push_length_error(node.tuple ? "tuple_length" : "list_length", node.tuple ? "tuple" : "list",
                      shape.count, has_rest, value, path, ctx, errors);
    return false;
  }
  if (value.is_json()) return walk_array_items(shape, *value.json, path, ctx, errors);
  if (node.tuple) return walk_tuple_items(shape, value.obj, length, path, ctx, errors);
  return walk_list_items(shape, value.obj, length, path, ctx, errors);
}

bool walk_set(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
              ErrorList& errors) {
  const bool is_set =
      !value.is_json() &&
      (node.kind == NodeKind::FrozenSet ? PyFrozenSet_Check(value.obj) : PySet_Check(value.obj));
  if (!is_set) return push_type_error(false, node, value, path, ctx, errors);
  return walk_set_elements(node, value.obj, path, ctx, errors);
}

}  // namespace qx
