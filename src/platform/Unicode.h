#pragma once
// Character facts from the system's Unicode tables, for code that must judge typed text
// by what the characters are rather than by their bytes. Pure; every function is
// thread-safe and allocation-light, so the event tap's thread may call them.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Unicode final {
 public:
  Unicode() = delete;

  /// The code points of UTF-16 text; an unpaired surrogate stands for itself.
  static std::u32string codePoints(std::u16string_view text);
  /// Whether the code point is a letter (any script) or a number (digits, numerals,
  /// circled and superscript digits ...).
  static bool isLetterOrNumber(char32_t c);
  /// The value 0–9 of a digit of any script (Arabic-Indic, fullwidth, circled ...);
  /// nothing for every other character.
  static std::optional<int> digitValue(char32_t c);
  /// The text in lower case, independent of the user's locale.
  static std::u16string lowercased(std::u16string_view text);

  /// UTF-8 text from outside the program (names, titles, file contents) made safe to put
  /// inside one line of a log, report or message: line breaks and tabs become \n, \r, \t;
  /// other C0 and C1 controls, DEL, the line and paragraph separators and the
  /// bidirectional controls (which reorder what a terminal or viewer shows after them)
  /// become \u{XX}. Everything else passes unchanged.
  static std::string oneLine(std::string_view text);
};

}  // namespace platform
