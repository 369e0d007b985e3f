// The str objects of record field names, made once per check for the record check's lookups.
#pragma once

#include <Python.h>

#include "absl/container/flat_hash_map.h"
#include "py/ref.h"
#include "schema/node.h"

namespace qx {

// A failing dict's fields are looked up by name (through the dict's own
// storage); a list of many failing dicts would otherwise make, hash and drop
// a str per field per dict. Lives for one check, on the entry's frame.
class FieldKeys {
 public:
  // The str of the field's name, borrowed from this cache; null with the
  // exception pending when it cannot be made.
  PyObject* of(const RecordField& field) {
    auto hit = keys_.find(&field);
    if (hit != keys_.end()) return hit->second.get();
    Ref key = Ref::steal(
        PyUnicode_FromStringAndSize(field.name.data(), static_cast<Py_ssize_t>(field.name.size())));
    if (!key) return nullptr;
    return keys_.emplace(&field, std::move(key)).first->second.get();
  }

 private:
  absl::flat_hash_map<const RecordField*, Ref> keys_;
};

}  // namespace qx
