// Pattern constraints: compiling a pattern text as a whole-string regular expression.
#include "compile/pattern.h"

#include "compile/pattern_arms.h"
#include "compile/pattern_syntax.h"
#include "compile/perl_classes.h"

namespace qx {

namespace {

RE2::Options pattern_options() {
  RE2::Options options;
  options.set_log_errors(false);
  return options;
}

std::string too_large(const RE2::Options& options) {
  return "Compiled regex exceeds size limit of " + std::to_string(options.max_mem()) + " bytes.";
}

}  // namespace

std::unique_ptr<re2::RE2> compile_anchored_pattern(std::string_view pattern, std::string* error) {
  RE2::Options options = pattern_options();
  std::string translated, description;
  if (!translate_python_syntax(pattern, translated, description)) {
    if (error != nullptr) *error = std::move(description);
    return nullptr;
  }
  // Syntax first, on the pattern as written (the engine's spelling of it) and
  // unanchored: the description then quotes the user's own text, and a pattern
  // that only parses once wrapped (one that closes the wrapper's group early,
  // "a)|(b") is refused instead of silently losing its anchoring. The memory
  // budget leaves no room for a program (the engine reads a budget of 0 as
  // "unlimited", so it is small but not that small): a parse that succeeds
  // stops at "too large" without compiling anything.
  {
    RE2::Options syntax = options;
    syntax.set_max_mem(64);
    RE2 parsed(translated, syntax);
    if (parsed.error_code() != RE2::NoError && parsed.error_code() != RE2::ErrorPatternTooLarge) {
      if (error != nullptr) *error = parsed.error();
      return nullptr;
    }
  }
  // Refused before the rewrite when it is sure to be too large: rewritten,
  // each Perl class is kilobytes of text and of parse.
  if (perl_classes_exceed_budget(translated, options.max_mem())) {
    if (error != nullptr) *error = too_large(options);
    return nullptr;
  }
  // Only the text the engine compiles is rewritten, after the checks above:
  // descriptions and the size estimate see the pattern as written.
  unfold_merged_letters(translated, engine_merges_folded_arms());
  std::string anchored = "\\A(?:";
  anchored += rewrite_perl_classes(translated);
  anchored += ")\\z";
  auto re = std::make_unique<RE2>(anchored, options);
  if (re->ok()) return re;
  if (error != nullptr) {
    *error = re->error_code() == RE2::ErrorPatternTooLarge ? too_large(options) : re->error();
  }
  return nullptr;
}

}  // namespace qx
