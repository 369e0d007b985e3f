// The Python front end: a whole document parsed straight into Python objects.
#pragma once

#include <Python.h>

#include <cstddef>

#include "json/scanner.h"
#include "py/result.h"

namespace qx::json {

// A new str from UTF-8 text known to be valid; `ascii` takes the copy road.
// A null Ref with the interpreter's exception set on failure, for a caller
// that takes that exception at once.
Ref new_str(const char* text, size_t size, bool ascii);

// Parses `input` as one whole document into Python objects: null to None,
// booleans to bool, integers to int, other numbers to float, strings to str,
// arrays to list, objects to dict (a repeated key keeps its first position
// and its last value). Returns the object; a null Ref with `*syntax` filled
// when the input is not one JSON document; or the exception raised while
// making objects.
Result<Ref> parse_to_python(const Input& input, ParseError* syntax);

}  // namespace qx::json
