// Texts of a JSON parse error: its description and its line and column.
#include "json/position.h"

#include <cstring>

namespace qx::json {

std::string_view describe(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::EofWhileParsingList:
      return "EOF while parsing a list";
    case ErrorKind::EofWhileParsingObject:
      return "EOF while parsing an object";
    case ErrorKind::EofWhileParsingString:
      return "EOF while parsing a string";
    case ErrorKind::EofWhileParsingValue:
      return "EOF while parsing a value";
    case ErrorKind::ExpectedColon:
      return "expected `:`";
    case ErrorKind::ExpectedListCommaOrEnd:
      return "expected `,` or `]`";
    case ErrorKind::ExpectedObjectCommaOrEnd:
      return "expected `,` or `}`";
    case ErrorKind::ExpectedIdent:
      return "expected ident";
    case ErrorKind::ExpectedValue:
      return "expected value";
    case ErrorKind::InvalidEscape:
      return "invalid escape";
    case ErrorKind::InvalidNumber:
      return "invalid number";
    case ErrorKind::NumberOutOfRange:
      return "number out of range";
    case ErrorKind::InvalidUnicodeCodePoint:
      return "invalid unicode code point";
    case ErrorKind::ControlCharacterInString:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case ErrorKind::KeyMustBeAString:
      return "key must be a string";
    case ErrorKind::LoneLeadingSurrogateInHexEscape:
      return "lone leading surrogate in hex escape";
    case ErrorKind::TrailingComma:
      return "trailing comma";
    case ErrorKind::TrailingCharacters:
      return "trailing characters";
    case ErrorKind::UnexpectedEndOfHexEscape:
      return "unexpected end of hex escape";
    case ErrorKind::RecursionLimitExceeded:
      return "recursion limit exceeded";
  }
  return "invalid JSON";
}

std::string position_text(std::string_view input, size_t offset) {
  const bool inside = offset < input.size();
  // Line feeds up to and including the byte at the offset count.
  const size_t scanned = inside ? offset + 1 : input.size();
  size_t line = 1;
  size_t line_start = 0;
  const char* p = input.data();
  const char* end = p + scanned;
  while (const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p))) {
    ++line;
    p = static_cast<const char*>(lf) + 1;
    line_start = static_cast<size_t>(p - input.data());
  }
  const size_t column = inside ? offset + 1 - line_start : input.size() - line_start;
  return "line " + std::to_string(line) + " column " + std::to_string(column);
}

std::string parse_error_message(const ParseError& error, std::string_view input) {
  std::string message(describe(error.kind));
  message += " at ";
  message += position_text(input, error.offset);
  return message;
}

}  // namespace qx::json
