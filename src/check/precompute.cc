// The per-validator index: record keys, literal sets of unions and compiled patterns.
#include <algorithm>
#include <string>
#include <string_view>

#include "check/precompute.h"
#include "compile/pattern.h"
#include "py/stack.h"
#include "py/text.h"
#include "schema/compiled_schema.h"
#include "schema/measure.h"

namespace qx {

namespace {

void index_record(const SchemaNode& record, Precompute& tables) {
  if (record.fields().empty() || tables.records.contains(&record)) return;
  DeclaredKeys keys;
  for (size_t i = 0; i < record.fields().size(); ++i) {
    const RecordField& field = record.fields()[i];
    keys.positions.insert_or_assign(field.name, static_cast<uint32_t>(i));  // the later one wins
    if (field.required) ++keys.required;
  }
  tables.records.emplace(&record, std::move(keys));
}

// The UTF-8 text of an exact str; false (nothing raised) when it has none.
bool exact_str_text(PyObject* obj, std::string_view& text) {
  return utf8_view(obj, text);  // a lone surrogate: no member of the text set can equal it
}

// Only unions made entirely of literals get sets; literals other than exact
// int and str cannot accept an exact int or str, so leaving them out of both
// sets keeps the fast answer exact.
void index_union(const SchemaNode& node, const ConstantsPool& pool, Precompute& tables) {
  if (tables.unions.contains(&node)) return;
  LiteralSets sets;
  for (const SchemaNode& member : node.members()) {
    if (member.kind != NodeKind::Literal) return;
    PyObject* literal = pool.get(member.index);
    if (literal == nullptr) return;
    if (Py_IS_TYPE(literal, &PyLong_Type)) {
      int overflow = 0;
      long long v = PyLong_AsLongLongAndOverflow(literal, &overflow);
      if (overflow == 0 && !(v == -1 && PyErr_Occurred())) sets.ints.insert(v);
      PyErr_Clear();
    } else if (PyUnicode_CheckExact(literal)) {
      std::string_view text;
      if (exact_str_text(literal, text)) sets.strs.emplace(text);
    }
  }
  tables.unions.emplace(&node, std::move(sets));
}

void index_patterns(const std::vector<Constraint>& constraints, Precompute& tables) {
  for (const Constraint& c : constraints) {
    if (c.kind != ConstraintKind::Regex) continue;
    auto known = tables.patterns.find(c.pattern);
    if (known == tables.patterns.end()) {
      std::string error;
      std::unique_ptr<re2::RE2> regex = compile_anchored_pattern(c.pattern, &error);
      // A pattern that does not compile stays out; the constraint check then
      // compiles it on the spot and counts the failure as a mismatch.
      if (!regex) continue;
      known = tables.patterns.emplace(c.pattern, std::move(regex)).first;
    }
    tables.regexes.emplace_back(&c, known->second.get());
  }
}

// Whether `obj` compares with, or divides, a value made from JSON (None,
// bool, int, float, str, list, dict) without reaching code of the user's:
// an exact int, float or str answers for itself or returns NotImplemented.
bool is_plain_operand(PyObject* obj) {
  return obj != nullptr && (Py_IS_TYPE(obj, &PyLong_Type) || Py_IS_TYPE(obj, &PyFloat_Type) ||
                            Py_IS_TYPE(obj, &PyUnicode_Type));
}

// Whether the node's own test, given a value made from JSON, may call code of
// the user's. Literals compare only with values of their own exact type, so
// a JSON value meets only builtin equality; an exact class (metaclass `type`)
// answers isinstance without __instancecheck__; attributes, predicates and
// operands of other types may run anything.
bool may_run_user_code(const SchemaNode& node, const ConstantsPool& pool) {
  if (node.kind == NodeKind::Object) return true;
  if (node.kind == NodeKind::Instance) {
    return pool.get(node.index) == nullptr || !PyType_CheckExact(pool.get(node.index));
  }
  if (node.kind != NodeKind::Refinement) return false;
  for (const Constraint& c : node.constraints()) {
    switch (c.kind) {
      case ConstraintKind::Ge:
      case ConstraintKind::Gt:
      case ConstraintKind::Le:
      case ConstraintKind::Lt:
      case ConstraintKind::MultipleOf:
        if (!is_plain_operand(pool.get(c.value))) return true;
        break;
      case ConstraintKind::Predicate:
        return true;
      case ConstraintKind::MinLen:
      case ConstraintKind::MaxLen:
      case ConstraintKind::Regex:
        break;
    }
  }
  return false;
}

// Adds the entries of `node` and of everything below it, children depth
// first in their fixed order. A Ref is not followed: definitions are visited
// from the top, once each.
void build_precompute(const SchemaNode& node, const ConstantsPool& pool, Precompute& tables) {
  ensure_stack();
  if (node.kind == NodeKind::Record) {
    index_record(node, tables);
  } else if (node.kind == NodeKind::Union) {
    index_union(node, pool, tables);
  } else if (node.kind == NodeKind::Refinement) {
    index_patterns(node.constraints(), tables);
  }
  if (may_run_user_code(node, pool)) tables.may_run_user_code = true;
  for_each_child(node, [&](const SchemaNode& child) { build_precompute(child, pool, tables); });
}

}  // namespace

std::unique_ptr<Precompute> init_precompute(const CompiledSchema& schema) {
  auto tables = std::make_unique<Precompute>();
  build_precompute(schema.root, schema.pool, *tables);
  for (const SchemaNode& definition : schema.definitions) {
    build_precompute(definition, schema.pool, *tables);
  }
  std::sort(tables->regexes.begin(), tables->regexes.end());
  return tables;
}

const Precompute& ensure_precompute(const CompiledSchema& schema) {
  if (const Precompute* built = schema.precompute.peek()) return *built;
  return schema.precompute.get([&schema] { return init_precompute(schema); });
}

const Precompute& empty_precompute() {
  static const Precompute empty;
  return empty;
}

}  // namespace qx
