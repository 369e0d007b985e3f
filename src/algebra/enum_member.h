// Enum members as literals: whether a member is the one value of its class equal to it.
#pragma once

#include <Python.h>

#include "absl/container/flat_hash_map.h"

namespace qx {

// True when `value` is an enum member that no other object of its exact type
// compares equal to, so the walk of that one value speaks for its literal:
// the class compares by identity, or by the content of a builtin scalar whose
// members the enum machinery keeps one per content (an alias is the same
// object, a flag combination is made once). False for anything else, and
// wherever that cannot be read from class dicts alone: a metaclass other than
// enum's own, an `__eq__` written in Python, or under content comparison a
// member maker, `_missing_` or attribute hook of the class's own. Objects
// built around the enum machinery (`int.__new__(Num, 1)`) are not its values.
// Reads class dicts, calling no method or descriptor (the first use imports
// `enum`); never raises.
bool is_sole_equal_enum_member(PyObject* value);

// is_sole_equal_enum_member over the literals of one decision, which meets
// the members of one class again at many steps: each class is read once,
// and its reading kept until code of the user's may have run, which alone
// could change a class (its dicts, bases or metaclass) since.
class EnumMemberReadings {
 public:
  bool sole_equal(PyObject* value) {
    return Py_TYPE(value) == last_class_ ? last_sole_ : read(value);
  }
  // Drops every reading; called once code of the user's may have run.
  void forget() {
    last_class_ = nullptr;
    if (!by_class_.empty()) by_class_.clear();
  }

 private:
  bool read(PyObject* value);

  absl::flat_hash_map<PyTypeObject*, bool> by_class_;
  // The class read last and its reading: most steps ask about the class of
  // the step before.
  PyTypeObject* last_class_ = nullptr;
  bool last_sole_ = false;
};

}  // namespace qx
