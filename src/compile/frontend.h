// The spec compiler's own pieces: the typing cache, probes and the builders of each spec family.
#pragma once

#include <Python.h>

#include <string>
#include <vector>

#include "py/result.h"
#include "schema/node.h"
#include "schema/pool.h"

namespace qx {

// Names the compiler looks up at nearly every spec, made once as interned str
// objects: a lookup then neither builds its key nor hashes it again.
struct InternedNames {
  Ref typing;
  Ref get_origin;
  Ref get_args;
  Ref origin;
  Ref args;
  Ref metadata;
  Ref required;
  Ref not_required;
  // The probes of an Annotated metadata item.
  Ref pattern;
  Ref ge;
  Ref gt;
  Ref le;
  Ref lt;
  Ref min_length;
  Ref max_length;
  Ref multiple_of;
  Ref func;
};

// Python objects that specs are compared with by identity, filled once per
// process and never released. `never`, `no_return` and `type_alias_type` are
// empty when the running `typing` lacks them; a test against an empty entry
// never matches.
struct TypingCache {
  Ref any;
  Ref union_form;
  Ref optional;
  Ref union_type;
  Ref literal;
  Ref object;
  Ref enum_class;
  Ref callable;
  Ref ellipsis;
  Ref never;
  Ref no_return;
  Ref type_alias_type;
  // typing's own alias classes and its get_origin / get_args as first
  // imported, by which read_typing_alias answers without calling Python; an
  // empty entry only sends those specs down the Python road.
  Ref generic_alias;
  Ref union_generic_alias;
  Ref literal_generic_alias;
  Ref get_origin;
  Ref get_args;
  InternedNames names;
};

// The filled cache (filling it first if needed), or the filling's error.
Result<const TypingCache*> typing_cache_get();

// Whether `obj` is the cached Ellipsis; false when the cache cannot be filled.
bool is_ellipsis(PyObject* obj);

// The origin and arguments of a parameterised form whose exact type is one of
// typing's or the interpreter's alias types, read as `typing.get_origin` and
// `typing.get_args` would answer, for a spec that has no `__metadata__`.
// False when that cannot be told without running Python code that could be
// the user's (another type, a patched `typing`, an origin whose attribute
// lookups could run user code): the caller then asks Python.
Result<bool> read_typing_alias(PyObject* spec, PyObject* typing, const TypingCache& cache,
                               Ref& origin, Ref& args);

// The UTF-8 text of a str used as a record key or field name.
Result<std::string> record_key_string(PyObject* key);

// Imports a module through the import system.
Result<Ref> import_module(const char* name);
Result<Ref> import_module(PyObject* name);

// An attribute, or empty when its lookup raises anything at all (cleared).
Ref optional_attr(PyObject* obj, const char* name);
Ref optional_attr(PyObject* obj, PyObject* name);

// The truth of `obj`; false when the truth test raises (cleared).
bool lenient_truth(PyObject* obj);

// TypeError for a value that is not of the expected builtin type.
Error conversion_error(PyObject* obj, const char* expected);

// Reads a dict (or subclass) one entry at a time from its own storage, with
// strong references, so compiling an entry may run Python code safely. A dict
// that changes size, or yields more entries than it had, while being read
// stops the read with RuntimeError, as Python's own dict iteration does.
class DictEntries {
 public:
  explicit DictEntries(PyObject* dict) : dict_(dict), expected_(PyDict_Size(dict)) {}
  Py_ssize_t size() const noexcept { return expected_; }
  // True with the next entry; false at the end.
  Result<bool> next(Ref& key, Ref& value);

 private:
  PyObject* dict_;
  Py_ssize_t expected_;
  Py_ssize_t seen_ = 0;
  Py_ssize_t pos_ = 0;
};

// compile_schema into `out`, a slot of the node being built, so that the
// frames of the descent hold no node of their own.
Status compile_schema_into(PyObject* spec, SchemaBuilder& builder,
                           std::vector<SchemaNode>& definitions, SchemaNode& out);

// The node `make()` builds from parts already compiled, made out of line:
// its temporaries then live only after the descent below has returned, not
// in the descent's own frame.
template <class Make>
[[gnu::noinline]] Result<SchemaNode> finish_node(const Make& make) {
  return make();
}

// A node without children (a leaf kind, or one that names a pool index) as
// a result, made out of line as finish_node does.
[[gnu::noinline]] Result<SchemaNode> indexed_result(NodeKind kind, uint64_t index = 0);

// Builders for the spec families; each compiles nested specs with
// compile_schema and the same builder and definitions.
Result<SchemaNode> compile_typing_form(PyObject* origin, PyObject* args, SchemaBuilder& builder,
                                       std::vector<SchemaNode>& definitions);
Result<SchemaNode> compile_list_literal(PyObject* list, SchemaBuilder& builder,
                                        std::vector<SchemaNode>& definitions);
Result<SchemaNode> compile_annotated(PyObject* base, PyObject* metadata, SchemaBuilder& builder,
                                     std::vector<SchemaNode>& definitions);
Result<SchemaNode> compile_object_schema(PyObject* cls, SchemaBuilder& builder,
                                         std::vector<SchemaNode>& definitions);
Result<SchemaNode> compile_typeddict(PyObject* cls, SchemaBuilder& builder,
                                     std::vector<SchemaNode>& definitions);

}  // namespace qx
