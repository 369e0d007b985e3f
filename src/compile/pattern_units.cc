// Pattern units: what one item of a pattern is to the engine's factoring and merging of arms.
#include "compile/pattern_units.h"

#include <algorithm>
#include <bit>
#include <span>

#include "compile/pattern_scan.h"
#include "text/unicode_tables.h"

namespace qx {

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr char32_t kKelvin = 0x212A;
constexpr char32_t kLongS = 0x17F;

// True when `x` has exactly one bit set (std::has_single_bit counts them all,
// by a library call where the target has no instruction for it).
constexpr bool one_bit(uint64_t x) { return x != 0 && (x & (x - 1)) == 0; }

// A set of ASCII characters.
struct Ascii {
  uint64_t low = 0, high = 0;

  void add(char32_t from, char32_t to) {
    for (char32_t c = from; c <= std::min<char32_t>(to, 0x7F); ++c) {
      (c < 64 ? low : high) |= uint64_t{1} << (c % 64);
    }
  }
  Ascii operator|(const Ascii& o) const { return {low | o.low, high | o.high}; }
  Ascii operator~() const { return {~low, ~high}; }
  bool empty() const { return (low | high) == 0; }
  // True when it holds exactly one character.
  bool single() const { return (low == 0) != (high == 0) && one_bit(low | high); }
  bool at_least_three() const {
    uint64_t l = low, h = high;
    for (int k = 0; k < 2; ++k) {
      if (l != 0) {
        l &= l - 1;
      } else if (h != 0) {
        h &= h - 1;
      }
    }
    return (l | h) != 0;
  }
  Letters upper() const { return static_cast<Letters>(high >> ('A' - 64)) & kEveryLetter; }
  Letters lower() const { return static_cast<Letters>(high >> ('a' - 64)) & kEveryLetter; }
  // The ASCII characters in `ranges`.
  static Ascii of(std::span<const CodeRange> ranges) {
    Ascii out;
    for (const CodeRange& r : ranges) out.add(r.first, r.last);
    return out;
  }
  static Ascii of_letters(Letters lower, Letters upper) {
    return {0, (uint64_t{upper} << ('A' - 64)) | (uint64_t{lower} << ('a' - 64))};
  }
};

// The ASCII part of \d, \w and \s as Python's re reads them (the engine is
// given these meanings before it compiles the pattern).
struct PerlAscii {
  Ascii digit = Ascii::of(digit_ranges());
  Ascii word = Ascii::of(word_ranges());
  Ascii space = Ascii::of(space_ranges());
};

const PerlAscii& perl_ascii() {
  static const PerlAscii sets;  // thread-safe static initialisation
  return sets;
}

// The ASCII part of the Perl class \`letter` (d, D, w, W, s or S).
Ascii perl_class(char letter) {
  const PerlAscii& sets = perl_ascii();
  const char lower = static_cast<char>(letter | 0x20);
  const Ascii set = lower == 'd' ? sets.digit : lower == 'w' ? sets.word : sets.space;
  return letter == lower ? set : ~set;
}

// The ASCII part of the POSIX class [:name:] (the engine's are ASCII only).
Ascii posix_class(std::string_view name) {
  Ascii out;
  const auto add = [&out](char32_t from, char32_t to) { out.add(from, to); };
  if (name == "alnum" || name == "alpha" || name == "word" || name == "xdigit") {
    if (name == "xdigit") {
      add('a', 'f');
      add('A', 'F');
    } else {
      add('a', 'z');
      add('A', 'Z');
    }
    if (name != "alpha") add('0', '9');
    if (name == "word") add('_', '_');
  } else if (name == "ascii") {
    add(0, 0x7F);
  } else if (name == "blank") {
    add('\t', '\t');
    add(' ', ' ');
  } else if (name == "cntrl") {
    add(0, 0x1F);
    add(0x7F, 0x7F);
  } else if (name == "digit") {
    add('0', '9');
  } else if (name == "graph" || name == "print") {
    add(name == "graph" ? 0x21 : 0x20, 0x7E);
  } else if (name == "lower") {
    add('a', 'z');
  } else if (name == "upper") {
    add('A', 'Z');
  } else if (name == "punct") {
    add('!', '/');
    add(':', '@');
    add('[', '`');
    add('{', '~');
  } else if (name == "space") {
    add('\t', '\r');
    add(' ', ' ');
  }
  return out;
}

// The ASCII characters that the Unicode class \p or \P whose escape is
// `text` may hold: the engine knows general categories and scripts, and only
// the scripts Latin and Common hold any ASCII.
Ascii unicode_class(std::string_view text) {
  std::string_view name = text.substr(std::min<size_t>(2, text.size()));
  if (!name.empty() && name.front() == '{') name = name.substr(1, name.size() - 2);
  Ascii out;
  if (text.size() < 2 || text[1] == 'P' || name.empty() || name.front() == '^' || name == "Any") {
    return ~out;
  }
  if (name == "Latin") return Ascii::of_letters(kEveryLetter, kEveryLetter);
  if (name == "Common") return ~Ascii::of_letters(kEveryLetter, kEveryLetter);
  if (name.size() > 2) return out;  // a script beyond ASCII
  switch (name.front()) {
    case 'L':
      return Ascii::of_letters(kEveryLetter, kEveryLetter);
    case 'N':
      out.add('0', '9');
      break;
    case 'P':
    case 'S':
      out = posix_class("punct");
      break;
    case 'Z':
      out.add(' ', ' ');
      break;
    case 'C':
      out = posix_class("cntrl");
      break;
    default:
      break;
  }
  return out;
}

// True when the Unicode class whose escape is `text` may hold one character
// or none: of the classes the engine knows, only the line and paragraph
// separators are one character; a negated one may be anything.
bool unicode_class_may_be_small(std::string_view text) {
  return text.size() < 3 || text[1] == 'P' || text.find('^') != npos || text.find("Zl") != npos ||
         text.find("Zp") != npos;
}

// What one item of the pattern is, as far as characters go.
enum class ItemKind : uint8_t {
  CodePoint,  // one character
  Perl,       // \d \w \s or a negation; `code_point` is its letter
  Named,      // a Unicode class, or a POSIX class inside brackets
  Empty,      // an assertion or \C, holding no character of its own
};

struct Item {
  ItemKind kind;
  char32_t code_point;
  size_t end;
};

// The UTF-8 character at `i` (the text is valid UTF-8: the engine parsed it).
Item read_char(std::string_view p, size_t i) {
  const auto lead = static_cast<unsigned char>(p[i]);
  const size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  char32_t c = n == 1 ? lead : lead & (0x7F >> n);
  for (size_t k = 1; k < n && i + k < p.size(); ++k) {
    c = (c << 6) | (static_cast<unsigned char>(p[i + k]) & 0x3F);
  }
  return {ItemKind::CodePoint, c, std::min(i + n, p.size())};
}

// The escape whose backslash is at `i`, read as the engine reads it.
Item read_escape(std::string_view p, size_t i) {
  if (i + 1 >= p.size()) return {ItemKind::Empty, 0, p.size()};
  const char e = p[i + 1];
  switch (e) {
    case 'd':
    case 'D':
    case 'w':
    case 'W':
    case 's':
    case 'S':
      return {ItemKind::Perl, static_cast<char32_t>(e), i + 2};
    case 'p':
    case 'P': {
      const bool braced = i + 2 < p.size() && p[i + 2] == '{';
      return {ItemKind::Named, 0, braced ? escape_end(p, i) : std::min(i + 3, p.size())};
    }
    case 'x': {
      const bool braced = i + 2 < p.size() && p[i + 2] == '{';
      const size_t end = braced ? escape_end(p, i) : std::min(i + 4, p.size());
      char32_t c = 0;
      for (size_t j = i + 2; j < end; ++j) {
        if (is_hex_digit(p[j])) c = c * 16 + hex_value(p[j]);
      }
      return {ItemKind::CodePoint, c, end};
    }
    case 'a':
      return {ItemKind::CodePoint, '\a', i + 2};
    case 'f':
      return {ItemKind::CodePoint, '\f', i + 2};
    case 'n':
      return {ItemKind::CodePoint, '\n', i + 2};
    case 'r':
      return {ItemKind::CodePoint, '\r', i + 2};
    case 't':
      return {ItemKind::CodePoint, '\t', i + 2};
    case 'v':
      return {ItemKind::CodePoint, '\v', i + 2};
    case 'A':
    case 'z':
    case 'b':
    case 'B':
    case 'C':
      return {ItemKind::Empty, 0, i + 2};
    default:
      break;
  }
  if (e >= '0' && e <= '7') {  // octal: up to three digits
    char32_t c = 0;
    size_t j = i + 1;
    for (; j < p.size() && j < i + 4 && p[j] >= '0' && p[j] <= '7'; ++j) c = c * 8 + (p[j] - '0');
    return {ItemKind::CodePoint, c, j};
  }
  // Any other letter or digit is an escape the engine refused already; a
  // punctuation mark stands for itself.
  if (is_hex_digit(e) || (e >= 'g' && e <= 'z') || (e >= 'G' && e <= 'Z')) {
    return {ItemKind::Named, 0, i + 2};
  }
  const Item c = read_char(p, i + 1);
  return {ItemKind::CodePoint, c.code_point, c.end};
}

// What a bracket class lists. ASCII is read exactly; beyond it, only whether
// one character alone is listed, and the two that fold into ASCII letters.
struct ClassContents {
  bool negated = false;
  Ascii chars;  // ASCII listed by characters and ranges
  Ascii sets;   // ASCII held by the Perl and POSIX classes listed
  bool has_sets = false;
  bool named = false;      // lists a Unicode class, whose characters are not read here
  bool named_few = false;  // ... one that may hold a single character, or none
  Ascii named_ascii;       // the ASCII characters such classes may hold
  bool wide = false;       // lists characters beyond ASCII
  bool one_wide = true;    // ... and all of them are `wide_rune`
  char32_t wide_rune = 0;
  Letters folds_in = 0;  // letters a listed character beyond ASCII folds into

  void add_range(char32_t lo, char32_t hi) {
    if (lo > hi) return;
    chars.add(lo, hi);
    if (hi < 0x80) return;
    const char32_t from = std::max<char32_t>(lo, 0x80);
    one_wide = one_wide && from == hi && (!wide || wide_rune == from);
    wide = true;
    wide_rune = from;
    if (lo <= kKelvin && kKelvin <= hi) folds_in |= letter_bit('k');
    if (lo <= kLongS && kLongS <= hi) folds_in |= letter_bit('s');
  }
};

// An item inside brackets at `i`: a POSIX class, an escape or a character.
Item read_class_item(std::string_view p, size_t i, ClassContents& contents) {
  if (p[i] == '[' && i + 1 < p.size() && p[i + 1] == ':') {
    const size_t close = p.find(":]", i + 2);
    if (close != std::string_view::npos) {
      const bool negated = i + 2 < close && p[i + 2] == '^';
      const Ascii set = posix_class(p.substr(i + 2 + negated, close - i - 2 - negated));
      contents.sets = contents.sets | (negated ? ~set : set);
      contents.has_sets = true;
      return {ItemKind::Named, 0, close + 2};
    }
  }
  return p[i] == '\\' ? read_escape(p, i) : read_char(p, i);
}

// Reads the bracket class that opens at p[i] == '[' into `contents`; returns
// where it ends. A "]" right after "[" or "[^" is listed, not the end.
size_t read_class(std::string_view p, size_t i, ClassContents& contents) {
  ++i;
  if (i < p.size() && p[i] == '^') {
    contents.negated = true;
    ++i;
  }
  for (bool first = true; i < p.size(); first = false) {
    if (p[i] == ']' && !first) return i + 1;
    const size_t start = i;
    const Item item = read_class_item(p, i, contents);
    i = item.end;
    switch (item.kind) {
      case ItemKind::CodePoint: {
        char32_t hi = item.code_point;
        if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') {
          const Item last = read_class_item(p, i + 1, contents);
          hi = last.code_point;
          i = last.end;
        }
        contents.add_range(item.code_point, hi);
        break;
      }
      case ItemKind::Perl:
        contents.sets = contents.sets | perl_class(static_cast<char>(item.code_point));
        contents.has_sets = true;
        break;
      case ItemKind::Named:
        if (p[start] == '\\') {
          const std::string_view text = p.substr(start, i - start);
          contents.named = true;
          contents.named_few = contents.named_few || unicode_class_may_be_small(text);
          contents.named_ascii = contents.named_ascii | unicode_class(text);
        }
        break;
      case ItemKind::Empty:
        break;
    }
  }
  return i;
}

// A literal of the one character `c` listed alone, or of the letter whose two
// cases are all that is listed.
Unit listed_literal(char32_t c, bool both_cases, bool fold, size_t begin, size_t end) {
  const Spelling spelling = fold ? Spelling::Folded : Spelling::Bracket;
  if (fold || !both_cases) return char_unit(c, fold, begin, end, spelling);
  // Without the flag i, k and s too: the engine adds their folds beyond ASCII
  // only once it merges the literal into a class.
  return {.kind = UnitKind::Literal,
          .spelling = spelling,
          .fold = true,
          .rune = c,
          .folded = letter_bit(c),
          .begin = begin,
          .end = end};
}

// A class that holds every character of the set `surely` and may hold those
// of `possibly` (a superset): the letters it may hold in lower case alone.
Letters plain_letters(Letters lower_possibly, Letters upper_surely) {
  return lower_possibly & ~upper_surely & kEveryLetter;
}

Unit classify(const ClassContents& c, bool fold, size_t begin, size_t end) {
  const Ascii surely = c.chars | c.sets;  // ASCII the listed items surely hold
  Unit u;
  u.begin = begin;
  u.end = end;
  u.spelling = Spelling::Other;
  if (!c.negated) {
    u.kind = c.named_few ? UnitKind::Either : UnitKind::Class;
    if (!fold) u.plain = plain_letters((surely | c.named_ascii).lower(), surely.upper());
    if (c.named || c.has_sets) return u;
    if (c.wide) {
      if (c.chars.empty() && c.one_wide) {
        return fold ? Unit{.kind = UnitKind::Either, .begin = begin, .end = end}
                    : char_unit(c.wide_rune, false, begin, end, Spelling::Bracket);
      }
      return u;
    }
    const Letters lower = c.chars.lower(), upper = c.chars.upper();
    if (c.chars.single()) {
      const char32_t only = static_cast<char32_t>(
          c.chars.low != 0 ? std::countr_zero(c.chars.low) : 64 + std::countr_zero(c.chars.high));
      return listed_literal(only, false, fold, begin, end);
    }
    if (c.chars.low == 0 && lower == upper && one_bit(lower) &&
        c.chars.high == Ascii::of_letters(lower, upper).high) {
      return listed_literal(static_cast<char32_t>('a' + std::countr_zero(lower)), true, fold, begin,
                            end);
    }
    return u;
  }
  // Negated: what is not listed. Under the flag i a letter is listed when
  // either case is, or when a character beyond ASCII folding into it is.
  const Ascii possibly = surely | c.named_ascii;  // ASCII the listed items may hold
  Letters lower_surely = surely.lower(), upper_surely = surely.upper();
  Letters lower_possibly = possibly.lower(), upper_possibly = possibly.upper();
  if (fold) {
    lower_surely = upper_surely = lower_surely | upper_surely | c.folds_in;
    lower_possibly = upper_possibly = lower_possibly | upper_possibly | c.folds_in;
  }
  if (!fold) u.plain = plain_letters(~lower_surely, ~upper_possibly);
  // Surely not listed; the engine may leave the line feed out on its own.
  Ascii unlisted = ~(possibly | Ascii::of_letters(lower_possibly, upper_possibly));
  unlisted.low &= ~(uint64_t{1} << '\n');
  if (unlisted.at_least_three()) {
    u.kind = UnitKind::Class;
    return u;
  }
  // A character or two, or more that a Unicode class listed leaves out.
  u.kind = UnitKind::Either;
  u.folded = ~lower_surely & ~upper_surely & kEveryLetter;
  if (fold) u.folded &= ~kFoldsBeyondAscii;
  return u;
}

}  // namespace

Unit char_unit(char32_t c, bool fold, size_t begin, size_t end, Spelling spelling) {
  Unit u;
  u.begin = begin;
  u.end = end;
  u.spelling = spelling;
  const Letters letter = letter_bit(c);
  u.kind = UnitKind::Literal;
  u.rune = c;
  if (!fold) {
    if (c >= 'a' && c <= 'z') u.plain = letter;
    return u;
  }
  if ((letter & kFoldsBeyondAscii) != 0 || c == kKelvin || c == kLongS) {
    u.kind = UnitKind::Class;  // the letter with the Kelvin sign or the long s
  } else if (c >= 0x80) {
    u.kind = UnitKind::Either;  // a class when it has other cases
  } else {
    u.fold = true;
    u.rune = letter != 0 ? (c | 0x20) : c;
    u.folded = letter;
  }
  return u;
}

Unit char_unit_at(std::string_view p, size_t i, bool fold, Spelling spelling) {
  const Item c = read_char(p, i);
  return char_unit(c.code_point, fold, i, c.end, spelling);
}

Unit escape_unit(std::string_view p, size_t i, bool fold) {
  const Item item = read_escape(p, i);
  switch (item.kind) {
    case ItemKind::CodePoint:
      return char_unit(item.code_point, fold, i, item.end,
                       fold ? Spelling::Folded : Spelling::Other);
    case ItemKind::Perl:
      return {.kind = UnitKind::Class, .begin = i, .end = item.end};
    case ItemKind::Named: {
      const std::string_view text = p.substr(i, item.end - i);
      return {.kind = unicode_class_may_be_small(text) ? UnitKind::Either : UnitKind::Class,
              .plain = fold ? 0 : unicode_class(text).lower(),
              .begin = i,
              .end = item.end};
    }
    case ItemKind::Empty:
      return {.kind = UnitKind::Assertion, .begin = i, .end = item.end};
  }
  return {};
}

Unit class_unit(std::string_view p, size_t i, bool fold) {
  ClassContents contents;
  const size_t end = read_class(p, i, contents);
  return classify(contents, fold, i, end);
}

}  // namespace qx
