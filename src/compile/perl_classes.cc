// Perl classes in patterns: \d \w \s and their negations with the meaning Python's re gives them.
#include "compile/perl_classes.h"

#include <cstdio>
#include <span>

#include "compile/pattern_scan.h"
#include "text/unicode_tables.h"

namespace qx {

namespace {

constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

void append_code_point(std::string& out, char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\x{%x}", static_cast<unsigned>(cp));
  out += buf;
}

void append_range(std::string& out, char32_t first, char32_t last) {
  append_code_point(out, first);
  if (last != first) {
    out += '-';
    append_code_point(out, last);
  }
}

// The class body (what goes between brackets) listing `ranges`.
std::string class_body(std::span<const CodeRange> ranges) {
  std::string out;
  for (const CodeRange& r : ranges) append_range(out, r.first, r.last);
  return out;
}

// The class body of every scalar value outside `ranges`. Surrogates are left
// out: the checked text is UTF-8 and can never hold one.
std::string complement_body(std::span<const CodeRange> ranges) {
  std::string out;
  char32_t next = 0;
  const auto gap = [&](char32_t first, char32_t last) {
    if (first > last) return;
    if (first < kSurrogateFirst && last > kSurrogateLast) {
      append_range(out, first, kSurrogateFirst - 1);
      append_range(out, kSurrogateLast + 1, last);
    } else if (first >= kSurrogateFirst && last <= kSurrogateLast) {
      return;
    } else if (first >= kSurrogateFirst && first <= kSurrogateLast) {
      append_range(out, kSurrogateLast + 1, last);
    } else if (last >= kSurrogateFirst && last <= kSurrogateLast) {
      append_range(out, first, kSurrogateFirst - 1);
    } else {
      append_range(out, first, last);
    }
  };
  for (const CodeRange& r : ranges) {
    if (r.first > next) gap(next, r.first - 1);
    next = r.last + 1;
  }
  if (next <= kMaxCodePoint) gap(next, kMaxCodePoint);
  return out;
}

// The six Perl class bodies, built once per process (thread-safe static init).
struct PerlClasses {
  std::string digit, not_digit, word, not_word, space, not_space;

  PerlClasses()
      : digit(class_body(digit_ranges())),
        not_digit(complement_body(digit_ranges())),
        word(class_body(word_ranges())),
        not_word(complement_body(word_ranges())),
        space(class_body(space_ranges())),
        not_space(complement_body(space_ranges())) {}

  // The body for the escape letter `c`, or null when `c` names no Perl class.
  const std::string* body(char c) const {
    switch (c) {
      case 'd': return &digit;
      case 'D': return &not_digit;
      case 'w': return &word;
      case 'W': return &not_word;
      case 's': return &space;
      case 'S': return &not_space;
      default: return nullptr;
    }
  }
};

const PerlClasses& perl_classes() {
  static const PerlClasses classes;
  return classes;
}

// What a class stands for outside brackets. Wrapped in (?-i:...) because
// Python never case-folds these classes while the engine would fold an
// explicit one.
std::string bare_class(const std::string& body) { return "(?-i:[" + body + "])"; }

}  // namespace

// Runs only on patterns the engine already parsed, so the scan can trust the
// syntax: it tracks brackets, [:name:] inside brackets, and \Q...\E, and
// copies every other escape untouched (which also keeps \\ intact). An
// unterminated \Q is closed, so the quoted run cannot swallow the anchoring
// suffix appended after it.
std::string rewrite_perl_classes(std::string_view p) {
  const PerlClasses& classes = perl_classes();
  std::string out;
  out.reserve(p.size() + 16);
  size_t i = 0;
  while (i < p.size()) {
    const char c = p[i];
    if (c == '[') {
      copy_class(p, i, out, [&classes](std::string_view text, size_t start, std::string& to) {
        const std::string* body = classes.body(start + 1 < text.size() ? text[start + 1] : '\0');
        if (body == nullptr) return copy_escape(text, start, to);
        to += *body;
        return start + 2;
      });
      continue;
    }
    if (c != '\\' || i + 1 == p.size()) {
      out += c;
      ++i;
      continue;
    }
    if (p[i + 1] == 'Q') {
      const size_t end = quote_end(p, i);
      out.append(p.substr(i, end - i));
      if (p.find("\\E", i + 2) == std::string_view::npos) out += "\\E";
      i = end;
      continue;
    }
    if (const std::string* body = classes.body(p[i + 1])) {
      out += bare_class(*body);
      i += 2;
      continue;
    }
    const size_t end = escape_end(p, i);
    out.append(p.substr(i, end - i));
    i = end;
  }
  return out;
}

}  // namespace qx
