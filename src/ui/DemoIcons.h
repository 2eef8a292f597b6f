#pragma once
// The sample app icons of the demonstration pictures, looked up once through the shared
// workspace (the application's bundle, then that file's icon) and kept for the life of the
// process. A missing application gets the "app.fill" symbol, so the lists never shorten.
// Main thread only.

#include <string>
#include <vector>

#include "platform/Image.h"

namespace trelliq {

struct DemoIcons {
  DemoIcons() = delete;

  /// Always 4: "com.apple.mail", "com.apple.Safari", "com.apple.Notes", "com.apple.iCal".
  static const std::vector<CGImageRef>& top();
  /// Always 3: "com.apple.Music", "com.apple.Photos", "com.apple.reminders".
  static const std::vector<CGImageRef>& bottom();
  /// One icon, looked up now: the application's icon, else the "app.fill" symbol, else an
  /// empty picture. Never null.
  static CGImageRef icon(const std::string& bundleIdentifier);
};

}  // namespace trelliq
