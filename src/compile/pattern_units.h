// Pattern units: what one item of a pattern is to the engine's factoring and merging of arms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qx {

// A set of ASCII letters, case aside: bit k stands for the letter 'a' + k.
using Letters = uint32_t;
inline constexpr Letters kEveryLetter = (Letters{1} << 26) - 1;

// The letter `c` (either case) as a set, or the empty set when it is no ASCII letter.
constexpr Letters letter_bit(char32_t c) {
  const char32_t lower = c | 0x20;
  return c < 0x80 && lower >= 'a' && lower <= 'z' ? Letters{1} << (lower - 'a') : 0;
}

// The letters whose case folding reaches beyond ASCII: the Kelvin sign folds
// with k, the long s with s.
inline constexpr Letters kFoldsBeyondAscii = letter_bit('k') | letter_bit('s');

// What the engine makes of one item of an arm. Its parser reads a class of
// exactly one ASCII letter in both cases ("[Kk]"), and a letter other than k
// and s under the flag i, as one case-folded literal; k and s under the flag i
// are a class of three, with the Kelvin sign and the long s.
enum class UnitKind : uint8_t {
  Literal,    // one character, `rune`, case-folded when `fold`
  Class,      // a class of two characters or more
  Either,     // a literal or a class, not told apart here
  Repeat,     // a fixed count (`count`) of one item of kind `sub`
  Assertion,  // an empty-width assertion, or \C: no character class
  Group,      // an alternation in a non-capturing group, as its own merges leave it
  Opaque,     // what factoring never takes off an arm: a loop, a capture, an open count
};

// How a unit is written, which says how a case-folded letter is spelled out.
enum class Spelling : uint8_t {
  Bracket,  // a bracket class outside the flag i
  Folded,   // a letter, an escape or a class under the flag i
  Quoted,   // a letter inside \Q...\E under the flag i
  Other,    // anything else: wrapped whole, never spelled letter by letter
};

struct Unit {
  UnitKind kind = UnitKind::Opaque;
  UnitKind sub = UnitKind::Opaque;  // Repeat: what it repeats
  Spelling spelling = Spelling::Other;
  bool fold = false;          // Literal, or a Repeat of one: the engine's case-folding flag
  bool linked = false;        // Group: its arms are arms of the alternation around it
  char32_t rune = 0;          // Literal, or a Repeat of one
  uint32_t count = 0;         // Repeat
  Letters folded = 0;         // letters it may be as a case-folded literal
  Letters plain = 0;          // letters it may hold in lower case without the capital
  size_t begin = 0, end = 0;  // its text
};

// The character `c`, written at [begin, end), under the flag i when `fold`.
Unit char_unit(char32_t c, bool fold, size_t begin, size_t end, Spelling spelling);

// The character at `i`, written as itself.
Unit char_unit_at(std::string_view p, size_t i, bool fold, Spelling spelling);

// The escape whose backslash is at `i`, outside brackets (not \Q).
Unit escape_unit(std::string_view p, size_t i, bool fold);

// The bracket class that opens at p[i] == '['.
Unit class_unit(std::string_view p, size_t i, bool fold);

// A number that two units share whenever the engine's factoring may take them
// for the same item, unless either `may_be_any` (whose key means nothing).
// Neither is Opaque.
inline uint64_t factoring_key(const Unit& u) {
  const auto item = [](UnitKind kind, bool fold, char32_t rune) {
    return kind == UnitKind::Literal ? (uint64_t{rune} << 2 | (fold ? 2 : 0) | 1) : 0;
  };
  switch (u.kind) {
    case UnitKind::Literal:
      return item(u.kind, u.fold, u.rune) << 8 | 1;
    case UnitKind::Class:
      return 2;
    case UnitKind::Assertion:
      return 3;
    case UnitKind::Repeat:
      return (uint64_t{u.count} << 40) | item(u.sub, u.fold, u.rune) << 8 | 4;
    case UnitKind::Either:
    case UnitKind::Group:
    case UnitKind::Opaque:
      break;
  }
  return 0;
}

inline bool may_be_any(const Unit& u) {
  return u.kind == UnitKind::Either || u.kind == UnitKind::Group ||
         (u.kind == UnitKind::Repeat && u.sub == UnitKind::Either);
}

}  // namespace qx
