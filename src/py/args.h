// Argument extraction for fast-call entries, with the interpreter's usual messages.
#pragma once

#include <Python.h>

#include <span>
#include <string_view>

#include "py/result.h"

namespace qx {

// The parameters of one entry: the first `positional` names are
// positional-or-keyword (the first `required` of them required), the rest
// keyword-only and optional. With `star` the surplus positionals are
// collected instead of refused.
struct Signature {
  const char* function;  // as named in messages, e.g. "Validator.validate()"
  std::span<const char* const> names;
  int positional;
  int required;
  bool star = false;
};

// Fills `out[i]` (borrowed, null when absent) for each name of `sig`.
// `star`, when the signature has one, receives the surplus positionals.
Status parse_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, PyObject** out, Ref* star = nullptr);

// The same for a tuple of positionals and a dict of keywords (tp_new).
Status parse_tuple_dict(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// `fail_fast`: an exact bool, or numpy's bool_ through its truth slot; a
// failure carries the note "while processing 'fail_fast'".
Result<bool> extract_fail_fast(PyObject* value);

// Adds "while processing '{name}'" to `error` through its add_note method.
Error with_argument_note(Error error, const char* name);

}  // namespace qx
