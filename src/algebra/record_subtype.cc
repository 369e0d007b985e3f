// Inclusion between records (fields and catch-all clauses) and between objects (attributes).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "algebra/subtype.h"

namespace qx {

namespace {

// A key node that admits every field name, by its own kind.
bool takes_every_name(const SchemaNode& key) {
  return key.kind == NodeKind::Str || key.kind == NodeKind::Anything;
}

// One field f of b: a field of a with its name must narrow it (and stay
// required where f is); without one, f must be optional and admit whatever
// a's catch-all clauses let through.
bool declared_field_holds(const SchemaNode& a, const RecordField& f, const FieldFacts& a_names,
                          const DecisionContext& ctx, AssumptionStack& stack) {
  if (const RecordField* g = a_names.find(f.name)) {
    return subtype_rec(g->node, f.node, ctx, stack) && (!f.required || g->required);
  }
  if (f.required) return false;
  for (const Clause& clause : a.clauses()) {
    if (!subtype_rec(clause.value, f.node, ctx, stack)) return false;
  }
  return true;
}

// Whether b's fields are visited by a's names: see declared_fields_phase.
bool visits_by_names(const SchemaNode& a, const SchemaNode& b) {
  const std::vector<RecordField>& wider = b.fields();
  return a.clauses().empty() && wider.size() > a.fields().size() &&
         wider.size() >= TreeFacts::kSmall;
}

// b's fields in order, stopping at the first that fails.
bool declared_fields_phase(const SchemaNode& a, const SchemaNode& b, const FieldFacts& a_names,
                           const FieldFacts& b_names, const DecisionContext& ctx,
                           AssumptionStack& stack) {
  const std::vector<RecordField>& wider = b.fields();
  if (!visits_by_names(a, b)) {
    for (const RecordField& f : wider) {
      if (!declared_field_holds(a, f, a_names, ctx, stack)) return false;
    }
    return true;
  }
  // Without clauses in a, a field of b that a lacks passes when optional and
  // fails when required, asking nothing of a: only the fields of b named in
  // a and b's required fields need a visit, in b's order. Found through a's
  // names, they cost what the narrower record does, not what b does.
  std::vector<uint32_t> named;
  for (const auto& [name, unused] : a_names.first) {
    auto it = b_names.first.find(name);
    if (it == b_names.first.end()) continue;
    for (uint32_t p = it->second;; p = b_names.next(p)) {
      named.push_back(p);
      if (b_names.next(p) == 0) break;
    }
  }
  std::ranges::sort(named);
  const std::vector<uint32_t>& required = b_names.required;
  size_t i = 0;
  size_t j = 0;
  while (i < named.size() || j < required.size()) {
    uint32_t p = 0;
    if (j == required.size() || (i < named.size() && named[i] <= required[j])) {
      p = named[i++];
      if (j < required.size() && required[j] == p) ++j;
    } else {
      p = required[j++];
    }
    if (!declared_field_holds(a, wider[p], a_names, ctx, stack)) return false;
  }
  return true;
}

// a's fields that b lacks are undeclared keys to b: some clause of b that
// takes any name must admit the value.
bool extra_fields_phase(const SchemaNode& a, const SchemaNode& b, const FieldFacts& b_names,
                        const DecisionContext& ctx, AssumptionStack& stack) {
  for (const RecordField& g : a.fields()) {
    if (b_names.find(g.name) != nullptr) continue;
    bool admitted = false;
    for (const Clause& clause : b.clauses()) {
      if (takes_every_name(clause.key) && subtype_rec(g.node, clause.value, ctx, stack)) {
        admitted = true;
        break;
      }
    }
    if (!admitted) return false;
  }
  return true;
}

bool clauses_phase(const SchemaNode& a, const SchemaNode& b, const DecisionContext& ctx,
                   AssumptionStack& stack) {
  if (!a.clauses().empty() && b.clauses().empty()) return false;
  for (const Clause& mine : a.clauses()) {
    bool covered = false;
    for (const Clause& theirs : b.clauses()) {
      if (subtype_rec(mine.key, theirs.key, ctx, stack) &&
          subtype_rec(mine.value, theirs.value, ctx, stack)) {
        covered = true;
        break;
      }
    }
    if (!covered) return false;
  }
  return true;
}

}  // namespace

bool record_subtype(const SchemaNode& a, const SchemaNode& b, const DecisionContext& ctx,
                    AssumptionStack& stack) {
  // a's names are looked up for b's fields, and b's for a's; visited by
  // a's names, b's fields need both indexed.
  const bool by_names = visits_by_names(a, b);
  const size_t a_lookups = by_names ? TreeFacts::kIndexed : b.fields().size();
  const size_t b_lookups = by_names ? TreeFacts::kIndexed : a.fields().size();
  FieldFacts a_scratch;
  FieldFacts b_scratch;
  const FieldFacts& a_names = ctx.facts.fields(a, a_scratch, a_lookups);
  const FieldFacts& b_names = ctx.facts.fields(b, b_scratch, b_lookups);
  // All three phases run, whatever the first one answers.
  const bool declared = declared_fields_phase(a, b, a_names, b_names, ctx, stack);
  const bool extra = extra_fields_phase(a, b, b_names, ctx, stack);
  const bool clauses = clauses_phase(a, b, ctx, stack);
  return declared && extra && clauses;
}

bool object_subtype(const SchemaNode& a, const SchemaNode& b, const DecisionContext& ctx,
                    AssumptionStack& stack) {
  if (a.index != b.index) {
    const SchemaNode a_class = make_indexed(NodeKind::Instance, a.index);
    const SchemaNode b_class = make_indexed(NodeKind::Instance, b.index);
    if (ctx.oracle.leaf_subtype(a_class, b_class) != kOracleYes) return false;
  }
  // Every attribute is looked up whatever its required flag, so the flags need no comparing.
  if (a.fields().empty()) return b.fields().empty();
  FieldFacts scratch;
  const FieldFacts& a_names = ctx.facts.fields(a, scratch, b.fields().size());
  for (const RecordField& f : b.fields()) {
    const RecordField* g = a_names.find(f.name);
    if (g == nullptr || !subtype_rec(g->node, f.node, ctx, stack)) return false;
  }
  return true;
}

}  // namespace qx
