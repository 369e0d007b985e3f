// Enum members as literals: whether a member is the one value of its class equal to it.
#include "algebra/enum_member.h"

#include <iterator>
#include <utility>

#include "py/once_cell.h"
#include "py/result.h"

namespace qx {

namespace {

// Names whose definition in a class written in Python could give a member a
// `_value_` other than its content.
constexpr const char* kValueHooks[] = {"_value_", "__getattr__", "__getattribute__", "__setattr__"};

// What enum classes are compared with, read once from the enum module, and
// the names looked up in their dicts.
struct EnumMachinery {
  Ref enum_type;  // EnumType: the metaclass whose lookups and calls are known
  Ref enum_class;
  Ref flag_class;
  Ref str_enum_maker;  // StrEnum's `_new_member_`, inherited by its subclasses
  Ref eq;
  Ref missing;
  Ref member_type;
  Ref new_member;
  Ref new_name;
  Ref value_hooks[std::size(kValueHooks)];
};

OnceCell<EnumMachinery> machinery_cell;

Result<Ref> interned(const char* text) { return checked(PyUnicode_InternFromString(text)); }

Result<Ref> attribute(PyObject* obj, const char* name) {
  return checked(PyObject_GetAttrString(obj, name));
}

Result<EnumMachinery> init_enum_machinery() {
  QX_ASSIGN(Ref module, checked(PyImport_ImportModule("enum")));
  EnumMachinery m;
  QX_ASSIGN(m.enum_class, attribute(module.get(), "Enum"));
  QX_ASSIGN(m.flag_class, attribute(module.get(), "Flag"));
  QX_ASSIGN(Ref str_enum, attribute(module.get(), "StrEnum"));
  QX_ASSIGN(m.str_enum_maker, attribute(str_enum.get(), "_new_member_"));
  m.enum_type = Ref::borrow(reinterpret_cast<PyObject*>(Py_TYPE(m.enum_class.get())));
  QX_ASSIGN(m.eq, interned("__eq__"));
  QX_ASSIGN(m.missing, interned("_missing_"));
  QX_ASSIGN(m.member_type, interned("_member_type_"));
  QX_ASSIGN(m.new_member, interned("_new_member_"));
  QX_ASSIGN(m.new_name, interned("__new__"));
  for (size_t i = 0; i < std::size(kValueHooks); ++i) {
    QX_ASSIGN(m.value_hooks[i], interned(kValueHooks[i]));
  }
  return m;
}

PyObject* as_object(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

// A class's own dict entry, read without descriptors: 1 found, 0 absent,
// -1 unreadable (the error dropped).
int own_entry(PyObject* dict, PyObject* name, Ref& out) {
  PyObject* value = nullptr;
  const int found = PyDict_GetItemRef(dict, name, &value);
  out = Ref::steal(value);
  if (found < 0) PyErr_Clear();
  return found;
}

// The class's MRO, when it is a tuple of classes.
Ref class_mro(PyTypeObject* cls) {
  Ref mro = Ref::borrow(cls->tp_mro);
  if (!mro || !PyTuple_Check(mro.get())) return Ref();
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro.get()); ++i) {
    if (!PyType_Check(PyTuple_GET_ITEM(mro.get(), i))) return Ref();
  }
  return mro;
}

PyTypeObject* mro_class(PyObject* mro, Py_ssize_t i) {
  return reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
}

// A class written in Python, or a heap type of an extension: its methods may
// do anything.
bool is_python_class(PyTypeObject* type) { return PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE); }

// The class's own dict, or null.
Ref class_dict(PyTypeObject* type) {
  Ref dict = Ref::steal(PyType_GetDict(type));
  return dict && PyDict_Check(dict.get()) ? std::move(dict) : Ref();
}

// Whether a class dict holds `name`: 1, 0, or -1 when unreadable.
int defines(const Ref& dict, PyObject* name) {
  if (!dict) return -1;
  Ref entry;
  return own_entry(dict.get(), name, entry);
}

// The first class of the MRO defining __eq__, which decides how members
// compare; null when a class written in Python defines one anywhere (enum's
// own classes define none), or a dict cannot be read.
PyObject* builtin_eq_owner(PyObject* mro, const EnumMachinery& m) {
  PyObject* owner = nullptr;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
    PyTypeObject* type = mro_class(mro, i);
    const int found = defines(class_dict(type), m.eq.get());
    if (found < 0 || (found == 1 && is_python_class(type))) return nullptr;
    if (found == 1 && owner == nullptr) owner = as_object(type);
  }
  return owner;
}

// Whether the class looks up unknown values with Enum's or Flag's own
// `_missing_`, and no class written in Python defines a `_value_` hook.
bool enum_lookups_and_values(PyObject* mro, const EnumMachinery& m) {
  bool missing_seen = false;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
    PyTypeObject* type = mro_class(mro, i);
    const Ref dict = class_dict(type);
    if (!missing_seen) {
      const int found = defines(dict, m.missing.get());
      if (found < 0) return false;
      missing_seen = found == 1;
      if (missing_seen && as_object(type) != m.enum_class.get() &&
          as_object(type) != m.flag_class.get()) {
        return false;
      }
    }
    if (!is_python_class(type)) continue;
    for (const Ref& hook : m.value_hooks) {
      if (defines(dict, hook.get()) != 0) return false;
    }
  }
  return missing_seen;
}

// The builtin scalars whose equality reads only their immutable content and
// runs no Python code.
bool is_content_scalar(PyObject* type) {
  return type == as_object(&PyLong_Type) || type == as_object(&PyUnicode_Type) ||
         type == as_object(&PyFloat_Type) || type == as_object(&PyBytes_Type) ||
         type == as_object(&PyComplex_Type);
}

// Whether members compared by the content of `scalar` are one object per
// content. enum's own machinery makes a member with `scalar`'s own __new__
// (or StrEnum's) and files it under `_value_` = scalar(*args), its very
// content, so an equal content finds the member already filed: the later
// name becomes an alias, a flag combination is made once, a lookup by value
// returns the filed member, and Enum's and Flag's `_missing_` make nothing
// else. A maker, `_missing_` or `_value_` hook of the class's own could break
// each step.
bool one_member_per_content(PyTypeObject* cls, PyObject* mro, PyObject* scalar,
                            const EnumMachinery& m) {
  if (!is_content_scalar(scalar) || !enum_lookups_and_values(mro, m)) return false;
  const Ref dict = class_dict(cls);
  const Ref scalar_dict = class_dict(reinterpret_cast<PyTypeObject*>(scalar));
  if (!dict || !scalar_dict) return false;
  Ref member_type;
  Ref maker;
  Ref scalar_new;
  if (own_entry(dict.get(), m.member_type.get(), member_type) != 1 ||
      own_entry(dict.get(), m.new_member.get(), maker) != 1 ||
      own_entry(scalar_dict.get(), m.new_name.get(), scalar_new) != 1) {
    return false;
  }
  if (member_type.get() != scalar) return false;
  return maker.get() == scalar_new.get() ||
         (scalar == as_object(&PyUnicode_Type) && maker.get() == m.str_enum_maker.get());
}

// Most literals are of a class made by `type`: no enum, and no import.
bool made_by_type(PyTypeObject* cls) { return Py_IS_TYPE(as_object(cls), &PyType_Type); }

}  // namespace

bool EnumMemberReadings::read(PyObject* value) {
  PyTypeObject* cls = Py_TYPE(value);
  if (made_by_type(cls)) return false;
  const auto [entry, fresh] = by_class_.try_emplace(cls, false);
  if (fresh) entry->second = is_sole_equal_enum_member(value);
  last_class_ = cls;
  last_sole_ = entry->second;
  return last_sole_;
}

bool is_sole_equal_enum_member(PyObject* value) {
  PyTypeObject* cls = Py_TYPE(value);
  if (made_by_type(cls)) return false;
  Result<const EnumMachinery*> got = machinery_cell.get(init_enum_machinery);
  if (!got.ok()) return false;  // the error is dropped with `got`
  const EnumMachinery& m = *got.value();
  if (as_object(Py_TYPE(cls)) != m.enum_type.get() || !PyType_Check(m.enum_class.get()) ||
      !PyType_IsSubtype(cls, reinterpret_cast<PyTypeObject*>(m.enum_class.get()))) {
    return false;
  }
  Ref mro = class_mro(cls);
  if (!mro) return false;
  PyObject* eq_owner = builtin_eq_owner(mro.get(), m);
  if (eq_owner == nullptr) return false;
  // object's __eq__ is identity: the member alone equals itself.
  if (eq_owner == as_object(&PyBaseObject_Type)) return true;
  return one_member_per_content(cls, mro.get(), eq_owner, m);
}

}  // namespace qx
