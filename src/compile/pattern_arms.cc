// Alternation arms: keeping apart the arms an engine would merge wrongly across case folding.
#include "compile/pattern_arms.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>
#include <vector>

#include "compile/pattern_scan.h"
#include "re2/re2.h"

namespace qx {

namespace {

// The engine turns a class of exactly one ASCII letter in both cases ("[Xx]",
// or "x" and "[x]" under the flag i) into a case-folded letter, and merges
// neighbouring arms that are single letters or classes into one class. An
// engine with the fault adds a folded letter to that class only when its lower
// case is not there yet, so an earlier arm holding the lower case without the
// capital loses the capital. Arms come to be single letters also once the
// engine has factored out what neighbouring arms begin with ("ab|a[Bb]"), so
// each arm is judged by every letter it holds, at any depth.

// A set of ASCII letters, case aside: bit k stands for the letter 'a' + k.
using Letters = uint32_t;
constexpr Letters kEveryLetter = (Letters{1} << 26) - 1;

// Beyond this many listed code points, a negated class is taken as possibly
// leaving a single letter out: its complement is not worked out.
constexpr uint64_t kManyCodePoints = 0x10000;

// The letters of [lo, hi] that lie in [first, first + 25].
Letters letters_in(char32_t lo, char32_t hi, char32_t first) {
  const char32_t from = std::max(lo, first), to = std::min<char32_t>(hi, first + 25);
  if (from > to) return 0;
  return ((Letters{1} << (to - first + 1)) - 1) & ~((Letters{1} << (from - first)) - 1);
}

// What an arm may hand the engine's merging of single-character arms.
struct ArmLetters {
  Letters folded = 0;  // letters it may hold as a case-folded letter
  Letters plain = 0;   // letters it may hold in lower case without the capital

  void add(const ArmLetters& other) {
    folded |= other.folded;
    plain |= other.plain;
  }

  // A character written as itself or as an escape.
  void add_char(char32_t c, bool fold) {
    const Letters letter = letters_in(c, c, 'a') | letters_in(c, c, 'A');
    if (fold) {
      folded |= letter;
    } else {
      plain |= letters_in(c, c, 'a');
    }
  }
};

// What one item of the pattern is, as far as letters go.
enum class ItemKind : uint8_t {
  CodePoint,  // one character
  Perl,       // \d \w \s or a negation: each case of a letter in it with the other
  Named,      // a Unicode or POSIX class, whose letters are not read here
  Empty,      // an assertion, holding no character
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
      return {ItemKind::Perl, 0, i + 2};
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

// What a bracket class lists.
struct ClassContents {
  bool negated = false;
  Letters lower = 0, upper = 0;  // the letters listed in each case
  bool other = false;            // lists a character that is not an ASCII letter
  bool perl = false;             // lists \d \w \s or a negation
  bool named = false;            // lists a Unicode or POSIX class
  uint64_t count = 0;            // code points listed by characters and ranges

  void add_range(char32_t lo, char32_t hi) {
    const Letters lo_letters = letters_in(lo, hi, 'a'), up_letters = letters_in(lo, hi, 'A');
    lower |= lo_letters;
    upper |= up_letters;
    const uint64_t size = hi >= lo ? uint64_t{hi} - lo + 1 : 0;
    count = std::min(count + size, uint64_t{1} << 40);
    other |= size > static_cast<uint64_t>(std::popcount(lo_letters) + std::popcount(up_letters));
  }

  // What the class hands an arm, under the flag i when `fold`.
  ArmLetters letters(bool fold) const {
    ArmLetters out;
    if (!negated) {
      const Letters listed = lower | upper;
      if (!other && !perl && !named && std::popcount(listed) == 1 && (fold || (lower & upper))) {
        out.folded = listed;
      }
      // Folding puts each letter's other case in; a Perl class holds both.
      if (!fold) out.plain = named ? kEveryLetter : lower & ~upper;
      return out;
    }
    const bool unread = perl || named || count >= kManyCodePoints;
    if (unread) out.folded = kEveryLetter;
    if (!fold) out.plain = unread ? kEveryLetter : upper & ~lower;
    return out;
  }
};

// An item inside brackets at `i`: a POSIX class, an escape or a character.
Item read_class_item(std::string_view p, size_t i) {
  if (p[i] == '[' && i + 1 < p.size() && p[i + 1] == ':') {
    const size_t close = p.find(":]", i + 2);
    if (close != std::string_view::npos) return {ItemKind::Named, 0, close + 2};
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
    const Item item = read_class_item(p, i);
    i = item.end;
    switch (item.kind) {
      case ItemKind::CodePoint: {
        char32_t hi = item.code_point;
        if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') {
          const Item last = read_class_item(p, i + 1);
          hi = last.code_point;
          i = last.end;
        }
        contents.add_range(item.code_point, hi);
        break;
      }
      case ItemKind::Perl:
        contents.perl = true;
        break;
      case ItemKind::Named:
        contents.named = true;
        break;
      case ItemKind::Empty:
        break;
    }
  }
  return i;
}

// One group of the pattern (or the pattern itself) while it is scanned.
struct Group {
  bool fold = false;          // the flag i, where the scan is
  size_t arm_start = 0;       // where the current arm begins
  size_t flags_begin = 0;     // the current arm's own flag groups, in the scan's list
  ArmLetters arm;             // what the current arm holds
  ArmLetters all;             // what every arm so far holds
  Letters earlier_plain = 0;  // the plain letters of the earlier arms left unwrapped
};

class ArmGuard {
 public:
  explicit ArmGuard(std::string_view p) : p_(p) {}

  std::string run() {
    groups_.emplace_back();
    size_t i = 0;
    while (i < p_.size()) i = step(i);
    end_arm(p_.size());
    return rewritten();
  }

 private:
  // Reads the item at `i`; returns where the next one begins.
  size_t step(size_t i) {
    Group& g = groups_.back();
    switch (p_[i]) {
      case '\\': {
        if (i + 1 < p_.size() && p_[i + 1] == 'Q') {
          const size_t end = quote_end(p_, i);
          const size_t text_end = p_.compare(end - 2, 2, "\\E") == 0 ? end - 2 : end;
          for (size_t j = i + 2; j < text_end; ++j) {
            g.arm.add_char(static_cast<unsigned char>(p_[j]), g.fold);
          }
          return end;
        }
        const Item item = read_escape(p_, i);
        if (item.kind == ItemKind::CodePoint) g.arm.add_char(item.code_point, g.fold);
        if (item.kind == ItemKind::Named && !g.fold) g.arm.plain = kEveryLetter;
        return item.end;
      }
      case '[': {
        ClassContents contents;
        const size_t end = read_class(p_, i, contents);
        g.arm.add(contents.letters(g.fold));
        return end;
      }
      case '(':
        return open_group(i);
      case ')':
        if (groups_.size() > 1) {
          end_arm(i);
          const ArmLetters inside = groups_.back().all;
          groups_.pop_back();
          groups_.back().arm.add(inside);
        }
        return i + 1;
      case '|':
        end_arm(i);
        g.arm_start = i + 1;
        return i + 1;
      default: {
        const Item c = read_char(p_, i);
        g.arm.add_char(c.code_point, g.fold);
        return c.end;
      }
    }
  }

  size_t open_group(size_t i) {
    bool fold = groups_.back().fold;
    size_t j = i + 1;
    if (j < p_.size() && p_[j] == '?') {
      bool negated = false;
      for (++j; j < p_.size() && (p_[j] == '-' || is_flag(p_[j])); ++j) {
        if (p_[j] == '-') negated = true;
        if (p_[j] == 'i') fold = !negated;
      }
      if (j < p_.size() && p_[j] == ')') {
        // Sets the flags up to the end of the enclosing group, later arms too.
        groups_.back().fold = fold;
        flag_groups_.emplace_back(i, j + 1);
        return j + 1;
      }
      if (j < p_.size() && p_[j] != ':') {  // a named group
        const size_t close = p_.find('>', j);
        j = close == std::string_view::npos ? p_.size() - 1 : close;
      }
    } else {
      --j;
    }
    Group& inner = groups_.emplace_back();
    inner.fold = fold;
    inner.arm_start = j + 1;
    inner.flags_begin = flag_groups_.size();
    return j + 1;
  }

  static bool is_flag(char c) { return c == 'i' || c == 'm' || c == 's' || c == 'U'; }

  // Ends the current arm of the innermost group before p[end], wrapping it
  // when it may hold a folded letter that an earlier arm holds plain.
  void end_arm(size_t end) {
    Group& g = groups_.back();
    if ((g.arm.folded & g.earlier_plain) != 0) {
      if (open_at_.empty()) open_at_.assign(p_.size(), false);
      open_at_[g.arm_start] = true;
      std::string close = "){1}";
      for (size_t k = g.flags_begin; k < flag_groups_.size(); ++k) {
        const auto [from, to] = flag_groups_[k];
        close.append(p_.substr(from, to - from));
      }
      closes_.emplace_back(end, std::move(close));
    } else {
      g.earlier_plain |= g.arm.plain;
    }
    g.all.add(g.arm);
    g.arm = {};
    flag_groups_.resize(g.flags_begin);
  }

  std::string rewritten() const {
    if (closes_.empty()) return std::string(p_);
    std::string out;
    out.reserve(p_.size() + closes_.size() * 8);
    size_t next = 0;
    for (size_t i = 0; i <= p_.size(); ++i) {
      for (; next < closes_.size() && closes_[next].first == i; ++next) out += closes_[next].second;
      if (i == p_.size()) break;
      if (open_at_[i]) out += "(?:";
      out += p_[i];
    }
    return out;
  }

  std::string_view p_;
  std::vector<Group> groups_;
  std::vector<std::pair<size_t, size_t>> flag_groups_;  // "(?flags)" of the open arms
  std::vector<bool> open_at_;                           // a wrapper opens before p[i]
  std::vector<std::pair<size_t, std::string>> closes_;  // a wrapper closes before p[i]
};

}  // namespace

bool engine_merges_folded_arms() {
  // Thread-safe static initialisation; nothing here calls into Python.
  static const bool merges = [] {
    if (QX_KEEP_FOLDED_ARMS_APART) return true;
    RE2::Options options;
    options.set_log_errors(false);
    const RE2 probe("x|[Xx]", options);
    return !RE2::FullMatch("X", probe);
  }();
  return merges;
}

std::string keep_folded_arms_apart(std::string_view pattern) { return ArmGuard(pattern).run(); }

}  // namespace qx
