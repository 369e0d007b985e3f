// Placeholder body until recursive definitions land.
#include "build/recursive.h"

namespace qx {

Result<Ref> recursive_impl(PyObject*) {
  return not_implemented_error("recursive() is not available yet");
}

}  // namespace qx
