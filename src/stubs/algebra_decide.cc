// Placeholder bodies until the combinators and decisions lands.
#include "algebra/algebra.h"

namespace qx {

bool is_empty_impl(const CompiledSchema&) {
  throw std::runtime_error("Validator.is_empty() is not available yet");
}
Result<bool> is_subtype_of_impl(const CompiledSchema&, PyObject*) {
  return not_implemented_error("Validator.is_subtype_of() is not available yet");
}
Result<bool> is_equivalent_impl(const CompiledSchema&, PyObject*) {
  return not_implemented_error("Validator.is_equivalent() is not available yet");
}

}  // namespace qx
