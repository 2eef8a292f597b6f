#include "platform/Unicode.h"

#include <QChar>
#include <QString>
#include <cstdio>

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

namespace {

void appendEscape(std::string& out, char32_t codePoint) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "\\u{%02X}", static_cast<unsigned>(codePoint));
  out += buffer;
}

// Characters that change how the rest of a line reads: controls end or garble it, the
// separators end it for some readers, and the bidirectional marks, embeddings,
// overrides and isolates reorder what follows them on screen.
bool needsEscape(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C || c == 0x200E ||
         c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string Unicode::oneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto byteAt = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned lead = byteAt(i);
    // Decode one well-formed sequence; a stray byte passes through as it is (it cannot
    // form any of the characters above).
    char32_t c = lead;
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF && (byteAt(i + 1) & 0xC0) == 0x80) {
      c = ((lead & 0x1Fu) << 6) | (byteAt(i + 1) & 0x3Fu);
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF && (byteAt(i + 1) & 0xC0) == 0x80 && (byteAt(i + 2) & 0xC0) == 0x80) {
      c = ((lead & 0x0Fu) << 12) | ((byteAt(i + 1) & 0x3Fu) << 6) | (byteAt(i + 2) & 0x3Fu);
      length = 3;
    }
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (needsEscape(c) && (length > 1 || lead < 0x80)) {
      appendEscape(out, c);
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

}  // namespace platform
