#include "preferences/StoredOption.h"

#include "settings/Settings.h"

namespace trelliq {

std::string StoredString::get() const { return Settings::defaults().stringForKey(key).value_or(fallback); }

void StoredString::set(const std::string& value) const { Settings::defaults().set(key, platform::PlistValue(value)); }

bool StoredBool::get() const {
  if (!Settings::defaults().object(key)) return fallback;
  return Settings::defaults().boolForKey(key);
}

void StoredBool::set(bool value) const { Settings::defaults().set(key, platform::PlistValue(value)); }

}  // namespace trelliq
