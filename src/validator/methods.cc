// The Validator method table: argument extraction around each method's work.
#include "algebra/algebra.h"
#include "check/check.h"
#include "py/args.h"
#include "py/boundary.h"
#include "validator/entries.h"
#include "validator/json_entries.h"
#include "validator/validator.h"

namespace qx {

namespace {

const CompiledSchema& schema_of(PyObject* self) {
  return reinterpret_cast<ValidatorObject*>(self)->schema;
}

Ref bool_ref(bool v) { return Ref::borrow(v ? Py_True : Py_False); }

constexpr const char* kObjFailFast[] = {"obj", "fail_fast"};
constexpr const char* kDataFailFast[] = {"data", "fail_fast"};
constexpr const char* kObj[] = {"obj"};
constexpr const char* kData[] = {"data"};
constexpr const char* kOther[] = {"other"};
constexpr const char* kMemo[] = {"_memo"};

PyObject* validator_validate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    static const Signature sig{"Validator.validate()", kObjFailFast, 1, 1};
    PyObject* a[2];
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, a));
    QX_ASSIGN(bool fail_fast, extract_fail_fast(a[1]));
    QX_TRY(validate_impl(schema_of(self), a[0], fail_fast));
    return Ref::borrow(Py_None);
  });
}

PyObject* validator_is_valid(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    PyObject* obj = nullptr;
    if (kwnames == nullptr && PyVectorcall_NARGS(static_cast<size_t>(nargs)) == 1) {
      obj = args[0];  // the common call needs no matching
    } else {
      static const Signature sig{"Validator.is_valid()", kObj, 1, 1};
      QX_TRY(parse_fastcall(sig, args, nargs, kwnames, &obj));
    }
    QX_ASSIGN(bool verdict, is_valid_impl(schema_of(self), obj));
    return bool_ref(verdict);
  });
}

PyObject* validator_ensure(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    static const Signature sig{"Validator.ensure()", kObj, 1, 1};
    PyObject* obj = nullptr;
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, &obj));
    QX_TRY(validate_impl(schema_of(self), obj, false));
    return Ref::borrow(obj);
  });
}

PyObject* validator_validate_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    static const Signature sig{"Validator.validate_json()", kDataFailFast, 1, 1};
    PyObject* a[2];
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, a));
    QX_ASSIGN(bool fail_fast, extract_fail_fast(a[1]));
    QX_TRY(validate_json_impl(schema_of(self), a[0], fail_fast));
    return Ref::borrow(Py_None);
  });
}

PyObject* validator_load(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    static const Signature sig{"Validator.load()", kDataFailFast, 1, 1};
    PyObject* a[2];
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, a));
    QX_ASSIGN(bool fail_fast, extract_fail_fast(a[1]));
    return load_impl(schema_of(self), a[0], fail_fast);
  });
}

PyObject* validator_is_valid_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    static const Signature sig{"Validator.is_valid_json()", kData, 1, 1};
    PyObject* data = nullptr;
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, &data));
    QX_ASSIGN(bool verdict, is_valid_json_impl(schema_of(self), data));
    return bool_ref(verdict);
  });
}

PyObject* validator_is_empty(PyObject* self, PyObject*) {
  return boundary([&]() -> Result<Ref> { return bool_ref(is_empty_impl(schema_of(self))); });
}

template <Result<bool> (*Decide)(const CompiledSchema&, PyObject*)>
PyObject* validator_decision(const Signature& sig, PyObject* self, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    PyObject* other = nullptr;
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, &other));
    QX_ASSIGN(bool verdict, Decide(schema_of(self), other));
    return bool_ref(verdict);
  });
}

PyObject* validator_is_subtype_of(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  static const Signature sig{"Validator.is_subtype_of()", kOther, 1, 1};
  return validator_decision<is_subtype_of_impl>(sig, self, args, nargs, kwnames);
}

PyObject* validator_is_equivalent(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  static const Signature sig{"Validator.is_equivalent()", kOther, 1, 1};
  return validator_decision<is_equivalent_impl>(sig, self, args, nargs, kwnames);
}

Result<Ref> copy_impl(PyObject* self) {
  return create_validator_object(clone_compiled_schema(schema_of(self)));
}

PyObject* validator_copy(PyObject* self, PyObject*) {
  return boundary([&]() -> Result<Ref> { return copy_impl(self); });
}

PyObject* validator_deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    static const Signature sig{"Validator.__deepcopy__()", kMemo, 1, 1};
    PyObject* memo = nullptr;  // ignored: the copy shares every pooled object
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, &memo));
    return copy_impl(self);
  });
}

template <Result<CompiledSchema> (*Rewrite)(const CompiledSchema&)>
PyObject* validator_rewrite(PyObject* self, PyObject*) {
  return boundary([&]() -> Result<Ref> {
    QX_ASSIGN(CompiledSchema schema, Rewrite(schema_of(self)));
    return create_validator_object(std::move(schema));
  });
}

#define QX_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))

}  // namespace

PyMethodDef validator_methods[] = {
    {"validate", QX_FASTCALL(validator_validate), METH_FASTCALL | METH_KEYWORDS,
     "validate($self, obj, *, fail_fast=False)\n--\n\n"
     "Validate `obj`, raising `ValidationError` if it is not a member of the\nschema's set.\n\n"
     "The check never copies or coerces `obj`; it returns None for a member and\n"
     "otherwise raises `ValidationError` listing every failure with a code and a\n"
     "path. With `fail_fast=True` the check stops at the first failure."},
    {"is_valid", QX_FASTCALL(validator_is_valid), METH_FASTCALL | METH_KEYWORDS,
     "is_valid($self, obj)\n--\n\n"
     "Whether `obj` is a member of the schema's set.\n\n"
     "Builds no error and returns as soon as membership is decided. An ordinary\n"
     "exception raised by a comparison folds to non-membership; only a fatal one\n"
     "(not an `Exception`, or a `MemoryError` or `RecursionError`) is raised."},
    {"ensure", QX_FASTCALL(validator_ensure), METH_FASTCALL | METH_KEYWORDS,
     "ensure($self, obj)\n--\n\n"
     "Validate `obj` and return it unchanged.\n\n"
     "Returns the very object it was given; raises `ValidationError` as\n`validate` does."},
    {"validate_json", QX_FASTCALL(validator_validate_json), METH_FASTCALL | METH_KEYWORDS,
     "validate_json($self, data, *, fail_fast=False)\n--\n\n"
     "Validate a JSON document (a str or bytes), parsed natively.\n\n"
     "Reaches the same decision and errors as `validate` on the parsed object;\n"
     "malformed or undecodable JSON raises `ValidationError` with code\n"
     "`json_invalid`, and `data` that is neither str nor bytes raises `TypeError`."},
    {"load", QX_FASTCALL(validator_load), METH_FASTCALL | METH_KEYWORDS,
     "load($self, data, *, fail_fast=False)\n--\n\n"
     "Validate a JSON document and return the parsed value.\n\n"
     "Errors are those of `validate_json`."},
    {"is_valid_json", QX_FASTCALL(validator_is_valid_json), METH_FASTCALL | METH_KEYWORDS,
     "is_valid_json($self, data)\n--\n\n"
     "Whether a JSON document parses and is a member of the schema's set.\n\n"
     "Malformed JSON and input of another type answer False; only a fatal\n"
     "exception is raised."},
    {"is_empty", validator_is_empty, METH_NOARGS,
     "is_empty($self)\n--\n\n"
     "Whether the schema is unsatisfiable — provably empty, so `is_valid`\n"
     "returns `False` for every value.\n\n"
     "Sound: True only when proven; False when undecided or when the work\n"
     "budget runs out."},
    {"is_subtype_of", QX_FASTCALL(validator_is_subtype_of), METH_FASTCALL | METH_KEYWORDS,
     "is_subtype_of($self, other)\n--\n\n"
     "Whether every value of this schema is also a value of `other` — set\n"
     "inclusion, the subtyping relation.\n\n"
     "Sound: True only when proven; False when undecided or when the work\n"
     "budget runs out. May call back into Python (comparisons of bounds; a\n"
     "predicate when a literal is tested against a refinement)."},
    {"is_equivalent", QX_FASTCALL(validator_is_equivalent), METH_FASTCALL | METH_KEYWORDS,
     "is_equivalent($self, other)\n--\n\n"
     "Whether this schema and `other` denote the same set — mutual inclusion.\n\n"
     "Sound: True only when proven; False when undecided or when the work\n"
     "budget runs out."},
    {"__copy__", validator_copy, METH_NOARGS,
     "__copy__($self)\n--\n\n"
     "Return an equivalent validator.\n\nThe copy shares the pooled constants, classes and "
     "predicates."},
    {"__deepcopy__", QX_FASTCALL(validator_deepcopy), METH_FASTCALL | METH_KEYWORDS,
     "__deepcopy__($self, _memo)\n--\n\n"
     "Deep-copy to an equivalent validator.\n\n"
     "The copy shares the pooled constants, classes and predicates; the memo is ignored."},
    {"open", validator_rewrite<open_impl>, METH_NOARGS,
     "open($self)\n--\n\n"
     "Open every record in the schema: undeclared keys are admitted throughout,\n"
     "including inside recursive definitions.\n\n"
     "Returns a new validator; this one is unchanged. Raises `ValueError` when\n"
     "the result breaches a size limit."},
    {"close", validator_rewrite<close_impl>, METH_NOARGS,
     "close($self)\n--\n\n"
     "Close every record in the schema: only declared keys are admitted\n"
     "throughout, including inside recursive definitions.\n\n"
     "Returns a new validator; this one is unchanged."},
    {"simplify", validator_rewrite<simplify_impl>, METH_NOARGS,
     "simplify($self)\n--\n\n"
     "An equivalent validator reduced by the lattice laws.\n\n"
     "Returns a new validator; this one is unchanged. Raises `ValueError` when\n"
     "the result breaches a size limit."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace qx
