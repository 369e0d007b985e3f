// The Validator heap type: its spec, made once per process.
#include <vector>

#include "py/once_cell.h"
#include "validator/entries.h"
#include "validator/validator.h"

namespace qx {

namespace {

constexpr const char kValidatorDoc[] =
    "Validator(schema)\n--\n\n"
    "A compiled, immutable schema validator.\n\n"
    "Build one by calling `Validator(schema)` or with a combinator such as\n"
    "`union`, `intersection` or `recursive`. Check values with `validate`,\n"
    "`is_valid` or `ensure`, and JSON documents with `validate_json` or\n"
    "`is_valid_json`. Validation is a membership test: the value is never copied\n"
    "or coerced. A validator never changes after it is built and is safe to share\n"
    "across threads; its `repr` is the annotation that produces it. It can be\n"
    "copied with `copy.copy`/`copy.deepcopy`.";

OnceCell<PyObject*> validator_type_cell;

Result<PyObject*> create_validator_type() {
  std::vector<PyType_Slot> slots = {
      {Py_tp_base, &PyBaseObject_Type},
      {Py_tp_doc, const_cast<char*>(kValidatorDoc)},
      {Py_tp_new, reinterpret_cast<void*>(validator_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(validator_dealloc)},
      {Py_tp_methods, validator_methods},
  };
  for (PyType_Slot* s = validator_operator_slots; s->slot != 0; ++s) slots.push_back(*s);
  slots.push_back({0, nullptr});
  PyType_Spec spec = {
      "quendrix._quendrix.Validator",
      static_cast<int>(sizeof(ValidatorObject)),
      0,
      Py_TPFLAGS_DEFAULT,
      slots.data(),
  };
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) return Error::fetch();
  return type;
}

}  // namespace

Result<PyObject*> validator_type() {
  QX_ASSIGN(PyObject* const* type, validator_type_cell.get(create_validator_type));
  return *type;
}

}  // namespace qx
