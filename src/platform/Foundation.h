#pragma once
// User defaults: the program's own domain, then the global domain, then the
// registration domain (in-memory defaults registered at launch), read in that order.

#include <mutex>
#include <optional>
#include <string>

#include "platform/PlistValue.h"

class UserDefaults {
 public:
  /// The standard defaults of the program's own domain. Thread-safe.
  static UserDefaults& standard();

  /// The first value found in the application, global and registration domains.
  std::optional<platform::PlistValue> object(const std::string& key) const;
  /// A Boolean the way the system converts: a Boolean as is, a number non-zero,
  /// a string starting with Y, y, T, t or a non-zero digit; false otherwise or when missing.
  bool boolForKey(const std::string& key) const;
  /// An integer from a number or a numeric string; 0 otherwise.
  std::int64_t integerForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  /// A string value (numbers are not converted); nothing otherwise.
  std::optional<std::string> stringForKey(const std::string& key) const;
  std::optional<platform::PlistDictionary> dictionaryForKey(const std::string& key) const;
  /// Every key `object` finds, with the value it finds: the application, global and
  /// registration domains merged, read in one go.
  platform::PlistDictionary dictionaryRepresentation() const;

  /// Stores into the application domain and persists it; both then post
  /// NSUserDefaultsDidChangeNotification to the default centre on the calling thread.
  void set(const std::string& key, const platform::PlistValue& value);
  /// Stores every pair of `values` into the application domain in one write: all of
  /// them are persisted, or none. Posts the change notification once.
  void setValuesForKeys(const platform::PlistDictionary& values);
  void removeObject(const std::string& key);

  /// Adds to the registration domain (never persisted); later registrations win.
  void registerDefaults(const platform::PlistDictionary& defaults);
  /// Drops the registration domain (tests start each scene without one).
  void resetRegistration();

  /// Another program's stored domain, or nothing when it does not exist.
  std::optional<platform::PlistDictionary> persistentDomain(const std::string& name) const;
  void synchronize();

 private:
  UserDefaults() = default;
  mutable std::mutex mutex_;
  platform::PlistDictionary registration_;
};
