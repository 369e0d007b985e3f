// Placeholder body until annotation text lands.
#include "render/render.h"

namespace qx {

Result<Ref> repr_impl(const CompiledSchema&) {
  return not_implemented_error("repr() of a Validator is not available yet");
}

}  // namespace qx
