// Module functions: union, intersection, complement and recursive.
#include "algebra/algebra.h"
#include "compile/recursive.h"
#include "py/args.h"
#include "py/boundary.h"
#include "validator/entries.h"
#include "validator/validator.h"

namespace qx {

namespace {

constexpr const char* kSchema[] = {"schema"};
constexpr const char* kBuilder[] = {"builder"};

PyObject* module_union(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    static const Signature sig{"union()", {}, 0, 0, true};
    Ref schemas;
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, nullptr, &schemas));
    return union_impl(schemas.get());
  });
}

PyObject* module_intersection(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    static const Signature sig{"intersection()", {}, 0, 0, true};
    Ref schemas;
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, nullptr, &schemas));
    QX_ASSIGN(CompiledSchema schema, intersection_impl(schemas.get()));
    return create_validator_object(std::move(schema));
  });
}

PyObject* module_complement(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    static const Signature sig{"complement()", kSchema, 1, 1};
    PyObject* spec = nullptr;
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, &spec));
    QX_ASSIGN(CompiledSchema schema, complement_impl(spec));
    return create_validator_object(std::move(schema));
  });
}

PyObject* module_recursive(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    static const Signature sig{"recursive()", kBuilder, 1, 1};
    PyObject* builder = nullptr;
    QX_TRY(parse_fastcall(sig, args, nargs, kwnames, &builder));
    QX_ASSIGN(CompiledSchema schema, recursive_impl(builder, validator_from_node));
    return create_validator_object(std::move(schema));
  });
}

#define QX_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))
constexpr int kFunctionFlags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;

}  // namespace

PyMethodDef module_functions[] = {
    {"union", QX_FASTCALL(module_union), kFunctionFlags,
     "union(*schemas)\n--\n\n"
     "The union of the given schemas: a value in at least one of their sets.\n\n"
     "The members are kept as given, in order; `union()` is empty."},
    {"intersection", QX_FASTCALL(module_intersection), kFunctionFlags,
     "intersection(*schemas)\n--\n\n"
     "The intersection of the given schemas: a value in every one of their sets.\n\n"
     "The members are kept as given, in order; `intersection()` admits every value."},
    {"complement", QX_FASTCALL(module_complement), kFunctionFlags,
     "complement(schema)\n--\n\n"
     "The complement of a schema: every value not in its set.\n\n"
     "A value whose own comparison or `__eq__` raises folds to a non-member of the\n"
     "inner schema and therefore to a member of the complement, so a filter\n"
     "`complement(P)` over such values should intersect with a positive type."},
    {"recursive", QX_FASTCALL(module_recursive), kFunctionFlags,
     "recursive(builder)\n--\n\n"
     "Build a recursive schema as a checked fixpoint.\n\n"
     "`builder` receives a placeholder validator standing for the schema being\n"
     "defined and returns its body; the self-reference is resolved to a back\n"
     "edge, and a body that is not contractive (whose self-reference is not under\n"
     "a list, tuple, set, dict, record or object) is rejected."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace qx
