// The spec compiler: one Python spec to one schema tree over the builder's pool.
#include "compile/compile.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "compile/frontend.h"
#include "compile/limits.h"
#include "errors/texts.h"
#include "py/args.h"
#include "py/once_cell.h"
#include "py/stack.h"

namespace qx {

// ---- Shared helpers --------------------------------------------------------

Error make_build_error(std::string_view message) { return not_implemented_error(message); }

namespace {
std::atomic<ValidatorLookup> validator_lookup{nullptr};
}  // namespace

void set_validator_lookup(ValidatorLookup lookup) noexcept {
  validator_lookup.store(lookup, std::memory_order_release);
}

Result<Ref> import_module(PyObject* name) {
  // A loaded module comes straight from sys.modules (still waiting out a
  // module that another thread is initialising); anything else takes the
  // whole import machinery.
  Ref loaded = Ref::steal(PyImport_GetModule(name));
  if (loaded) return loaded;
  if (PyErr_Occurred()) return Error::fetch();
  return checked(PyImport_Import(name));
}

Result<Ref> import_module(const char* name) {
  Ref text = Ref::steal(PyUnicode_FromString(name));
  if (!text) return Error::fetch();
  return import_module(text.get());
}

Error conversion_error(PyObject* obj, const char* expected) {
  Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
  const char* text = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
  if (text == nullptr) {
    PyErr_Clear();
    text = "object";
  }
  return type_error(std::string("'") + text + "' object cannot be converted to '" + expected + "'");
}

Result<std::string> record_key_string(PyObject* key) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(key, &size);
  if (data == nullptr) {
    PyErr_Clear();
    return value_error(
        "a record key must be valid Unicode; a field name cannot contain a lone surrogate");
  }
  return std::string(data, static_cast<size_t>(size));
}

Result<bool> DictEntries::next(Ref& key, Ref& value) {
  if (PyDict_Size(dict_) != expected_) {
    return runtime_error("dictionary changed size during iteration");
  }
  PyObject* k = nullptr;
  PyObject* v = nullptr;
  int found = 0;
  Py_BEGIN_CRITICAL_SECTION(dict_);
  found = PyDict_Next(dict_, &pos_, &k, &v);
  if (found) {
    key = Ref::borrow(k);
    value = Ref::borrow(v);
  }
  Py_END_CRITICAL_SECTION();
  if (!found) return false;
  if (++seen_ > expected_) return runtime_error("dictionary keys changed during iteration");
  return true;
}

Ref optional_attr(PyObject* obj, PyObject* name) {
  // The same lookup as getattr, minus building an AttributeError for a
  // missing name where the type's own lookup can skip it.
  PyObject* value = nullptr;
  if (PyObject_GetOptionalAttr(obj, name, &value) < 0) PyErr_Clear();
  return Ref::steal(value);
}

Ref optional_attr(PyObject* obj, const char* name) {
  Ref text = Ref::steal(PyUnicode_FromString(name));
  if (!text) {
    PyErr_Clear();
    return Ref();
  }
  return optional_attr(obj, text.get());
}

bool lenient_truth(PyObject* obj) {
  const int r = PyObject_IsTrue(obj);
  if (r < 0) {
    PyErr_Clear();
    return false;
  }
  return r == 1;
}

Result<SchemaNode> indexed_result(NodeKind kind, uint64_t index) {
  return make_indexed(kind, index);
}

// ---- Typing cache ----------------------------------------------------------

namespace {

OnceCell<TypingCache> typing_cache;

Result<Ref> attr(PyObject* obj, const char* name) {
  return checked(PyObject_GetAttrString(obj, name));
}

Status intern_names(InternedNames& names) {
  static constexpr std::pair<Ref InternedNames::*, const char*> kTexts[] = {
      {&InternedNames::typing, "typing"},
      {&InternedNames::get_origin, "get_origin"},
      {&InternedNames::get_args, "get_args"},
      {&InternedNames::origin, "__origin__"},
      {&InternedNames::args, "__args__"},
      {&InternedNames::metadata, "__metadata__"},
      {&InternedNames::required, "Required"},
      {&InternedNames::not_required, "NotRequired"},
      {&InternedNames::pattern, "pattern"},
      {&InternedNames::ge, "ge"},
      {&InternedNames::gt, "gt"},
      {&InternedNames::le, "le"},
      {&InternedNames::lt, "lt"},
      {&InternedNames::min_length, "min_length"},
      {&InternedNames::max_length, "max_length"},
      {&InternedNames::multiple_of, "multiple_of"},
      {&InternedNames::func, "func"},
  };
  for (const auto& [member, text] : kTexts) {
    QX_ASSIGN(names.*member, checked(PyUnicode_InternFromString(text)));
  }
  return Status::success();
}

Result<TypingCache> init_typing_cache() {
  TypingCache cache;
  QX_ASSIGN(Ref typing, import_module("typing"));
  QX_ASSIGN(Ref builtins, import_module("builtins"));
  QX_ASSIGN(cache.any, attr(typing.get(), "Any"));
  // Names a running typing may lack: their tests are skipped.
  cache.never = optional_attr(typing.get(), "Never");
  cache.no_return = optional_attr(typing.get(), "NoReturn");
  cache.type_alias_type = optional_attr(typing.get(), "TypeAliasType");
  QX_ASSIGN(cache.union_form, attr(typing.get(), "Union"));
  QX_ASSIGN(cache.optional, attr(typing.get(), "Optional"));
  QX_ASSIGN(Ref types, import_module("types"));
  QX_ASSIGN(cache.union_type, attr(types.get(), "UnionType"));
  QX_ASSIGN(cache.literal, attr(typing.get(), "Literal"));
  QX_ASSIGN(cache.object, attr(builtins.get(), "object"));
  QX_ASSIGN(Ref enum_module, import_module("enum"));
  QX_ASSIGN(cache.enum_class, attr(enum_module.get(), "Enum"));
  QX_ASSIGN(Ref abc, import_module("collections.abc"));
  QX_ASSIGN(cache.callable, attr(abc.get(), "Callable"));
  QX_ASSIGN(cache.ellipsis, attr(builtins.get(), "Ellipsis"));
  cache.generic_alias = optional_attr(typing.get(), "_GenericAlias");
  cache.union_generic_alias = optional_attr(typing.get(), "_UnionGenericAlias");
  cache.literal_generic_alias = optional_attr(typing.get(), "_LiteralGenericAlias");
  cache.get_origin = optional_attr(typing.get(), "get_origin");
  cache.get_args = optional_attr(typing.get(), "get_args");
  QX_TRY(intern_names(cache.names));
  return cache;
}

}  // namespace

Result<const TypingCache*> typing_cache_get() { return typing_cache.get(init_typing_cache); }

bool is_ellipsis(PyObject* obj) {
  Result<const TypingCache*> cache = typing_cache_get();
  return cache.ok() && obj == cache.value()->ellipsis.get();
}

// ---- The descent -----------------------------------------------------------

namespace {

// compile_schema activations running on this thread, nested ones included.
thread_local uint64_t frontend_depth = 0;

class DepthScope {
 public:
  DepthScope() noexcept { ++frontend_depth; }
  ~DepthScope() { --frontend_depth; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;
};

[[gnu::cold]] [[gnu::noinline]] Error depth_error() {
  return make_build_error(
      "schema nesting is too deep to compile: the frontend descended " +
      std::to_string(MAX_SCHEMA_DEPTH) +
      " levels without reaching a leaf. A class whose own type appears in its fields is "
      "recursive and never bottoms out; write it with recursive(...), which ties the fixpoint "
      "explicitly.");
}

Result<bool> has_attr(PyObject* obj, PyObject* name) {
  const int found = PyObject_HasAttrWithError(obj, name);
  if (found < 0) return Error::fetch();
  return found == 1;
}

Result<bool> has_attr(PyObject* obj, const char* name) {
  const int found = PyObject_HasAttrStringWithError(obj, name);
  if (found < 0) return Error::fetch();
  return found == 1;
}

Result<bool> is_instance(PyObject* obj, PyObject* cls) {
  const int r = PyObject_IsInstance(obj, cls);
  if (r < 0) return Error::fetch();
  return r == 1;
}

Result<bool> is_subclass(PyObject* cls, PyObject* base) {
  const int r = PyObject_IsSubclass(cls, base);
  if (r < 0) return Error::fetch();
  return r == 1;
}

Result<bool> truth(PyObject* obj) {
  const int r = PyObject_IsTrue(obj);
  if (r < 0) return Error::fetch();
  return r == 1;
}

Result<bool> is_tuple_subclass(PyObject* cls) {
  return is_subclass(cls, reinterpret_cast<PyObject*>(&PyTuple_Type));
}

// obj.name(arg), with `arg` passed as the one argument even when it is a tuple.
Result<Ref> call_method(PyObject* obj, PyObject* name, PyObject* arg) {
  QX_ASSIGN(Ref method, checked(PyObject_GetAttr(obj, name)));
  return checked(PyObject_CallOneArg(method.get(), arg));
}

Result<Ref> is_dataclass(PyObject* dataclasses, PyObject* obj) {
  QX_ASSIGN(Ref name, checked(PyUnicode_FromString("is_dataclass")));
  return call_method(dataclasses, name.get(), obj);
}

// The truth of an attribute; false when the lookup or the truth test raises.
bool getattr_truth(PyObject* obj, const char* name) {
  Ref value = optional_attr(obj, name);
  return value && lenient_truth(value.get());
}

Result<SchemaNode> instance_of(PyObject* cls, SchemaBuilder& builder) {
  return indexed_result(NodeKind::Instance, intern_object(builder, cls));
}

[[gnu::cold, gnu::noinline]] Error special_form_error(PyObject* cls) {
  return make_build_error(repr_text(cls) +
                          " is a typing special form, not a value; write a concrete type (for "
                          "a union, X | Y or Union[X, Y])");
}

[[gnu::noinline]] Result<SchemaNode> compile_class(PyObject* cls, const TypingCache& cache,
                                                   SchemaBuilder& builder,
                                                   std::vector<SchemaNode>& definitions) {
  // Only the exact builtin classes: a subclass of int or str is an Instance.
  if (cls == reinterpret_cast<PyObject*>(&PyBool_Type)) return indexed_result(NodeKind::Bool);
  if (cls == reinterpret_cast<PyObject*>(&PyLong_Type)) return indexed_result(NodeKind::Int);
  if (cls == reinterpret_cast<PyObject*>(&PyFloat_Type)) return indexed_result(NodeKind::Float);
  if (cls == reinterpret_cast<PyObject*>(&PyUnicode_Type)) return indexed_result(NodeKind::Str);
  if (cls == reinterpret_cast<PyObject*>(&PyBytes_Type)) return indexed_result(NodeKind::Bytes);
  if (cls == reinterpret_cast<PyObject*>(Py_TYPE(Py_None)))
    return indexed_result(NodeKind::NoneType);
  if (cls == cache.object.get()) return indexed_result(NodeKind::Anything);
  if (cls == cache.union_form.get() || cls == cache.optional.get()) {
    return special_form_error(cls);
  }
  QX_ASSIGN(bool typed_dict, has_attr(cls, "__required_keys__"));
  if (typed_dict) return compile_typeddict(cls, builder, definitions);
  QX_ASSIGN(bool is_enum, is_subclass(cls, cache.enum_class.get()));
  if (is_enum) return instance_of(cls, builder);
  QX_ASSIGN(Ref dataclasses, import_module("dataclasses"));
  QX_ASSIGN(Ref dataclass_answer, is_dataclass(dataclasses.get(), cls));
  QX_ASSIGN(bool dataclass, truth(dataclass_answer.get()));
  if (dataclass) return compile_object_schema(cls, builder, definitions);
  QX_ASSIGN(bool tuple_subclass, is_tuple_subclass(cls));
  if (tuple_subclass) {
    QX_ASSIGN(bool named_tuple, has_attr(cls, "_fields"));
    if (named_tuple) return compile_object_schema(cls, builder, definitions);
  }
  if (getattr_truth(cls, "_is_protocol")) {
    if (getattr_truth(cls, "_is_runtime_protocol")) return instance_of(cls, builder);
    return make_build_error("a Protocol must be @runtime_checkable to be used as a schema");
  }
  return instance_of(cls, builder);
}

// Appends the field a str key of a dict literal names, its node still to
// compile: a trailing "?" makes it optional.
[[gnu::noinline]] Status add_named_field(PyObject* key, std::vector<RecordField>& fields) {
  QX_ASSIGN(std::string name, record_key_string(key));
  RecordField& field = fields.emplace_back();
  field.required = name.empty() || name.back() != '?';
  if (!field.required) name.pop_back();
  field.name = std::move(name);
  return Status::success();
}

// A dict literal: str keys name fields (a trailing "?" makes one optional),
// any other key is a schema that, with its value, admits undeclared keys.
[[gnu::noinline]] Result<SchemaNode> compile_record_literal(PyObject* dict, SchemaBuilder& builder,
                                                            std::vector<SchemaNode>& definitions) {
  std::vector<RecordField> fields;
  std::vector<Clause> clauses;
  DictEntries entries(dict);
  Ref key;
  Ref value;
  while (true) {
    QX_ASSIGN(bool more, entries.next(key, value));
    if (!more) break;
    if (PyUnicode_Check(key.get())) {
      QX_TRY(add_named_field(key.get(), fields));
      QX_TRY(compile_schema_into(value.get(), builder, definitions, fields.back().node));
    } else {
      Clause& clause = clauses.emplace_back();
      QX_TRY(compile_schema_into(key.get(), builder, definitions, clause.key));
      QX_TRY(compile_schema_into(value.get(), builder, definitions, clause.value));
    }
  }
  return finish_node([&] { return make_record(std::move(fields), std::move(clauses)); });
}

// Another validator's schema, brought into this build: its pool interned,
// its definitions appended and every index remapped to fit.
[[gnu::noinline]] Result<SchemaNode> import_validator(const CompiledSchema& other,
                                                      SchemaBuilder& builder,
                                                      std::vector<SchemaNode>& definitions) {
  const std::vector<uint64_t> table = intern_objects(builder, other.pool);
  const uint64_t offset = definitions.size();
  extend_remapped_nodes(definitions, other.definitions, table, offset);
  return remap_node(other.root, table, offset);
}

// Type variables and bare special forms name no set of values.
[[gnu::noinline]] Result<bool> is_typing_construct(PyObject* spec, PyObject* typing) {
  for (const char* name : {"TypeVar", "ParamSpec", "TypeVarTuple", "_SpecialForm"}) {
    Ref construct = optional_attr(typing, name);
    if (!construct) continue;
    QX_ASSIGN(bool match, is_instance(spec, construct.get()));
    if (match) return true;
  }
  return false;
}

// Exact builtin values have no __metadata__ or __supertype__, get_origin
// answers None for them and no typing class claims them: every Python-level
// probe would say no, so they skip straight to their own test.
bool is_exact_builtin_value(PyObject* spec) {
  return PyList_CheckExact(spec) || PyDict_CheckExact(spec) || PyTuple_CheckExact(spec) ||
         PySet_CheckExact(spec) || PyLong_CheckExact(spec) || PyUnicode_CheckExact(spec) ||
         PyBytes_CheckExact(spec) || PyFloat_CheckExact(spec) || PyBool_Check(spec) ||
         PyFrozenSet_CheckExact(spec);
}

// The typing-level reading of a non-class spec, found by probes: an
// Annotated spec (base, metadata), a parameterised form (origin, args), or
// a spec that stands for another (a type alias's value, a new type's
// supertype: `first` alone).
struct TypingValue {
  enum Kind : uint8_t { Plain, Annotated, Form, Alias } kind = Plain;
  Ref first;
  Ref second;
};

// Kept out of the descent's frames: only the objects found stay live while
// the nested specs compile.
[[gnu::noinline]] Result<TypingValue> read_typing_value(PyObject* spec, PyObject* typing,
                                                        const TypingCache& cache) {
  TypingValue value;
  // Most parameterised forms are typing's or the interpreter's own aliases,
  // whose probes are answered without calling Python.
  QX_ASSIGN(bool form, read_typing_alias(spec, typing, cache, value.first, value.second));
  if (form) {
    value.kind = TypingValue::Form;
    return value;
  }
  const InternedNames& names = cache.names;
  QX_ASSIGN(bool annotated, has_attr(spec, names.metadata.get()));
  if (annotated) {
    QX_ASSIGN(value.first, checked(PyObject_GetAttr(spec, names.origin.get())));
    QX_ASSIGN(value.second, checked(PyObject_GetAttr(spec, names.metadata.get())));
    if (!PyTuple_Check(value.second.get())) return conversion_error(value.second.get(), "tuple");
    value.kind = TypingValue::Annotated;
    return value;
  }
  QX_ASSIGN(Ref origin, call_method(typing, names.get_origin.get(), spec));
  if (origin.get() != Py_None) {
    QX_ASSIGN(value.second, call_method(typing, names.get_args.get(), spec));
    if (!PyTuple_Check(value.second.get())) return conversion_error(value.second.get(), "tuple");
    value.first = std::move(origin);
    value.kind = TypingValue::Form;
    return value;
  }
  if (cache.type_alias_type) {
    QX_ASSIGN(bool alias, is_instance(spec, cache.type_alias_type.get()));
    if (alias) {
      QX_ASSIGN(value.first, attr(spec, "__value__"));
      value.kind = TypingValue::Alias;
      return value;
    }
  }
  QX_ASSIGN(bool new_type, has_attr(spec, "__supertype__"));
  if (new_type) {
    QX_ASSIGN(value.first, attr(spec, "__supertype__"));
    value.kind = TypingValue::Alias;
  }
  return value;
}

[[gnu::cold, gnu::noinline]] Error typing_construct_error(PyObject* spec) {
  return make_build_error(repr_text(spec) +
                          " is a typing construct, not a value: a type variable, ParamSpec, "
                          "TypeVarTuple, or special form (such as Final or ClassVar) cannot "
                          "be a schema; use a concrete type");
}

// Every nested compilation below returns straight into this frame's result,
// so the descent holds no node of its own here.
[[gnu::noinline]] Result<SchemaNode> compile_value(PyObject* spec, PyObject* typing,
                                                   const TypingCache& cache, SchemaBuilder& builder,
                                                   std::vector<SchemaNode>& definitions) {
  // Validators are tested first although they are met last in the order of
  // tests: the class is final and has none of the attributes probed below,
  // and get_origin and the alias test say no to it, so the answer is the
  // same and the common case of combining validators skips the probes.
  const ValidatorLookup lookup = validator_lookup.load(std::memory_order_acquire);
  if (const CompiledSchema* other = lookup != nullptr ? lookup(spec) : nullptr) {
    return import_validator(*other, builder, definitions);
  }
  const bool builtin = is_exact_builtin_value(spec);
  if (!builtin) {
    QX_ASSIGN(TypingValue typed, read_typing_value(spec, typing, cache));
    switch (typed.kind) {
      case TypingValue::Annotated:
        return compile_annotated(typed.first.get(), typed.second.get(), builder, definitions);
      case TypingValue::Form:
        return compile_typing_form(typed.first.get(), typed.second.get(), builder, definitions);
      case TypingValue::Alias:
        return compile_schema(typed.first.get(), builder, definitions);
      case TypingValue::Plain:
        break;
    }
  }
  if (PyList_Check(spec)) return compile_list_literal(spec, builder, definitions);
  if (PyTuple_Check(spec)) {
    return make_build_error(
        "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B] (the list "
        "literal [A, B] is the fixed-length list)");
  }
  if (PySet_Check(spec)) {
    return make_build_error("a set literal is not a schema; write a set as set[T]");
  }
  if (PyDict_Check(spec)) return compile_record_literal(spec, builder, definitions);
  if (!builtin) {
    QX_ASSIGN(bool construct, is_typing_construct(spec, typing));
    if (construct) return typing_construct_error(spec);
  }
  // A plain value denotes itself; a string is never a forward reference.
  return indexed_result(NodeKind::Literal, intern_object(builder, spec));
}

Result<SchemaNode> compile_spec(PyObject* spec, SchemaBuilder& builder,
                                std::vector<SchemaNode>& definitions) {
  if (spec == Py_None) return indexed_result(NodeKind::NoneType);
  QX_ASSIGN(const TypingCache* cache, typing_cache_get());
  QX_ASSIGN(Ref typing, import_module(cache->names.typing.get()));
  if (spec == cache->any.get()) return indexed_result(NodeKind::Any);
  if ((cache->never && spec == cache->never.get()) ||
      (cache->no_return && spec == cache->no_return.get())) {
    return indexed_result(NodeKind::Nothing);
  }
  if (PyType_Check(spec)) return compile_class(spec, *cache, builder, definitions);
  return compile_value(spec, typing.get(), *cache, builder, definitions);
}

}  // namespace

Status compile_schema_into(PyObject* spec, SchemaBuilder& builder,
                           std::vector<SchemaNode>& definitions, SchemaNode& out) {
  // The descent is native recursion; this bound keeps a spec that names
  // itself (a class in its own fields, a list holding itself) off the stack's end.
  if (frontend_depth >= MAX_SCHEMA_DEPTH) return depth_error();
  // Legal specs too may nest deeper than a small thread stack can hold.
  if (stack_exhausted()) return stack_exhausted_error();
  DepthScope scope;
  QX_ASSIGN(out, compile_spec(spec, builder, definitions));
  return Status::success();
}

Result<SchemaNode> compile_schema(PyObject* spec, SchemaBuilder& builder,
                                  std::vector<SchemaNode>& definitions) {
  SchemaNode node;
  QX_TRY(compile_schema_into(spec, builder, definitions, node));
  return node;
}

Result<CompiledArguments> compile_schemas_tuple(PyObject* schemas) {
  if (!PyTuple_Check(schemas)) {
    return with_argument_note(type_error("'object' is not an instance of 'tuple'"), "schemas");
  }
  const Py_ssize_t n = PyTuple_GET_SIZE(schemas);
  CompiledArguments args;
  args.nodes.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    QX_ASSIGN(SchemaNode node,
              compile_schema(PyTuple_GET_ITEM(schemas, i), args.builder, args.definitions));
    args.nodes.push_back(std::move(node));
  }
  return args;
}

}  // namespace qx
