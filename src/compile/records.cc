// Records from classes: TypedDicts become Records, dataclasses and named tuples Objects.
#include <string>

#include "compile/compile.h"
#include "compile/frontend.h"

namespace qx {

namespace {

// typing.get_type_hints(cls, include_extras=True): string annotations are
// resolved in the class's own module, and Annotated metadata and the
// Required/NotRequired qualifiers survive.
Result<Ref> call_get_type_hints(PyObject* cls) {
  Ref kwargs = Ref::steal(PyDict_New());
  if (!kwargs) return Error::fetch();
  if (PyDict_SetItemString(kwargs.get(), "include_extras", Py_True) < 0) return Error::fetch();
  QX_ASSIGN(Ref typing, import_module("typing"));
  QX_ASSIGN(Ref get_type_hints, checked(PyObject_GetAttrString(typing.get(), "get_type_hints")));
  Ref args = Ref::steal(PyTuple_Pack(1, cls));
  if (!args) return Error::fetch();
  return checked(PyObject_Call(get_type_hints.get(), args.get(), kwargs.get()));
}

Result<Ref> type_hints_of(PyObject* cls) {
  QX_ASSIGN(Ref hints, call_get_type_hints(cls));
  if (!PyDict_Check(hints.get())) return conversion_error(hints.get(), "dict");
  return hints;
}

// Appends the field a type hint's key names, its node still to compile.
[[gnu::noinline]] Status add_named_field(PyObject* key, std::vector<RecordField>& fields) {
  QX_ASSIGN(Ref text, checked(PyObject_Str(key)));
  QX_ASSIGN(std::string name, record_key_string(text.get()));
  fields.emplace_back().name = std::move(name);
  return Status::success();
}

// One field per type hint, in the mapping's order. `is_required` decides
// each field's flag from its key object.
template <class IsRequired>
Status compile_fields(PyObject* hints, IsRequired&& is_required, SchemaBuilder& builder,
                      std::vector<SchemaNode>& definitions, std::vector<RecordField>& fields) {
  DictEntries entries(hints);
  fields.reserve(static_cast<size_t>(entries.size()));
  Ref key;
  Ref value;
  while (true) {
    QX_ASSIGN(bool more, entries.next(key, value));
    if (!more) break;
    QX_TRY(add_named_field(key.get(), fields));
    QX_TRY(compile_schema_into(value.get(), builder, definitions, fields.back().node));
    QX_ASSIGN(fields.back().required, is_required(key.get()));
  }
  return Status::success();
}

}  // namespace

Result<SchemaNode> compile_object_schema(PyObject* cls, SchemaBuilder& builder,
                                         std::vector<SchemaNode>& definitions) {
  QX_ASSIGN(Ref hints, type_hints_of(cls));
  // The class is pooled before its annotations, so it takes the lower index.
  const uint64_t class_index = intern_object(builder, cls);
  // Every attribute is looked up at check time, so the flag is always set.
  const auto always = [](PyObject*) -> Result<bool> { return true; };
  std::vector<RecordField> fields;
  QX_TRY(compile_fields(hints.get(), always, builder, definitions, fields));
  return finish_node([&] { return make_object(class_index, std::move(fields)); });
}

Result<SchemaNode> compile_typeddict(PyObject* cls, SchemaBuilder& builder,
                                     std::vector<SchemaNode>& definitions) {
  QX_ASSIGN(Ref hints, type_hints_of(cls));
  QX_ASSIGN(Ref required_keys, checked(PyObject_GetAttrString(cls, "__required_keys__")));
  // __required_keys__ already reflects `total` and the qualifiers.
  const auto in_required = [&](PyObject* key) -> Result<bool> {
    const int r = PySequence_Contains(required_keys.get(), key);
    if (r < 0) return Error::fetch();
    return r == 1;
  };
  std::vector<RecordField> fields;
  QX_TRY(compile_fields(hints.get(), in_required, builder, definitions, fields));
  // No clauses: a TypedDict admits no undeclared key, and the class itself
  // is never pooled since any dict of the right shape belongs.
  return finish_node([&] { return make_record(std::move(fields), {}); });
}

}  // namespace qx
