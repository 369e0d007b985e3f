// Perl classes in patterns: \d \w \s and their negations with the meaning Python's re gives them.
#include "compile/perl_classes.h"

#include <algorithm>
#include <span>
#include <vector>

#include "compile/pattern_scan.h"
#include "re2/re2.h"
#include "text/unicode_tables.h"

namespace qx {

namespace {

constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr std::string_view kLetters = "dDwWsS";  // the Perl classes

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
      case 'd':
        return &digit;
      case 'D':
        return &not_digit;
      case 'w':
        return &word;
      case 'W':
        return &not_word;
      case 's':
        return &space;
      case 'S':
        return &not_space;
      default:
        return nullptr;
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

// ---- What the rewritten classes cost the engine --------------------------

// The engine compiles each occurrence of a class into instructions of its own
// and counts them against a budget derived from its max_mem option; the
// smallest max_mem a pattern compiles under is affine in its instruction
// count. So the smallest max_mem of each class alone, less that of the empty
// pattern, is what every occurrence of the class adds. Measured on the engine
// itself instead of modelling its compiler, once per process and class, for
// the classes a long pattern uses.
int64_t smallest_max_mem(const std::string& pattern) {
  const std::string anchored = "\\A(?:" + pattern + ")\\z";
  // From 2 up: the engine reads a budget that rounds down to 0 as unlimited.
  int64_t fails = 2, fits = RE2::Options().max_mem();
  while (fits - fails > 1) {
    const int64_t mid = fails + (fits - fails) / 2;
    RE2::Options options;
    options.set_log_errors(false);
    options.set_max_mem(mid);
    (RE2(anchored, options).ok() ? fits : fails) = mid;
  }
  return fits;
}

int64_t empty_pattern_cost() {
  static const int64_t cost = smallest_max_mem("");
  return cost;
}

template <char Letter>
int64_t class_cost() {
  // Two bytes of slack for the rounding of the engine's budget arithmetic.
  static const int64_t cost = std::max<int64_t>(
      0, smallest_max_mem(bare_class(*perl_classes().body(Letter))) - empty_pattern_cost() - 2);
  return cost;
}

// What an occurrence of the class `letter` adds, or 0 for any other escape.
int64_t escape_cost(char letter) {
  static constexpr int64_t (*kCosts[])() = {class_cost<'d'>, class_cost<'D'>, class_cost<'w'>,
                                            class_cost<'W'>, class_cost<'s'>, class_cost<'S'>};
  const size_t k = kLetters.find(letter);
  return k == std::string_view::npos ? 0 : kCosts[k]();
}

// Below this many Perl escapes the rewritten pattern is small enough to just build.
constexpr size_t kFewClasses = 32;

size_t count_perl_escapes(std::string_view p) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < p.size(); ++i) {
    if (p[i] != '\\') continue;
    if (kLetters.find(p[i + 1]) != std::string_view::npos) ++n;
    ++i;
  }
  return n;
}

// A count of copies, and the cost of so many copies of one item.
struct Copies {
  int64_t fewest = 0;  // copies the engine always compiles
  int64_t most = 0;    // copies it compiles unless it merges repetitions
};

constexpr int64_t kCostCap = int64_t{1} << 50;

int64_t times(int64_t count, int64_t cost) { return std::min(kCostCap, count * cost); }

// One group of the pattern while its floor is summed. The engine compiles
// every copy of a counted repetition (x{2,5} is five copies, x? one), but
// merges neighbouring repetitions of one class when one of them is unbounded
// ("\w?\w*" is one "\w*"), which can drop the optional copies, and a nested
// repetition with an unbounded one ("(?:\w+)?" is "\w*"). So both sums are
// kept, and the fewest copies count wherever the group holds an unbounded
// repetition, at any depth.
struct GroupFloor {
  Copies sum;             // of the current alternative
  Copies last;            // of its last item
  int64_t last_cost = 0;  // of one copy of the last item
  bool last_repeated = false;
  bool unbounded = false;
  bool alternatives = false;
  Copies best;  // the cheapest finished alternative, by each sum

  // Ends the current alternative. The engine merges alternatives that are a
  // single class into one class, which may cost less than any of them
  // ("\d|\D" is any character), and factors common leading items out, so an
  // alternative that ends in an unrepeated item counts without it.
  void end_alternative() {
    const Copies value = {sum.fewest - (last_repeated ? 0 : last.fewest),
                          sum.most - (last_repeated ? 0 : last.most)};
    best = alternatives
               ? Copies{std::min(best.fewest, value.fewest), std::min(best.most, value.most)}
               : value;
    alternatives = true;
    sum = last = {};
    last_cost = 0;
    last_repeated = false;
  }

  // What the group costs; sets `holds_unbounded` when it holds an unbounded repetition.
  int64_t close(bool& holds_unbounded) {
    if (alternatives) end_alternative();
    const Copies total = alternatives ? best : sum;
    holds_unbounded = unbounded;
    return unbounded ? total.fewest : total.most;
  }

  void add(int64_t cost, bool holds_unbounded = false) {
    sum.fewest = std::min(kCostCap, sum.fewest + cost);
    sum.most = std::min(kCostCap, sum.most + cost);
    last = {cost, cost};
    last_cost = cost;
    last_repeated = false;
    unbounded |= holds_unbounded;
  }

  // A repetition of the last item from `min` to `max` copies (max < 0: no bound).
  void repeat(int64_t min, int64_t max) {
    sum.fewest -= last.fewest;
    sum.most -= last.most;
    last = {times(min, last_cost), times(max < 0 ? std::max<int64_t>(min, 1) : max, last_cost)};
    sum.fewest = std::min(kCostCap, sum.fewest + last.fewest);
    sum.most = std::min(kCostCap, sum.most + last.most);
    last_repeated = true;
    unbounded |= max < 0;
  }
};

// Closes the innermost group: it becomes the last item of the one around it.
void close_group(std::vector<GroupFloor>& groups) {
  bool unbounded = false;
  const int64_t cost = groups.back().close(unbounded);
  groups.pop_back();
  groups.back().add(cost, unbounded);
}

// The decimal count at p[j], leaving `j` after it.
int64_t read_count(std::string_view p, size_t& j) {
  int64_t n = 0;
  for (; j < p.size() && is_ascii_digit(p[j]); ++j)
    n = std::min<int64_t>(kCostCap, n * 10 + (p[j] - '0'));
  return n;
}

// A lower bound of the max_mem that `p` needs once rewritten: the empty
// pattern's need plus what the certain occurrences of Perl classes add.
int64_t rewritten_floor(std::string_view p) {
  std::vector<GroupFloor> groups(1);
  size_t i = 0;
  while (i < p.size()) {
    GroupFloor& g = groups.back();
    const char c = p[i];
    if (c == '\\' && i + 1 < p.size() && p[i + 1] == 'Q') {
      g.add(0);
      i = quote_end(p, i);
    } else if (c == '\\') {
      g.add(i + 1 < p.size() ? escape_cost(p[i + 1]) : 0);
      i = escape_end(p, i);
    } else if (c == '[') {
      g.add(0);
      i = class_end(p, i);
    } else if (c == '(') {
      size_t end = i + 1;
      if (end < p.size() && p[end] == '?') {
        end = p.find_first_of(":)>", end);
        end = end == std::string_view::npos ? p.size() : end;
        // "(?flags)" sets flags and opens nothing.
        if (end < p.size() && p[end] == ')') {
          i = end + 1;
          continue;
        }
        ++end;
      }
      groups.emplace_back();
      i = end;
    } else if (c == ')') {
      if (groups.size() > 1) close_group(groups);
      ++i;
    } else if (c == '|') {
      g.end_alternative();
      ++i;
    } else if (c == '*' || c == '?' || c == '+') {
      g.repeat(c == '+' ? 1 : 0, c == '?' ? 1 : -1);
      i += i + 1 < p.size() && p[i + 1] == '?' ? 2 : 1;
    } else if (const size_t end = c == '{' ? repeat_end(p, i) : std::string_view::npos;
               end != std::string_view::npos) {
      // {n}, {n,} or {n,m}, whose counts the engine holds to at most 1000.
      size_t j = i + 1;
      const int64_t min = read_count(p, j);
      const int64_t max = p[j] == '}' ? min : p[j + 1] == '}' ? -1 : read_count(p, ++j);
      g.repeat(min, max);
      i = end < p.size() && p[end] == '?' ? end + 1 : end;
    } else {
      g.add(0);
      ++i;
    }
  }
  while (groups.size() > 1) close_group(groups);
  bool unbounded = false;
  return empty_pattern_cost() + groups.back().close(unbounded);
}

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

bool perl_classes_exceed_budget(std::string_view pattern, int64_t max_mem) {
  if (count_perl_escapes(pattern) < kFewClasses) return false;
  return rewritten_floor(pattern) > max_mem;
}

}  // namespace qx
