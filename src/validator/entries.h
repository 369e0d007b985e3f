// CPython entries of the Validator class and the module functions.
#pragma once

#include <Python.h>

namespace qx {

// One naming scheme: an entry CPython calls is `validator_<name>` for the
// class and `module_<name>` for a module function; the work behind an entry,
// once its arguments are extracted, is `<name>_impl`.

PyObject* validator_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
void validator_dealloc(PyObject* self);

extern PyMethodDef validator_methods[];
extern PyType_Slot validator_operator_slots[];  // repr, contains, hash, or, richcompare

// Module functions, each created with the module as `self`.
extern PyMethodDef
    module_functions[];  // union, intersection, complement, recursive; null-terminated

}  // namespace qx
