// Texts that stand for values and classes inside errors, messages and annotation text.
#include "errors/texts.h"

#include <charconv>

#include "py/builtin_repr.h"
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

namespace {

// The repr of None, a bool, an exact int within a machine word, or an exact
// str of printable ASCII without quotes or backslashes, written as CPython
// writes it: such reprs run no Python code and need no str of their own.
// False for any other object.
bool plain_repr(PyObject* obj, std::string& out) {
  if (obj == Py_None || obj == Py_True || obj == Py_False) {
    out = obj == Py_None ? "None" : obj == Py_True ? "True" : "False";
    return true;
  }
  if (Py_IS_TYPE(obj, &PyLong_Type)) {
    auto* number = reinterpret_cast<PyLongObject*>(obj);
    if (!PyUnstable_Long_IsCompact(number)) return false;
    char digits[24];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, PyUnstable_Long_CompactValue(number)).ptr;
    out.assign(digits, end);
    return true;
  }
  if (!PyUnicode_CheckExact(obj) || !PyUnicode_IS_COMPACT_ASCII(obj)) return false;
  const std::string_view text(static_cast<const char*>(PyUnicode_DATA(obj)),
                              static_cast<size_t>(PyUnicode_GET_LENGTH(obj)));
  for (const char c : text) {
    if (c < 0x20 || c == 0x7f || c == '\'' || c == '\\') return false;  // quoted or escaped
  }
  out.reserve(text.size() + 2);
  out = '\'';
  out += text;
  out += '\'';
  return true;
}

// The text of a repr that repr_within_stack or repr_within_room made.
std::string text_of_repr(Ref repr) {
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

}  // namespace

std::string repr_text(PyObject* obj) {
  std::string plain;
  if (plain_repr(obj, plain)) {
    // ASCII: a byte is a character.
    return truncate_text(plain, 80);
  }
  return text_of_repr(repr_within_stack(obj));
}

std::string repr_text_within(PyObject* obj, size_t room) {
  std::string plain;
  if (plain_repr(obj, plain)) return truncate_text(plain, 80);
  return text_of_repr(repr_within_room(obj, room));
}

std::string held_repr_text(PyObject* obj, size_t room) {
  // Without a container to measure, the room plays no part.
  if (repr_level_cost(obj) == 0) return repr_text(obj);
  std::string start;
  switch (builtin_repr_prefix(obj, room, 81, start)) {
    case BuiltinRepr::Written:
      return truncate_text(start, 80);
    case BuiltinRepr::Raises:
      return "<unrepresentable>";
    case BuiltinRepr::Unsure:
      break;
  }
  return text_of_repr(repr_within_room(obj, room));
}

std::string class_name_text(PyObject* cls) {
  Ref name = Ref::steal(PyObject_GetAttrString(cls, "__name__"));
  std::string_view text;
  if (name && PyUnicode_Check(name.get()) && utf8_view(name.get(), text)) return std::string(text);
  PyErr_Clear();
  return repr_text(cls);
}

}  // namespace qx
