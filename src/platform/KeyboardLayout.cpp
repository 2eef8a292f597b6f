#include "platform/KeyboardLayout.h"

#include <array>
#include <utility>

namespace platform {

namespace {

using Key = KeyboardLayout::Key;
using Keys = std::map<CGKeyCode, Key>;

std::u16string dead(char16_t accent) { return {KeyboardLayout::kDeadMark, accent}; }

// Spacing forms of the accents the dead keys leave waiting.
constexpr char16_t kGrave = u'`', kAcute = u'\u00B4', kCircumflex = u'\u02C6', kTilde = u'\u02DC',
                   kDiaeresis = u'\u00A8', kCaret = u'^';

// Number-row and letter keys by their virtual key code (0..50), unshifted, as on a U.S. keyboard.
constexpr char kMainRow[] = "asdfhgzxcv\0bqweryt123465=97-80]ou[ip\rlj'k;\\,/nm.\t `";
static_assert(sizeof kMainRow == 52);

Keys usKeys() {
  Keys keys;
  for (CGKeyCode k = 0; k <= 50; ++k) {
    if (kMainRow[k]) keys[k].base = std::u16string(1, static_cast<char16_t>(kMainRow[k]));
  }
  // Shifted punctuation and digits (letters derive their capitals).
  const std::pair<CGKeyCode, const char16_t*> shifted[] = {
      {18, u"!"},  {19, u"@"}, {20, u"#"}, {21, u"$"}, {23, u"%"}, {22, u"^"},  {26, u"&"},    {28, u"*"},
      {25, u"("},  {29, u")"}, {27, u"_"}, {24, u"+"}, {33, u"{"}, {30, u"}"},  {42, u"|"},    {41, u":"},
      {39, u"\""}, {43, u"<"}, {47, u">"}, {44, u"?"}, {50, u"~"}, {36, u"\r"}, {48, u"\x19"}, {49, u" "}};
  for (const auto& [k, text] : shifted) keys[k].shift = text;
  // The option layer: letters and symbols, and the five dead keys.
  const std::pair<CGKeyCode, const char16_t*> option[] = {
      {0, u"å"},  {11, u"∫"}, {8, u"ç"},  {2, u"∂"},  {3, u"ƒ"},  {5, u"©"},  {4, u"˙"},   {38, u"∆"},  {40, u"˚"},
      {37, u"¬"}, {46, u"µ"}, {31, u"ø"}, {35, u"π"}, {12, u"œ"}, {15, u"®"}, {1, u"ß"},   {17, u"†"},  {9, u"√"},
      {13, u"∑"}, {7, u"≈"},  {16, u"¥"}, {6, u"Ω"},  {18, u"¡"}, {19, u"™"}, {20, u"£"},  {21, u"¢"},  {23, u"∞"},
      {22, u"§"}, {26, u"¶"}, {28, u"•"}, {25, u"ª"}, {29, u"º"}, {27, u"–"}, {24, u"≠"},  {33, u"“"},  {30, u"‘"},
      {41, u"…"}, {39, u"æ"}, {42, u"«"}, {43, u"≤"}, {47, u"≥"}, {44, u"÷"}, {36, u"\r"}, {48, u"\t"}, {49, u" "}};
  for (const auto& [k, text] : option) keys[k].option = text;
  keys[14].option = dead(kAcute);
  keys[32].option = dead(kDiaeresis);
  keys[34].option = dead(kCircumflex);
  keys[45].option = dead(kTilde);
  keys[50].option = dead(kGrave);
  // Keys outside the main block.
  const std::pair<CGKeyCode, const char16_t*> other[] = {
      {51, u"\x7f"}, {53, u"\x1b"},  {65, u"."},     {67, u"*"},     {69, u"+"},    {75, u"/"},
      {76, u"\x03"}, {78, u"-"},     {81, u"="},     {82, u"0"},     {83, u"1"},    {84, u"2"},
      {85, u"3"},    {86, u"4"},     {87, u"5"},     {88, u"6"},     {89, u"7"},    {91, u"8"},
      {92, u"9"},    {123, u"\x1c"}, {124, u"\x1d"}, {125, u"\x1f"}, {126, u"\x1e"}};
  for (const auto& [k, text] : other) keys[k] = Key{text, text, text, text};
  return keys;
}

Keys germanKeys() {
  Keys keys = usKeys();
  auto set = [&](CGKeyCode k, std::u16string base, std::u16string shift) {
    keys[k].base = std::move(base);
    keys[k].shift = std::move(shift);
  };
  set(6, u"y", u"");
  set(16, u"z", u"");
  set(41, u"ö", u"");
  set(39, u"ä", u"");
  set(33, u"ü", u"");
  set(27, u"ß", u"?");
  set(24, dead(kAcute), dead(kGrave));
  set(30, u"+", u"*");
  set(42, u"#", u"'");
  set(44, u"-", u"_");
  set(43, u",", u";");
  set(47, u".", u":");
  set(50, u"<", u">");
  set(10, dead(kCaret), u"°");
  set(19, u"2", u"\"");
  set(20, u"3", u"§");
  set(22, u"6", u"&");
  set(26, u"7", u"/");
  set(28, u"8", u"(");
  set(25, u"9", u")");
  set(29, u"0", u"=");
  // Its option layer types symbols; letters it leaves out type their plain text.
  for (auto& [k, key] : keys) key.option.clear();
  const std::pair<CGKeyCode, const char16_t*> option[] = {{37, u"@"}, {23, u"["}, {22, u"]"}, {26, u"|"},
                                                          {28, u"{"}, {25, u"}"}, {14, u"€"}, {12, u"«"},
                                                          {0, u"å"},  {31, u"ø"}, {1, u"‚"}};
  for (const auto& [k, text] : option) keys[k].option = text;
  return keys;
}

Keys greekKeys() {
  Keys keys = usKeys();
  const std::pair<CGKeyCode, const char16_t*> letters[] = {
      {0, u"α"},  {11, u"β"}, {8, u"ψ"},  {2, u"δ"},  {14, u"ε"}, {3, u"φ"},  {5, u"γ"},  {4, u"η"},  {34, u"ι"},
      {38, u"ξ"}, {40, u"κ"}, {37, u"λ"}, {46, u"μ"}, {45, u"ν"}, {31, u"ο"}, {35, u"π"}, {15, u"ρ"}, {1, u"σ"},
      {17, u"τ"}, {32, u"θ"}, {9, u"ω"},  {13, u"ς"}, {7, u"χ"},  {16, u"υ"}, {6, u"ζ"}};
  for (auto& [k, key] : keys) key.option.clear();
  for (const auto& [k, text] : letters) keys[k] = Key{text, u"", u"", u""};
  keys[12] = Key{u";", u":", u"", u""};
  return keys;
}

Keys arabicKeys() {
  Keys keys = usKeys();
  const std::pair<CGKeyCode, char16_t> digits[] = {{29, 0}, {18, 1}, {19, 2}, {20, 3}, {21, 4},
                                                   {23, 5}, {22, 6}, {26, 7}, {28, 8}, {25, 9}};
  for (const auto& [k, d] : digits) keys[k].base = std::u16string(1, static_cast<char16_t>(0x0660 + d));
  const std::pair<CGKeyCode, const char16_t*> letters[] = {
      {12, u"ض"},  {13, u"ص"}, {14, u"ث"}, {15, u"ق"}, {17, u"ف"}, {16, u"غ"}, {32, u"ع"}, {34, u"ه"}, {31, u"خ"},
      {35, u"ح"},  {33, u"ج"}, {30, u"د"}, {0, u"ش"},  {1, u"س"},  {2, u"ي"},  {3, u"ب"},  {5, u"ل"},  {4, u"ا"},
      {38, u"ت"},  {40, u"ن"}, {37, u"م"}, {41, u"ك"}, {39, u"ط"}, {6, u"ئ"},  {7, u"ء"},  {8, u"ؤ"},  {9, u"ر"},
      {11, u"لا"}, {45, u"ى"}, {46, u"ة"}, {43, u"و"}, {47, u"ز"}, {44, u"ظ"}};
  for (auto& [k, key] : keys) key.option.clear();
  // Arabic letters have no capitals: shift types the same letter.
  for (const auto& [k, text] : letters) keys[k] = Key{text, text, u"", u""};
  return keys;
}

const std::array<KeyboardLayout, 4>& builtIn() {
  static const std::array<KeyboardLayout, 4> layouts = {
      KeyboardLayout("U.S.", usKeys()), KeyboardLayout("German", germanKeys()), KeyboardLayout("Greek", greekKeys()),
      KeyboardLayout("Arabic", arabicKeys())};
  return layouts;
}

char16_t upperUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 0x20;
  if (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7) return c - 0x20;  // Latin-1 letters
  if (c == 0x00FF) return 0x0178;
  if (c == 0x0153) return 0x0152;                   // œ
  if (c == 0x03C2) return 0x03A3;                   // final sigma
  if (c >= 0x03B1 && c <= 0x03C9) return c - 0x20;  // Greek
  return c;
}

bool isLetter(const std::u16string& text) {
  return text.size() == 1 && ((text[0] >= u'a' && text[0] <= u'z') || (text[0] >= u'A' && text[0] <= u'Z'));
}

// The accented forms of the letters that take an accent, lowercase then uppercase.
struct Composed {
  char16_t accent;
  const char16_t* from;
  const char16_t* to;
};
constexpr Composed kComposed[] = {{kGrave, u"aeiouAEIOU", u"àèìòùÀÈÌÒÙ"},
                                  {kAcute, u"aeiouyAEIOUY", u"áéíóúýÁÉÍÓÚÝ"},
                                  {kCircumflex, u"aeiouAEIOU", u"âêîôûÂÊÎÔÛ"},
                                  {kCaret, u"aeiouAEIOU", u"âêîôûÂÊÎÔÛ"},
                                  {kTilde, u"anoANO", u"ãñõÃÑÕ"},
                                  {kDiaeresis, u"aeiouyAEIOU", u"äëïöüÿÄËÏÖÜ"}};

}  // namespace

const KeyboardLayout& KeyboardLayout::us() { return builtIn()[0]; }

const KeyboardLayout* KeyboardLayout::named(std::string_view name) {
  for (const KeyboardLayout& layout : builtIn()) {
    if (layout.name() == name) return &layout;
  }
  return nullptr;
}

std::vector<std::string> KeyboardLayout::names() {
  std::vector<std::string> result;
  for (const KeyboardLayout& layout : builtIn()) result.push_back(layout.name());
  return result;
}

std::u16string KeyboardLayout::upper(const std::u16string& text) {
  std::u16string result = text;
  for (char16_t& c : result) c = upperUnit(c);
  return result;
}

KeyboardLayout::Typed KeyboardLayout::type(CGKeyCode key, CGEventFlags flags) const {
  auto it = keys_.find(key);
  if (it == keys_.end()) return {};
  const Key& k = it->second;
  const bool shift = flags & kCGEventFlagMaskShift;
  const bool caps = flags & kCGEventFlagMaskAlphaShift;
  const bool option = flags & kCGEventFlagMaskAlternate;
  if (flags & kCGEventFlagMaskControl) {
    // Control letters follow the key's place on a U.S. keyboard, whatever the layout.
    const std::u16string latin = us().type(key, 0).text;
    if (isLetter(latin)) return {std::u16string(1, static_cast<char16_t>(latin[0] - u'a' + 1)), 0};
  }
  std::u16string text;
  if (option) {
    const std::u16string& layer = k.option.empty() ? k.base : k.option;
    text = shift ? (k.shiftOption.empty() ? upper(layer) : k.shiftOption) : layer;
  } else if (shift) {
    text = k.shift.empty() ? upper(k.base) : k.shift;
  } else {
    text = k.base;
  }
  if (!text.empty() && text[0] == kDeadMark) return {u"", text.size() > 1 ? text[1] : char16_t{0}};
  // Caps lock capitalises letters only, and shift does not undo it.
  if (caps && !shift) text = upper(text);
  return {text, 0};
}

std::u16string KeyboardLayout::compose(char16_t accent, const std::u16string& text) {
  if (text.size() == 1) {
    for (const Composed& c : kComposed) {
      if (c.accent != accent) continue;
      const std::u16string_view from(c.from), to(c.to);
      if (auto at = from.find(text[0]); at != std::u16string_view::npos) return std::u16string(1, to[at]);
    }
  }
  if (text == u" ") return std::u16string(1, accent);
  return std::u16string(1, accent) + text;
}

}  // namespace platform
