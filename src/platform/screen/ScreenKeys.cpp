#include "platform/screen/ScreenKeys.h"

#include <map>

namespace screen {

namespace {

// Positions on a US keyboard, as the Mac numbers them.
const std::map<int, CGKeyCode>& keys() {
  static const std::map<int, CGKeyCode> table = {
      {Qt::Key_A, 0},          {Qt::Key_S, 1},          {Qt::Key_D, 2},           {Qt::Key_F, 3},
      {Qt::Key_H, 4},          {Qt::Key_G, 5},          {Qt::Key_Z, 6},           {Qt::Key_X, 7},
      {Qt::Key_C, 8},          {Qt::Key_V, 9},          {Qt::Key_B, 11},          {Qt::Key_Q, 12},
      {Qt::Key_W, 13},         {Qt::Key_E, 14},         {Qt::Key_R, 15},          {Qt::Key_Y, 16},
      {Qt::Key_T, 17},         {Qt::Key_1, 18},         {Qt::Key_2, 19},          {Qt::Key_3, 20},
      {Qt::Key_4, 21},         {Qt::Key_6, 22},         {Qt::Key_5, 23},          {Qt::Key_Equal, 24},
      {Qt::Key_9, 25},         {Qt::Key_7, 26},         {Qt::Key_Minus, 27},      {Qt::Key_8, 28},
      {Qt::Key_0, 29},         {Qt::Key_BracketRight, 30}, {Qt::Key_O, 31},       {Qt::Key_U, 32},
      {Qt::Key_BracketLeft, 33}, {Qt::Key_I, 34},       {Qt::Key_P, 35},          {Qt::Key_Return, 36},
      {Qt::Key_L, 37},         {Qt::Key_J, 38},         {Qt::Key_Apostrophe, 39}, {Qt::Key_K, 40},
      {Qt::Key_Semicolon, 41}, {Qt::Key_Backslash, 42}, {Qt::Key_Comma, 43},      {Qt::Key_Slash, 44},
      {Qt::Key_N, 45},         {Qt::Key_M, 46},         {Qt::Key_Period, 47},     {Qt::Key_Tab, 48},
      {Qt::Key_Backtab, 48},   {Qt::Key_Space, 49},     {Qt::Key_QuoteLeft, 50},  {Qt::Key_Backspace, 51},
      {Qt::Key_Escape, 53},    {Qt::Key_Enter, 76},     {Qt::Key_F6, 97},
      {Qt::Key_F7, 98},        {Qt::Key_F3, 99},        {Qt::Key_F8, 100},        {Qt::Key_F9, 101},
      {Qt::Key_F11, 103},      {Qt::Key_F10, 109},      {Qt::Key_F12, 111},       {Qt::Key_Home, 115},
      {Qt::Key_PageUp, 116},   {Qt::Key_Delete, 117},   {Qt::Key_F4, 118},        {Qt::Key_End, 119},
      {Qt::Key_F2, 120},       {Qt::Key_PageDown, 121}, {Qt::Key_F1, 122},        {Qt::Key_Left, 123},
      {Qt::Key_Right, 124},    {Qt::Key_Down, 125},     {Qt::Key_Up, 126},
  };
  return table;
}

// The Mac key at each X key code of a PC keyboard's main block (evdev code + 8).
const std::map<std::uint32_t, CGKeyCode>& places() {
  static const std::map<std::uint32_t, CGKeyCode> table = {
      {10, 18}, {11, 19}, {12, 20}, {13, 21}, {14, 23}, {15, 22}, {16, 26}, {17, 28}, {18, 25}, {19, 29},
      {20, 27}, {21, 24}, {22, 51}, {23, 48}, {24, 12}, {25, 13}, {26, 14}, {27, 15}, {28, 17}, {29, 16},
      {30, 32}, {31, 34}, {32, 31}, {33, 35}, {34, 33}, {35, 30}, {36, 36}, {38, 0},  {39, 1},  {40, 2},
      {41, 3},  {42, 5},  {43, 4},  {44, 38}, {45, 40}, {46, 37}, {47, 41}, {48, 39}, {49, 50}, {51, 42},
      {52, 6},  {53, 7},  {54, 8},  {55, 9},  {56, 11}, {57, 45}, {58, 46}, {59, 43}, {60, 47}, {61, 44},
      {65, 49}, {94, 10},
  };
  return table;
}

// The ISO section key: no text on a US layout, so what the key carries is kept as typed.
constexpr CGKeyCode kKeyWithoutUSText = 10;

}  // namespace

std::optional<CGKeyCode> macKey(int qtKey) {
  if (auto it = keys().find(qtKey); it != keys().end()) return it->second;
  return std::nullopt;
}

std::optional<CGKeyCode> macKeyAt(std::uint32_t scanCode) {
  if (auto it = places().find(scanCode); it != places().end()) return it->second;
  return std::nullopt;
}

bool isTypedText(const std::u16string& text) {
  return !text.empty() && text.front() >= 0x20 && text.front() != 0x7F;
}

std::optional<CGKeyCode> postedKey(int qtKey, std::uint32_t scanCode, const std::u16string& text) {
  if (auto code = macKey(qtKey)) return code;
  if (auto code = macKeyAt(scanCode)) return code;
  if (isTypedText(text)) return kKeyWithoutUSText;
  return std::nullopt;
}

std::optional<int> doubleTapFingers(int qtKey, Qt::KeyboardModifiers held) {
  if (qtKey != Qt::Key_F5) return std::nullopt;
  return held & Qt::ShiftModifier ? 4 : 3;
}

CGEventFlags macFlags(Qt::KeyboardModifiers held) {
  CGEventFlags flags = 0;
  if (held & Qt::ControlModifier) flags |= kCGEventFlagMaskCommand;
  if (held & Qt::AltModifier) flags |= kCGEventFlagMaskAlternate;
  if (held & Qt::ShiftModifier) flags |= kCGEventFlagMaskShift;
  if (held & Qt::MetaModifier) flags |= kCGEventFlagMaskControl;
  return flags;
}

std::optional<Modifier> macModifier(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Control: return Modifier{55, kCGEventFlagMaskCommand};
    case Qt::Key_Alt: return Modifier{58, kCGEventFlagMaskAlternate};
    case Qt::Key_Shift: return Modifier{56, kCGEventFlagMaskShift};
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R: return Modifier{59, kCGEventFlagMaskControl};
    default: return std::nullopt;
  }
}

std::string mappingLegend() {
  return "Ctrl = \u2318 Command    Alt = \u2325 Option    Super = \u2303 Control    Shift = \u21E7 Shift    "
         "F5 = three-finger double tap (\u21E7F5 four)    A display's corner = hot corner";
}

}  // namespace screen
