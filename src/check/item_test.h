// A node's test for a run of Python list items, read once for the run.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>

#include "check/number_order.h"
#include "check/walk_kinds.h"

namespace qx {

// accepts_natively of one node, prepared for many items: the base's type
// test, and for a Refinement its bounds with their limits read once (a small
// int limit as a machine integer). accepts() is true only where
// accepts_natively is; false means: test the item the full way. A default
// test accepts nothing.
class ItemTest {
 public:
  ItemTest() = default;
  ItemTest(const SchemaNode& node, const WalkContext& ctx) {
    if (node.kind != NodeKind::Refinement) {
      base_ = TypeTest(node);
      return;
    }
    for (const Constraint& constraint : node.constraints()) {
      const int op = bound_operator(constraint.kind);
      if (op < 0) {
        others_ = true;  // asked of holds_natively, item by item
        continue;
      }
      PyObject* limit = ctx.pool->get(constraint.value);
      // Accepts nothing (the walk decides): a limit outside the pool, or
      // more bounds than are kept here.
      if (limit == nullptr || bounds_count_ == bounds_.size()) return;
      Bound& bound = bounds_[bounds_count_++];
      bound = Bound{limit, op, false, 0};
      if (Py_IS_TYPE(limit, &PyLong_Type) &&
          PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(limit))) {
        bound.small = true;
        bound.value = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(limit));
      }
    }
    base_ = TypeTest(node.child());
    refinement_ = &node;
    ctx_ = &ctx;
  }

  bool accepts(PyObject* obj) const {
    if (!base_.accepts(obj)) return false;
    return refinement_ == nullptr || constraints_hold(obj);
  }

 private:
  struct Bound {
    PyObject* limit;
    int op;
    bool small;  // an exact int within a machine word: `value`
    Py_ssize_t value;
  };

  static bool ordered(Py_ssize_t x, Py_ssize_t y, int op) {
    switch (op) {
      case Py_LT:
        return x < y;
      case Py_LE:
        return x <= y;
      case Py_GT:
        return x > y;
      default:
        return x >= y;
    }
  }

  bool constraints_hold(PyObject* obj) const {
    auto* number = reinterpret_cast<PyLongObject*>(obj);
    const bool small = Py_IS_TYPE(obj, &PyLong_Type) && PyUnstable_Long_IsCompact(number);
    const Py_ssize_t value = small ? PyUnstable_Long_CompactValue(number) : 0;
    for (size_t i = 0; i < bounds_count_; ++i) {
      const Bound& bound = bounds_[i];
      const bool holds = small && bound.small ? ordered(value, bound.value, bound.op)
                                              : compare_numbers(obj, bound.limit, bound.op) == 1;
      if (!holds) return false;
    }
    if (!others_) return true;
    for (const Constraint& constraint : refinement_->constraints()) {
      const bool prepared = bound_operator(constraint.kind) >= 0;
      if (!prepared && !holds_natively(constraint, obj, *ctx_)) return false;
    }
    return true;
  }

  TypeTest base_;
  const SchemaNode* refinement_ = nullptr;
  const WalkContext* ctx_ = nullptr;
  std::array<Bound, 4> bounds_{};
  size_t bounds_count_ = 0;
  bool others_ = false;  // constraints beyond the prepared bounds
};

}  // namespace qx
