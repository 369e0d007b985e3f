// Unicode code point classes: the generated tables and their lookup.
#include "text/unicode_tables.h"

#include <algorithm>

namespace qx {

namespace {
#include "unicode_tables.inc"
}  // namespace

std::span<const CodeRange> quote_escape_ranges() { return kQuoteEscapeRanges; }
std::span<const CodeRange> digit_ranges() { return kDigitRanges; }
std::span<const CodeRange> word_ranges() { return kWordRanges; }
std::span<const CodeRange> space_ranges() { return kSpaceRanges; }

bool in_ranges(std::span<const CodeRange> ranges, char32_t cp) noexcept {
  auto it = std::upper_bound(ranges.begin(), ranges.end(), cp,
                             [](char32_t c, const CodeRange& r) { return c < r.first; });
  return it != ranges.begin() && cp <= (it - 1)->last;
}

}  // namespace qx
