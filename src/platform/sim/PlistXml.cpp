#include "platform/sim/PlistXml.h"

#include <QByteArray>
#include <QXmlStreamReader>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace sim {

using platform::PlistArray;
using platform::PlistDictionary;
using platform::PlistValue;

namespace {

struct Refusal {
  std::string why;
};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

Refusal notAPlist() { return {"not a property list"}; }

// Decimal, or hexadecimal after "0x"; a minus sign stores two's complement as the file
// format does.
PlistValue integerFrom(std::string_view text) {
  const std::string digits(trimmed(text));
  if (digits.empty()) throw notAPlist();
  const bool negative = digits.front() == '-';
  const char* start = digits.c_str() + (negative || digits.front() == '+' ? 1 : 0);
  const bool hex = start[0] == '0' && (start[1] == 'x' || start[1] == 'X');
  if (hex) start += 2;
  if (!std::isxdigit(static_cast<unsigned char>(*start))) throw notAPlist();
  char* end = nullptr;
  errno = 0;
  const unsigned long long magnitude = std::strtoull(start, &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0') throw notAPlist();
  const auto bits = negative ? 0ull - magnitude : magnitude;
  return PlistValue(static_cast<long long>(bits));
}

PlistValue realFrom(std::string_view text) {
  const std::string digits(trimmed(text));
  if (digits.empty()) throw notAPlist();
  char* end = nullptr;
  const double value = std::strtod(digits.c_str(), &end);
  if (*end != '\0') throw notAPlist();
  return PlistValue(value);
}

// "2024-05-06T07:08:09Z", with optional fractions of a second.
PlistValue dateFrom(std::string_view text) {
  const std::string stamp(trimmed(text));
  std::tm parts{};
  int consumed = 0;
  if (std::sscanf(stamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                  &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 6) {
    throw notAPlist();
  }
  double fraction = 0;
  std::size_t at = static_cast<std::size_t>(consumed);
  if (at < stamp.size() && stamp[at] == '.') {
    const std::size_t digits = stamp.find_first_not_of("0123456789", at + 1);
    fraction = std::strtod(stamp.substr(at, digits - at).c_str(), nullptr);
    at = digits == std::string::npos ? stamp.size() : digits;
  }
  if (stamp.substr(at) != "Z") throw notAPlist();
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  return PlistValue(platform::PlistDate{static_cast<double>(::timegm(&parts)) + fraction});
}

PlistValue dataFrom(std::string_view text) {
  // Line breaks and indentation inside the text are skipped, as writers wrap it.
  const QByteArray bytes = QByteArray::fromBase64(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  return PlistValue(platform::PlistData(bytes.begin(), bytes.end()));
}

std::string textOf(QXmlStreamReader& reader) {
  const QString text = reader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
  if (reader.hasError()) throw notAPlist();
  // Well-formed XML holds no NUL character, not even as a reference, so no key can.
  return text.toStdString();
}

// The containers open at a moment, innermost last, and the value they add up to.
class Builder {
 public:
  explicit Builder(const PlistLimits& limits) : limits_(limits) {}

  void openArray() { open(Open{false, {}, {}, {}}); }
  void openDictionary() { open(Open{true, {}, {}, {}}); }

  void key(std::string name) {
    if (open_.empty() || !open_.back().dictionary || open_.back().key) throw notAPlist();
    open_.back().key = std::move(name);
  }

  void close(bool dictionary) {
    if (open_.empty() || open_.back().dictionary != dictionary || open_.back().key) throw notAPlist();
    Open done = std::move(open_.back());
    open_.pop_back();
    if (!dictionary) {
      add(PlistValue(std::move(done.items)));
      return;
    }
    // A dictionary of one "CF$UID" integer is how the format writes a unique id.
    if (done.entries.size() == 1) {
      const auto& [name, value] = *done.entries.begin();
      if (name == "CF$UID" && value.type() == PlistValue::Type::integer) {
        add(PlistValue(value));
        return;
      }
    }
    add(PlistValue(std::move(done.entries)));
  }

  void add(PlistValue value) {
    if (++values_ > limits_.maxValues) throw Refusal{"the property list holds too many values"};
    if (open_.empty()) {
      if (root_) throw notAPlist();
      root_ = std::move(value);
      return;
    }
    Open& inner = open_.back();
    if (!inner.dictionary) {
      inner.items.push_back(std::move(value));
      return;
    }
    if (!inner.key) throw notAPlist();
    inner.entries.insert_or_assign(std::move(*inner.key), std::move(value));
    inner.key.reset();
  }

  bool inside() const { return !open_.empty(); }
  std::optional<PlistValue> take() { return open_.empty() ? std::move(root_) : std::nullopt; }

 private:
  struct Open {
    bool dictionary;
    PlistArray items;
    PlistDictionary entries;
    std::optional<std::string> key;
  };
  void open(Open container) {
    if (root_) throw notAPlist();
    if (open_.size() >= limits_.maxDepth) throw Refusal{"the property list is nested too deeply"};
    open_.push_back(std::move(container));
  }

  const PlistLimits& limits_;
  std::vector<Open> open_;
  std::optional<PlistValue> root_;
  std::uint64_t values_ = 0;
};

PlistValue scalar(QStringView name, QXmlStreamReader& reader) {
  if (name == u"string") return PlistValue(textOf(reader));
  if (name == u"integer") return integerFrom(textOf(reader));
  if (name == u"real") return realFrom(textOf(reader));
  if (name == u"true" || name == u"false") {
    textOf(reader);
    return PlistValue(name == u"true");
  }
  if (name == u"date") return dateFrom(textOf(reader));
  if (name == u"data") return dataFrom(textOf(reader));
  throw notAPlist();
}

PlistValue read(QXmlStreamReader& reader, const PlistLimits& limits) {
  Builder builder(limits);
  bool inPlist = false, plistSeen = false;
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::DTD:
        // Entities could expand far beyond the file; a property list has no use for them.
        if (!reader.entityDeclarations().isEmpty()) throw Refusal{"the property list declares entities"};
        break;
      case QXmlStreamReader::StartElement: {
        const QStringView name = reader.name();
        if (name == u"plist" && !plistSeen && !builder.inside()) {
          inPlist = plistSeen = true;
        } else if (name == u"array") {
          builder.openArray();
        } else if (name == u"dict") {
          builder.openDictionary();
        } else if (name == u"key") {
          builder.key(textOf(reader));
        } else {
          builder.add(scalar(name, reader));
        }
        break;
      }
      case QXmlStreamReader::EndElement: {
        const QStringView name = reader.name();
        if (name == u"plist") {
          inPlist = false;
        } else {
          builder.close(name == u"dict");
        }
        break;
      }
      case QXmlStreamReader::Characters:
        if (!reader.isWhitespace()) throw notAPlist();
        break;
      default:
        break;
    }
  }
  if (reader.hasError() || inPlist) throw notAPlist();
  auto value = builder.take();
  if (!value) throw notAPlist();
  return std::move(*value);
}

}  // namespace

std::optional<PlistValue> readXmlPlist(std::string_view text, const PlistLimits& limits, std::string* error) {
  QXmlStreamReader reader(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())));
  try {
    return read(reader, limits);
  } catch (const Refusal& refusal) {
    if (error) *error = refusal.why;
    return std::nullopt;
  }
}

}  // namespace sim
