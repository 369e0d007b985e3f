// JSON tokenizer, the rarer roads: escaped strings and floating-point numbers.
#include "json/scanner.h"

#include <charconv>
#include <system_error>

namespace qx::json {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char lower = static_cast<char>(c | 0x20);
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The decimal exponent of the leading nonzero digit of a number whose digits
// and exponent the scanner has already checked; clamped far outside the range
// of a double, so a huge written exponent cannot overflow.
long leading_exponent(const char* p, const char* end) {
  if (*p == '-') ++p;
  const char* int_end = p;
  while (int_end != end && is_digit(*int_end)) ++int_end;
  long position = static_cast<long>(int_end - p) - 1;  // exponent of the digit at p
  for (; p != end && (*p | 0x20) != 'e'; ++p) {
    if (*p == '.') continue;
    if (*p != '0') break;
    --position;
  }
  if (p == end || (*p | 0x20) == 'e') return 0;  // all zeros: never out of range
  while (p != end && (*p | 0x20) != 'e') ++p;
  if (p == end) return position;
  ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  long exponent = 0;
  for (; p != end && is_digit(*p); ++p) {
    if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
  }
  return position + (negative ? -exponent : exponent);
}

}  // namespace

bool Scanner::scan_escaped_string(const char* start, bool ascii, StringToken& token) {
  scratch_.assign(start, static_cast<size_t>(p_ - start));
  for (;;) {
    // At a backslash.
    if (!scan_escape(ascii)) return false;
    for (;;) {
      const char* run = p_;
      const char* stop = find_string_stop(p_, end_, ascii || check_utf8_);
      if (stop == end_) return fail_at_end(ErrorKind::EofWhileParsingString);
      scratch_.append(run, static_cast<size_t>(stop - run));
      p_ = stop;
      const auto c = static_cast<unsigned char>(*stop);
      if (c == '"') {
        token = StringToken{scratch_.data(), scratch_.size(), ascii, true};
        ++p_;
        return true;
      }
      if (c == '\\') break;
      if (c < 0x20) return fail(ErrorKind::ControlCharacterInString, stop);
      ascii = false;
      if (!skip_utf8_sequence()) return false;
      scratch_.append(stop, static_cast<size_t>(p_ - stop));
    }
  }
}

bool Scanner::scan_escape(bool& ascii) {
  const char* escape = p_;
  if (++p_ == end_) return fail_at_end(ErrorKind::EofWhileParsingString);
  char decoded;
  switch (*p_) {
    case '"':
      decoded = '"';
      break;
    case '\\':
      decoded = '\\';
      break;
    case '/':
      decoded = '/';
      break;
    case 'b':
      decoded = '\b';
      break;
    case 'f':
      decoded = '\f';
      break;
    case 'n':
      decoded = '\n';
      break;
    case 'r':
      decoded = '\r';
      break;
    case 't':
      decoded = '\t';
      break;
    case 'u': {
      ++p_;
      uint32_t unit;
      if (!scan_hex4(unit)) return false;
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return fail(ErrorKind::LoneLeadingSurrogateInHexEscape, escape);
      }
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        for (const char expected : {'\\', 'u'}) {
          if (p_ == end_) return fail_at_end(ErrorKind::EofWhileParsingString);
          if (*p_ != expected) return fail(ErrorKind::UnexpectedEndOfHexEscape, p_);
          ++p_;
        }
        uint32_t low;
        if (!scan_hex4(low)) return false;
        if (low < 0xDC00 || low > 0xDFFF) {
          return fail(ErrorKind::LoneLeadingSurrogateInHexEscape, escape);
        }
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      }
      if (unit >= 0x80) ascii = false;
      append_utf8(scratch_, unit);
      return true;
    }
    default:
      return fail(ErrorKind::InvalidEscape, p_);
  }
  scratch_.push_back(decoded);
  ++p_;
  return true;
}

bool Scanner::scan_hex4(uint32_t& unit) {
  unit = 0;
  for (int i = 0; i < 4; ++i, ++p_) {
    if (p_ == end_) return fail_at_end(ErrorKind::EofWhileParsingString);
    const int digit = hex_value(*p_);
    if (digit < 0) return fail(ErrorKind::InvalidEscape, p_);
    unit = unit << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

// The text [start, p_) is a checked JSON number with a fraction or exponent.
// from_chars rounds exactly; it reports out-of-range for both an overflow
// and an underflow, told apart here by the leading digit's exponent.
bool Scanner::scan_float(const char* start, NumberToken& token) {
  double value = 0;
  const auto [ptr, ec] = std::from_chars(start, p_, value);
  if (ec == std::errc::result_out_of_range) {
    if (leading_exponent(start, p_) >= 0) return fail(ErrorKind::NumberOutOfRange, start);
    value = *start == '-' ? -0.0 : 0.0;
  } else if (ec != std::errc() || ptr != p_) {
    return fail(ErrorKind::InvalidNumber, start);
  }
  token.type = NumberToken::Type::Float;
  token.number = value;
  return true;
}

}  // namespace qx::json
