// The per-validator index: record keys, literal sets of unions and compiled patterns.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "check/precompute.h"
#include "check/test_cost.h"
#include "compile/pattern.h"
#include "py/stack.h"
#include "py/text.h"
#include "schema/compiled_schema.h"
#include "schema/measure.h"

namespace qx {

namespace {

void index_record(const SchemaNode& record, Precompute& tables) {
  if (record.fields().empty() || tables.records.contains(&record)) return;
  tables.records.emplace(&record, declared_keys(record));
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

// The texts of a node that accepts exactly some str literals: a Literal or a
// union of them, each an exact str with UTF-8 text. False for any other node.
bool tag_texts(const SchemaNode& node, const ConstantsPool& pool,
               std::vector<std::string_view>& texts) {
  if (node.kind == NodeKind::Union) {
    for (const SchemaNode& member : node.members()) {
      if (member.kind != NodeKind::Literal || !tag_texts(member, pool, texts)) return false;
    }
    return !node.members().empty();
  }
  if (node.kind != NodeKind::Literal) return false;
  PyObject* literal = pool.get(node.index);
  std::string_view text;
  if (literal == nullptr || !PyUnicode_CheckExact(literal) || !utf8_view(literal, text)) {
    PyErr_Clear();
    return false;
  }
  texts.push_back(text);
  return true;
}

// The required field named `key` of a record whose names are all distinct.
const RecordField* required_field(const SchemaNode& record, std::string_view key,
                                  uint32_t& position) {
  const RecordField* found = nullptr;
  for (size_t i = 0; i < record.fields().size(); ++i) {
    if (record.fields()[i].name != key) continue;
    if (found != nullptr) return nullptr;  // declared twice
    found = &record.fields()[i];
    position = static_cast<uint32_t>(i);
  }
  return found != nullptr && found->required ? found : nullptr;
}

// A tag index when every record member (at least two) requires one key
// whose values only str literals accept; the key is the first such field of
// the first record member. Whether the members can call user code is settled
// later, with the costs.
void index_tags(const SchemaNode& node, const ConstantsPool& pool, Precompute& tables) {
  if (tables.tags.contains(&node)) return;
  const SchemaNode* first = nullptr;
  size_t records = 0;
  for (const SchemaNode& member : node.members()) {
    if (member.kind != NodeKind::Record) continue;
    if (first == nullptr) first = &member;
    ++records;
  }
  if (records < 2) return;
  std::vector<std::string_view> texts;
  for (const RecordField& candidate : first->fields()) {
    TagIndex index;
    index.key = candidate.name;
    index.tagged.assign(node.members().size(), false);
    index.fields.assign(node.members().size(), 0);
    bool all = true;
    for (size_t i = 0; all && i < node.members().size(); ++i) {
      const SchemaNode& member = node.members()[i];
      if (member.kind != NodeKind::Record) continue;
      uint32_t position = 0;
      const RecordField* field = required_field(member, candidate.name, position);
      texts.clear();
      all = field != nullptr && tag_texts(field->node, pool, texts);
      if (!all) break;
      if (&member == first) index.hint = position;
      index.tagged[i] = true;
      index.fields[i] = position;
      for (std::string_view text : texts) {
        auto [at, added] = index.by_text.try_emplace(std::string(text), index.texts.size());
        if (added) index.texts.emplace_back(std::string(text), std::vector<uint32_t>());
        std::vector<uint32_t>& chosen = index.texts[at->second].second;
        if (chosen.empty() || chosen.back() != i) chosen.push_back(static_cast<uint32_t>(i));
      }
    }
    if (!all) continue;
    tables.tags.emplace(&node, std::move(index));
    return;
  }
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
    index_tags(node, pool, tables);
  } else if (node.kind == NodeKind::Refinement) {
    index_patterns(node.constraints(), tables);
  }
  if (may_run_user_code(node, pool)) tables.may_run_user_code = true;
  for_each_child(node, [&](const SchemaNode& child) { build_precompute(child, pool, tables); });
}

// The early-test costs of every indexed record, once the definitions are costed.
void cost_records(const CompiledSchema& schema, Precompute& tables) {
  const TestCosts costs(schema.definitions, schema.pool);
  for (auto& [record, keys] : tables.records) {
    keys.costs.reserve(record->fields().size());
    for (const RecordField& field : record->fields()) keys.costs.push_back(costs.of(field.node));
    // Clauses test keys and values that may be subclasses: a Bounded part
    // counts as Python, since the clause test is costed once for both.
    TestCost clauses = TestCost::Plain;
    for (const Clause& clause : record->clauses()) {
      for (const SchemaNode* part : {&clause.key, &clause.value}) {
        TestCost cost = costs.of(*part);
        clauses = std::max(clauses, cost == TestCost::Bounded ? TestCost::Python : cost);
      }
    }
    keys.clauses = clauses;
  }
  // A member skipped by its tag must be one whose walk calls no user code.
  absl::erase_if(tables.tags, [&](const auto& entry) {
    const SchemaNode& node = *entry.first;
    for (size_t i = 0; i < node.members().size(); ++i) {
      if (!entry.second.tagged[i]) continue;
      auto keys = tables.records.find(&node.members()[i]);
      if (keys == tables.records.end() || keys->second.clauses == TestCost::Python) return true;
      for (TestCost cost : keys->second.costs) {
        if (cost == TestCost::Bounded || cost == TestCost::Python) return true;
      }
    }
    return false;
  });
  // The records table is complete: its entries stay where they are. A
  // Bounded member counts as one that may call user code: the value may be
  // a dict subclass with a length or comparison of its own.
  for (auto& [node, index] : tables.tags) {
    index.keys.assign(node->members().size(), nullptr);
    index.may_run_user_code.assign(node->members().size(), false);
    for (size_t i = 0; i < index.keys.size(); ++i) {
      const SchemaNode& member = node->members()[i];
      if (index.tagged[i]) index.keys[i] = &tables.records.find(&member)->second;
      const TestCost cost = costs.of(member);
      index.may_run_user_code[i] = cost == TestCost::Bounded || cost == TestCost::Python;
    }
  }
}

bool builtin_values_run_no_python(const CompiledSchema& schema) {
  if (reaches_user_code(schema.root, schema.pool)) return false;
  for (const SchemaNode& definition : schema.definitions) {
    if (reaches_user_code(definition, schema.pool)) return false;
  }
  return true;
}

}  // namespace

DeclaredKeys declared_keys(const SchemaNode& record) {
  const std::vector<RecordField>& fields = record.fields();
  DeclaredKeys keys;
  keys.required_before.reserve(fields.size());
  // By the position of a name's first field: its last field so far.
  std::vector<uint32_t> last(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    const auto position = static_cast<uint32_t>(i);
    auto [at, added] = keys.positions.try_emplace(fields[i].name, position);
    if (added) {
      last[i] = position;
    } else {
      if (keys.same_name.empty()) keys.same_name.assign(fields.size(), 0);
      const uint32_t first = at->second;
      keys.same_name[last[first]] = position;
      last[first] = position;
    }
    keys.required_before.push_back(static_cast<uint32_t>(keys.required));
    if (fields[i].required) ++keys.required;
  }
  return keys;
}

std::unique_ptr<Precompute> init_precompute(const CompiledSchema& schema) {
  auto tables = std::make_unique<Precompute>();
  build_precompute(schema.root, schema.pool, *tables);
  for (const SchemaNode& definition : schema.definitions) {
    build_precompute(definition, schema.pool, *tables);
  }
  std::sort(tables->regexes.begin(), tables->regexes.end());
  cost_records(schema, *tables);
  tables->builtin_values_run_no_python = builtin_values_run_no_python(schema);
  return tables;
}

const Precompute& ensure_precompute(const CompiledSchema& schema) {
  if (const Precompute* built = schema.precompute.peek()) return *built;
  return schema.precompute.get([&schema] { return init_precompute(schema); });
}

const Precompute& WalkIndex::covering(const SchemaNode& root) {
  // A leaf holds nothing to index; a tree indexed once is indexed for good.
  const auto holds_entries = [](const SchemaNode& node) {
    return node.kind == NodeKind::Ref || !node.members().empty() || !node.fields().empty() ||
           !node.clauses().empty() || node.kind == NodeKind::Sequence ||
           node.kind == NodeKind::Set || node.kind == NodeKind::FrozenSet ||
           node.kind == NodeKind::Complement || node.kind == NodeKind::Refinement;
  };
  if (!holds_entries(root) || indexed_.contains(&root)) return tables_;
  const size_t regexes_before = tables_.regexes.size();
  std::vector<const SchemaNode*> work{&root};
  while (!work.empty()) {
    const SchemaNode* node = work.back();
    work.pop_back();
    if (node->kind == NodeKind::Ref) {
      if (node->index < definitions_.size() && definitions_indexed_.insert(node->index).second) {
        work.push_back(&definitions_[node->index]);
      }
      continue;
    }
    if (!indexed_.insert(node).second) continue;
    if (node->kind == NodeKind::Union) {
      index_union(*node, pool_, tables_);
    } else if (node->kind == NodeKind::Refinement) {
      index_patterns(node->constraints(), tables_);
    }
    for_each_child(*node, [&](const SchemaNode& child) {
      if (holds_entries(child)) work.push_back(&child);
    });
  }
  if (tables_.regexes.size() != regexes_before) std::ranges::sort(tables_.regexes);
  return tables_;
}

}  // namespace qx
