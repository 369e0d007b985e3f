// Argument extraction for fast-call entries, with the interpreter's usual messages.
#include "py/args.h"

#include <string>
#include <vector>

#include "absl/strings/str_cat.h"

namespace qx {

namespace {

Error too_many_positional(const Signature& sig, Py_ssize_t given) {
  const char* verb = given == 1 ? "was" : "were";
  if (sig.required == sig.positional) {
    return type_error(absl::StrCat(sig.function, " takes ", sig.positional,
                                   " positional arguments but ", given, " ", verb, " given"));
  }
  return type_error(absl::StrCat(sig.function, " takes from ", sig.required, " to ", sig.positional,
                                 " positional arguments but ", given, " ", verb, " given"));
}

std::string keyword_text(PyObject* name) {
  Ref text = Ref::steal(PyObject_Str(name));
  if (!text) {
    PyErr_Clear();
    return "?";
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (data == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return std::string(data, static_cast<size_t>(size));
}

Error missing(const Signature& sig, const std::vector<const char*>& names, const char* kind) {
  std::string list;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() == 2) {
        list += " and ";
      } else if (i + 1 == names.size()) {
        list += ", and ";
      } else {
        list += ", ";
      }
    }
    absl::StrAppend(&list, "'", names[i], "'");
  }
  return type_error(absl::StrCat(sig.function, " missing ", names.size(), " required ", kind,
                                 names.size() == 1 ? " argument: " : " arguments: ", list));
}

// Assigns one keyword; `index` is the matching parameter or -1.
Status assign_keyword(const Signature& sig, PyObject* name, PyObject* value, PyObject** out) {
  for (size_t i = 0; i < sig.names.size(); ++i) {
    if (PyUnicode_Check(name) && PyUnicode_EqualToUTF8(name, sig.names[i])) {
      if (out[i] != nullptr) {
        return type_error(
            absl::StrCat(sig.function, " got multiple values for argument '", sig.names[i], "'"));
      }
      out[i] = value;
      return Status::success();
    }
  }
  return type_error(
      absl::StrCat(sig.function, " got an unexpected keyword argument '", keyword_text(name), "'"));
}

Status check_missing(const Signature& sig, PyObject** out) {
  std::vector<const char*> absent;
  for (int i = 0; i < sig.required; ++i) {
    if (out[i] == nullptr) absent.push_back(sig.names[static_cast<size_t>(i)]);
  }
  if (!absent.empty()) return missing(sig, absent, "positional");
  return Status::success();
}

Status take_positionals(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                        PyObject** out, Ref* star) {
  for (size_t i = 0; i < sig.names.size(); ++i) out[i] = nullptr;
  Py_ssize_t taken = nargs < sig.positional ? nargs : sig.positional;
  for (Py_ssize_t i = 0; i < taken; ++i) out[i] = args[i];
  if (nargs > sig.positional) {
    if (!sig.star) return too_many_positional(sig, nargs);
    QX_ASSIGN(*star, checked(PyTuple_New(nargs - taken)));
    for (Py_ssize_t i = taken; i < nargs; ++i) {
      PyTuple_SET_ITEM(star->get(), i - taken, Py_NewRef(args[i]));
    }
  } else if (sig.star) {
    QX_ASSIGN(*star, checked(PyTuple_New(0)));
  }
  return Status::success();
}

}  // namespace

Status parse_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, PyObject** out, Ref* star) {
  nargs = PyVectorcall_NARGS(static_cast<size_t>(nargs));
  QX_TRY(take_positionals(sig, args, nargs, out, star));
  if (kwnames != nullptr) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      QX_TRY(assign_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out));
    }
  }
  return check_missing(sig, out);
}

Status parse_tuple_dict(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
  QX_TRY(take_positionals(sig, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), out, nullptr));
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      QX_TRY(assign_keyword(sig, key, value, out));
    }
  }
  return check_missing(sig, out);
}

Error with_argument_note(Error error, const char* name) {
  Ref note = Ref::steal(PyUnicode_FromFormat("while processing '%s'", name));
  if (!note) return Error::fetch();
  Ref done = Ref::steal(PyObject_CallMethod(error.get(), "add_note", "O", note.get()));
  if (!done) return Error::fetch();
  return error;
}

Result<bool> extract_fail_fast(PyObject* value) {
  if (value == nullptr) return false;
  if (Py_IS_TYPE(value, &PyBool_Type)) return value == Py_True;
  PyTypeObject* type = Py_TYPE(value);
  Ref module = Ref::steal(PyType_GetModuleName(type));
  if (!module) PyErr_Clear();
  if (module && PyUnicode_Check(module.get()) && PyUnicode_EqualToUTF8(module.get(), "numpy")) {
    Ref name = Ref::steal(PyType_GetName(type));
    if (!name) PyErr_Clear();
    if (name &&
        (PyUnicode_EqualToUTF8(name.get(), "bool_") || PyUnicode_EqualToUTF8(name.get(), "bool"))) {
      inquiry truth = type->tp_as_number ? type->tp_as_number->nb_bool : nullptr;
      if (truth == nullptr) {
        return with_argument_note(
            type_error(absl::StrCat("object of type '", PyUnicode_AsUTF8(name.get()),
                                    "' does not define a '__bool__' conversion")),
            "fail_fast");
      }
      int r = truth(value);
      if (r < 0) return with_argument_note(Error::fetch(), "fail_fast");
      return r == 1;
    }
  }
  Ref name = Ref::steal(PyType_GetName(type));
  const char* text = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
  if (text == nullptr) {
    PyErr_Clear();
    text = "?";
  }
  return with_argument_note(
      type_error(absl::StrCat("'", text, "' object is not an instance of 'bool'")), "fail_fast");
}

}  // namespace qx
