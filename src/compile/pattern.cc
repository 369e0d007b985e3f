// Pattern constraints: compiling a pattern text as a whole-string regular expression.
#include "compile/pattern.h"

#include <cstdio>
#include <span>

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

// Rewrites \d \w \s \D \W \S into explicit Unicode classes, the meaning
// Python's re gives them in str patterns (the engine's own are ASCII-only).
// Runs only on patterns the engine already parsed, so the scan can trust the
// syntax: it tracks brackets, [:name:] inside brackets, and \Q...\E, and
// copies every other escape pair untouched (which also keeps \\ intact).
// Outside brackets a class is wrapped in (?-i:...) because Python never
// case-folds these classes while the engine would fold an explicit one.
// An unterminated \Q is closed, so the quoted run cannot swallow the
// anchoring suffix appended after it.
std::string rewrite_perl_classes(std::string_view p) {
  const PerlClasses& classes = perl_classes();
  std::string out;
  out.reserve(p.size() + 16);
  bool in_class = false;
  bool class_start = false;  // just after "[" or "[^": a "]" here is literal
  size_t i = 0;
  while (i < p.size()) {
    const char c = p[i];
    if (c == '\\' && i + 1 < p.size()) {
      const char e = p[i + 1];
      class_start = false;
      if (!in_class && e == 'Q') {
        const size_t end = p.find("\\E", i + 2);
        if (end == std::string_view::npos) {
          out.append(p.substr(i));
          out += "\\E";
          return out;
        }
        out.append(p.substr(i, end + 2 - i));
        i = end + 2;
        continue;
      }
      if (const std::string* body = classes.body(e)) {
        if (in_class) {
          out += *body;
        } else {
          out += "(?-i:[";
          out += *body;
          out += "])";
        }
      } else {
        out.append(p.substr(i, 2));
      }
      i += 2;
      continue;
    }
    if (!in_class) {
      if (c == '[') {
        in_class = true;
        class_start = true;
        out += c;
        ++i;
        if (i < p.size() && p[i] == '^') {
          out += '^';
          ++i;
        }
        continue;
      }
      out += c;
      ++i;
      continue;
    }
    if (c == ']' && !class_start) {
      in_class = false;
      out += c;
      ++i;
      continue;
    }
    class_start = false;
    if (c == '[' && i + 1 < p.size() && p[i + 1] == ':') {
      const size_t end = p.find(":]", i + 2);
      if (end != std::string_view::npos) {
        out.append(p.substr(i, end + 2 - i));
        i = end + 2;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

RE2::Options pattern_options() {
  RE2::Options options;
  options.set_log_errors(false);
  return options;
}

}  // namespace

std::unique_ptr<re2::RE2> compile_anchored_pattern(std::string_view pattern, std::string* error) {
  RE2::Options options = pattern_options();
  // Syntax first, on the pattern as written and unanchored: the description
  // then quotes the user's own text, and a pattern that only parses once
  // wrapped (one that closes the wrapper's group early, "a)|(b") is refused
  // instead of silently losing its anchoring. The memory budget leaves no
  // room for a program (the engine reads a budget of 0 as "unlimited", so it
  // is small but not that small): a parse that succeeds stops at "too large"
  // without compiling anything.
  {
    RE2::Options syntax = options;
    syntax.set_max_mem(64);
    RE2 parsed(pattern, syntax);
    if (parsed.error_code() != RE2::NoError && parsed.error_code() != RE2::ErrorPatternTooLarge) {
      if (error != nullptr) *error = parsed.error();
      return nullptr;
    }
  }
  std::string anchored = "\\A(?:";
  anchored += rewrite_perl_classes(pattern);
  anchored += ")\\z";
  auto re = std::make_unique<RE2>(anchored, options);
  if (re->ok()) return re;
  if (error != nullptr) {
    if (re->error_code() == RE2::ErrorPatternTooLarge) {
      *error = "Compiled regex exceeds size limit of " + std::to_string(options.max_mem()) +
               " bytes.";
    } else {
      *error = re->error();
    }
  }
  return nullptr;
}

}  // namespace qx
