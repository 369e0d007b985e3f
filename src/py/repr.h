// repr() of any object without running the native stack out: deep containers are measured first.
#pragma once

#include <Python.h>

#include "py/ref.h"

namespace qx {

// PyObject_Repr of `obj`, or null with RecursionError set when the repr of
// its nested builtin containers would need more native stack than the
// thread has left. CPython reprs lists, tuples, dicts and sets by native
// recursion, bounded only by its own C recursion count, which a small
// thread stack cannot hold.
Ref repr_within_stack(PyObject* obj);

}  // namespace qx
