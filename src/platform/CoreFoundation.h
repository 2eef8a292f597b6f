#pragma once
// Reading other programs' preferences, the way CoreFoundation offers it.

#include <optional>
#include <string>

#include "platform/PlistValue.h"

inline constexpr const char* kCFPreferencesAnyApplication = ".GlobalPreferences";

std::optional<platform::PlistValue> CFPreferencesCopyAppValue(const std::string& key, const std::string& application);
/// The value's Boolean meaning; `*keyExistsAndHasValidFormat` tells whether it could be read as one.
bool CFPreferencesGetAppBooleanValue(const std::string& key, const std::string& application,
                                     bool* keyExistsAndHasValidFormat = nullptr);
bool CFPreferencesAppSynchronize(const std::string& application);
