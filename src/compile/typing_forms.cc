// Typing forms and sequence literals: parameterised generics, unions, literals, tuples, [A, B].
#include "compile/compile.h"
#include "compile/constructors.h"
#include "compile/frontend.h"
#include "errors/texts.h"

namespace qx {

namespace {

constexpr const char* kTupleEllipsis = "`...` may appear only as the last element of a tuple schema";
constexpr const char* kListEllipsis = "`...` may appear only as the last element of a list schema";

Result<PyObject*> single_type_argument(PyObject* args) {
  if (PyTuple_GET_SIZE(args) != 1) return make_build_error("expected exactly one type argument");
  return PyTuple_GET_ITEM(args, 0);
}

Result<SchemaNode> compile_single(PyObject* args, SchemaBuilder& builder,
                                  std::vector<SchemaNode>& definitions) {
  QX_ASSIGN(PyObject* arg, single_type_argument(args));
  return compile_schema(arg, builder, definitions);
}

// Union of every argument compiled in order (unions and literals alike).
Result<SchemaNode> compile_union_of(PyObject* args, SchemaBuilder& builder,
                                    std::vector<SchemaNode>& definitions) {
  const Py_ssize_t n = PyTuple_GET_SIZE(args);
  std::vector<SchemaNode> members;
  members.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    QX_ASSIGN(SchemaNode member, compile_schema(PyTuple_GET_ITEM(args, i), builder, definitions));
    members.push_back(std::move(member));
  }
  return make_union_node(std::move(members));
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

// Compiles elements [0, count) in order, refusing a `...` among them.
Result<std::vector<SchemaNode>> compile_elements(const Elements& elements, Py_ssize_t count,
                                                 const char* misplaced, SchemaBuilder& builder,
                                                 std::vector<SchemaNode>& definitions) {
  std::vector<SchemaNode> nodes;
  nodes.reserve(static_cast<size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    QX_ASSIGN(Ref element, elements.at(i));
    if (is_ellipsis(element.get())) return make_build_error(misplaced);
    QX_ASSIGN(SchemaNode node, compile_schema(element.get(), builder, definitions));
    nodes.push_back(std::move(node));
  }
  return nodes;
}

// The shape of `n` elements, n >= 2 or a tuple form: a trailing `...` repeats
// the element before it, the others stand once each in order.
Result<ItemShape> compile_shape(const Elements& elements, Py_ssize_t n, const char* misplaced,
                                SchemaBuilder& builder, std::vector<SchemaNode>& definitions) {
  if (n == 0) return make_fixed_item_shape({});
  bool repeats = false;
  if (n >= 2) {
    QX_ASSIGN(Ref last, elements.at(n - 1));
    repeats = is_ellipsis(last.get());
  }
  if (!repeats) {
    QX_ASSIGN(std::vector<SchemaNode> nodes,
              compile_elements(elements, n, misplaced, builder, definitions));
    return make_fixed_item_shape(std::move(nodes));
  }
  QX_ASSIGN(std::vector<SchemaNode> nodes,
            compile_elements(elements, n - 1, misplaced, builder, definitions));
  SchemaNode repeated = std::move(nodes.back());
  nodes.pop_back();
  if (nodes.empty()) return make_variadic_item_shape(std::move(repeated));
  return make_fixed_then_variadic_shape(std::move(nodes), std::move(repeated));
}

Result<SchemaNode> compile_tuple_form(PyObject* args, SchemaBuilder& builder,
                                      std::vector<SchemaNode>& definitions) {
  const Elements elements(args);
  QX_ASSIGN(ItemShape shape,
            compile_shape(elements, elements.size(), kTupleEllipsis, builder, definitions));
  return make_sequence(true, std::move(shape));
}

// Identity with typing.Required or typing.NotRequired, looked up at each
// use; a name the running typing lacks is skipped.
Result<bool> is_required_qualifier(PyObject* origin) {
  QX_ASSIGN(Ref typing, import_module("typing"));
  for (const char* name : {"Required", "NotRequired"}) {
    Ref qualifier = optional_attr(typing.get(), name);
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
  if (origin == reinterpret_cast<PyObject*>(&PyList_Type)) {
    QX_ASSIGN(SchemaNode item, compile_single(args, builder, definitions));
    return make_sequence(false, make_variadic_item_shape(std::move(item)));
  }
  if (origin == reinterpret_cast<PyObject*>(&PySet_Type)) {
    QX_ASSIGN(SchemaNode item, compile_single(args, builder, definitions));
    return make_boxed(NodeKind::Set, std::move(item));
  }
  if (origin == reinterpret_cast<PyObject*>(&PyFrozenSet_Type)) {
    QX_ASSIGN(SchemaNode item, compile_single(args, builder, definitions));
    return make_boxed(NodeKind::FrozenSet, std::move(item));
  }
  if (origin == reinterpret_cast<PyObject*>(&PyDict_Type)) {
    if (PyTuple_GET_SIZE(args) != 2) {
      return make_build_error("dict[...] needs a key type and a value type");
    }
    QX_ASSIGN(SchemaNode key, compile_schema(PyTuple_GET_ITEM(args, 0), builder, definitions));
    QX_ASSIGN(SchemaNode value, compile_schema(PyTuple_GET_ITEM(args, 1), builder, definitions));
    return make_dict_node(std::move(key), std::move(value));
  }
  if (origin == reinterpret_cast<PyObject*>(&PyTuple_Type)) {
    return compile_tuple_form(args, builder, definitions);
  }
  // Required and NotRequired leave no trace: requiredness of a TypedDict key
  // comes from the class's __required_keys__ alone.
  QX_ASSIGN(bool qualifier, is_required_qualifier(origin));
  if (qualifier) return compile_single(args, builder, definitions);
  QX_ASSIGN(const TypingCache* cache, typing_cache_get());
  if (origin == cache->union_type.get() || origin == cache->union_form.get() ||
      origin == cache->literal.get()) {
    return compile_union_of(args, builder, definitions);
  }
  if (origin == cache->callable.get()) {
    return make_indexed(NodeKind::Instance, intern_object(builder, origin));
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
    QX_ASSIGN(SchemaNode item, compile_schema(element.get(), builder, definitions));
    return make_sequence(false, make_variadic_item_shape(std::move(item)));
  }
  QX_ASSIGN(ItemShape shape, compile_shape(elements, n, kListEllipsis, builder, definitions));
  return make_sequence(false, std::move(shape));
}

}  // namespace qx
