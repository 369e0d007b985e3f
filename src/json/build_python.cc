// The Python front end: a whole document parsed straight into Python objects.
#include "json/build_python.h"

#include <cstdint>
#include <cstring>

#include "json/parser.h"

namespace qx::json {

namespace {

// Writes the code points of well-formed UTF-8 `text` as units of type T.
template <class T>
void write_code_points(const unsigned char* p, const unsigned char* end, T* out) {
  while (p < end) {
    const uint32_t c = *p;
    uint32_t cp;
    if (c < 0x80) {
      cp = c;
      p += 1;
    } else if (c < 0xE0) {
      cp = (c & 0x1F) << 6 | (p[1] & 0x3F);
      p += 2;
    } else if (c < 0xF0) {
      cp = (c & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F);
      p += 3;
    } else {
      cp = (c & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F);
      p += 4;
    }
    *out++ = static_cast<T>(cp);
  }
}

// A str from text the parser has checked to be well-formed UTF-8 (no
// overlong forms, no surrogates), decoded in place rather than through the
// interpreter's general decoder. The lead bytes alone tell the widest code
// point's range, and so the str's kind: ASCII bytes stay below U+0080, C2-C3 below U+0100, C4-EF
// below U+10000 (C4-DF from U+0100, E0-EF from U+0800), F0-F4 from U+10000.
Ref decode_utf8(const char* text, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* end = p + size;
  size_t count = 0;
  unsigned widest = 0;
  for (const unsigned char* q = p; q < end; ++count) {
    const unsigned c = *q;
    widest = c > widest ? c : widest;
    q += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  }
  // ASCII text must become an ASCII str: the interpreter compares strs by kind first.
  const Py_UCS4 max_char = widest < 0x80   ? 0x7F
                           : widest < 0xC4 ? 0xFF
                           : widest < 0xF0 ? 0xFFFF
                                           : 0x10FFFF;
  Ref str = Ref::steal(PyUnicode_New(static_cast<Py_ssize_t>(count), max_char));
  if (!str) return str;
  void* data = PyUnicode_DATA(str.get());
  if (max_char <= 0xFF) {
    write_code_points(p, end, static_cast<Py_UCS1*>(data));
  } else if (max_char <= 0xFFFF) {
    write_code_points(p, end, static_cast<Py_UCS2*>(data));
  } else {
    write_code_points(p, end, static_cast<Py_UCS4*>(data));
  }
  return str;
}

}  // namespace

Ref new_str(const char* text, size_t size, bool ascii) {
  if (!ascii) return decode_utf8(text, size);
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
