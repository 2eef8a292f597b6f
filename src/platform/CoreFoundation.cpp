#include "platform/CoreFoundation.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>

#include "platform/SystemPort.h"

std::optional<platform::PlistValue> CFPreferencesCopyAppValue(const std::string& key, const std::string& application) {
  platform::SystemPort& port = platform::system();
  // An application's search list ends with the global domain.
  if (application == kCFPreferencesAnyApplication) return port.preferenceValue(application, key);
  return port.firstPreferenceValue({application, kCFPreferencesAnyApplication}, key);
}

bool CFPreferencesGetAppBooleanValue(const std::string& key, const std::string& application,
                                     bool* keyExistsAndHasValidFormat) {
  std::optional<bool> result;
  if (const auto value = CFPreferencesCopyAppValue(key, application)) {
    if (auto b = value->numberBoolValue()) {
      result = *b;
    } else if (const std::string* s = value->asString()) {
      if (strcasecmp(s->c_str(), "yes") == 0 || strcasecmp(s->c_str(), "true") == 0) {
        result = true;
      } else if (strcasecmp(s->c_str(), "no") == 0 || strcasecmp(s->c_str(), "false") == 0) {
        result = false;
      } else if (!s->empty()) {
        char* end = nullptr;
        errno = 0;
        const long long n = std::strtoll(s->c_str(), &end, 10);
        if (errno == 0 && end && *end == '\0') result = n != 0;
      }
    }
  }
  if (keyExistsAndHasValidFormat) *keyExistsAndHasValidFormat = result.has_value();
  return result.value_or(false);
}

bool CFPreferencesAppSynchronize(const std::string& application) {
  platform::system().synchronizePreferences(application);
  return true;
}
