// Pattern scanning: where the engine's escapes, quoted runs, bracket classes and counts end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace qx {

inline bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// The value of the hex digit `c`.
inline uint32_t hex_value(char c) {
  if (c <= '9') return static_cast<uint32_t>(c - '0');
  return static_cast<uint32_t>((c | 0x20) - 'a' + 10);
}

// Appends the engine's escape for the code point `cp`: \x{hex}.
inline void append_code_point(std::string& out, char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\x{%x}", static_cast<unsigned>(cp));
  out += buf;
}

// Where the escape whose backslash is at `i` ends: after the character that
// follows the backslash, or after a braced argument (\x{...}, \p{...}, \P{...}).
inline size_t escape_end(std::string_view p, size_t i) {
  if (i + 1 >= p.size()) return p.size();
  const char e = p[i + 1];
  if ((e == 'x' || e == 'p' || e == 'P') && i + 2 < p.size() && p[i + 2] == '{') {
    const size_t close = p.find('}', i + 3);
    return close == std::string_view::npos ? p.size() : close + 1;
  }
  return i + 2;
}

// Where the quoted run "\Q..." at `i` ends: after its "\E", or at the end of
// the text when it has none.
inline size_t quote_end(std::string_view p, size_t i) {
  const size_t end = p.find("\\E", i + 2);
  return end == std::string_view::npos ? p.size() : end + 2;
}

// Where the counted repetition whose "{" is at `i` ends, in the engine's syntax
// ({n}, {n,}, {n,m}), or npos when the brace is a literal character.
inline size_t repeat_end(std::string_view p, size_t i) {
  size_t j = i + 1;
  const size_t digits = j;
  while (j < p.size() && is_ascii_digit(p[j])) ++j;
  if (j == digits) return std::string_view::npos;
  if (j < p.size() && p[j] == ',') {
    ++j;
    while (j < p.size() && is_ascii_digit(p[j])) ++j;
  }
  return j < p.size() && p[j] == '}' ? j + 1 : std::string_view::npos;
}

// Text sink that keeps nothing, for scans that only need to know where a class ends.
struct DiscardText {
  void operator+=(char) {}
  void append(std::string_view) {}
};

// Copies the bracket class that opens at p[i] == '[' into `out` (a std::string
// or DiscardText), through its closing "]" (or the end of an unclosed one),
// and leaves `i` after it. A "]" right after "[" or "[^" is a literal, and
// [:name:] is copied whole. Each escape goes to `on_escape(p, start, out)`,
// which appends what stands for the escape at `start` and returns where it
// ends, or npos to stop the copy (and then this returns false).
template <class Out, class OnEscape>
bool copy_class(std::string_view p, size_t& i, Out& out, OnEscape&& on_escape) {
  out += '[';
  ++i;
  if (i < p.size() && p[i] == '^') {
    out += '^';
    ++i;
  }
  if (i < p.size() && p[i] == ']') {
    out += ']';
    ++i;
  }
  while (i < p.size()) {
    const char c = p[i];
    if (c == ']') {
      out += ']';
      ++i;
      return true;
    }
    if (c == '\\') {
      const size_t end = on_escape(p, i, out);
      if (end == std::string_view::npos) return false;
      i = end;
      continue;
    }
    if (c == '[' && i + 1 < p.size() && p[i + 1] == ':') {
      const size_t close = p.find(":]", i + 2);
      if (close != std::string_view::npos) {
        out.append(p.substr(i, close + 2 - i));
        i = close + 2;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return true;
}

// Copies the escape at `start` unchanged; the default `on_escape` of copy_class.
template <class Out>
size_t copy_escape(std::string_view p, size_t start, Out& out) {
  const size_t end = escape_end(p, start);
  out.append(p.substr(start, end - start));
  return end;
}

// Where the bracket class that opens at `i` ends.
inline size_t class_end(std::string_view p, size_t i) {
  DiscardText discard;
  copy_class(p, i, discard, copy_escape<DiscardText>);
  return i;
}

}  // namespace qx
