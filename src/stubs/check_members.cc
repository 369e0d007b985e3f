// Temporary weak stand-ins for the record, object and constraint checks until their files land.
#include "check/walk.h"

namespace qx {

[[gnu::weak]] void check_record(const SchemaNode&, ValueRef, Path&, const WalkContext&,
                                ErrorList&) {}

[[gnu::weak]] bool check_pair(ValueRef, const WalkContext&, ValueRef, const Clause&) {
  return false;
}

[[gnu::weak]] bool check_object_attributes(uint64_t, const std::vector<RecordField>&, ValueRef,
                                           Path&, const WalkContext&, ErrorList&) {
  return false;
}

[[gnu::weak]] bool check_constraint(const Constraint&, PyObject*, Path&, const WalkContext&,
                                    ErrorList&) {
  return false;
}

}  // namespace qx
