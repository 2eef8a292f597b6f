#include "workspace/SpaceNames.h"

#include <algorithm>
#include <string_view>

#include "platform/PlistValue.h"
#include "settings/Settings.h"

namespace trelliq {

namespace {

constexpr std::string_view desktopPrefix = "desktop/";

// The characters trimmed from names: the Unicode space separators, tabs and every kind
// of line end, since a pasted name may carry any of them.
bool isSpaceAt(const std::string& s, std::size_t i, std::size_t* length) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
    *length = 1;
    return true;
  }
  static const std::string_view wide[] = {
      "\xC2\x85",      // next line
      "\xC2\xA0",      // no-break space
      "\xE2\x80\xA8",  // line separator
      "\xE2\x80\xA9",  // paragraph separator
      "\xE1\x9A\x80",  // ogham space mark
      "\xE2\x81\x9F",  // medium mathematical space
      "\xE3\x80\x80",  // ideographic space
      "\xE2\x80\xAF",  // narrow no-break space
  };
  const std::string_view rest(s.data() + i, s.size() - i);
  for (std::string_view w : wide) {
    if (rest.starts_with(w)) {
      *length = w.size();
      return true;
    }
  }
  // En quad to hair space.
  if (rest.size() >= 3 && rest[0] == '\xE2' && rest[1] == '\x80' && static_cast<unsigned char>(rest[2]) >= 0x80 &&
      static_cast<unsigned char>(rest[2]) <= 0x8A) {
    *length = 3;
    return true;
  }
  return false;
}

// The start of the last character of `s[0, end)`, stepping back over UTF-8 continuation bytes.
std::size_t lastCharStart(const std::string& s, std::size_t end) {
  std::size_t i = end - 1;
  while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  return i;
}

}  // namespace

std::string SpaceNames::key(const std::string& desktopUUID) { return std::string(desktopPrefix) + desktopUUID; }

std::string SpaceNames::key(std::uint32_t window) { return "window/" + std::to_string(window); }

std::map<std::string, std::string> SpaceNames::all() {
  std::map<std::string, std::string> names;
  const std::optional<platform::PlistValue> stored = Settings::defaults().object(defaultsKey);
  if (!stored) return names;
  const platform::PlistDictionary* dict = stored->asDictionary();
  if (!dict) return names;
  for (const auto& [key, value] : *dict) {
    if (const std::string* name = value.asString()) names.emplace(key, *name);
  }
  return names;
}

void SpaceNames::set(const std::string& name, const std::string& key) {
  std::map<std::string, std::string> names = all();
  const std::string clean = trimmed(name);
  if (clean.empty()) {
    names.erase(key);
  } else {
    names[key] = clean;
  }
  save(names);
}

void SpaceNames::save(const std::map<std::string, std::string>& names) {
  if (names.empty()) {
    Settings::defaults().removeObject(defaultsKey);
    return;
  }
  platform::PlistDictionary dict;
  for (const auto& [key, name] : names) dict.emplace(key, platform::PlistValue(name));
  Settings::defaults().set(defaultsKey, platform::PlistValue(std::move(dict)));
}

void SpaceNames::forgetWindows(const std::vector<std::uint32_t>& windows) {
  std::map<std::string, std::string> names = all();
  // With desktop names only (the usual case) no window key needs building.
  if (std::all_of(names.begin(), names.end(), [](const auto& n) { return n.first.starts_with(desktopPrefix); })) return;
  std::set<std::string> kept;
  for (std::uint32_t window : windows) kept.insert(key(window));
  bool dropped = false;
  for (auto it = names.begin(); it != names.end();) {
    if (it->first.starts_with(desktopPrefix) || kept.contains(it->first)) {
      ++it;
    } else {
      it = names.erase(it);
      dropped = true;
    }
  }
  if (dropped) save(names);
}

std::string SpaceNames::trimmed(const std::string& text) {
  std::size_t begin = 0, length = 0;
  while (begin < text.size() && isSpaceAt(text, begin, &length)) begin += length;
  std::size_t end = text.size();
  while (end > begin) {
    const std::size_t start = lastCharStart(text, end);
    if (start < begin || !isSpaceAt(text, start, &length) || start + length != end) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace trelliq
