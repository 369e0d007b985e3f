// The extension module: its definition and the exec step that publishes its attributes.
#include <Python.h>

#include "compile/compile.h"
#include "compile/limits.h"
#include "exception/validation_error.h"
#include "py/boundary.h"
#include "validator/entries.h"
#include "validator/validator.h"

namespace qx {

namespace {

constexpr const char kModuleDoc[] =
    "The `quendrix._quendrix` extension module.\n\n"
    "It declares itself free-threading-ready (the Py_mod_gil slot), so a "
    "free-threaded interpreter keeps the global interpreter lock disabled on "
    "import. That is sound because a Validator is frozen: its schema, constants "
    "pool and definitions never change after construction; its only lazy state "
    "is a once-initialised precompute that holds no Python objects and whose "
    "initialisation is serialised; and the validation walk keeps its recursion "
    "guard in a per-call local, so no two threads share mutable walk state.";

// Appends `name` to __all__ and sets the attribute; `value` is consumed.
Status add_attribute(PyObject* module, const char* name, Ref value) {
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return Error::fetch();
    PyErr_Clear();
    QX_ASSIGN(all, checked(PyList_New(0)));
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return Error::fetch();
  }
  if (!PyList_Check(all.get())) return type_error("'__all__' is not a list");
  QX_ASSIGN(Ref key, checked(PyUnicode_FromString(name)));
  if (PyList_Append(all.get(), key.get()) < 0) return Error::fetch();
  if (PyObject_SetAttr(module, key.get(), value.get()) < 0) return Error::fetch();
  return Status::success();
}

Status add_module_attributes(PyObject* module) {
  QX_ASSIGN(PyObject * error_type, validation_error_type());
  QX_TRY(add_attribute(module, "ValidationError", Ref::borrow(error_type)));
  QX_ASSIGN(PyObject * type, validator_type());
  QX_TRY(add_attribute(module, "Validator", Ref::borrow(type)));
  QX_ASSIGN(Ref module_name, checked(PyModule_GetNameObject(module)));
  for (PyMethodDef* def = module_functions; def->ml_name != nullptr; ++def) {
    QX_ASSIGN(Ref fn, checked(PyCMethod_New(def, module, module_name.get(), nullptr)));
    QX_ASSIGN(Ref fname, checked(PyObject_GetAttrString(fn.get(), "__name__")));
    const char* text = PyUnicode_Check(fname.get()) ? PyUnicode_AsUTF8(fname.get()) : nullptr;
    if (text == nullptr) return Error::fetch();
    QX_TRY(add_attribute(module, text, std::move(fn)));
  }
  QX_ASSIGN(Ref anything, validator_from_node(make_leaf(NodeKind::Anything)));
  QX_TRY(add_attribute(module, "anything", std::move(anything)));
  QX_ASSIGN(Ref nothing, validator_from_node(make_leaf(NodeKind::Nothing)));
  QX_TRY(add_attribute(module, "nothing", std::move(nothing)));
  const std::pair<const char*, uint64_t> limits[] = {
      {"MAX_SCHEMA_DEPTH", MAX_SCHEMA_DEPTH},
      {"MAX_DEFINITIONS", MAX_DEFINITIONS},
      {"MAX_SCHEMA_NODES", MAX_SCHEMA_NODES},
  };
  for (const auto& [name, value] : limits) {
    QX_ASSIGN(Ref number, checked(PyLong_FromUnsignedLongLong(value)));
    QX_TRY(add_attribute(module, name, std::move(number)));
  }
  return Status::success();
}

int module_exec(PyObject* module) {
  return boundary_value<int>(-1, [&]() -> Result<int> {
    if (!PyModule_Check(module)) return type_error("'object' is not an instance of 'module'");
    set_validator_lookup(borrow_validator);
    QX_TRY(add_module_attributes(module));
    return 0;
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_quendrix", kModuleDoc, 0,       nullptr,
    module_slots,          nullptr,     nullptr,    nullptr,
};

}  // namespace

}  // namespace qx

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__quendrix(void) {
  return PyModuleDef_Init(&qx::module_def);
}
