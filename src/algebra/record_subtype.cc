// Inclusion between records (fields and catch-all clauses) and between objects (attributes).
#include <string_view>

#include "absl/container/flat_hash_map.h"
#include "algebra/subtype.h"

namespace qx {

namespace {

// Field names of one side, each locating its field. Borrows the fields.
class FieldIndex {
 public:
  explicit FieldIndex(const std::vector<RecordField>& fields) {
    by_name_.reserve(fields.size());
    for (const RecordField& f : fields) by_name_.try_emplace(f.name, &f);
  }
  const RecordField* find(std::string_view name) const {
    auto it = by_name_.find(name);
    return it == by_name_.end() ? nullptr : it->second;
  }
  bool empty() const { return by_name_.empty(); }

 private:
  absl::flat_hash_map<std::string_view, const RecordField*> by_name_;
};

// A key node that admits every field name, by its own kind.
bool takes_every_name(const SchemaNode& key) {
  return key.kind == NodeKind::Str || key.kind == NodeKind::Anything;
}

// b's fields: shared ones must narrow (and stay required where b requires
// them); ones a lacks must be optional in b and admit whatever a's
// catch-all clauses let through.
bool declared_fields_phase(const SchemaNode& a, const SchemaNode& b, const FieldIndex& a_names,
                           const DecisionContext& ctx, AssumptionStack& stack) {
  for (const RecordField& f : b.fields()) {
    if (const RecordField* g = a_names.find(f.name)) {
      if (!subtype_rec(g->node, f.node, ctx, stack)) return false;
      if (f.required && !g->required) return false;
      continue;
    }
    if (f.required) return false;
    for (const Clause& clause : a.clauses()) {
      if (!subtype_rec(clause.value, f.node, ctx, stack)) return false;
    }
  }
  return true;
}

// a's fields that b lacks are undeclared keys to b: some clause of b that
// takes any name must admit the value.
bool extra_fields_phase(const SchemaNode& a, const SchemaNode& b, const FieldIndex& b_names,
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
  const FieldIndex a_names(a.fields());
  const FieldIndex b_names(b.fields());
  // All three phases run, whatever the first one answers.
  const bool declared = declared_fields_phase(a, b, a_names, ctx, stack);
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
  const FieldIndex a_names(a.fields());
  if (a_names.empty()) return b.fields().empty();
  for (const RecordField& f : b.fields()) {
    const RecordField* g = a_names.find(f.name);
    if (g == nullptr || !subtype_rec(g->node, f.node, ctx, stack)) return false;
  }
  return true;
}

}  // namespace qx
