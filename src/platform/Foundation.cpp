#include "platform/Foundation.h"

#include <cerrno>
#include <cstdlib>

#include "platform/AppKitWorkspace.h"
#include "platform/CoreFoundation.h"
#include "platform/SystemPort.h"

using platform::PlistValue;

UserDefaults& UserDefaults::standard() {
  static UserDefaults defaults;
  return defaults;
}

std::optional<PlistValue> UserDefaults::object(const std::string& key) const {
  platform::SystemPort& port = platform::system();
  if (auto v = port.firstPreferenceValue({port.applicationDomainName(), kCFPreferencesAnyApplication}, key)) return v;
  std::lock_guard lock(mutex_);
  auto it = registration_.find(key);
  if (it == registration_.end()) return std::nullopt;
  return it->second;
}

platform::PlistDictionary UserDefaults::dictionaryRepresentation() const {
  platform::SystemPort& port = platform::system();
  auto merged = port.firstPreferenceValues({port.applicationDomainName(), kCFPreferencesAnyApplication});
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : registration_) merged.try_emplace(key, value);
  return merged;
}

bool UserDefaults::boolForKey(const std::string& key) const {
  const auto value = object(key);
  if (!value) return false;
  if (auto b = value->numberBoolValue()) return *b;
  if (const std::string* s = value->asString()) {
    if (s->empty()) return false;
    const char c = (*s)[0];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
  }
  return false;
}

std::int64_t UserDefaults::integerForKey(const std::string& key) const {
  const auto value = object(key);
  if (!value) return 0;
  if (auto i = value->asInteger()) return *i;
  if (auto d = value->asDouble()) {
    // A real that is not whole is cut toward zero; one out of range gives 0 rather than undefined behaviour.
    if (*d > -9.2e18 && *d < 9.2e18) return static_cast<std::int64_t>(*d);
    return 0;
  }
  if (const std::string* s = value->asString()) {
    errno = 0;
    const long long parsed = std::strtoll(s->c_str(), nullptr, 10);
    return errno == ERANGE ? 0 : parsed;
  }
  return 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
  const auto value = object(key);
  if (!value) return 0;
  if (auto d = value->asDouble()) return *d;
  if (const std::string* s = value->asString()) return std::strtod(s->c_str(), nullptr);
  return 0;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  const auto value = object(key);
  if (!value || !value->asString()) return std::nullopt;
  return *value->asString();
}

std::optional<platform::PlistDictionary> UserDefaults::dictionaryForKey(const std::string& key) const {
  const auto value = object(key);
  if (!value || !value->asDictionary()) return std::nullopt;
  return *value->asDictionary();
}

void UserDefaults::set(const std::string& key, const PlistValue& value) {
  platform::SystemPort& port = platform::system();
  port.setPreferenceValue(port.applicationDomainName(), key, value);
  NSNotificationCenter::defaultCenter().post({NSUserDefaultsDidChangeNotification, this, std::nullopt});
}

void UserDefaults::setValuesForKeys(const platform::PlistDictionary& values) {
  if (values.empty()) return;
  platform::SystemPort& port = platform::system();
  port.setPreferenceValues(port.applicationDomainName(), values);
  NSNotificationCenter::defaultCenter().post({NSUserDefaultsDidChangeNotification, this, std::nullopt});
}

void UserDefaults::removeObject(const std::string& key) {
  platform::SystemPort& port = platform::system();
  port.setPreferenceValue(port.applicationDomainName(), key, std::nullopt);
  NSNotificationCenter::defaultCenter().post({NSUserDefaultsDidChangeNotification, this, std::nullopt});
}

void UserDefaults::registerDefaults(const platform::PlistDictionary& defaults) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : defaults) registration_[key] = value;
}

void UserDefaults::resetRegistration() {
  std::lock_guard lock(mutex_);
  registration_.clear();
}

std::optional<platform::PlistDictionary> UserDefaults::persistentDomain(const std::string& name) const {
  return platform::system().preferenceDomain(name);
}

void UserDefaults::synchronize() {
  platform::SystemPort& port = platform::system();
  port.synchronizePreferences(port.applicationDomainName());
}
