// When records may leave their value texts for later: within a union's error pass that no user code
// can enter.
#pragma once

#include <Python.h>

#include "check/walk.h"
#include "schema/precompute.h"

namespace qx {

// A union's error pass walks every member and keeps the records of one: a
// text made for each record it drops (a repr of the subtree its member
// failed on) can cost far more than the walk, and over a deep value each
// level's pass drops records for the whole subtree below it. Where the
// schema calls no user code on builtin values and the union's value is
// builtin throughout, no user code can run during the pass: nothing can
// change a value, or tell when its repr is made. Records made in such a
// pass then hold their values, and the pass makes texts only for those it
// keeps, once its walks are done. Everywhere else each text is made with
// its record, as a repr may run code of the user's.
class LateTexts {
 public:
  explicit LateTexts(const Precompute& precompute)
      : possible_(precompute.builtin_values_run_no_python) {}

  // Starts holding texts for a union's error pass over `value`. True when
  // this pass is the one to end it; false when texts are made at once, or
  // an enclosing pass already holds them (its walks stay within its value).
  // `quiet`: the whole check is known to run no user code (its memo is
  // open, as it is only then), so the value needs no look.
  bool begin(ValueRef value, bool quiet);
  // Ends the pass begin() answered true for.
  void end() { holding_ = false; }
  bool holding() const { return holding_; }

 private:
  bool possible_;
  bool holding_ = false;
};

// Whether a record made now in `ctx` may hold its value for a text made
// later: false in Membership, which makes no records.
bool late_texts(const WalkContext& ctx);

}  // namespace qx
