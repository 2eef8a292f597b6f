#include "platform/Unicode.h"

#include <QChar>
#include <QString>

namespace platform {

std::u32string Unicode::codePoints(std::u16string_view text) {
  std::u32string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1])) {
      result.push_back(QChar::surrogateToUcs4(unit, text[i + 1]));
      ++i;
    } else {
      result.push_back(unit);
    }
  }
  return result;
}

bool Unicode::isLetterOrNumber(char32_t c) { return QChar::isLetterOrNumber(static_cast<char32_t>(c)); }

std::optional<int> Unicode::digitValue(char32_t c) {
  const int value = QChar::digitValue(static_cast<char32_t>(c));
  if (value < 0 || value > 9) return std::nullopt;
  return value;
}

std::u16string Unicode::lowercased(std::u16string_view text) {
  const QString lower = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toLower();
  return std::u16string(reinterpret_cast<const char16_t*>(lower.utf16()), static_cast<std::size_t>(lower.size()));
}

}  // namespace platform
