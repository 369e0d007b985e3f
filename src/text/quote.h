// Quoted text: a double-quoted, escaped rendering of a UTF-8 text.
#pragma once

#include <string>
#include <string_view>

namespace qx {

// `"` + text + `"`, with \" \\ \t \r \n \0 escaped, non-printable characters
// (general categories Cc Cf Cs Co Cn Zl Zp, and Zs but U+0020) and
// Grapheme_Extend characters written \u{hex}, everything else unchanged.
std::string quote_text(std::string_view utf8);

}  // namespace qx
