// The Validator heap type: its spec, made once per process.
#include <mutex>
#include <vector>

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

std::once_flag type_once;
PyObject* type_object = nullptr;
PyObject* type_error_object = nullptr;

void create_validator_type() {
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
  type_object = PyType_FromSpec(&spec);
  if (type_object == nullptr) type_error_object = PyErr_GetRaisedException();
}

}  // namespace

Result<PyObject*> validator_type() {
  // Called attached; PyType_FromSpec runs no code that could come back here.
  std::call_once(type_once, create_validator_type);
  if (type_object == nullptr) {
    return Error::from(Ref::borrow(type_error_object));
  }
  return type_object;
}

}  // namespace qx
