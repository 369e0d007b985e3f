// Exception folding: how a Python error met during a check becomes a verdict or stops the check.
#include "check/walk.h"

namespace qx {

bool is_fatal_exception(PyObject* exception) {
  // Since 3.12 a raised exception is always an instance: nothing to normalise.
  if (!PyErr_GivenExceptionMatches(exception, PyExc_Exception)) return true;
  if (PyErr_GivenExceptionMatches(exception, PyExc_MemoryError)) return true;
  return PyErr_GivenExceptionMatches(exception, PyExc_RecursionError) != 0;
}

void record_fatal_error(Ref exception, const WalkContext& ctx) {
  // The first fatal exception wins; later ones are dropped with `exception`.
  if (!ctx.fatal->exception) ctx.fatal->exception = std::move(exception);
  *ctx.stop = true;
}

bool fold_call_result(int outcome, const WalkContext& ctx) {
  if (outcome >= 0) return outcome != 0;
  Ref exception = Ref::steal(PyErr_GetRaisedException());
  // -1 with nothing raised breaks the C API's contract; it still means "no".
  if (exception && is_fatal_exception(exception.get())) {
    record_fatal_error(std::move(exception), ctx);
  }
  return false;
}

}  // namespace qx
