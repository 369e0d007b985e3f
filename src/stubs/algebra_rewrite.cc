// Placeholder bodies until simplify, open and close lands.
#include "algebra/algebra.h"

namespace qx {

Result<CompiledSchema> simplify_impl(const CompiledSchema&) {
  return not_implemented_error("Validator.simplify() is not available yet");
}
Result<CompiledSchema> open_impl(const CompiledSchema&) {
  return not_implemented_error("Validator.open() is not available yet");
}
Result<CompiledSchema> close_impl(const CompiledSchema&) {
  return not_implemented_error("Validator.close() is not available yet");
}

}  // namespace qx
