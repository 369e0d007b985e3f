// repr() of any object without running the native stack out: deep containers are measured first.
#pragma once

#include <Python.h>

#include <cstddef>

#include "py/ref.h"

namespace qx {

// PyObject_Repr of `obj`, or null with RecursionError set when the repr of
// its nested builtin containers would need more native stack than the
// thread has left. CPython reprs lists, tuples, dicts and sets by native
// recursion, bounded only by its own C recursion count, which a small
// thread stack cannot hold.
Ref repr_within_stack(PyObject* obj);

// repr_within_stack(obj) as it goes on a thread with `room` bytes of native
// stack left above the guard's margin (a room taken earlier, with
// stack_room()); this thread must have at least that much left now.
Ref repr_within_room(PyObject* obj, size_t room);

// Native stack that CPython's repr spends on one level of `obj` when it is
// a list, tuple, dict, set or frozenset (or a subclass keeping that repr);
// 0 for everything else. The measure charges each container on a path by it.
size_t repr_level_cost(PyObject* obj);

// Whether `room` holds CPython's own repr nesting limit of the costliest
// level: a repr then needs no measure, CPython stops it first.
bool repr_room_is_ample(size_t room);

}  // namespace qx
