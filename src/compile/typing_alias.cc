// Typing aliases read natively: the spec compiler's probes of typing's own alias objects.
#include "compile/frontend.h"

namespace qx {

namespace {

// The origins an interpreter alias (list[int]) may have here: it relays
// every other attribute lookup, __metadata__ included, to its origin, and on
// these static types such a lookup runs no Python code and finds nothing.
bool is_builtin_container(PyObject* origin) {
  return origin == reinterpret_cast<PyObject*>(&PyList_Type) ||
         origin == reinterpret_cast<PyObject*>(&PySet_Type) ||
         origin == reinterpret_cast<PyObject*>(&PyFrozenSet_Type) ||
         origin == reinterpret_cast<PyObject*>(&PyDict_Type) ||
         origin == reinterpret_cast<PyObject*>(&PyTuple_Type);
}

// Whether the module's global `name` is still `original`. Read from the
// module's own dict, as the attribute lookup of a plain module would find
// it: a patched typing.get_origin is called, as its patcher wants.
bool module_holds(PyObject* module, PyObject* name, const Ref& original) {
  if (!original || !PyModule_CheckExact(module)) return false;
  PyObject* dict = PyModule_GetDict(module);
  PyObject* current = nullptr;
  if (PyDict_GetItemRef(dict, name, &current) < 0) {
    PyErr_Clear();
    return false;
  }
  Ref holder = Ref::steal(current);
  return current == original.get();
}

// Whether an object holds `name` in its own __dict__. typing's alias classes
// define no __metadata__ and their __getattr__ relays no dunder name, so
// only an attribute set on the alias itself could answer the probe.
Result<bool> in_own_dict(PyObject* obj, PyObject* name) {
  Ref dict = Ref::steal(PyObject_GenericGetDict(obj, nullptr));
  if (!dict) return Error::fetch();
  PyObject* value = nullptr;
  const int found = PyDict_GetItemRef(dict.get(), name, &value);
  Ref holder = Ref::steal(value);
  if (found < 0) return Error::fetch();
  return found == 1;
}

}  // namespace

Result<bool> read_typing_alias(PyObject* spec, PyObject* typing, const TypingCache& cache,
                               Ref& origin, Ref& args) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(spec));
  const bool interpreter_alias = type == reinterpret_cast<PyObject*>(&Py_GenericAliasType);
  const bool union_type = type == cache.union_type.get();
  const bool typing_alias = type == cache.generic_alias.get() ||
                            type == cache.union_generic_alias.get() ||
                            type == cache.literal_generic_alias.get();
  if (!interpreter_alias && !union_type && !typing_alias) return false;
  const InternedNames& names = cache.names;
  if (!module_holds(typing, names.get_origin.get(), cache.get_origin) ||
      !module_holds(typing, names.get_args.get(), cache.get_args)) {
    return false;
  }
  if (typing_alias) {
    QX_ASSIGN(bool annotated, in_own_dict(spec, names.metadata.get()));
    if (annotated) return false;
  }
  // get_origin answers types.UnionType for X | Y and the alias's __origin__
  // for the others; get_args answers __args__, except that it rebuilds the
  // parameter list of a Callable, which is left to it.
  if (union_type) {
    origin = Ref::borrow(type);
  } else {
    QX_ASSIGN(origin, checked(PyObject_GetAttr(spec, names.origin.get())));
    if ((interpreter_alias && !is_builtin_container(origin.get())) ||
        origin.get() == cache.callable.get() || origin.get() == Py_None) {
      origin.reset();
      return false;
    }
  }
  QX_ASSIGN(args, checked(PyObject_GetAttr(spec, names.args.get())));
  if (!PyTuple_Check(args.get())) return conversion_error(args.get(), "tuple");
  return true;
}

}  // namespace qx
