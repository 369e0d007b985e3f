// Placeholder bodies until the spec compiler lands; each raises NotImplementedError.
#include "build/compile.h"

namespace qx {

Error make_build_error(std::string_view message) { return not_implemented_error(message); }

Result<SchemaNode> compile_schema(PyObject*, SchemaBuilder&, std::vector<SchemaNode>&) {
  return not_implemented_error("compiling a schema spec is not available yet");
}

}  // namespace qx
