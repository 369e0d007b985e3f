// The Python-backed leaf oracle: class relations, constant order, integer gaps, literal membership.
#include "algebra/oracle.h"

#include "algebra/order.h"
#include "algebra/tree_facts.h"
#include "check/precompute.h"
#include "check/walk.h"
#include "py/once_cell.h"
#include "py/stack.h"

namespace qx {

namespace {

// Drops whatever exception a failed C API call left pending: a decision
// never raises from Python code it runs.
void discard_exception() { PyErr_Clear(); }

struct MathFunctions {
  Ref floor;
  Ref ceil;
};

OnceCell<MathFunctions> math_cell;

Result<MathFunctions> init_math_floor_ceil() {
  QX_ASSIGN(Ref math, checked(PyImport_ImportModule("math")));
  MathFunctions fns;
  QX_ASSIGN(fns.floor, checked(PyObject_GetAttrString(math.get(), "floor")));
  QX_ASSIGN(fns.ceil, checked(PyObject_GetAttrString(math.get(), "ceil")));
  return fns;
}

Result<Ref> call_one_arg(PyObject* f, PyObject* x) { return checked(PyObject_CallOneArg(f, x)); }

// obj.<name>(1) by name: no reflected method is tried, and a NotImplemented
// result is returned like any other value.
Result<Ref> call_method_with_one(PyObject* obj, const char* name) {
  QX_ASSIGN(Ref method, checked(PyUnicode_FromString(name)));
  QX_ASSIGN(Ref one, checked(PyLong_FromLong(1)));
  PyObject* args[] = {obj, one.get()};
  return checked(
      PyObject_VectorcallMethod(method.get(), args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// -1, 0 or 1 by ==, then <, then >; kOrderUnknown when one raises or none holds.
int8_t three_way(PyObject* x, PyObject* y) {
  static constexpr struct {
    int op;
    int8_t order;
  } kTests[] = {{Py_EQ, 0}, {Py_LT, -1}, {Py_GT, 1}};
  for (const auto& test : kTests) {
    Ref result = Ref::steal(PyObject_RichCompare(x, y, test.op));
    const int truth = result ? PyObject_IsTrue(result.get()) : -1;
    if (truth < 0) {
      discard_exception();
      return kOrderUnknown;
    }
    if (truth == 1) return test.order;
  }
  return kOrderUnknown;
}

// The smallest integer admitted by a lower end, or the largest by an upper end.
Result<Ref> integer_end(const MathFunctions& fns, PyObject* bound, bool lower, bool exclusive) {
  // Inclusive lower: ceil; exclusive lower: floor + 1. Upper ends mirror it.
  PyObject* round = (lower != exclusive) ? fns.ceil.get() : fns.floor.get();
  QX_ASSIGN(Ref rounded, call_one_arg(round, bound));
  if (!exclusive) return rounded;
  return call_method_with_one(rounded.get(), lower ? "__add__" : "__sub__");
}

// A walk reads no table for a leaf: it holds no union, pattern or record.
bool walk_reads_tables(const SchemaNode& node) {
  return node.kind == NodeKind::Ref || within_kind(node.kind) == WithinKind::Tree;
}

// Whether walking a literal that speaks for its equals against `node` runs
// only the interpreter's own code: type tests, and for a Literal the
// equality of two objects of the literal's own class, which is builtin (an
// enum member speaks only while no class of its own defines __eq__).
bool walk_runs_no_user_code(const SchemaNode& node) {
  return within_kind(node.kind) == WithinKind::Equal || node.kind == NodeKind::Literal;
}

// What a walk that reads no table is given.
const Precompute kNoTables;

}  // namespace

// A literal holds every value of its exact type that compares equal to the
// pooled one, yet the walk sees the pooled value alone. Its verdict speaks for
// the whole set only where equal values of that type are interchangeable:
// frozenset({1.0}) also holds frozenset({1}), and 0.0 also holds -0.0, which a
// predicate can tell apart; an enum member is the set's only value where its
// class keeps one member per equal value. Elsewhere a yes and a no are
// equally unfounded.
bool PoolOracle::speaks_for_its_equals(PyObject* literal) {
  PyTypeObject* type = Py_TYPE(literal);
  if (type == &PyLong_Type || type == &PyUnicode_Type || type == &PyBool_Type ||
      type == &PyBytes_Type || literal == Py_None) {
    return true;
  }
  if (type == &PyFloat_Type) return PyFloat_AS_DOUBLE(literal) != 0.0;
  return enum_members_.sole_equal(literal);
}

// The tables of a built index give the walk the verdicts and the Python
// calls of a walk without them, only sooner; a tree is indexed once a second
// walk enters it (from the first in an eager build).
const Precompute& PoolOracle::walk_tables(const SchemaNode& b) {
  if (!walk_reads_tables(b)) return kNoTables;
  if (&b == last_indexed_) return *last_tables_;
  if (walks_ == nullptr) walks_ = std::make_unique<Walks>(pool_, definitions_);
  if (!QX_EAGER_MEMO && walks_->walked_once.insert(&b).second) return kNoTables;
  last_indexed_ = &b;
  last_tables_ = &walks_->index.covering(b);
  return *last_tables_;
}

uint8_t PoolOracle::leaf_subtype(const SchemaNode& a, const SchemaNode& b) {
  switch (a.kind) {
    case NodeKind::Instance: {
      if (b.kind != NodeKind::Instance) return kOracleCannotTell;
      PyObject* cls = pool_.get(a.index);
      PyObject* base = pool_.get(b.index);
      if (cls == nullptr || base == nullptr) return kOracleCannotTell;
      if (!PyType_Check(cls)) return kOracleNo;
      enum_members_.forget();  // a subclass hook may run
      const int r = PyObject_IsSubclass(cls, base);
      if (r < 0) {
        discard_exception();
        return kOracleNo;
      }
      return r == 1 ? kOracleYes : kOracleNo;
    }
    case NodeKind::Literal: {
      PyObject* literal = pool_.get(a.index);
      if (literal == nullptr || !speaks_for_its_equals(literal)) return kOracleCannotTell;
      if (b.kind == NodeKind::Literal) return literal_in_literal(literal, b);
      return literal_member(literal, b);
    }
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Object:
    case NodeKind::Refinement:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return kOracleCannotTell;
  }
  return kOracleCannotTell;
}

// The walk's test of a value against a Literal, taken without setting up a
// walk, as a decision asks it of literals pair by pair: the same exact type,
// then ==, with the same Python calls in the same order. A walk that meets
// the end of the native stack, or an exception of either kind, says no.
uint8_t PoolOracle::literal_in_literal(PyObject* literal, const SchemaNode& b) {
  PyObject* other = pool_.get(b.index);
  if (other == nullptr || stack_exhausted() || Py_TYPE(literal) != Py_TYPE(other)) {
    return kOracleNo;
  }
  Ref eq = Ref::steal(PyObject_RichCompare(literal, other, Py_EQ));
  const int truth = eq ? PyObject_IsTrue(eq.get()) : -1;
  if (truth < 0) {
    discard_exception();
    return kOracleNo;
  }
  return truth == 1 ? kOracleYes : kOracleNo;
}

// A literal is a subset of `b` when its one value is a member: the literal
// admits only values of its exact type equal to it.
uint8_t PoolOracle::literal_member(PyObject* literal, const SchemaNode& b) {
  if (!walk_runs_no_user_code(b)) enum_members_.forget();
  FatalSlot fatal;
  bool stop = false;
  const WalkContext ctx{&pool_, &definitions_, &walk_tables(b),     &guard_,
                        &fatal, &stop,         WalkMode::Membership};
  Path path;
  ErrorList errors;
  const bool member = walk(b, ValueRef::python(literal), path, ctx, errors);
  // A fatal exception (say a MemoryError from a predicate) is dropped: the
  // question is merely unanswered, and the decision says no.
  if (fatal.exception) {
    enum_members_.forget();  // its release may run a finalizer
    return kOracleNo;
  }
  return member ? kOracleYes : kOracleNo;
}

int8_t PoolOracle::compare_constants(uint64_t i, uint64_t j) {
  PyObject* x = pool_.get(i);
  PyObject* y = pool_.get(j);
  if (x == nullptr || y == nullptr) return kOrderUnknown;
  enum_members_.forget();  // comparisons may run any code
  return three_way(x, y);
}

uint8_t PoolOracle::no_integer_between(uint64_t lo, bool lo_exclusive, uint64_t hi,
                                       bool hi_exclusive) {
  enum_members_.forget();  // rounding and the import of math may run any code
  Result<const MathFunctions*> fns = math_cell.get(init_math_floor_ceil);
  if (!fns.ok()) return kOracleCannotTell;  // the error is dropped with `fns`
  PyObject* low = pool_.get(lo);
  PyObject* high = pool_.get(hi);
  if (low == nullptr || high == nullptr) return kOracleCannotTell;
  Result<Ref> lower = integer_end(*fns.value(), low, true, lo_exclusive);
  if (!lower.ok()) return kOracleCannotTell;
  Result<Ref> upper = integer_end(*fns.value(), high, false, hi_exclusive);
  if (!upper.ok()) return kOracleCannotTell;
  switch (three_way(lower.value().get(), upper.value().get())) {
    case 1:
      return kOracleYes;
    case 0:
    case -1:
      return kOracleNo;
    default:
      return kOracleCannotTell;
  }
}

}  // namespace qx
