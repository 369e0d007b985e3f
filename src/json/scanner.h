// JSON tokenizer: whitespace, strings, numbers and the three literal words over one input buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qx::json {

// Every value lies inside at most this many enclosing arrays and objects.
inline constexpr int kMaxDepth = 200;

enum class ErrorKind : uint8_t {
  EofWhileParsingList,
  EofWhileParsingObject,
  EofWhileParsingString,
  EofWhileParsingValue,
  ExpectedColon,
  ExpectedListCommaOrEnd,
  ExpectedObjectCommaOrEnd,
  ExpectedIdent,
  ExpectedValue,
  InvalidEscape,
  InvalidNumber,
  NumberOutOfRange,
  InvalidUnicodeCodePoint,
  ControlCharacterInString,
  KeyMustBeAString,
  LoneLeadingSurrogateInHexEscape,
  TrailingComma,
  TrailingCharacters,
  UnexpectedEndOfHexEscape,
  RecursionLimitExceeded,
};

// Why a document does not decode, and the byte offset where that was seen
// (the input's length for an unexpected end).
struct ParseError {
  ErrorKind kind = ErrorKind::EofWhileParsingValue;
  size_t offset = 0;
};

// The bytes of one document, borrowed for one call. `check_utf8` is set for
// bytes input; a str's UTF-8 form is valid by construction.
struct Input {
  const char* data = nullptr;
  size_t size = 0;
  bool check_utf8 = false;
};

// A scanned string. Without escapes `data` points into the input; with
// escapes into the scanner's scratch buffer, valid until the next string.
struct StringToken {
  const char* data;
  size_t size;
  bool ascii;    // every byte below 0x80
  bool escaped;  // `data` is scratch, not input
};

struct NumberToken {
  enum class Type : uint8_t { Int, BigInt, Float } type;
  int64_t integer;   // Int
  double number;     // Float
  const char* text;  // BigInt: optional '-' and the digits, inside the input
  size_t size;
};

// The length of the well-formed UTF-8 sequence at `p` (2 to 4 bytes: no
// overlong forms, no surrogates, nothing past U+10FFFF), or 0.
inline size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) {
  const unsigned c = p[0];
  const ptrdiff_t avail = end - p;
  auto cont = [&](ptrdiff_t i) { return (p[i] & 0xC0) == 0x80; };
  if (c < 0xC2) return 0;
  if (c < 0xE0) return avail >= 2 && cont(1) ? 2 : 0;
  if (c < 0xF0) {
    if (avail < 3 || !cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;   // overlong
    if (c == 0xED && p[1] >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (c < 0xF5) {
    if (avail < 4 || !cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;   // overlong
    if (c == 0xF4 && p[1] >= 0x90) return 0;  // past U+10FFFF
    return 4;
  }
  return 0;
}

// The first byte in [p, end) that ends a plain run of string text: a quote,
// a backslash, a control character, or (with `stop_high`) a byte >= 0x80.
inline const char* find_string_stop(const char* p, const char* end, bool stop_high) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i c1f = _mm_set1_epi8(0x1F);
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash));
    // Signed compare: below 0x20 or at least 0x80; unsigned: below 0x20 only.
    hit = _mm_or_si128(
        hit, stop_high ? _mm_cmplt_epi8(v, space) : _mm_cmpeq_epi8(_mm_max_epu8(v, c1f), c1f));
    if (const int mask = _mm_movemask_epi8(hit)) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  for (; p < end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20 || (stop_high && c >= 0x80)) return p;
  }
  return end;
}

// The bytes of a short text as two overlapping words, which together cover
// every byte of texts up to 16 long.
inline void text_words(const char* p, size_t n, uint64_t& a, uint64_t& b) {
  if (n >= 8) {
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + n - 8, 8);
  } else if (n >= 4) {
    uint32_t x, y;
    std::memcpy(&x, p, 4);
    std::memcpy(&y, p + n - 4, 4);
    a = x;
    b = y;
  } else {
    a = n == 0 ? 0
               : static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[n / 2]) << 8 |
                     static_cast<unsigned char>(p[n - 1]) << 16;
    b = 0;
  }
}

// Whether two texts of `n` bytes are equal; short ones without a call.
inline bool same_text(const char* x, const char* y, size_t n) {
  if (n > 16) return std::memcmp(x, y, n) == 0;
  uint64_t xa, xb, ya, yb;
  text_words(x, n, xa, xb);
  text_words(y, n, ya, yb);
  return ((xa ^ ya) | (xb ^ yb)) == 0;
}

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// A cursor over one input. Each scan either consumes its token and returns
// true, or records the error and returns false.
class Scanner {
 public:
  explicit Scanner(const Input& input)
      : begin_(input.data),
        p_(input.data),
        end_(input.data + input.size),
        check_utf8_(input.check_utf8) {}

  const char* p_pos() const { return p_; }
  bool at_end() const { return p_ == end_; }
  char peek() const { return *p_; }
  void advance() { ++p_; }
  const ParseError& error() const { return error_; }

  void skip_whitespace() {
    // Most tokens follow another directly or after one blank (", ", ": ").
    if (p_ != end_ && static_cast<unsigned char>(*p_) > ' ') return;
    if (p_ != end_ && *p_ == ' ' && end_ - p_ > 1 && static_cast<unsigned char>(p_[1]) > ' ') {
      ++p_;
      return;
    }
    while (p_ != end_) {
      const auto c = static_cast<unsigned char>(*p_);
      if (c > ' ' || ((1ull << c) & kWhitespace) == 0) return;
      ++p_;
    }
  }

  bool fail(ErrorKind kind, const char* at) {
    error_ = ParseError{kind, static_cast<size_t>(at - begin_)};
    return false;
  }
  bool fail_at_end(ErrorKind kind) { return fail(kind, end_); }

  // At the opening quote.
  bool scan_string(StringToken& token) {
    const char* start = ++p_;
    bool ascii = true;
    for (;;) {
      const char* stop = find_string_stop(p_, end_, ascii || check_utf8_);
      if (stop == end_) return fail_at_end(ErrorKind::EofWhileParsingString);
      const auto c = static_cast<unsigned char>(*stop);
      if (c == '"') {
        token = StringToken{start, static_cast<size_t>(stop - start), ascii, false};
        p_ = stop + 1;
        return true;
      }
      p_ = stop;
      if (c == '\\') return scan_escaped_string(start, ascii, token);
      if (c < 0x20) return fail(ErrorKind::ControlCharacterInString, stop);
      ascii = false;
      if (!skip_utf8_sequence()) return false;
    }
  }

  // At '-' or a digit. Consumes the longest number the grammar allows.
  bool scan_number(NumberToken& token) {
    const char* start = p_;
    const bool negative = *p_ == '-';
    if (negative && ++p_ == end_) return fail_at_end(ErrorKind::EofWhileParsingValue);
    const char* digits = p_;
    uint64_t magnitude = 0;
    if (*p_ == '0') {
      if (++p_ != end_ && is_digit(*p_)) return fail(ErrorKind::InvalidNumber, p_);
    } else if (is_digit(*p_)) {
      // Wraps past 19 digits; the count below sends those to the big road.
      do magnitude = magnitude * 10 + static_cast<unsigned>(*p_++ - '0');
      while (p_ != end_ && is_digit(*p_));
    } else {
      return fail(ErrorKind::InvalidNumber, p_);
    }
    size_t count = static_cast<size_t>(p_ - digits);
    if (p_ == end_ || (*p_ != '.' && (*p_ | 0x20) != 'e')) {
      constexpr uint64_t kMaxPositive = uint64_t{INT64_MAX};
      if (count < 19 || (count == 19 && magnitude <= kMaxPositive + negative)) {
        token.type = NumberToken::Type::Int;
        // Modular negation: well defined, and exact for INT64_MIN.
        token.integer = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
      } else {
        token.type = NumberToken::Type::BigInt;
        token.text = start;
        token.size = static_cast<size_t>(p_ - start);
      }
      return true;
    }
    // Up to 19 significant digits stay exact in `magnitude`; `scale` is the
    // power of ten it is to be multiplied by.
    bool exact = count <= 19;
    long scale = 0;
    if (*p_ == '.') {
      if (++p_ == end_) return fail_at_end(ErrorKind::EofWhileParsingValue);
      if (!is_digit(*p_)) return fail(ErrorKind::InvalidNumber, p_);
      do {
        if (count < 19) {
          magnitude = magnitude * 10 + static_cast<unsigned>(*p_ - '0');
          ++count;
          --scale;
        } else {
          exact = false;
        }
      } while (++p_ != end_ && is_digit(*p_));
    }
    if (p_ != end_ && (*p_ | 0x20) == 'e') {
      bool negative_exponent = false;
      if (++p_ != end_ && (*p_ == '+' || *p_ == '-')) negative_exponent = *p_++ == '-';
      if (p_ == end_) return fail_at_end(ErrorKind::EofWhileParsingValue);
      if (!is_digit(*p_)) return fail(ErrorKind::InvalidNumber, p_);
      long exponent = 0;
      do {
        if (exponent < 100000) exponent = exponent * 10 + (*p_ - '0');
      } while (++p_ != end_ && is_digit(*p_));
      scale += negative_exponent ? -exponent : exponent;
    }
    // Both factors exact and one rounding: the correctly rounded result.
    if (exact && magnitude <= (uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
      static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                           1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
      double value = static_cast<double>(magnitude);
      value = scale < 0 ? value / kPowers[-scale] : value * kPowers[scale];
      token.type = NumberToken::Type::Float;
      token.number = negative ? -value : value;
      return true;
    }
    return scan_float(start, token);
  }

  // At the first letter of `word`, which the caller has matched.
  bool scan_word(std::string_view word) {
    for (size_t i = 1; i < word.size(); ++i) {
      if (p_ + i == end_) return fail_at_end(ErrorKind::EofWhileParsingValue);
      if (p_[i] != word[i]) return fail(ErrorKind::ExpectedIdent, p_ + i);
    }
    p_ += word.size();
    return true;
  }

 private:
  static constexpr uint64_t kWhitespace =
      (1ull << ' ') | (1ull << '\t') | (1ull << '\n') | (1ull << '\r');

  // At a byte >= 0x80 inside a string.
  bool skip_utf8_sequence() {
    if (!check_utf8_) {
      ++p_;
      return true;
    }
    const auto* u = reinterpret_cast<const unsigned char*>(p_);
    const size_t length = utf8_sequence_length(u, reinterpret_cast<const unsigned char*>(end_));
    if (length == 0) return fail(ErrorKind::InvalidUnicodeCodePoint, p_);
    p_ += length;
    return true;
  }

  bool scan_escaped_string(const char* start, bool ascii, StringToken& token);
  bool scan_escape(bool& ascii);
  bool scan_hex4(uint32_t& unit);
  bool scan_float(const char* start, NumberToken& token);

  const char* begin_;
  const char* p_;
  const char* end_;
  bool check_utf8_;
  ParseError error_;
  std::string scratch_;
};

}  // namespace qx::json
