// Emptiness and inclusion over hand-built trees, answered by an oracle that needs no interpreter.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "algebra/emptiness.h"
#include "algebra/subtype.h"
#include "algebra/tree_facts.h"

namespace {

using namespace qx;
using Nodes = std::vector<SchemaNode>;

int failures = 0;

void expect(bool ok, const char* what, int line) {
  if (ok) return;
  ++failures;
  std::fprintf(stderr, "decision_core_test.cc:%d: failed: %s\n", line, what);
}
#define EXPECT(cond) expect((cond), #cond, __LINE__)

// Pooled constants are numbers (NaN: one that orders against nothing);
// classes name their base class; a literal belongs to Int when integral,
// to Float otherwise, and to a literal of the same value.
class ModelOracle final : public LeafOracle {
 public:
  std::vector<double> constants{0, 1, 2, 3, 4, 5, 3.5, NAN, 1.2, 1.8, 0.5, 3};
  std::map<uint64_t, uint64_t> base_of{{1, 0}, {2, 1}};
  int calls = 0;
  // Every question in order, while `logging` is set.
  bool logging = false;
  std::vector<std::array<uint64_t, 5>> log;

  void note(uint64_t op, uint64_t w, uint64_t x, uint64_t y = 0, uint64_t z = 0) {
    ++calls;
    if (logging) log.push_back({op, w, x, y, z});
  }

  uint8_t leaf_subtype(const SchemaNode& a, const SchemaNode& b) override {
    note(0, static_cast<uint64_t>(a.kind), a.index, static_cast<uint64_t>(b.kind), b.index);
    if (a.kind == NodeKind::Instance) {
      if (b.kind != NodeKind::Instance) return kOracleCannotTell;
      for (uint64_t c = a.index;; c = base_of.at(c)) {
        if (c == b.index) return kOracleYes;
        if (!base_of.contains(c)) return kOracleNo;
      }
    }
    if (a.kind != NodeKind::Literal || a.index >= constants.size()) return kOracleCannotTell;
    const double v = constants[a.index];
    switch (b.kind) {
      case NodeKind::Literal:
        return b.index < constants.size() && constants[b.index] == v ? kOracleYes : kOracleNo;
      case NodeKind::Int:
        return std::floor(v) == v ? kOracleYes : kOracleNo;
      case NodeKind::Float:
        return std::floor(v) != v ? kOracleYes : kOracleNo;
      default:
        return kOracleCannotTell;
    }
  }
  int8_t compare_constants(uint64_t i, uint64_t j) override {
    note(1, i, j);
    if (i >= constants.size() || j >= constants.size()) return kOrderUnknown;
    const double x = constants[i], y = constants[j];
    if (x == y) return 0;
    if (x < y) return -1;
    if (x > y) return 1;
    return kOrderUnknown;
  }
  uint8_t no_integer_between(uint64_t lo, bool lo_ex, uint64_t hi, bool hi_ex) override {
    note(2, lo, hi, lo_ex, hi_ex);
    if (lo >= constants.size() || hi >= constants.size()) return kOracleCannotTell;
    const double l = lo_ex ? std::floor(constants[lo]) + 1 : std::ceil(constants[lo]);
    const double h = hi_ex ? std::ceil(constants[hi]) - 1 : std::floor(constants[hi]);
    if (std::isnan(l) || std::isnan(h)) return kOracleCannotTell;
    return l > h ? kOracleYes : kOracleNo;
  }
};

// ---- Node builders ------------------------------------------------------------

SchemaNode leaf(NodeKind k) { return make_leaf(k); }
SchemaNode lit(uint64_t i) { return make_indexed(NodeKind::Literal, i); }
SchemaNode inst(uint64_t i) { return make_indexed(NodeKind::Instance, i); }
SchemaNode ref(uint64_t d) { return make_indexed(NodeKind::Ref, d); }
SchemaNode comp(SchemaNode n) { return make_boxed(NodeKind::Complement, std::move(n)); }
SchemaNode Int() { return leaf(NodeKind::Int); }
SchemaNode Bool() { return leaf(NodeKind::Bool); }
SchemaNode Str() { return leaf(NodeKind::Str); }
SchemaNode Float() { return leaf(NodeKind::Float); }
SchemaNode Nothing() { return leaf(NodeKind::Nothing); }
SchemaNode Anything() { return leaf(NodeKind::Anything); }

template <class... T>
Nodes nodes(T... ns) {
  Nodes v;
  (v.push_back(std::move(ns)), ...);
  return v;
}
template <class... T>
SchemaNode uni(T... ns) {
  return make_members(NodeKind::Union, nodes(std::move(ns)...));
}
template <class... T>
SchemaNode inter(T... ns) {
  return make_members(NodeKind::Intersection, nodes(std::move(ns)...));
}

SchemaNode list_of(SchemaNode n) {
  return make_sequence(false, make_star_shape(make_one_shape(std::move(n))));
}
SchemaNode tuple_rest(SchemaNode n) {
  return make_sequence(true, make_star_shape(make_one_shape(std::move(n))));
}
template <class... T>
SchemaNode tuple_of(T... ns) {
  std::vector<ItemShape> parts;
  (parts.push_back(make_one_shape(std::move(ns))), ...);
  return make_sequence(true, make_parts_shape(ShapeKind::Seq, std::move(parts)));
}
template <class... T>
SchemaNode tuple_alt(T... shapes) {
  std::vector<ItemShape> parts;
  (parts.push_back(std::move(shapes)), ...);
  return make_sequence(true, make_parts_shape(ShapeKind::Alt, std::move(parts)));
}
ItemShape one(SchemaNode n) { return make_one_shape(std::move(n)); }

Constraint bound(ConstraintKind k, uint64_t v) { return Constraint{k, v, {}}; }
Constraint ge(uint64_t i) { return bound(ConstraintKind::Ge, i); }
Constraint gt(uint64_t i) { return bound(ConstraintKind::Gt, i); }
Constraint le(uint64_t i) { return bound(ConstraintKind::Le, i); }
Constraint lt(uint64_t i) { return bound(ConstraintKind::Lt, i); }
Constraint min_len(uint64_t n) { return bound(ConstraintKind::MinLen, n); }
Constraint max_len(uint64_t n) { return bound(ConstraintKind::MaxLen, n); }
template <class... C>
SchemaNode refine(SchemaNode base, C... cs) {
  return make_refinement(std::move(base), {cs...});
}

RecordField field(const char* name, SchemaNode n, bool required = true) {
  return RecordField{name, std::move(n), required};
}
template <class... F>
std::vector<RecordField> fields(F... fs) {
  std::vector<RecordField> v;
  (v.push_back(std::move(fs)), ...);
  return v;
}
SchemaNode record(std::vector<RecordField> fs, SchemaNode key = Nothing(),
                  SchemaNode value = Nothing(), bool with_clause = false) {
  std::vector<Clause> clauses;
  if (with_clause) clauses.push_back(Clause{std::move(key), std::move(value)});
  return make_record(std::move(fs), std::move(clauses));
}
SchemaNode dict_of(SchemaNode key, SchemaNode value, std::vector<RecordField> fs = {}) {
  return record(std::move(fs), std::move(key), std::move(value), true);
}

ModelOracle oracle;
bool empty(const SchemaNode& n, const Nodes& defs = {}) { return decide_empty(n, oracle, defs); }
bool sub(const SchemaNode& a, const SchemaNode& b, const Nodes& defs = {}) {
  return decide_subtype(a, b, oracle, defs);
}
bool equiv(const SchemaNode& a, const SchemaNode& b, const Nodes& defs = {}) {
  return decide_equivalent(a, b, oracle, defs);
}

// ---- Emptiness ----------------------------------------------------------------

void test_emptiness_by_structure() {
  EXPECT(!empty(Anything()));
  EXPECT(empty(Nothing()));
  EXPECT(empty(uni()));
  EXPECT(!empty(inter()));
  EXPECT(empty(inter(Int(), Str())));
  EXPECT(!empty(inter(Int(), Bool())));
  EXPECT(empty(inter(list_of(Int()), tuple_rest(Int()))));
  EXPECT(empty(inter(list_of(Int()), comp(list_of(Int())))));
  EXPECT(!empty(inter(leaf(NodeKind::Any), comp(leaf(NodeKind::Any)))));
  EXPECT(empty(comp(Anything())));
  EXPECT(!empty(comp(Nothing())));
  EXPECT(!empty(comp(leaf(NodeKind::Any))));
  EXPECT(empty(comp(uni(Int(), comp(Bool())))));  // covers every class
  EXPECT(empty(record(fields(field("a", Nothing())))));
  EXPECT(!empty(record(fields(field("a", Nothing(), false)))));
  EXPECT(!empty(dict_of(Str(), Nothing())));  // the empty dict
  EXPECT(empty(tuple_of(Int(), Nothing())));
  EXPECT(!empty(list_of(Nothing())));
  EXPECT(!empty(tuple_of()));
  EXPECT(empty(tuple_alt()));
  EXPECT(empty(tuple_alt(one(Nothing()), one(inter(Int(), Str())))));
  EXPECT(!empty(tuple_alt(one(Nothing()), ItemShape(ShapeKind::Empty))));
  EXPECT(!empty(leaf(NodeKind::Placeholder)));  // never proven, though it admits nothing
  EXPECT(!empty(ref(0)));                       // a missing definition
  EXPECT(empty(refine(Nothing(), ge(0))));
}

void test_emptiness_of_recursion() {
  // D = tuple[D]: no way out.
  EXPECT(empty(ref(0), nodes(tuple_of(ref(0)))));
  // D = None | tuple[D]
  EXPECT(!empty(ref(0), nodes(uni(leaf(NodeKind::NoneType), tuple_of(ref(0))))));
  // D = tuple[complement(D)]: a negative occurrence never counts as empty.
  EXPECT(!empty(ref(0), nodes(tuple_of(comp(ref(0))))));
  // D0 = tuple[D1], D1 = list[D0]: the empty list is a way out.
  EXPECT(!empty(ref(0), nodes(tuple_of(ref(1)), list_of(ref(0)))));
}

void test_bounds() {
  // Constants: index 3 is 3, 4 is 4, 5 is 5, 6 is 3.5, 7 is NaN, 11 is another 3.
  EXPECT(empty(refine(Int(), ge(5), le(3))));
  EXPECT(empty(refine(Int(), gt(3), lt(4))));
  EXPECT(!empty(refine(Float(), gt(3), lt(4))));
  EXPECT(!empty(refine(Int(), ge(3), le(3))));
  EXPECT(!empty(refine(Int(), ge(3), le(11))));
  EXPECT(empty(refine(Int(), gt(3), le(3))));
  EXPECT(empty(refine(Float(), ge(3), lt(11))));       // equal bounds, one open
  EXPECT(empty(refine(Int(), ge(3), gt(11), le(3))));  // Gt at an equal bound closes it
  EXPECT(!empty(refine(Int(), ge(4), ge(3), le(4))));  // a looser bound never replaces
  EXPECT(empty(refine(Int(), ge(3), ge(5), le(4))));   // a tighter one does
  EXPECT(empty(refine(Bool(), gt(6), lt(4))));         // 3.5 < x < 4 holds no integer
  EXPECT(!empty(refine(Int(), ge(7), le(3))));         // NaN orders against nothing
  EXPECT(!empty(refine(Int(), ge(3), le(7))));
  EXPECT(empty(refine(Str(), min_len(5), max_len(3))));
  EXPECT(!empty(refine(Str(), min_len(5))));
  EXPECT(empty(inter(refine(Int(), ge(5)), refine(Int(), le(3)))));
  EXPECT(empty(
      inter(Int(), refine(Float(), gt(3)), refine(Float(), lt(4)))));  // int flag from a member
  // Bounds nested in a member's base are not gathered.
  EXPECT(!empty(inter(refine(refine(Int(), ge(5)), min_len(0)), refine(Int(), le(3)))));
}

void test_budget() {
  // D_k = tuple[D_{k+1}, D_{k+1}] down to Int: every expansion of D_0 visits
  // 2^levels nodes before the Nothing that makes it empty.
  auto chain = [](int levels) {
    Nodes defs;
    for (int k = 0; k < levels; ++k) defs.push_back(tuple_of(ref(k + 1), ref(k + 1)));
    defs.push_back(Int());
    return defs;
  };
  const SchemaNode root = tuple_of(ref(0), Nothing());
  EXPECT(empty(root, chain(10)));
  EXPECT(!empty(root, chain(22)));  // more than a million steps
  const SchemaNode wide = tuple_of(ref(0), Int());
  EXPECT(sub(root, wide, chain(10)));
  EXPECT(!sub(root, wide, chain(22)));
}

// complement(literal) of `count` pool indexes from 100 on, with x and then y
// inserted at the given positions.
SchemaNode wide_with(size_t count, SchemaNode x, size_t at_x, SchemaNode y, size_t at_y) {
  Nodes members;
  for (uint64_t i = 0; i < count; ++i) members.push_back(comp(lit(100 + i)));
  members.insert(members.begin() + static_cast<std::ptrdiff_t>(at_x), std::move(x));
  members.insert(members.begin() + static_cast<std::ptrdiff_t>(at_y), std::move(y));
  return make_members(NodeKind::Intersection, std::move(members));
}

void test_wide_intersections() {
  // Few and many members, the deciding two wherever they stand among the others.
  for (const size_t count : {6, 7, 60}) {
    const size_t places[][2] = {{0, 1}, {0, count + 1}, {count / 2, count / 2 + 1}, {count, 0}};
    for (const auto& at : places) {
      auto wide = [&](SchemaNode x, SchemaNode y) {
        return empty(wide_with(count, std::move(x), at[0], std::move(y), at[1]));
      };
      EXPECT(wide(Int(), lit(103)));   // beside complement(lit(103))
      EXPECT(!wide(Int(), lit(160)));  // complemented by no member
      EXPECT(wide(Int(), comp(comp(lit(100)))));
      EXPECT(wide(list_of(tuple_of(Int(), Str())), comp(list_of(tuple_of(Int(), Str())))));
      EXPECT(!wide(list_of(tuple_of(Int(), Str())), comp(list_of(tuple_of(Int(), Float())))));
      EXPECT(!wide(leaf(NodeKind::Any), comp(leaf(NodeKind::Any))));
      EXPECT(wide(list_of(Int()), tuple_rest(Int())));
      EXPECT(!wide(Bool(), Int()));
      EXPECT(!wide(refine(Bool(), ge(0)), Int()));
      EXPECT(wide(refine(Int(), ge(0)), Str()));
      EXPECT(wide(Nothing(), lit(160)));
      EXPECT(!wide(comp(lit(100)), comp(lit(105))));  // repeats
    }
  }
  EXPECT(sub(wide_with(60, Int(), 0, Str(), 0), Nothing()));
}

// ---- Inclusion ----------------------------------------------------------------

void test_masks_and_leaves() {
  EXPECT(sub(Bool(), Int()));
  EXPECT(!sub(Int(), Bool()));
  EXPECT(equiv(uni(Bool(), Int()), Int()));
  EXPECT(!sub(Int(), leaf(NodeKind::Any)));
  EXPECT(sub(Int(), Anything()));
  EXPECT(sub(leaf(NodeKind::Any), Anything()));
  EXPECT(!equiv(leaf(NodeKind::Any), Anything()));
  EXPECT(sub(Nothing(), list_of(Int())));
  EXPECT(sub(Int(), comp(Str())));
  EXPECT(sub(comp(Int()), comp(Bool())));
  EXPECT(sub(lit(3), Int()));
  EXPECT(!sub(lit(6), Int()));
  EXPECT(sub(lit(3), uni(Str(), Int())));
  EXPECT(sub(uni(lit(3), lit(4)), uni(lit(4), lit(11), Str())));
  EXPECT(sub(inst(2), inst(0)));
  EXPECT(!sub(inst(0), inst(2)));
  EXPECT(sub(inst(2), uni(Str(), inst(1))));
  EXPECT(!sub(leaf(NodeKind::Placeholder), Int()));
  EXPECT(sub(inter(Int(), comp(Bool())), comp(Bool())));
  EXPECT(sub(inter(list_of(Int()), Str()), Bool()));  // empty left
  EXPECT(sub(inter(lit(3), Str()), uni(lit(4), lit(3))));
  oracle.calls = 0;
  EXPECT(!sub(uni(Int(), Str()), uni(Str(), Float())));
  EXPECT(oracle.calls == 0);  // masks alone decide
}

void test_sequences() {
  EXPECT(sub(list_of(Bool()), list_of(Int())));
  EXPECT(!sub(list_of(Int()), tuple_rest(Int())));
  EXPECT(sub(tuple_of(Int(), Int()), tuple_rest(Int())));
  EXPECT(!sub(tuple_rest(Int()), tuple_of(Int(), Int())));
  EXPECT(sub(tuple_of(Bool(), Int()), tuple_of(Int(), Int())));
  EXPECT(!sub(tuple_of(Int()), tuple_of(Int(), Int())));
  EXPECT(!sub(tuple_of(Int(), Int()), tuple_of(Int())));
  EXPECT(sub(tuple_rest(Nothing()), tuple_of()));  // an empty rest is no rest
  EXPECT(sub(tuple_alt(one(Bool()), one(Int())), tuple_of(Int())));
  EXPECT(sub(tuple_of(Bool()), tuple_alt(one(Str()), one(Int()))));
  EXPECT(!sub(tuple_of(Bool()), tuple_alt()));
  EXPECT(sub(make_boxed(NodeKind::Set, Bool()), make_boxed(NodeKind::Set, Int())));
  EXPECT(!sub(make_boxed(NodeKind::FrozenSet, Bool()), make_boxed(NodeKind::Set, Int())));
  EXPECT(sub(list_of(Int()), comp(tuple_rest(Int()))));
  EXPECT(sub(comp(list_of(Int())), comp(list_of(Bool()))));
  EXPECT(!sub(comp(list_of(Bool())), comp(list_of(Int()))));
}

void test_records() {
  auto point = [](bool y_required) {
    return record(fields(field("x", Int()), field("y", Int(), y_required)));
  };
  EXPECT(!sub(point(false), point(true)));
  EXPECT(sub(point(true), point(false)));
  EXPECT(sub(record(fields(field("a", Bool()), field("b", Bool()))), dict_of(Str(), Int())));
  EXPECT(!sub(dict_of(Anything(), Anything()), dict_of(Str(), Int())));
  EXPECT(!sub(record(fields(field("a", Bool()))), record({})));  // extra field, no clause
  EXPECT(!sub(record(fields(field("a", Bool()))), dict_of(refine(Str(), min_len(1)), Int())));
  EXPECT(sub(dict_of(Str(), Bool()), dict_of(Str(), Int(), fields(field("a", Int(), false)))));
  EXPECT(!sub(dict_of(Str(), Str()), dict_of(Str(), Anything(), fields(field("a", Int(), false)))));
  EXPECT(!sub(dict_of(Str(), Int()), record({})));
  // Wider record: more optional fields.
  EXPECT(sub(record(fields(field("a", Int()))),
             record(fields(field("a", Int()), field("b", Str(), false)))));
}

void test_objects() {
  auto object = [](uint64_t cls, std::vector<RecordField> attrs) {
    return make_object(cls, std::move(attrs));
  };
  EXPECT(sub(object(2, fields(field("a", Bool()), field("b", Str()))),
             object(0, fields(field("a", Int(), false)))));
  EXPECT(!sub(object(2, fields(field("b", Str()))), object(0, fields(field("a", Int(), false)))));
  EXPECT(!sub(object(0, fields(field("a", Int()))), object(2, fields(field("a", Int())))));
  EXPECT(sub(object(2, {}), object(0, {})));
  EXPECT(!sub(object(2, {}), object(0, fields(field("a", Int())))));
  EXPECT(sub(object(2, fields(field("a", Int()))), inst(1)));
}

void test_refinements() {
  EXPECT(sub(refine(Int(), gt(5)), refine(Int(), ge(5))));
  EXPECT(!sub(refine(Int(), ge(5)), refine(Int(), gt(5))));
  EXPECT(sub(refine(Int(), ge(5)), refine(Int(), gt(4))));
  EXPECT(sub(refine(Int(), ge(3)), refine(Int(), ge(11))));  // equal, distinct constants
  EXPECT(sub(refine(Int(), lt(3)), refine(Int(), le(4))));
  EXPECT(!sub(refine(Int(), le(4)), refine(Int(), lt(4))));
  EXPECT(!sub(refine(Int(), ge(7)), refine(Int(), ge(0))));  // NaN implies nothing
  EXPECT(sub(refine(Bool(), ge(3), le(4)), refine(Int(), le(5))));
  EXPECT(sub(refine(Str(), min_len(3), max_len(4)), refine(Str(), min_len(2))));
  EXPECT(!sub(refine(Str(), min_len(1)), refine(Str(), min_len(2))));
  const Constraint mult3{ConstraintKind::MultipleOf, 3, {}};
  const Constraint mult11{ConstraintKind::MultipleOf, 11, {}};
  EXPECT(sub(refine(Int(), mult3), refine(Int(), mult3)));
  EXPECT(!sub(refine(Int(), mult3, ge(1)), refine(Int(), mult11)));
  EXPECT(sub(refine(Int(), ge(3)), Int()));  // constraints dropped
  EXPECT(!sub(Int(), refine(Int(), ge(3))));
}

void test_recursion() {
  // D0 = None | tuple[bool, D0] against D1 = None | tuple[int, D1].
  Nodes defs = nodes(uni(leaf(NodeKind::NoneType), tuple_of(Bool(), ref(0))),
                     uni(leaf(NodeKind::NoneType), tuple_of(Int(), ref(1))));
  EXPECT(sub(ref(0), ref(1), defs));
  EXPECT(!sub(ref(1), ref(0), defs));
  EXPECT(!equiv(ref(0), ref(1), defs));
  EXPECT(sub(ref(5), Anything(), defs));  // the universal right answers first
  EXPECT(!sub(ref(5), Int(), defs));
  EXPECT(!sub(Int(), ref(5), defs));
}

// ---- Facts of one query ---------------------------------------------------------

// Nodes that differ from one another in one thing each: kind, index, tuple
// flag, shape, member order, name, required flag, clause, class, constraint.
Nodes varied_nodes() {
  Nodes v =
      nodes(Int(), leaf(NodeKind::Any), Anything(), lit(3), lit(4), inst(3), ref(3), list_of(Int()),
            tuple_rest(Int()), tuple_of(Int()), tuple_of(Int(), Int()), tuple_of(),
            tuple_alt(one(Int()), one(Str())), tuple_alt(one(Str()), one(Int())), uni(Int(), Str()),
            uni(Str(), Int()), inter(Int(), Str()), uni(Int()), uni(lit(3), lit(4)),
            uni(lit(3), lit(5)), comp(Int()), comp(comp(Int())), make_boxed(NodeKind::Set, Int()),
            make_boxed(NodeKind::FrozenSet, Int()), record(fields(field("a", Int()))),
            record(fields(field("a", Int(), false))), record(fields(field("b", Int()))),
            record(fields(field("a", Bool()))),
            record(fields(field("a", Int()), field("a", Int()))), dict_of(Str(), Int()),
            dict_of(Str(), Int(), fields(field("a", Int()))), dict_of(Int(), Str()),
            make_object(0, fields(field("a", Int()))), make_object(2, fields(field("a", Int()))),
            make_object(0, {}), refine(Int(), ge(3)), refine(Int(), ge(11)), refine(Int(), gt(3)),
            refine(Int(), ge(3), le(4)), refine(Int(), le(4), ge(3)), refine(Bool(), ge(3)));
  v.push_back(refine(Str(), Constraint{ConstraintKind::Regex, 0, "a+"}));
  v.push_back(refine(Str(), Constraint{ConstraintKind::Regex, 0, "a*"}));
  v.push_back(refine(Str(), Constraint{ConstraintKind::Regex, 7, "a+"}));
  v.push_back(make_sequence(true, make_star_shape(make_star_shape(one(Int())))));
  v.push_back(make_sequence(true, ItemShape(ShapeKind::Empty)));
  // Indexes at the ends of what an id holds directly, and past them.
  for (const uint64_t index : {(uint64_t{1} << 56) - 1, uint64_t{1} << 56, ~uint64_t{0}}) {
    v.push_back(lit(index));
    v.push_back(ref(index));
    v.push_back(uni(lit(index), Int()));
  }
  // Deep trees equal but for their innermost leaf.
  for (const NodeKind k : {NodeKind::Int, NodeKind::Str}) {
    SchemaNode deep = leaf(k);
    for (int i = 0; i < 40; ++i) deep = list_of(uni(lit(3), std::move(deep)));
    v.push_back(std::move(deep));
  }
  return v;
}

void test_tree_facts_equal_exactly_when_the_trees_are() {
  const Nodes xs = varied_nodes();
  const Nodes ys = varied_nodes();  // the same trees at other addresses
  // Plain readings and remembered ones (eager), each pair met twice.
  for (const bool eager : {false, true}) {
    TreeFacts facts(eager);
    for (int round = 0; round < 2; ++round) {
      for (const SchemaNode& x : xs) {
        for (const SchemaNode& y : ys) {
          const bool equal = schema_node_eq(x, y);
          EXPECT(facts.same(x, y) == equal);
          EXPECT(facts.same(y, x) == equal);
          if (x.kind == NodeKind::Sequence && y.kind == NodeKind::Sequence) {
            EXPECT(facts.same(x.shape(), y.shape()) == item_shape_eq(x.shape(), y.shape()));
          }
        }
        EXPECT(facts.classes(x).opaque == kind_classes(x).opaque);
        EXPECT(facts.classes(x).classes == kind_classes(x).classes);
      }
    }
  }
}

// list[Union[literals]]: `count` literals from 100 on, the last one `last`.
SchemaNode literals(uint64_t last, uint64_t count = 2000) {
  Nodes members;
  for (uint64_t i = 0; i < count; ++i) members.push_back(lit(i + 1 == count ? last : 100 + i));
  return list_of(make_members(NodeKind::Union, std::move(members)));
}

void test_large_trees_met_again() {
  for (const size_t count : {1, 60}) {
    EXPECT(empty(wide_with(count, literals(0), 0, comp(literals(0)), count)));
    EXPECT(!empty(wide_with(count, literals(0), 0, comp(literals(1)), count)));
    EXPECT(sub(uni(lit(3), lit(4)),
               uni(wide_with(count, literals(0), 0, comp(literals(0)), 1), Int())));
  }
  EXPECT(equiv(literals(0), literals(0)));
  EXPECT(!equiv(literals(0), literals(1)));
  // The assumption met again is an equal pair at other addresses.
  Nodes defs = nodes(uni(leaf(NodeKind::NoneType), tuple_of(literals(0), ref(0))),
                     uni(leaf(NodeKind::NoneType), tuple_of(literals(0), ref(1))),
                     uni(leaf(NodeKind::NoneType), tuple_of(literals(1), ref(2))));
  EXPECT(equiv(ref(0), ref(1), defs));
  EXPECT(!sub(ref(0), ref(2), defs));
}

// An intersection of `operands` complemented large lists and `others`
// lists that differ from each of them in the last literal, with `match`
// one of them equal to the first operand: many pairs of one kind, so that
// the large operands end up ordered rather than compared one by one.
SchemaNode many_large_operands(uint64_t operands, uint64_t others, bool match) {
  Nodes members;
  for (uint64_t i = 0; i < others; ++i) members.push_back(literals(5000 + i, 40));
  for (uint64_t i = 0; i < operands; ++i) members.push_back(comp(literals(i, 40)));
  if (match) members.push_back(literals(0, 40));
  return make_members(NodeKind::Intersection, std::move(members));
}

void test_many_large_operands() {
  for (const uint64_t operands : {1, 4}) {
    for (const uint64_t others : {0, 3, 3000}) {
      EXPECT(empty(many_large_operands(operands, others, true)));
      EXPECT(!empty(many_large_operands(operands, others, false)));
    }
  }
}

// ---- Remembered facts against plain readings --------------------------------------

// A random tree over a few leaves, literals 0 to 5, classes 0 to 2 and two
// definitions, with now and then a long list of literals that differs from
// the others in its last one, so that readings run long.
class TreeMaker {
 public:
  explicit TreeMaker(uint32_t seed) : random_(seed) {}

  SchemaNode make(int depth) {
    const uint32_t pick = below(depth <= 0 ? 7 : 17);
    switch (pick) {
      case 0:
        return Int();
      case 1:
        return Bool();
      case 2:
        return Str();
      case 3:
        return lit(below(6));
      case 4:
        return inst(below(3));
      case 5:
        return below(4) == 0 ? Nothing() : Anything();
      case 6:
        return ref(below(2));
      case 7:
        return list_of(make(depth - 1));
      case 8:
        return tuple_of(make(depth - 1), make(depth - 1));
      case 9:
        return comp(make(depth - 1));
      case 10:
      case 11:
        return make_members(below(2) == 0 ? NodeKind::Union : NodeKind::Intersection,
                            some(depth - 1, 1 + below(below(6) == 0 ? 12 : 3)));
      case 12:
        return refine(make(depth - 1), below(2) == 0 ? ge(below(6)) : le(below(6)));
      case 13:
        return record(fields(field("x", make(depth - 1), below(2) == 0),
                             field(below(2) == 0 ? "y" : "x", make(depth - 1), below(2) == 0)));
      case 14:
        return dict_of(Str(), make(depth - 1));
      case 15:
        return make_object(below(3), fields(field("a", make(depth - 1))));
      default:
        return literals(below(3), 40);
    }
  }

 private:
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }
  Nodes some(int depth, uint32_t n) {
    Nodes v;
    for (uint32_t i = 0; i < n; ++i) v.push_back(make(depth));
    return v;
  }
  std::mt19937 random_;
};

struct Outcome {
  bool answer;
  uint32_t left;
  std::vector<std::array<uint64_t, 5>> questions;
  bool operator==(const Outcome&) const = default;
};

// One inclusion (or, with `b` null, emptiness) query with the given budget,
// its facts remembered from the first reading or only as the plain
// readings run long.
Outcome decide(const SchemaNode& a, const SchemaNode* b, const Nodes& defs, uint32_t steps,
               bool eager) {
  oracle.log.clear();
  oracle.logging = true;
  WorkBudget budget;
  budget.remaining = steps;
  TreeFacts facts(eager);
  const DecisionContext ctx{oracle, defs, budget, facts};
  const bool answer = decide_within_stack([&] {
    if (b == nullptr) return node_emptiness(a, ctx).empty;
    AssumptionStack stack;
    return subtype_rec(a, *b, ctx, stack);
  });
  oracle.logging = false;
  return Outcome{answer, budget.remaining, std::move(oracle.log)};
}

void test_remembered_facts_change_nothing() {
  TreeMaker maker(20261207);
  int compared = 0;
  for (int i = 0; i < 600; ++i) {
    const Nodes defs = nodes(maker.make(3), uni(Int(), tuple_of(ref(1), ref(0))));
    const SchemaNode a = maker.make(4);
    // Against another tree, against a copy of `a` at other addresses (one
    // that meets equal trees at every step), or a union holding a copy.
    SchemaNode b = maker.make(4);
    if (i % 3 == 1) b = clone_schema_node(a);
    if (i % 3 == 2) b = uni(std::move(b), clone_schema_node(a));
    const std::array<const SchemaNode*, 2> rights{&b, nullptr};
    for (const SchemaNode* right : rights) {
      const Outcome whole = decide(a, right, defs, WorkBudget::kQuerySteps, false);
      const uint32_t spent = WorkBudget::kQuerySteps - whole.left;
      // Within the budget and at its edge: the same answer, steps and questions.
      for (const uint32_t steps : {WorkBudget::kQuerySteps, spent, spent - 1, spent / 2}) {
        EXPECT(decide(a, right, defs, steps, false) == decide(a, right, defs, steps, true));
        ++compared;
      }
    }
  }
  EXPECT(compared == 4800);
}

// Records over the names x and y, with Bool or Int values, either flag, and
// names declared twice, against the rule: b's fields in order, each by the
// first field of a's with its name, then a's fields that b lacks. Neither
// side has catch-all clauses, and a has at most two fields and no more than b.
struct FieldSpec {
  std::string name;
  bool required;
  NodeKind kind;
};
using RecordSpec = std::vector<FieldSpec>;

SchemaNode record_of(const RecordSpec& spec) {
  std::vector<RecordField> fs;
  for (const FieldSpec& f : spec) fs.push_back(field(f.name.c_str(), leaf(f.kind), f.required));
  return record(std::move(fs));
}

const FieldSpec* first_named(const RecordSpec& spec, const std::string& name) {
  const auto it = std::ranges::find(spec, name, &FieldSpec::name);
  return it == spec.end() ? nullptr : &*it;
}

bool record_rule(const RecordSpec& a, const RecordSpec& b) {
  for (const FieldSpec& f : b) {
    const FieldSpec* g = first_named(a, f.name);
    if (g == nullptr) {
      if (f.required) return false;
    } else if ((g->kind == NodeKind::Int && f.kind == NodeKind::Bool) ||
               (f.required && !g->required)) {
      return false;
    }
  }
  return std::ranges::all_of(a, [&](const FieldSpec& g) { return first_named(b, g.name); });
}

void test_records_by_field_names() {
  std::vector<RecordSpec> specs{RecordSpec{}};
  for (size_t from = 0; specs.back().size() < 3;) {
    const size_t to = specs.size();
    for (size_t i = from; i < to; ++i) {
      for (const char* name : {"x", "y"}) {
        for (const bool required : {true, false}) {
          for (const NodeKind kind : {NodeKind::Bool, NodeKind::Int}) {
            RecordSpec longer = specs[i];
            longer.push_back(FieldSpec{name, required, kind});
            specs.push_back(std::move(longer));
          }
        }
      }
    }
    from = to;
  }
  int checked = 0;
  for (const RecordSpec& b : specs) {
    for (const RecordSpec& a : specs) {
      if (a.size() > 2 || a.size() > b.size()) continue;
      const SchemaNode ra = record_of(a);
      const SchemaNode rb = record_of(b);
      if (schema_node_eq(ra, rb)) continue;
      EXPECT(sub(ra, rb) == record_rule(a, b));
      ++checked;
    }
  }
  EXPECT(checked > 30000);
}

}  // namespace

int main() {
  test_emptiness_by_structure();
  test_emptiness_of_recursion();
  test_bounds();
  test_budget();
  test_wide_intersections();
  test_masks_and_leaves();
  test_sequences();
  test_records();
  test_objects();
  test_refinements();
  test_recursion();
  test_tree_facts_equal_exactly_when_the_trees_are();
  test_large_trees_met_again();
  test_many_large_operands();
  test_remembered_facts_change_nothing();
  test_records_by_field_names();
  if (failures != 0) {
    std::fprintf(stderr, "%d failed\n", failures);
    return 1;
  }
  std::puts("decision core: all passed");
  return 0;
}
