// The constants pool, the builder that fills it, and import of another validator's schema.
#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "py/ref.h"
#include "schema/node.h"

namespace qx {

// Strong references to the Python objects that nodes name by index (literal
// constants, classes, bounds, divisors, predicates). Grows only at its end
// while a build runs and is fixed afterwards. Releasing needs an attached
// thread, which every owner has when it drops the pool.
class ConstantsPool {
 public:
  ConstantsPool() = default;
  ConstantsPool(ConstantsPool&& other) noexcept : objects_(std::move(other.objects_)) {
    other.objects_.clear();
  }
  ConstantsPool& operator=(ConstantsPool&& other) noexcept;
  ConstantsPool(const ConstantsPool&) = delete;
  ConstantsPool& operator=(const ConstantsPool&) = delete;
  ~ConstantsPool() { clear(); }

  size_t size() const noexcept { return objects_.size(); }
  bool empty() const noexcept { return objects_.empty(); }
  // Borrowed; the index must be below size().
  PyObject* operator[](size_t i) const noexcept { return objects_[i].get(); }
  // Borrowed, or null when the index is out of range.
  PyObject* get(uint64_t i) const noexcept {
    return i < objects_.size() ? objects_[i].get() : nullptr;
  }

  // Appends a new reference to `obj`; returns its index.
  uint64_t push(PyObject* obj);
  // The same objects in the same order, each with a new reference.
  ConstantsPool clone() const;
  // Releases every reference (in order) and empties the pool.
  void clear() noexcept;

 private:
  std::vector<Ref> objects_;
};

// Build-time state of one constructor call: the pool being filled and the
// identity map from object address to pool index. Addresses are sound keys
// because the pool keeps every keyed object alive while the builder lives.
// The definitions vector travels beside it as a separate argument.
struct SchemaBuilder {
  ConstantsPool pool;
  absl::flat_hash_map<uintptr_t, uint64_t> identity;
};

// The pool index of `obj`, interning it on first sight (by identity).
uint64_t intern_object(SchemaBuilder& builder, PyObject* obj);

// Interns every object of `other` in order; entry i of the result is the
// builder index of other[i].
std::vector<uint64_t> intern_objects(SchemaBuilder& builder, const ConstantsPool& other);

// A copy of `node` with pool indexes mapped through `table` and definition
// indexes shifted by `offset`. The argument is only read.
SchemaNode remap_node(const SchemaNode& node, const std::vector<uint64_t>& table, uint64_t offset);
void extend_remapped_nodes(std::vector<SchemaNode>& definitions,
                           const std::vector<SchemaNode>& other, const std::vector<uint64_t>& table,
                           uint64_t offset);

// A builder over an existing pool (its references already counted): index i
// keeps naming the same object.
SchemaBuilder builder_from_pool(ConstantsPool pool);

}  // namespace qx
