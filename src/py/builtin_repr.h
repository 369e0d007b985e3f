// The start of the repr of a value of builtin containers and scalars, written without CPython's
// repr.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx {

enum class BuiltinRepr : uint8_t {
  Written,  // the repr's text, whole or its first characters, is in `out`
  Raises,   // the repr would raise: RecursionError, or an int too long to write
  Unsure,   // only CPython's repr can tell: a value that is not builtin throughout
};

// What repr_within_room(obj, room) gives for a value made of exact lists,
// tuples, dicts, sets and frozensets holding None, bools and exact ints,
// floats, strs and bytes: its first `chars` characters (all of them when it
// is no longer), or whether it raises. Costs the value's size, whatever its
// depth: CPython's repr copies each level's text into the one above, so a
// value nested n deep costs it n * n, and its cycle guard as much again.
//
// The value's items are read from the containers' own storage and the
// scalars' own reprs are called directly, so no Python code runs. Unsure,
// having written nothing useful, for any other object in the value, or
// where CPython's repr of it would not go as it goes here (inside a repr
// already on this thread, or while CPython handles a stack overflow).
BuiltinRepr builtin_repr_prefix(PyObject* obj, size_t room, size_t chars, std::string& out);

}  // namespace qx
