// Validator operators: ==, !=, hash, repr, in and |.
#include "algebra/algebra.h"
#include "check/check.h"
#include "py/boundary.h"
#include "render/render.h"
#include "schema/hash.h"
#include "validator/entries.h"
#include "validator/validator.h"

namespace qx {

namespace {

const CompiledSchema& schema_of(PyObject* self) {
  return reinterpret_cast<ValidatorObject*>(self)->schema;
}

// Python equality of two objects: rich comparison, then truth.
Result<bool> python_equal(PyObject* a, PyObject* b) {
  QX_ASSIGN(Ref result, checked(PyObject_RichCompare(a, b, Py_EQ)));
  int truth = PyObject_IsTrue(result.get());
  if (truth < 0) return Error::fetch();
  return truth == 1;
}

bool schemas_equal(const CompiledSchema& a, const CompiledSchema& b) {
  if (!schema_node_eq(a.root, b.root)) return false;
  if (a.definitions.size() != b.definitions.size()) return false;
  for (size_t i = 0; i < a.definitions.size(); ++i) {
    if (!schema_node_eq(a.definitions[i], b.definitions[i])) return false;
  }
  if (a.pool.size() != b.pool.size()) return false;
  for (size_t i = 0; i < a.pool.size(); ++i) {
    if (a.pool[i] == b.pool[i]) continue;
    // Hold both: the comparison may run code that drops other references.
    Ref x = Ref::borrow(a.pool[i]);
    Ref y = Ref::borrow(b.pool[i]);
    Result<bool> eq = python_equal(x.get(), y.get());
    if (!eq.ok() || !eq.value()) return false;  // a raised comparison answers False
  }
  return true;
}

PyObject* validator_richcompare(PyObject* self, PyObject* other, int op) {
  return boundary([&]() -> Result<Ref> {
    switch (op) {
      case Py_LT:
      case Py_LE:
      case Py_GT:
      case Py_GE:
        return Ref::borrow(Py_NotImplemented);
      case Py_EQ: {
        const CompiledSchema* theirs = borrow_validator(other);
        bool eq = theirs != nullptr && schemas_equal(schema_of(self), *theirs);
        return Ref::borrow(eq ? Py_True : Py_False);
      }
      case Py_NE: {
        QX_ASSIGN(Ref eq, checked(PyObject_RichCompare(self, other, Py_EQ)));
        int truth = PyObject_IsTrue(eq.get());
        if (truth < 0) return Error::fetch();
        return Ref::borrow(truth ? Py_False : Py_True);
      }
      default:
        throw std::runtime_error("invalid compareop");
    }
  });
}

Py_hash_t validator_hash(PyObject* self) {
  return boundary_value<Py_hash_t>(-1, [&]() -> Result<Py_hash_t> {
    const CompiledSchema& schema = schema_of(self);
    SipHasher13 hasher;
    hash_schema_node(schema.root, hasher);
    hasher.write_u64(schema.definitions.size());
    for (const SchemaNode& d : schema.definitions) hash_schema_node(d, hasher);
    Py_hash_t h = static_cast<Py_hash_t>(hasher.finish());
    return h == -1 ? -2 : h;
  });
}

PyObject* validator_repr(PyObject* self) {
  return boundary([&]() -> Result<Ref> { return repr_impl(schema_of(self)); });
}

int validator_contains(PyObject* self, PyObject* value) {
  return boundary_value<int>(-1, [&]() -> Result<int> {
    QX_ASSIGN(bool verdict, is_valid_impl(schema_of(self), value));
    return verdict ? 1 : 0;
  });
}

PyObject* validator_or(PyObject* left, PyObject* right) {
  return boundary([&]() -> Result<Ref> {
    if (const CompiledSchema* self = borrow_validator(left)) {
      QX_ASSIGN(CompiledSchema schema, union_operator(*self, right, false));
      return create_validator_object(std::move(schema));
    }
    if (const CompiledSchema* self = borrow_validator(right)) {
      QX_ASSIGN(CompiledSchema schema, union_operator(*self, left, true));
      return create_validator_object(std::move(schema));
    }
    return Ref::borrow(Py_NotImplemented);
  });
}

}  // namespace

PyType_Slot validator_operator_slots[] = {
    {Py_tp_repr, reinterpret_cast<void*>(validator_repr)},
    {Py_sq_contains, reinterpret_cast<void*>(validator_contains)},
    {Py_tp_hash, reinterpret_cast<void*>(validator_hash)},
    {Py_nb_or, reinterpret_cast<void*>(validator_or)},
    {Py_tp_richcompare, reinterpret_cast<void*>(validator_richcompare)},
    {0, nullptr},
};

}  // namespace qx
