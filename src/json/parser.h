// JSON grammar driver: one iterative pass over the tokens, feeding a front end.
#pragma once

#include <cstdint>

#include "json/scanner.h"

namespace qx::json {

enum class ParseOutcome : uint8_t {
  Ok,       // one whole document, handed to the front end
  Invalid,  // not JSON: the scanner's error says why and where
  Failed,   // the front end refused a value (its own error is kept there)
};

// Drives `handler` through the document in `scanner`'s input. The handler
// receives, in document order:
//   null(), boolean(b), integer(i64), big_integer(text), number(double),
//   string(token), begin_array(), end_array(), begin_object(), key(token),
//   end_object()
// each returning false to stop the parse. Nesting is tracked on a fixed
// stack, never on the native one, so the depth of the input costs no stack;
// a value inside more than kMaxDepth containers is an error, while an empty
// container may itself be one level deeper.
template <class Handler>
ParseOutcome parse_document(Scanner& s, Handler& h) {
  bool in_object[kMaxDepth];
  int depth = 0;
  StringToken text;
  NumberToken number;

#define QX_SYNTAX(expr) \
  if (!(expr)) return ParseOutcome::Invalid
#define QX_EMIT(expr) \
  if (!(expr)) return ParseOutcome::Failed

  s.skip_whitespace();
  if (s.at_end()) {
    s.fail_at_end(ErrorKind::EofWhileParsingValue);
    return ParseOutcome::Invalid;
  }

value:  // at a byte that is no whitespace
  switch (s.peek()) {
    case '[':
    case '{': {
      const bool object = s.peek() == '{';
      s.advance();
      s.skip_whitespace();
      QX_SYNTAX(!s.at_end() || s.fail_at_end(object ? ErrorKind::EofWhileParsingObject
                                                    : ErrorKind::EofWhileParsingList));
      QX_EMIT(object ? h.begin_object() : h.begin_array());
      if (s.peek() == (object ? '}' : ']')) {
        s.advance();
        QX_EMIT(object ? h.end_object() : h.end_array());
        goto after_value;
      }
      QX_SYNTAX(depth < kMaxDepth || s.fail(ErrorKind::RecursionLimitExceeded, s.p_pos()));
      in_object[depth++] = object;
      if (object) goto key;
      goto value;
    }
    case '"':
      QX_SYNTAX(s.scan_string(text));
      QX_EMIT(h.string(text));
      goto after_value;
    case 't':
      QX_SYNTAX(s.scan_word("true"));
      QX_EMIT(h.boolean(true));
      goto after_value;
    case 'f':
      QX_SYNTAX(s.scan_word("false"));
      QX_EMIT(h.boolean(false));
      goto after_value;
    case 'n':
      QX_SYNTAX(s.scan_word("null"));
      QX_EMIT(h.null());
      goto after_value;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      QX_SYNTAX(s.scan_number(number));
      switch (number.type) {
        case NumberToken::Type::Int:
          QX_EMIT(h.integer(number.integer));
          break;
        case NumberToken::Type::BigInt:
          QX_EMIT(h.big_integer(std::string_view(number.text, number.size)));
          break;
        case NumberToken::Type::Float:
          QX_EMIT(h.number(number.number));
          break;
      }
      goto after_value;
    default:
      s.fail(ErrorKind::ExpectedValue, s.p_pos());
      return ParseOutcome::Invalid;
  }

after_value:
  s.skip_whitespace();
  if (depth == 0) {
    QX_SYNTAX(s.at_end() || s.fail(ErrorKind::TrailingCharacters, s.p_pos()));
    return ParseOutcome::Ok;
  }
  {
    const bool object = in_object[depth - 1];
    const char close = object ? '}' : ']';
    QX_SYNTAX(!s.at_end() || s.fail_at_end(object ? ErrorKind::EofWhileParsingObject
                                                  : ErrorKind::EofWhileParsingList));
    if (s.peek() == ',') {
      s.advance();
      s.skip_whitespace();
      QX_SYNTAX(!s.at_end() || s.fail_at_end(ErrorKind::EofWhileParsingValue));
      QX_SYNTAX(s.peek() != close || s.fail(ErrorKind::TrailingComma, s.p_pos()));
      if (object) goto key;
      goto value;
    }
    if (s.peek() == close) {
      s.advance();
      --depth;
      QX_EMIT(object ? h.end_object() : h.end_array());
      goto after_value;
    }
    s.fail(object ? ErrorKind::ExpectedObjectCommaOrEnd : ErrorKind::ExpectedListCommaOrEnd,
           s.p_pos());
    return ParseOutcome::Invalid;
  }

key:  // at a byte that is no whitespace, inside an object
  QX_SYNTAX(s.peek() == '"' || s.fail(ErrorKind::KeyMustBeAString, s.p_pos()));
  QX_SYNTAX(s.scan_string(text));
  QX_EMIT(h.key(text));
  s.skip_whitespace();
  QX_SYNTAX(!s.at_end() || s.fail_at_end(ErrorKind::EofWhileParsingObject));
  QX_SYNTAX(s.peek() == ':' || s.fail(ErrorKind::ExpectedColon, s.p_pos()));
  s.advance();
  s.skip_whitespace();
  QX_SYNTAX(!s.at_end() || s.fail_at_end(ErrorKind::EofWhileParsingValue));
  goto value;

#undef QX_SYNTAX
#undef QX_EMIT
}

}  // namespace qx::json
