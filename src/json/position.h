// Texts of a JSON parse error: its description and its line and column.
#pragma once

#include <string>
#include <string_view>

#include "json/scanner.h"

namespace qx::json {

// The fixed description of one kind of parse error.
std::string_view describe(ErrorKind kind);

// "line {} column {}" for a byte offset into `input`. Lines and columns count
// bytes; only a line feed ends a line. An offset on a line feed is column 0
// of the next line; an offset at or past the end is just past the last byte.
std::string position_text(std::string_view input, size_t offset);

// "{description} at {position}".
std::string parse_error_message(const ParseError& error, std::string_view input);

}  // namespace qx::json
