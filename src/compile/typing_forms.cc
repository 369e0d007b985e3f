// Typing forms and sequence literals: parameterised generics, unions, literals, tuples, [A, B].
#include "compile/compile.h"
#include "compile/constructors.h"
#include "compile/frontend.h"
#include "errors/texts.h"

namespace qx {

namespace {

constexpr const char* kTupleEllipsis =
    "`...` may appear only as the last element of a tuple schema";
constexpr const char* kListEllipsis = "`...` may appear only as the last element of a list schema";

Result<PyObject*> single_type_argument(PyObject* args) {
  if (PyTuple_GET_SIZE(args) != 1) return make_build_error("expected exactly one type argument");
  return PyTuple_GET_ITEM(args, 0);
}

Status compile_single(PyObject* args, SchemaBuilder& builder, std::vector<SchemaNode>& definitions,
                      SchemaNode& out) {
  QX_ASSIGN(PyObject * arg, single_type_argument(args));
  return compile_schema_into(arg, builder, definitions, out);
}

// Union of every argument compiled in order (unions and literals alike).
[[gnu::noinline]] Result<SchemaNode> compile_union_of(PyObject* args, SchemaBuilder& builder,
                                                      std::vector<SchemaNode>& definitions) {
  const Py_ssize_t n = PyTuple_GET_SIZE(args);
  std::vector<SchemaNode> members;
  members.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    QX_TRY(compile_schema_into(PyTuple_GET_ITEM(args, i), builder, definitions,
                               members.emplace_back()));
  }
  return finish_node([&] { return make_union_node(std::move(members)); });
}

// The elements of a tuple form or a list literal, fetched by position as the
// rules reach them: a list may be changed by the Python code a nested
// compilation runs, and then the fetch reports it.
class Elements {
 public:
  explicit Elements(PyObject* seq) : seq_(seq), list_(PyList_Check(seq)) {}
  Py_ssize_t size() const noexcept {
    return list_ ? PyList_GET_SIZE(seq_) : PyTuple_GET_SIZE(seq_);
  }
  Result<Ref> at(Py_ssize_t i) const {
    if (list_) return checked(PyList_GetItemRef(seq_, i));
    return Ref::borrow(PyTuple_GET_ITEM(seq_, i));
  }

 private:
  PyObject* seq_;
  bool list_;
};

// Compiles elements [0, count) in order into `nodes`, refusing a `...` among them.
Status compile_elements(const Elements& elements, Py_ssize_t count, const char* misplaced,
                        SchemaBuilder& builder, std::vector<SchemaNode>& definitions,
                        std::vector<SchemaNode>& nodes) {
  nodes.reserve(static_cast<size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    QX_ASSIGN(Ref element, elements.at(i));
    if (is_ellipsis(element.get())) return make_build_error(misplaced);
    QX_TRY(compile_schema_into(element.get(), builder, definitions, nodes.emplace_back()));
  }
  return Status::success();
}

// The shape of compiled elements: with `repeats` the last one repeats, the
// others stand once each in order.
ItemShape elements_shape(std::vector<SchemaNode> nodes, bool repeats) {
  if (!repeats) return make_fixed_item_shape(std::move(nodes));
  SchemaNode repeated = std::move(nodes.back());
  nodes.pop_back();
  if (nodes.empty()) return make_variadic_item_shape(std::move(repeated));
  return make_fixed_then_variadic_shape(std::move(nodes), std::move(repeated));
}

// The sequence of `n` elements, n >= 2 or a tuple form: a trailing `...`
// repeats the element before it.
Result<SchemaNode> compile_sequence(bool tuple, const Elements& elements, Py_ssize_t n,
                                    const char* misplaced, SchemaBuilder& builder,
                                    std::vector<SchemaNode>& definitions) {
  bool repeats = false;
  if (n >= 2) {
    QX_ASSIGN(Ref last, elements.at(n - 1));
    repeats = is_ellipsis(last.get());
  }
  std::vector<SchemaNode> nodes;
  QX_TRY(compile_elements(elements, repeats ? n - 1 : n, misplaced, builder, definitions, nodes));
  return finish_node(
      [&] { return make_sequence(tuple, elements_shape(std::move(nodes), repeats)); });
}

// The node of a one-argument form around its compiled argument; a
// Required/NotRequired qualifier leaves no trace.
Result<SchemaNode> wrap_single(PyObject* origin, SchemaNode& item) {
  return finish_node([&] {
    if (origin == reinterpret_cast<PyObject*>(&PyList_Type)) {
      return make_sequence(false, make_variadic_item_shape(std::move(item)));
    }
    if (origin == reinterpret_cast<PyObject*>(&PySet_Type)) {
      return make_boxed(NodeKind::Set, std::move(item));
    }
    if (origin == reinterpret_cast<PyObject*>(&PyFrozenSet_Type)) {
      return make_boxed(NodeKind::FrozenSet, std::move(item));
    }
    return std::move(item);
  });
}

[[gnu::noinline]] Result<SchemaNode> compile_dict_form(PyObject* args, SchemaBuilder& builder,
                                                       std::vector<SchemaNode>& definitions) {
  if (PyTuple_GET_SIZE(args) != 2) {
    return make_build_error("dict[...] needs a key type and a value type");
  }
  SchemaNode key;
  SchemaNode value;
  QX_TRY(compile_schema_into(PyTuple_GET_ITEM(args, 0), builder, definitions, key));
  QX_TRY(compile_schema_into(PyTuple_GET_ITEM(args, 1), builder, definitions, value));
  return finish_node([&] { return make_dict_node(std::move(key), std::move(value)); });
}

bool is_single_form(PyObject* origin) {
  return origin == reinterpret_cast<PyObject*>(&PyList_Type) ||
         origin == reinterpret_cast<PyObject*>(&PySet_Type) ||
         origin == reinterpret_cast<PyObject*>(&PyFrozenSet_Type);
}

// Identity with typing.Required or typing.NotRequired, looked up at each
// use; a name the running typing lacks is skipped.
[[gnu::noinline]] Result<bool> is_required_qualifier(PyObject* origin) {
  // Filled already: every typing form comes through compile_schema.
  QX_ASSIGN(const TypingCache* cache, typing_cache_get());
  const InternedNames& names = cache->names;
  QX_ASSIGN(Ref typing, import_module(names.typing.get()));
  for (const Ref* name : {&names.required, &names.not_required}) {
    Ref qualifier = optional_attr(typing.get(), name->get());
    if (qualifier && origin == qualifier.get()) return true;
  }
  return false;
}

[[gnu::cold]] [[gnu::noinline]] Error unsupported_form(PyObject* origin) {
  return make_build_error("unsupported typing form with origin " + repr_text(origin) +
                          "; supported: list, set, dict, tuple, Union, Optional, Literal, "
                          "Callable");
}

}  // namespace

Result<SchemaNode> compile_typing_form(PyObject* origin, PyObject* args, SchemaBuilder& builder,
                                       std::vector<SchemaNode>& definitions) {
  // The descent's frame holds only the slots of the compiled arguments.
  SchemaNode item;
  if (is_single_form(origin)) {
    QX_TRY(compile_single(args, builder, definitions, item));
    return wrap_single(origin, item);
  }
  if (origin == reinterpret_cast<PyObject*>(&PyDict_Type)) {
    return compile_dict_form(args, builder, definitions);
  }
  if (origin == reinterpret_cast<PyObject*>(&PyTuple_Type)) {
    const Elements elements(args);
    return compile_sequence(true, elements, elements.size(), kTupleEllipsis, builder, definitions);
  }
  // Required and NotRequired leave no trace: requiredness of a TypedDict key
  // comes from the class's __required_keys__ alone.
  QX_ASSIGN(bool qualifier, is_required_qualifier(origin));
  if (qualifier) {
    QX_TRY(compile_single(args, builder, definitions, item));
    return wrap_single(origin, item);
  }
  QX_ASSIGN(const TypingCache* cache, typing_cache_get());
  if (origin == cache->union_type.get() || origin == cache->union_form.get() ||
      origin == cache->literal.get()) {
    return compile_union_of(args, builder, definitions);
  }
  if (origin == cache->callable.get()) {
    return indexed_result(NodeKind::Instance, intern_object(builder, origin));
  }
  return unsupported_form(origin);
}

Result<SchemaNode> compile_list_literal(PyObject* list, SchemaBuilder& builder,
                                        std::vector<SchemaNode>& definitions) {
  const Elements elements(list);
  const Py_ssize_t n = elements.size();
  if (n == 1) {
    // [T] is a list of any length, unlike the one-element tuple form.
    QX_ASSIGN(Ref element, elements.at(0));
    if (is_ellipsis(element.get())) return make_build_error(kListEllipsis);
    SchemaNode item;
    QX_TRY(compile_schema_into(element.get(), builder, definitions, item));
    return wrap_single(reinterpret_cast<PyObject*>(&PyList_Type), item);
  }
  return compile_sequence(false, elements, n, kListEllipsis, builder, definitions);
}

}  // namespace qx
