#pragma once
// Keyboard layouts: the text a key types with the modifiers held. A few layouts are
// built in ("U.S.", "German", "Greek", "Arabic"), enough to type letters and digits
// outside ASCII: ⌥o on "U.S." types "ø", the number row of "Arabic" types Arabic-Indic
// digits, "Greek" types Greek letters. Option layers hold dead keys (⌥e, ⌥u, ⌥i, ⌥n,
// ⌥` on "U.S."), which type nothing themselves and change the next key's letter.
// Layouts are immutable values; every function is thread-safe.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CGEvent.h"

namespace platform {

class KeyboardLayout {
 public:
  /// What one key press types.
  struct Typed {
    std::u16string text;  // empty for keys without text and for dead keys
    char16_t accent = 0;  // the accent a dead key leaves waiting; 0 for other keys
    friend bool operator==(const Typed&, const Typed&) = default;
  };

  static const KeyboardLayout& us();
  /// A built-in layout by its name; null for an unknown name.
  static const KeyboardLayout* named(std::string_view name);
  /// The names of the built-in layouts, "U.S." first.
  static std::vector<std::string> names();

  const std::string& name() const { return name_; }

  /// The text `key` types with the modifiers of `flags`: shift and caps lock give capitals,
  /// option its own layer (which may hold dead keys), control with a letter the control
  /// character; command changes nothing. Keys the layout does not know type nothing.
  Typed type(CGKeyCode key, CGEventFlags flags) const;

  /// What a waiting accent and the next key's text type together: the accented letter when
  /// there is one ("´" and "e" give "é"), else the accent followed by the text.
  static std::u16string compose(char16_t accent, const std::u16string& text);

  /// The capital of a letter of the layouts' scripts (Latin, Greek); other text unchanged.
  static std::u16string upper(const std::u16string& text);

  /// A key of a layout. Empty layers are derived: shift from the base as capitals, option
  /// from the base, shift and option from the option layer as capitals. A layer that
  /// starts with kDeadMark is a dead key whose accent follows the mark.
  struct Key {
    std::u16string base, shift, option, shiftOption;
  };
  static constexpr char16_t kDeadMark = 0xFFFF;

  KeyboardLayout(std::string name, std::map<CGKeyCode, Key> keys) : name_(std::move(name)), keys_(std::move(keys)) {}

 private:
  std::string name_;
  std::map<CGKeyCode, Key> keys_;
};

}  // namespace platform
