// Texts that stand for values and classes inside errors, messages and annotation text.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace qx {

// The first `limit` characters (Unicode scalar values) of `text` and "...",
// or `text` itself when it is no longer than that.
std::string truncate_text(std::string_view text, size_t limit);

// repr(obj) cut to 80 characters; "<unrepresentable>" when repr raises (the
// exception is cleared). Never fails.
std::string repr_text(PyObject* obj);

// repr_text(obj), its repr measured against `room` bytes of native stack
// (a room taken with stack_room() on this thread, no more than it has now).
std::string repr_text_within(PyObject* obj, size_t room);

// repr_text_within(obj, room), for a value held since the room was taken
// and that nothing has changed meanwhile. A value of builtin containers and
// scalars is written natively, only as far as the cut, in time linear in
// its size however deep it nests.
std::string held_repr_text(PyObject* obj, size_t room);

// The class's __name__, whole; its repr_text when __name__ is unusable.
std::string class_name_text(PyObject* cls);

// UTF-8 text of a str, with lone surrogates made U+FFFD (three per
// surrogate); empty with the exception cleared when even that fails.
std::string lossy_utf8(PyObject* str);

}  // namespace qx
