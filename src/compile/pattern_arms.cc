// Alternation arms: spelling out case-folded letters that the engine would merge wrongly.
#include "compile/pattern_arms.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "compile/pattern_scan.h"
#include "compile/pattern_units.h"
#include "re2/re2.h"

namespace qx {

namespace {

// The engine factors each alternation as it parses it: neighbouring arms that
// begin alike lose what they share (literal text, then one class, assertion or
// fixed count), and what is left of them is factored again as an alternation
// of its own. Then each run of neighbours that are single characters, literals
// or classes, becomes one class. So a case-folded literal meets that merge only
// as what is left of an arm that it ends, once a beginning that factoring can
// take off is gone, and the neighbours it merges with are arms next to it in
// the text that had the same beginning taken off. A group that is an arm on
// its own counts as its arms: the engine splices them into the alternation
// around it.

constexpr size_t npos = std::string_view::npos;

bool is_flag(char c) { return c == 'i' || c == 'm' || c == 's' || c == 'U'; }

// Where the flag group "(?flags)" at `i` ends, or npos when there is none.
size_t flag_group_end(std::string_view p, size_t i) {
  if (i + 1 >= p.size() || p[i] != '(' || p[i + 1] != '?') return npos;
  size_t j = i + 2;
  while (j < p.size() && (p[j] == '-' || is_flag(p[j]))) ++j;
  return j < p.size() && p[j] == ')' ? j + 1 : npos;
}

bool is_single(UnitKind k) {
  return k == UnitKind::Literal || k == UnitKind::Class || k == UnitKind::Either;
}

// What can be left of an arm for the merge: a single character, or a group
// whose own merges may have left one class.
bool is_mergeable(UnitKind k) { return is_single(k) || k == UnitKind::Group; }

// The units of an arm as factoring sees them, without the last: how many, a
// hash of their factoring keys, and how many may be any unit or, for groups,
// stand for several.
struct Prefix {
  size_t size = 0;
  uint64_t hash = 0;
  size_t any = 0;
  size_t groups = 0;
};

// True unless factoring can never take the one prefix for the other. Equal
// hashes are taken as alike: a collision only spells out a letter for nothing.
bool may_share(const Prefix& a, const Prefix& b) {
  // A group stands for one unit or more: its prefix is at least its size.
  if (a.groups != 0 && b.groups != 0) return true;
  if (a.groups != 0) return b.size >= a.size;
  if (b.groups != 0) return a.size >= b.size;
  return a.size == b.size && (a.any != 0 || b.any != 0 || a.hash == b.hash);
}

// The units of an arm so far, read as a polynomial hash so that arms compare
// in constant time and groups splice in.
struct Arm {
  static constexpr uint64_t kBase = 0x9E3779B97F4A7C15ULL;
  Prefix all, before;                    // every unit, and every unit but the last
  uint64_t power = 1, power_before = 1;  // kBase to the power of their sizes
  bool opaque = false;                   // holds what factoring never takes off
  Unit last;

  void reset() {
    all.size = 0;
    all.hash = 0;
    all.any = 0;
    all.groups = 0;
    power = 1;
    opaque = false;
  }

  static uint64_t mix(uint64_t key) {  // splitmix64's finaliser
    key = (key ^ (key >> 30)) * 0xBF58476D1CE4E5B9ULL;
    key = (key ^ (key >> 27)) * 0x94D049BB133111EBULL;
    return key ^ (key >> 31);
  }

  void add(const Unit& u) {
    before = all;
    power_before = power;
    put_last(u);
  }

  // `u` in place of the last unit (there is one).
  void replace_last(const Unit& u) {
    all = before;
    power = power_before;
    put_last(u);
  }

  // The units of `b` after these.
  void append(const Arm& b) {
    if (b.all.size == 0) return;
    before = joined(all, b.before, b.power_before);
    power_before = power * b.power_before;
    all = joined(all, b.all, b.power);
    power *= b.power;
    opaque = opaque || b.opaque;
    last = b.last;
  }

 private:
  // `u` after the units in `before`.
  void put_last(const Unit& u) {
    all.size += 1;
    all.hash = all.hash * kBase + mix(factoring_key(u));
    all.any += may_be_any(u) ? 1 : 0;
    all.groups += u.kind == UnitKind::Group ? 1 : 0;
    power *= kBase;
    opaque = opaque || u.kind == UnitKind::Opaque;
    last = u;
  }

  static Prefix joined(const Prefix& a, const Prefix& b, uint64_t power_b) {
    return {a.size + b.size, a.hash * power_b + b.hash, a.any + b.any, a.groups + b.groups};
  }
};

// Neighbouring arms that the engine may merge, as the scan meets them.
struct Run {
  Prefix before;                // the prefix of the arm before
  bool open = false;            // the arm before may be merged with the next
  size_t length = 0;            // arms in the run so far
  Letters plain = 0;            // letters its arms may hold in lower case alone
  std::optional<Unit> waiting;  // a folded k or s that ends the run's first arm

  // Field by field: the scan does this once an arm, and a whole-object
  // assignment compiles to a block fill that costs more than the scan.
  void reset() {
    open = false;
    length = 0;
    plain = 0;
    waiting.reset();
  }
};

// The pattern itself, or one group of it, while it is scanned.
struct Level {
  bool fold = false;        // the flag i, where the scan is
  bool capture = false;     // a capturing group
  bool alternated = false;  // holds "|"
  bool linkable = false;    // non-capturing, and opened at the start of an arm
  size_t open = 0;          // where its "(" is
  Arm arm;                  // the current arm
  Letters plain = 0;        // letters its units hold in lower case alone
  Run run;                  // its arms' run: for a linkable level, a fork of its parent's
};

class ArmScan {
 public:
  ArmScan(std::string_view p, bool lost_capitals) : p_(p), lost_capitals_(lost_capitals) {}

  // The units to spell out, in text order.
  std::vector<Unit> run() {
    enter(false, false, false, 0);
    size_t i = 0;
    while (i < p_.size()) i = step(i);
    end_arm(levels_[0]);
    std::sort(spelled_.begin(), spelled_.end(),
              [](const Unit& a, const Unit& b) { return a.begin < b.begin; });
    return std::move(spelled_);
  }

 private:
  Level& level() { return levels_[depth_ - 1]; }

  // Reads the item at `i`; returns where the next one begins.
  size_t step(size_t i) {
    Level& lv = level();
    const auto c = static_cast<unsigned char>(p_[i]);
    switch (c) {
      case '\\':
        if (i + 1 < p_.size() && p_[i + 1] == 'Q') return quote(i);
        return push(escape_unit(p_, i, lv.fold));
      case '[':
        return push(class_unit(p_, i, lv.fold));
      case '(':
        return open_group(i);
      case ')':
        return close_group(i);
      case '|':
        lv.alternated = true;
        end_arm(lv);
        return i + 1;
      case '*':
      case '+':
      case '?':
        return repeat(i, i + 1);
      case '{':
        if (const size_t end = repeat_end(p_, i); end != npos) return repeat(i, end);
        break;
      case '.':
        return push({.kind = UnitKind::Class, .begin = i, .end = i + 1});
      case '^':
      case '$':
        return push({.kind = UnitKind::Assertion, .begin = i, .end = i + 1});
      default:
        if (!lv.fold && c < 0x80) return push(char_unit(c, false, i, i + 1, Spelling::Other));
        break;
    }
    return push(char_unit_at(p_, i, lv.fold, lv.fold ? Spelling::Folded : Spelling::Other));
  }

  size_t push(const Unit& u) {
    Level& lv = level();
    lv.arm.add(u);
    lv.plain |= u.plain;
    return u.end;
  }

  // The characters of "\Q...\E" at `i`, each a unit of its own. One that
  // never ends runs to the end of the text (it is closed there before the
  // engine sees it).
  size_t quote(size_t i) {
    const size_t end = quote_end(p_, i);
    const size_t text_end = p_.compare(end - 2, 2, "\\E") == 0 ? end - 2 : end;
    const bool fold = level().fold;
    for (size_t j = i + 2; j < text_end;) {
      j = push(char_unit_at(p_, j, fold, fold ? Spelling::Quoted : Spelling::Other));
    }
    return end;
  }

  // A count or "*", "+", "?" at `i`, ending at `end`, on the unit before it.
  size_t repeat(size_t i, size_t end) {
    if (end < p_.size() && p_[end] == '?') ++end;  // lazy
    Arm& arm = level().arm;
    if (arm.all.size == 0) return end;  // the engine refused it already
    const Unit item = arm.last;
    Unit u = {.kind = UnitKind::Opaque, .plain = item.plain, .begin = item.begin, .end = end};
    // A fixed count, {n} or {n,n}, is a prefix that factoring takes off.
    if (p_[i] == '{' && (is_single(item.kind) || item.kind == UnitKind::Group)) {
      uint32_t n = 0, m = 0;
      size_t j = i + 1;
      for (; is_ascii_digit(p_[j]); ++j) n = std::min<uint32_t>(n * 10 + (p_[j] - '0'), 100000);
      bool fixed = true;
      if (p_[j] == ',') {
        const size_t digits = ++j;
        for (; is_ascii_digit(p_[j]); ++j) m = std::min<uint32_t>(m * 10 + (p_[j] - '0'), 100000);
        fixed = j > digits && m == n;
      }
      if (fixed) {
        u.kind = UnitKind::Repeat;
        u.sub = item.kind == UnitKind::Group ? UnitKind::Either : item.kind;
        u.fold = item.fold;
        u.rune = item.rune;
        u.count = n;
      }
    }
    arm.replace_last(u);
    return end;
  }

  size_t open_group(size_t i) {
    bool fold = level().fold;
    bool capture = true;
    size_t j = i + 1;
    if (j < p_.size() && p_[j] == '?') {
      capture = false;
      bool negated = false;
      for (++j; j < p_.size() && (p_[j] == '-' || is_flag(p_[j])); ++j) {
        if (p_[j] == '-') negated = true;
        if (p_[j] == 'i') fold = !negated;
      }
      if (j < p_.size() && p_[j] == ')') {
        // Sets the flags up to the end of the enclosing group, later arms too.
        level().fold = fold;
        return j + 1;
      }
      if (j < p_.size() && p_[j] != ':') {  // a named group
        capture = true;
        const size_t close = p_.find('>', j);
        j = close == npos ? p_.size() - 1 : close;
      }
    } else {
      --j;
    }
    enter(fold, capture, !capture && level().arm.all.size == 0, i);
    return j + 1;
  }

  // Opens a level. A group that may turn out to be an arm on its own forks
  // the run of the alternation around it, which takes the fork over if it is.
  void enter(bool fold, bool capture, bool linkable, size_t open) {
    if (depth_ == levels_.size()) levels_.emplace_back();
    Level& lv = levels_[depth_++];
    lv.fold = fold;
    lv.capture = capture;
    lv.alternated = false;
    lv.linkable = linkable;
    lv.open = open;
    lv.arm.reset();
    lv.plain = 0;
    if (linkable) {
      lv.run = levels_[depth_ - 2].run;
    } else {
      lv.run.reset();
    }
  }

  size_t close_group(size_t i) {
    if (depth_ == 1) return i + 1;  // unbalanced: the engine refused it already
    Level& inner = levels_[depth_ - 1];
    Level& parent = levels_[depth_ - 2];
    const size_t end = i + 1;
    if (inner.alternated) end_arm(inner);
    const bool counted = end < p_.size() && (p_[end] == '*' || p_[end] == '+' || p_[end] == '?' ||
                                             (p_[end] == '{' && repeat_end(p_, end) != npos));
    // The engine splices the arms of a group that is an arm on its own into
    // the alternation around it: the group's run, which the arms of such a
    // group inside it may have joined too, goes on there.
    const bool own_arm = inner.linkable && !counted && ends_arm(end);
    if (own_arm) parent.run = inner.run;
    const Unit whole = {.plain = inner.plain, .begin = inner.open, .end = end};
    if (inner.capture || (!inner.alternated && counted && inner.arm.all.size != 1)) {
      add(parent, whole);  // never factored: a capture, a count of several units or none
    } else if (inner.alternated) {
      Unit group = whole;
      group.kind = UnitKind::Group;
      group.linked = own_arm;
      add(parent, group);
    } else {
      // A group that only scopes; a group in it whose arms joined this
      // group's run is linked no further unless this one is an arm too.
      if (!own_arm) inner.arm.last.linked = false;
      parent.arm.append(inner.arm);
      parent.plain |= inner.plain;
    }
    --depth_;
    return end;
  }

  static void add(Level& lv, const Unit& u) {
    lv.arm.add(u);
    lv.plain |= u.plain;
  }

  // True when the arm ends at `i`, flag groups aside.
  bool ends_arm(size_t i) const {
    for (size_t end = flag_group_end(p_, i); end != npos; end = flag_group_end(p_, i)) i = end;
    return i >= p_.size() || p_[i] == '|' || p_[i] == ')';
  }

  // Ends the current arm of `lv`: an arm of an alternation joins its run.
  void end_arm(Level& lv) {
    if (lv.alternated) join(lv.run, lv.arm);
    lv.arm.reset();
  }

  void join(Run& run, const Arm& arm) {
    // An arm that is one group linked to this alternation gave its arms already.
    if (arm.all.size == 1 && arm.last.kind == UnitKind::Group && arm.last.linked) return;
    if (arm.all.size == 0 || arm.opaque || !is_mergeable(arm.last.kind)) {
      run.reset();
      return;
    }
    // A group at the end may leave more of the arm than its last unit.
    Prefix before = arm.before;
    if (arm.last.kind == UnitKind::Group) ++before.groups;
    if (!run.open || !may_share(run.before, before)) run.reset();
    const Unit& last = arm.last;
    ++run.length;
    bool spell = lost_capitals_ && (last.folded & run.plain) != 0;
    if ((last.folded & kFoldsBeyondAscii) != 0) {
      if (run.length >= 2) {
        spell = true;
      } else {
        run.waiting = last;
      }
    }
    if (run.length == 2 && run.waiting) {
      spelled_.push_back(*run.waiting);
      run.waiting.reset();
    }
    if (spell) spelled_.push_back(last);
    run.plain |= last.plain;
    run.before = before;
    run.open = true;
  }

  std::string_view p_;
  bool lost_capitals_;
  std::vector<Level> levels_;  // the first depth_ are open
  size_t depth_ = 0;
  std::vector<Unit> spelled_;
};

// The text that stands for `u` once spelled out.
std::string spelled(std::string_view p, const Unit& u) {
  const std::string_view text = p.substr(u.begin, u.end - u.begin);
  if (u.kind != UnitKind::Literal || u.spelling == Spelling::Other) {
    return "(?:" + std::string(text) + "){1}";
  }
  const char lower = static_cast<char>(u.rune), upper = static_cast<char>(u.rune & ~0x20u);
  std::string cases = {upper, '|', lower, ')'};
  switch (u.spelling) {
    case Spelling::Bracket:
      return "(?:" + cases;
    case Spelling::Folded:
      return "(?-i:" + cases;
    case Spelling::Quoted:
      return "\\E(?-i:" + cases + "\\Q";
    case Spelling::Other:
      break;
  }
  return std::string(text);
}

// False when no case-folded letter can end an arm of an alternation, which
// the scan would find at length: there is no "|", or no class ends an arm
// and no letter is under the flag i (which matters only with
// `lost_capitals`: a letter under the flag i is never k or s).
bool may_end_arm_folded(std::string_view p, bool lost_capitals) {
  if (p.find('|') == npos) return false;
  if (lost_capitals) {
    for (size_t i = p.find("(?"); i != npos; i = p.find("(?", i + 2)) {
      size_t j = i + 2;
      while (j < p.size() && (p[j] == '-' || is_flag(p[j]))) {
        if (p[j++] == 'i') return true;
      }
    }
  }
  // Every class ends in "]"; what the engine reads as nothing may follow it.
  for (size_t i = p.find(']'); i != npos; i = p.find(']', i + 1)) {
    size_t j = i + 1;
    for (size_t end = flag_group_end(p, j); end != npos; end = flag_group_end(p, j)) j = end;
    while (p.compare(j, 4, "\\Q\\E") == 0) j += 4;
    if (j == p.size() || p[j] == '|' || p[j] == ')') return true;
  }
  return false;
}

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

bool unfold_merged_letters(std::string& pattern, bool lost_capitals) {
  if (!may_end_arm_folded(pattern, lost_capitals)) return false;
  const std::vector<Unit> units = ArmScan(pattern, lost_capitals).run();
  if (units.empty()) return false;
  std::string out;
  out.reserve(pattern.size() + units.size() * 12);
  size_t next = 0;
  for (const Unit& u : units) {
    if (u.begin < next) continue;
    out.append(pattern, next, u.begin - next);
    out += spelled(pattern, u);
    next = u.end;
  }
  out.append(pattern, next);
  pattern = std::move(out);
  return true;
}

}  // namespace qx
