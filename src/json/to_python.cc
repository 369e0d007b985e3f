// Python objects for values of a parsed JSON tree, made where a check needs one.
#include <Python.h>

#include "json/bigint.h"
#include "json/build_python.h"
#include "json/value.h"
#include "py/stack.h"

namespace qx::json {

namespace {

Result<Ref> reuse_or_convert(const Value& value, const MadeValues* made) {
  if (made != nullptr) {
    if (PyObject* found = made->find(value)) return Ref::borrow(found);
  }
  return json_value_to_python(value, made);
}

}  // namespace

// Recursion is bounded by the parser's nesting limit: a tree is never deeper
// than kMaxDepth + 1 levels; a walk may ask for it where little stack is left.
Result<Ref> json_value_to_python(const Value& value, const MadeValues* made) {
  if (stack_exhausted()) return stack_exhausted_error();
  switch (value.kind) {
    case Kind::Null:
      return Ref::borrow(Py_None);
    case Kind::Bool:
      return Ref::borrow(value.boolean ? Py_True : Py_False);
    case Kind::Int:
      return checked(PyLong_FromLongLong(value.integer));
    case Kind::BigInt:
      return decimal_to_int(value.string());
    case Kind::Float:
      return checked(PyFloat_FromDouble(value.number));
    case Kind::String: {
      Ref str = new_str(value.text, value.size, false);
      if (!str) return Error::fetch();
      return str;
    }
    case Kind::Array: {
      QX_ASSIGN(Ref list, checked(PyList_New(static_cast<Py_ssize_t>(value.size))));
      for (size_t i = 0; i < value.size; ++i) {
        QX_ASSIGN(Ref item, reuse_or_convert(value.items[i], made));
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
      }
      return list;
    }
    case Kind::Object: {
      QX_ASSIGN(Ref dict, checked(PyDict_New()));
      for (size_t i = 0; i < value.size; ++i) {
        const Member& member = value.members[i];
        QX_ASSIGN(Ref item, reuse_or_convert(member.value, made));
        Ref key = new_str(member.key.data(), member.key.size(), false);
        if (!key) return Error::fetch();
        if (PyDict_SetItem(dict.get(), key.get(), item.get()) < 0) return Error::fetch();
      }
      return dict;
    }
  }
  return runtime_error("unknown JSON value kind");
}

}  // namespace qx::json
