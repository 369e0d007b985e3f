// The Python front end: a whole document parsed straight into Python objects.
#include "json/build_python.h"

#include <cstring>

#include "json/parser.h"

namespace qx::json {

Ref new_str(const char* text, size_t size, bool ascii) {
  if (!ascii) return Ref::steal(PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(size), nullptr));
  Ref str = Ref::steal(PyUnicode_New(static_cast<Py_ssize_t>(size), 127));
  if (str && size != 0) std::memcpy(PyUnicode_DATA(str.get()), text, size);
  return str;
}

Result<Ref> parse_to_python(const Input& input, ParseError* syntax) {
  Scanner scanner(input);
  PythonBuilder builder;
  switch (parse_document(scanner, builder)) {
    case ParseOutcome::Ok:
      return builder.take_root();
    case ParseOutcome::Invalid:
      *syntax = scanner.error();
      return Ref();
    case ParseOutcome::Failed:
      return builder.take_error();
  }
  return Ref();
}

}  // namespace qx::json
