// Annotated constraints: duck-typed metadata items refine the compiled base.
#include <optional>
#include <string>

#include "compile/compile.h"
#include "compile/frontend.h"
#include "compile/pattern.h"
#include "py/text.h"
#include "text/quote.h"

namespace qx {

namespace {

// An attribute of a metadata item, or empty when its lookup raises anything
// at all: an item is known only by what it has.
Ref probe(PyObject* item, const Ref& name) { return optional_attr(item, name.get()); }

struct BoundProbe {
  Ref InternedNames::*name;
  ConstraintKind kind;
};

constexpr BoundProbe kBoundProbes[] = {
    {&InternedNames::ge, ConstraintKind::Ge},
    {&InternedNames::gt, ConstraintKind::Gt},
    {&InternedNames::le, ConstraintKind::Le},
    {&InternedNames::lt, ConstraintKind::Lt},
};

Constraint pooled_constraint(ConstraintKind kind, PyObject* obj, SchemaBuilder& builder) {
  return Constraint{kind, intern_object(builder, obj), {}};
}

// A length bound as an unsigned 64-bit count: an int or anything with
// __index__; every other value (None, negative, float, too large) is none.
std::optional<uint64_t> length_count(PyObject* value) {
  Ref index = Ref::steal(PyNumber_Index(value));
  if (!index) {
    PyErr_Clear();
    return std::nullopt;
  }
  const unsigned long long count = PyLong_AsUnsignedLongLong(index.get());
  if (count == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return std::nullopt;
  }
  return static_cast<uint64_t>(count);
}

// Whether a divisor equals 0; a comparison or truth test that raises reads as nonzero.
bool equals_zero(PyObject* value) {
  Ref zero = Ref::steal(PyLong_FromLong(0));
  if (!zero) {
    PyErr_Clear();
    return false;
  }
  Ref eq = Ref::steal(PyObject_RichCompare(value, zero.get(), Py_EQ));
  if (!eq) {
    PyErr_Clear();
    return false;
  }
  return lenient_truth(eq.get());
}

// The pattern text of an item, when it has a str `pattern` that encodes as UTF-8.
std::optional<std::string_view> pattern_text(PyObject* item, const InternedNames& names,
                                             Ref& holder) {
  holder = probe(item, names.pattern);
  std::string_view text;
  if (!holder || !PyUnicode_Check(holder.get()) || !utf8_view(holder.get(), text)) {
    return std::nullopt;
  }
  return text;
}

[[gnu::cold]] [[gnu::noinline]] Error invalid_pattern(std::string_view pattern,
                                                      const std::string& description) {
  return value_error("invalid regular expression " + quote_text(pattern) + ": " + description);
}

// Appends the constraints one metadata item describes, in probe order.
// Out of line: its probes run after the base has compiled, off the descent.
[[gnu::noinline]] Status add_item_constraints(PyObject* item, const InternedNames& names,
                                              SchemaBuilder& builder,
                                              std::vector<Constraint>& constraints) {
  Ref pattern_holder;
  if (std::optional<std::string_view> pattern = pattern_text(item, names, pattern_holder)) {
    // Compiled only to refuse a bad pattern now; the check compiles its own.
    std::string description;
    if (!compile_anchored_pattern(*pattern, &description)) {
      return invalid_pattern(*pattern, description);
    }
    constraints.push_back(Constraint{ConstraintKind::Regex, 0, std::string(*pattern)});
    return Status::success();
  }
  for (const BoundProbe& bound : kBoundProbes) {
    Ref value = probe(item, names.*bound.name);
    if (value && value.get() != Py_None) {
      constraints.push_back(pooled_constraint(bound.kind, value.get(), builder));
    }
  }
  if (Ref value = probe(item, names.min_length)) {
    if (std::optional<uint64_t> count = length_count(value.get())) {
      constraints.push_back(Constraint{ConstraintKind::MinLen, *count, {}});
    }
  }
  if (Ref value = probe(item, names.max_length)) {
    if (std::optional<uint64_t> count = length_count(value.get())) {
      constraints.push_back(Constraint{ConstraintKind::MaxLen, *count, {}});
    }
  }
  Ref divisor = probe(item, names.multiple_of);
  if (divisor && divisor.get() != Py_None) {
    if (equals_zero(divisor.get())) {
      return value_error(
          "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a "
          "nonzero divisor.");
    }
    constraints.push_back(pooled_constraint(ConstraintKind::MultipleOf, divisor.get(), builder));
  }
  if (PyCallable_Check(item)) {
    constraints.push_back(pooled_constraint(ConstraintKind::Predicate, item, builder));
    return Status::success();
  }
  Ref func = probe(item, names.func);
  if (func && PyCallable_Check(func.get())) {
    constraints.push_back(pooled_constraint(ConstraintKind::Predicate, func.get(), builder));
  }
  return Status::success();
}

}  // namespace

Result<SchemaNode> compile_annotated(PyObject* base, PyObject* metadata, SchemaBuilder& builder,
                                     std::vector<SchemaNode>& definitions) {
  SchemaNode node;
  QX_TRY(compile_schema_into(base, builder, definitions, node));
  // Filled already: every Annotated spec comes through compile_schema.
  QX_ASSIGN(const TypingCache* cache, typing_cache_get());
  std::vector<Constraint> constraints;
  const Py_ssize_t n = PyTuple_GET_SIZE(metadata);
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PyTuple_GET_ITEM(metadata, i);
    // Classes are callable but name no condition: they contribute nothing.
    if (PyType_Check(item)) continue;
    QX_TRY(add_item_constraints(item, cache->names, builder, constraints));
  }
  return finish_node([&] {
    if (constraints.empty()) return std::move(node);
    return make_refinement(std::move(node), std::move(constraints));
  });
}

}  // namespace qx
