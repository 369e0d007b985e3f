// Placeholder bodies until the validation walk lands.
#include "check/check.h"
#include "check/precompute.h"

namespace qx {

Status validate_core(const CompiledSchema&, PyObject*, bool) {
  return not_implemented_error("Validator.validate() is not available yet");
}

Result<bool> is_valid_core(const CompiledSchema&, PyObject*) {
  return not_implemented_error("Validator.is_valid() is not available yet");
}

}  // namespace qx
