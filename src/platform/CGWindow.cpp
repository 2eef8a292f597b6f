#include "platform/CGWindow.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"

using platform::PlistDictionary;
using platform::PlistValue;

namespace {

PlistDictionary describe(const platform::WindowEntry& w, bool titles) {
  PlistDictionary d;
  d[kCGWindowNumber] = PlistValue(w.number);
  d[kCGWindowStoreType] = PlistValue(static_cast<long long>(w.storeType));
  d[kCGWindowLayer] = PlistValue(w.layer);
  d[kCGWindowBounds] = CGRectCreateDictionaryRepresentation(w.bounds);
  d[kCGWindowSharingState] = PlistValue(static_cast<long long>(w.sharingState));
  d[kCGWindowAlpha] = PlistValue(w.alpha);
  d[kCGWindowOwnerPID] = PlistValue(w.ownerPID);
  d[kCGWindowMemoryUsage] = PlistValue(static_cast<long long>(w.memoryUsage));
  if (w.ownerName) d[kCGWindowOwnerName] = PlistValue(*w.ownerName);
  if (titles && w.name) d[kCGWindowName] = PlistValue(*w.name);
  if (w.onScreen) d[kCGWindowIsOnscreen] = PlistValue(true);
  return d;
}

// The window list is read often and changes little from one read to the next, so each
// window's description is kept and handed out again (a shared, read-only dictionary) while
// its entry stays the same. Thread-safe.
class Descriptions {
 public:
  PlistValue of(const platform::WindowEntry& w, bool titles) {
    Described& kept = kept_[w.number];
    if (!kept.value || kept.titles != titles || !(kept.entry == w)) {
      kept.entry = w;
      kept.titles = titles;
      kept.value = describe(w, titles);
    }
    return *kept.value;
  }

  /// Forgets the windows that are no longer listed once they outnumber the listed ones.
  void prune(const std::vector<platform::WindowEntry>& listed) {
    if (kept_.size() <= 2 * listed.size() + 64) return;
    std::unordered_map<std::uint32_t, Described> still;
    for (const platform::WindowEntry& w : listed) {
      if (auto it = kept_.find(w.number); it != kept_.end()) still.insert(std::move(*it));
    }
    kept_ = std::move(still);
  }

  std::mutex mutex;

 private:
  struct Described {
    platform::WindowEntry entry;
    bool titles = false;
    std::optional<PlistValue> value;
  };
  std::unordered_map<std::uint32_t, Described> kept_;
};

Descriptions& descriptions() {
  static auto* kept = new Descriptions;
  return *kept;
}

}  // namespace

std::optional<platform::PlistArray> CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relativeToWindow) {
  if (!platform::hasWindowServer()) return std::nullopt;
  const bool titles = platform::hasSystem() && platform::system().screenCaptureAllowed();
  std::vector<platform::WindowEntry> all = platform::windowServer().windowList();

  const bool above = option & kCGWindowListOptionOnScreenAboveWindow;
  const bool below = option & kCGWindowListOptionOnScreenBelowWindow;
  const bool including = option & kCGWindowListOptionIncludingWindow;
  std::vector<const platform::WindowEntry*> chosen;
  if (above || below || including) {
    // Everything is relative to the anchor's place in the front-to-back list.
    auto anchor = std::find_if(all.begin(), all.end(),
                               [&](const platform::WindowEntry& w) { return w.number == relativeToWindow; });
    if (relativeToWindow == kCGNullWindowID || anchor == all.end()) return platform::PlistArray{};
    for (auto it = all.begin(); it != all.end(); ++it) {
      const bool isAnchor = it == anchor;
      const bool take = (isAnchor && including) || (!isAnchor && above && it < anchor && it->onScreen) ||
                        (!isAnchor && below && it > anchor && it->onScreen);
      if (take) chosen.push_back(&*it);
    }
  } else {
    for (const auto& w : all) {
      if ((option & kCGWindowListOptionOnScreenOnly) && !w.onScreen) continue;
      chosen.push_back(&w);
    }
  }
  platform::PlistArray result;
  result.reserve(chosen.size());
  Descriptions& kept = descriptions();
  std::lock_guard lock(kept.mutex);
  for (const platform::WindowEntry* w : chosen) {
    if ((option & kCGWindowListExcludeDesktopElements) && w->desktopElement) continue;
    result.push_back(kept.of(*w, titles));
  }
  kept.prune(all);
  return result;
}

PlistDictionary CGRectCreateDictionaryRepresentation(const CGRect& rect) {
  return PlistDictionary{{"X", PlistValue(rect.origin.x)},
                         {"Y", PlistValue(rect.origin.y)},
                         {"Width", PlistValue(rect.size.width)},
                         {"Height", PlistValue(rect.size.height)}};
}

bool CGRectMakeWithDictionaryRepresentation(const PlistDictionary& dict, CGRect* rect) {
  const auto x = platform::doubleEntry(dict, "X");
  const auto y = platform::doubleEntry(dict, "Y");
  const auto w = platform::doubleEntry(dict, "Width");
  const auto h = platform::doubleEntry(dict, "Height");
  if (!x || !y || !w || !h || !rect) return false;
  *rect = CGRect(*x, *y, *w, *h);
  return true;
}

CGDirectDisplayID CGMainDisplayID() {
  if (!platform::hasSystem()) return 0;
  const auto screens = platform::system().screens();
  return screens.empty() ? 0 : screens.front().displayID;
}
