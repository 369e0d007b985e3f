// Texts that stand for values and classes inside errors, messages and annotation text.
#include "errors/texts.h"

#include "py/ref.h"
#include "py/repr.h"
#include "py/text.h"

namespace qx {

std::string truncate_text(std::string_view text, size_t limit) {
  if (text.size() <= 31 || text.size() <= limit) return std::string(text);
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == limit) {
        std::string out(text.substr(0, i));
        out += "...";
        return out;
      }
      ++chars;
    }
  }
  return std::string(text);
}

namespace {
bool utf8_of(PyObject* str, std::string& out) {
  std::string_view view;
  if (!utf8_view(str, view)) return false;
  out.assign(view);
  return true;
}
}  // namespace

std::string lossy_utf8(PyObject* str) {
  std::string out;
  if (utf8_of(str, out)) return out;
  Ref bytes = Ref::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
  if (!bytes) {
    PyErr_Clear();
    return out;
  }
  Ref fixed = Ref::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                              PyBytes_GET_SIZE(bytes.get()), "replace"));
  if (!fixed || !utf8_of(fixed.get(), out)) PyErr_Clear();
  return out;
}

std::string repr_text(PyObject* obj) {
  Ref repr = repr_within_stack(obj);
  if (!repr) {
    PyErr_Clear();
    return "<unrepresentable>";
  }
  if (!PyUnicode_CheckExact(repr.get())) {
    // A str subclass: its text is what str() of it says.
    Ref plain = Ref::steal(PyObject_Str(repr.get()));
    if (!plain) {
      PyErr_WriteUnraisable(nullptr);
      Ref name = Ref::steal(PyType_GetName(Py_TYPE(repr.get())));
      const char* text = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
      if (text == nullptr) {
        PyErr_Clear();
        return "<unprintable object>";
      }
      return std::string("<unprintable ") + text + " object>";
    }
    repr = std::move(plain);
  }
  std::string_view text;
  if (utf8_view(repr.get(), text)) return truncate_text(text, 80);  // read in place
  return truncate_text(lossy_utf8(repr.get()), 80);
}

std::string class_name_text(PyObject* cls) {
  Ref name = Ref::steal(PyObject_GetAttrString(cls, "__name__"));
  std::string_view text;
  if (name && PyUnicode_Check(name.get()) && utf8_view(name.get(), text)) return std::string(text);
  PyErr_Clear();
  return repr_text(cls);
}

}  // namespace qx
