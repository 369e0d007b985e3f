// Unicode code point classes generated from the building interpreter's unicodedata.
#pragma once

#include <span>

namespace qx {

// An inclusive range of code points; tables are sorted and never overlap.
struct CodeRange {
  char32_t first;
  char32_t last;
};

// Characters quoted text writes as \u{...}: the non-printable ones (general
// categories Cc Cf Cs Co Cn Zl Zp, and Zs but U+0020) and Grapheme_Extend.
std::span<const CodeRange> quote_escape_ranges();
// What Python's re means by \d, \w and \s in a str pattern: str.isdecimal,
// str.isalnum plus "_", str.isspace.
std::span<const CodeRange> digit_ranges();
std::span<const CodeRange> word_ranges();
std::span<const CodeRange> space_ranges();

bool in_ranges(std::span<const CodeRange> ranges, char32_t cp) noexcept;

}  // namespace qx
