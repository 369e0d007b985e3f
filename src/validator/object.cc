// Validator objects: creation, typed access, copies, destruction and the two plain constructors.
#include <new>

#include "compile/compile.h"
#include "compile/constructors.h"
#include "compile/limits.h"
#include "py/args.h"
#include "py/boundary.h"
#include "validator/entries.h"
#include "validator/validator.h"

namespace qx {

namespace {
Result<Ref> allocate_validator(PyTypeObject* type, CompiledSchema schema) {
  PyObject* obj = type->tp_alloc(type, 0);
  if (obj == nullptr) return Error::fetch();  // `schema` is destroyed on return
  new (&reinterpret_cast<ValidatorObject*>(obj)->schema) CompiledSchema(std::move(schema));
  return Ref::steal(obj);
}
}  // namespace

Result<Ref> create_validator_object(CompiledSchema schema) {
  Result<PyObject*> type = validator_type();
  if (!type.ok()) throw std::runtime_error("failed to create type object for `Validator`");
  return allocate_validator(reinterpret_cast<PyTypeObject*>(type.value()), std::move(schema));
}

Result<Ref> validator_from_node(SchemaNode node) {
  return create_validator_object(CompiledSchema(std::move(node), ConstantsPool(), {}));
}

const CompiledSchema* borrow_validator(PyObject* obj) noexcept {
  Result<PyObject*> type = validator_type();
  if (!type.ok()) return nullptr;
  if (!PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(type.value()))) return nullptr;
  return &reinterpret_cast<ValidatorObject*>(obj)->schema;
}

PyObject* validator_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    static constexpr const char* names[] = {"schema"};
    static const Signature sig{"Validator.__new__()", names, 1, 1};
    PyObject* spec = nullptr;
    QX_TRY(parse_tuple_dict(sig, args, kwargs, &spec));
    SchemaBuilder builder;
    std::vector<SchemaNode> definitions;
    QX_ASSIGN(SchemaNode root, compile_schema(spec, builder, definitions));
    QX_ASSIGN(CompiledSchema schema,
              finish_build(std::move(builder), std::move(root), std::move(definitions)));
    return allocate_validator(subtype, std::move(schema));
  });
}

void validator_dealloc(PyObject* self) {
  try {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<ValidatorObject*>(self)->schema.~CompiledSchema();
    type->tp_free(self);
    Py_DECREF(type);
  } catch (...) {
    detail::raise_cpp_exception();
    PyErr_WriteUnraisable(nullptr);
  }
}

Result<Ref> union_impl(PyObject* schemas) {
  QX_ASSIGN(CompiledArguments args, compile_schemas_tuple(schemas));
  QX_ASSIGN(CompiledSchema schema,
            finish_build(std::move(args.builder), make_union_node(std::move(args.nodes)),
                         std::move(args.definitions)));
  return create_validator_object(std::move(schema));
}

}  // namespace qx
