// Placeholder bodies until the JSON entries land.
#include "json/entry.h"

namespace qx {

Result<Ref> load_impl(const CompiledSchema&, PyObject*, bool) {
  return not_implemented_error("Validator.load() and validate_json() are not available yet");
}

Result<bool> is_valid_json_impl(const CompiledSchema&, PyObject*) {
  return not_implemented_error("Validator.is_valid_json() is not available yet");
}

}  // namespace qx
