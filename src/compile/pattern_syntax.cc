// Pattern syntax: the forms of Python's re syntax that the engine lacks, rewritten into its own.
#include "compile/pattern_syntax.h"

#include <cstdint>
#include <vector>

#include "compile/pattern_scan.h"

namespace qx {

namespace {

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// Python's verbose mode skips exactly these between items.
bool is_verbose_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool is_ascii_alnum(char c) {
  return is_ascii_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Translates the \u or \U escape at `i` into \x{...}; sets `end` after it.
// Python takes exactly four or eight hex digits naming a code point.
bool translate_unicode_escape(std::string_view p, size_t i, size_t& end, std::string& out,
                              std::string& error) {
  const size_t digits = p[i + 1] == 'u' ? 4 : 8;
  size_t j = i + 2;
  uint32_t cp = 0;
  while (j < p.size() && j < i + 2 + digits && is_hex_digit(p[j])) cp = cp * 16 + hex_value(p[j++]);
  end = j;
  if (j - (i + 2) != digits || cp > kMaxCodePoint) {
    error = "invalid escape sequence: " + std::string(p.substr(i, j - i));
    return false;
  }
  append_code_point(out, cp);
  return true;
}

bool is_unicode_escape(std::string_view p, size_t i) {
  return i + 1 < p.size() && (p[i + 1] == 'u' || p[i + 1] == 'U');
}

// Where Python's counted repetition at the "{" at `i` ends ({n}, {n,}, {,m},
// {n,m}, {,}), or npos when Python reads the brace as a literal.
size_t python_repeat_end(std::string_view p, size_t i) {
  size_t j = i + 1;
  while (j < p.size() && is_ascii_digit(p[j])) ++j;
  if (j < p.size() && p[j] == ',') {
    ++j;
    while (j < p.size() && is_ascii_digit(p[j])) ++j;
  }
  if (j >= p.size() || p[j] != '}' || j == i + 1) return std::string_view::npos;
  return j + 1;
}

// A flag group "(?on-off)" or "(?on-off:" whose flags Python accepts and
// which names u or x, the two the engine lacks.
struct FlagGroup {
  std::string on, off;  // the flags that remain for the engine
  bool scoped = false;  // ends in ":" and opens a group
  bool verbose_on = false, verbose_off = false;
  size_t end = 0;
};

bool parse_flag_group(std::string_view p, size_t i, FlagGroup& group) {
  size_t j = i + 2;
  bool negated = false, named = false;
  for (; j < p.size(); ++j) {
    const char c = p[j];
    if (c == '-' && !negated) {
      negated = true;
    } else if (c == 'x') {
      (negated ? group.verbose_off : group.verbose_on) = true;
      named = true;
    } else if (c == 'u' && !negated) {
      named = true;
    } else if (c == 'i' || c == 'm' || c == 's') {
      (negated ? group.off : group.on) += c;
    } else {
      break;
    }
  }
  if (!named || j >= p.size() || (p[j] != ')' && p[j] != ':')) return false;
  group.scoped = p[j] == ':';
  // Python refuses flags turned off outside a scoped group, and an empty "-".
  if (negated && (!group.scoped || (group.off.empty() && !group.verbose_off))) return false;
  group.end = j + 1;
  return true;
}

// Where a "(?flags)" group that the engine and Python read alike at the start
// of a pattern ends, or npos.
size_t global_flags_end(std::string_view p, size_t i) {
  if (i + 2 >= p.size() || p[i + 1] != '?') return std::string_view::npos;
  size_t j = i + 2;
  while (j < p.size() && (p[j] == 'i' || p[j] == 'm' || p[j] == 's')) ++j;
  return j > i + 2 && j < p.size() && p[j] == ')' ? j + 1 : std::string_view::npos;
}

// Where the verbose comment whose "#" is at `i` ends: after the line feed that
// closes it, or at the end of the text. Python reads a backslash and the
// character after it as one item even here, so a line feed right after a
// backslash continues the comment; a backslash that ends the text is left
// out of the comment, for the engine to refuse as Python does.
size_t comment_end(std::string_view p, size_t i) {
  for (size_t j = i + 1; j < p.size(); ++j) {
    if (p[j] == '\n') return j + 1;
    if (p[j] == '\\') {
      if (j + 1 == p.size()) return j;
      ++j;
    }
  }
  return p.size();
}

enum class Last : uint8_t { Open, Atom, Escape, Repeat };

class Translator {
 public:
  Translator(std::string_view p, std::string& out, std::string& error)
      : p_(p), out_(out), error_(error) {}

  bool run() {
    out_.reserve(p_.size());
    while (i_ < p_.size()) {
      const char c = p_[i_];
      if (verbose_ && is_verbose_space(c)) {
        ++i_;
        gap_ = true;
        continue;
      }
      if (verbose_ && c == '#') {
        i_ = comment_end(p_, i_);
        gap_ = true;
        continue;
      }
      if (!step(c)) return false;
    }
    return true;
  }

 private:
  bool step(char c) {
    switch (c) {
      case '\\':
        return escape();
      case '[':
        begin(Last::Atom, i_);
        return copy_class(p_, i_, out_, [this](std::string_view p, size_t s, std::string& out) {
          if (!is_unicode_escape(p, s)) return copy_escape(p, s, out);
          size_t end = 0;
          return translate_unicode_escape(p, s, end, out, error_) ? end : std::string_view::npos;
        });
      case '(':
        return open_group();
      case ')':
        begin(Last::Atom, i_);
        if (!saved_.empty()) {
          verbose_ = saved_.back();
          saved_.pop_back();
        }
        return copy(i_ + 1);
      case '|':
        begin(Last::Open, i_);
        return copy(i_ + 1);
      case '*':
      case '+':
      case '?':
        return repeat(i_ + 1);
      case '{': {
        const size_t end = python_repeat_end(p_, i_);
        if (end != std::string_view::npos) return repeat(end);
        begin(Last::Atom, i_);
        // Verbose text may have lost the white space that kept this brace from
        // reading as a count ("{1, 2}"): say it is a literal.
        out_ += verbose_ ? "\\{" : "{";
        ++i_;
        return true;
      }
      default:
        begin(Last::Atom, i_);
        return copy(i_ + 1);
    }
  }

  bool escape() {
    if (i_ + 1 < p_.size() && p_[i_ + 1] == 'Q') {
      begin(Last::Atom, i_);
      return copy(quote_end(p_, i_));
    }
    if (is_unicode_escape(p_, i_)) {
      begin(Last::Atom, i_);
      size_t end = 0;
      if (!translate_unicode_escape(p_, i_, end, out_, error_)) return false;
      i_ = end;
      return true;
    }
    begin(Last::Escape, i_);
    size_t end = escape_end(p_, i_);
    const char e = i_ + 1 < p_.size() ? p_[i_ + 1] : '\0';
    if (e == 'x' && end == i_ + 2) {
      while (end < p_.size() && end < i_ + 4 && is_hex_digit(p_[end])) ++end;
    }
    // An escape still short of its argument (\x with fewer than two hex digits,
    // a bare \p) would take one from across dropped white space, where Python
    // refuses it: keep the two apart.
    const bool braced = i_ + 2 < p_.size() && p_[i_ + 2] == '{';
    open_escape_ =
        (e == 'x' && !braced && end < i_ + 4) || ((e == 'p' || e == 'P') && end == i_ + 2);
    return copy(end);
  }

  bool open_group() {
    FlagGroup group;
    if (i_ + 1 < p_.size() && p_[i_ + 1] == '?' && parse_flag_group(p_, i_, group)) {
      if (group.scoped) {
        begin(Last::Open, i_);
        saved_.push_back(verbose_);
        if (group.verbose_on) verbose_ = true;
        if (group.verbose_off) verbose_ = false;
        out_ += "(?" + group.on + (group.off.empty() ? "" : "-" + group.off) + ":";
        i_ = group.end;
        return true;
      }
      // Global flags stand only at the very start in Python; elsewhere the
      // group is left as written, and the engine refuses it as Python does.
      if (at_start_) {
        if (group.verbose_on) verbose_ = true;
        if (!group.on.empty()) out_ += "(?" + group.on + ")";
        return start_flags(group.end);
      }
    } else if (const size_t end = at_start_ ? global_flags_end(p_, i_) : std::string_view::npos;
               end != std::string_view::npos) {
      out_.append(p_.substr(i_, end - i_));
      return start_flags(end);
    }
    begin(Last::Open, i_);
    if (i_ + 1 >= p_.size() || p_[i_ + 1] != '?') {
      saved_.push_back(verbose_);
      return copy(i_ + 1);
    }
    // What says which kind of group this is ("(?i-s:", "(?P<name>", "(?=") is
    // one token: Python allows no white space inside it.
    size_t end = i_ + 2;
    while (end < p_.size() && (is_ascii_alnum(p_[end]) || p_[end] == '-')) ++end;
    if (end < p_.size() && p_[end] == '<') {
      const size_t close = p_.find('>', end);
      end = close == std::string_view::npos ? p_.size() : close + 1;
    } else if (end < p_.size()) {
      ++end;
    }
    // "(?flags)" in the middle opens no group.
    if (p_[end - 1] != ')') saved_.push_back(verbose_);
    return copy(end);
  }

  // The flag groups at the very start set flags for the whole pattern.
  bool start_flags(size_t end) {
    i_ = end;
    last_ = Last::Open;
    gap_ = false;
    return true;
  }

  // A repetition operator ending at `end`, with the lazy "?" or possessive "+"
  // that may follow it at once.
  bool repeat(size_t end) {
    if (end < p_.size() && (p_[end] == '?' || p_[end] == '+')) ++end;
    const size_t start = i_;
    if (gap_ && last_ == Last::Repeat) {
      error_ =
          "bad repetition operator: " + std::string(p_.substr(repeat_start_, end - repeat_start_));
      return false;
    }
    if (gap_ && last_ == Last::Open) {
      error_ =
          "missing argument to repetition operator: " + std::string(p_.substr(start, end - start));
      return false;
    }
    begin(Last::Repeat, start);
    repeat_start_ = start;
    // Python reads "{,m}" as "{0,m}"; the engine would match it as literal text.
    if (p_[start] == '{' && p_[start + 1] == ',') {
      out_ += "{0";
      i_ = start + 1;
    }
    return copy(end);
  }

  // Every item passes here before it is written. After dropped white space an
  // item must not fuse with the escape before it into a different one.
  void begin(Last kind, size_t start) {
    if (gap_ && last_ == Last::Escape && kind != Last::Repeat &&
        (open_escape_ || is_ascii_alnum(p_[start]))) {
      out_ += "(?:)";
    }
    if (kind != Last::Escape) open_escape_ = false;
    gap_ = false;
    last_ = kind;
    at_start_ = false;
  }

  bool copy(size_t end) {
    out_.append(p_.substr(i_, end - i_));
    i_ = end;
    return true;
  }

  std::string_view p_;
  std::string& out_;
  std::string& error_;
  size_t i_ = 0;
  size_t repeat_start_ = 0;
  std::vector<bool> saved_;  // the verbose flag outside each open group
  bool verbose_ = false;
  bool gap_ = false;  // white space or a comment was dropped since the last item
  bool at_start_ = true;
  bool open_escape_ = false;
  Last last_ = Last::Open;
};

}  // namespace

bool translate_python_syntax(std::string_view pattern, std::string& out, std::string& error) {
  return Translator(pattern, out, error).run();
}

}  // namespace qx
