// Object checks: an instance of a class whose named attributes match their schemas.
#include <string>

#include "check/json_values.h"
#include "check/late_texts.h"
#include "check/walk.h"
#include "errors/records.h"
#include "errors/texts.h"
#include "json/value.h"
#include "text/quote.h"

namespace qx {

namespace {

[[gnu::cold]] [[gnu::noinline]] void push_instance_error(PyObject* cls, PyObject* value,
                                                         const Path& path, const WalkContext& ctx,
                                                         ErrorList& errors) {
  push_error("instance_type", class_name_text(cls), ValueRef::python(value), path, ctx.mode,
             late_texts(ctx), errors);
}

[[gnu::cold]] [[gnu::noinline]] void push_missing_attribute(const std::string& name,
                                                            const Path& path, ErrorList& errors) {
  errors.push_back(make_error_record(path, PathSegment::of_key(name), "missing_attribute",
                                     "attribute " + quote_text(name), "missing"));
}

// Looks `name` up on `obj`: 1 with the attribute in `out`, 0 when the lookup
// raised an ordinary exception (dropped; any AttributeError included), -1
// when it raised a fatal one, which is recorded.
int lookup_attribute(PyObject* obj, const std::string& name, const WalkContext& ctx, Ref& out) {
  Ref key =
      Ref::steal(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
  PyObject* attr = nullptr;
  int found = key ? PyObject_GetOptionalAttr(obj, key.get(), &attr) : -1;
  out = Ref::steal(attr);
  if (found >= 0) return found;
  Ref exc = Ref::steal(PyErr_GetRaisedException());
  if (!is_fatal_exception(exc.get())) return 0;
  record_fatal_error(std::move(exc), ctx);
  return -1;
}

bool check_instance(uint64_t class_index, const std::vector<RecordField>& attributes, PyObject* obj,
                    Path& path, const WalkContext& ctx, ErrorList& errors) {
  PyObject* cls = ctx.pool->get(class_index);
  if (cls == nullptr) return false;
  if (!fold_call_result(PyObject_IsInstance(obj, cls), ctx)) {
    if (ctx.collecting() && !*ctx.stop) push_instance_error(cls, obj, path, ctx, errors);
    return false;
  }
  bool verdict = true;
  for (const RecordField& attribute : attributes) {
    Ref attr;
    int found = lookup_attribute(obj, attribute.name, ctx, attr);
    if (found < 0) return false;
    if (found == 0) {
      if (ctx.collecting()) push_missing_attribute(attribute.name, path, errors);
      verdict = false;
    } else {
      if (ctx.collecting()) path.push_back(PathSegment::of_key(attribute.name));
      bool passed = walk(attribute.node, ValueRef::python(attr.get()), path, ctx, errors);
      if (ctx.collecting()) path.pop_back();
      attr.reset();
      verdict = verdict && passed;
    }
    if (*ctx.stop) return false;
    if (!verdict && ctx.mode != WalkMode::Collect) return false;
  }
  return verdict;
}

}  // namespace

bool check_object_attributes(uint64_t class_index, const std::vector<RecordField>& attributes,
                             ValueRef value, Path& path, const WalkContext& ctx,
                             ErrorList& errors) {
  if (!value.is_json())
    return check_instance(class_index, attributes, value.obj, path, ctx, errors);
  Ref holder;
  PyObject* obj = json_as_python(*value.json, ctx.conversions, holder);
  if (obj == nullptr) {
    PyErr_Clear();
    return false;
  }
  return check_instance(class_index, attributes, obj, path, ctx, errors);
}

}  // namespace qx
