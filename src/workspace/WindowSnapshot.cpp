#include "workspace/WindowSnapshot.h"

#include <algorithm>

#include "platform/AppKitWindows.h"
#include "platform/CGWindow.h"
#include "platform/Clock.h"
#include "platform/CoreGraphics.h"
#include "workspace/Focus.h"
#include "workspace/ListedRows.h"
#include "workspace/Minimized.h"
#include "workspace/Private.h"
#include "workspace/Unresponsive.h"
#include "workspace/WindowEntries.h"

namespace trelliq {

namespace {

constexpr float kApplicationTimeout = 0.25f;
// An app launched this recently may not have reported its windows yet.
constexpr double kJustLaunchedSeconds = 5.0;

bool sharesAny(const std::vector<std::int64_t>& spaces, const std::set<std::int64_t>& set) {
  return std::any_of(spaces.begin(), spaces.end(), [&](std::int64_t space) { return set.count(space) != 0; });
}

struct ListedWindow {
  WindowInfo info;
  std::vector<std::int64_t> spaces;
};

// The standard windows an app reports through the accessibility interface.
struct Reported {
  std::vector<WindowInfo> windows;
  std::vector<std::uint32_t> numbers;  // theirs, sorted once all are in, for the window list to leave out
  bool incomplete = false;             // the app gave no list, or an empty one just after launching
};

Reported reportedWindows(const WindowSnapshot& snapshot, const NSRunningApplication& app) {
  const std::int32_t pid = app.processIdentifier();
  Reported reported;
  AXUIElementRef application = AXUIElementCreateApplication(pid);
  AXUIElementSetMessagingTimeout(application, kApplicationTimeout);
  AXValue value;
  std::optional<std::vector<AXUIElementRef>> elements;
  if (Unresponsive::copyAttribute(application, kAXWindowsAttribute, &value) == kAXErrorSuccess) {
    elements = value.asElementArray();
  }
  reported.incomplete = !elements;
  if (elements && elements->empty()) {
    const auto launched = app.launchDate();
    reported.incomplete = launched && *launched - platform::now() > -kJustLaunchedSeconds;
  }
  static const std::vector<AXUIElementRef> noElements;
  if (elements) {
    reported.windows.reserve(elements->size());
    reported.numbers.reserve(elements->size());
  }
  for (const AXUIElementRef& element : elements ? *elements : noElements) {
    // An app that stopped answering halfway through its list is not asked about the rest.
    if (Unresponsive::skipping(pid)) break;
    // Handles read from a list start with the long default timeout; a hung app must not
    // hold the snapshot longer than the app element allows.
    AXUIElementSetMessagingTimeout(element, kApplicationTimeout);
    auto subrole = Unresponsive::attribute(element, kAXSubroleAttribute);
    if (!subrole || !subrole->asString() || *subrole->asString() != kAXStandardWindowSubrole) continue;
    const auto number = Private::windowID(element);
    if (number) reported.numbers.push_back(*number);
    std::optional<std::string> title;
    if (auto text = Unresponsive::attribute(element, kAXTitleAttribute);
        text && text->asString() && !text->asString()->empty()) {
      title = *text->asString();
    }
    auto minimizedValue = Unresponsive::attribute(element, kAXMinimizedAttribute);
    const bool minimized = minimizedValue && minimizedValue->asBool().value_or(false);
    Minimized::changed(element, number, minimized);
    reported.windows.emplace_back(pid, number, element, std::move(title), minimized, snapshot.isFullScreen(number),
                                  number ? snapshot.bounds(*number) : std::nullopt);
  }
  std::sort(reported.numbers.begin(), reported.numbers.end());
  return reported;
}

// The app's windows only the window server lists that count as windows of its own:
// minimized ones, a hidden app's, and ordered-in ones on a current Space (or on any
// Space while the app's own list may be incomplete).
std::vector<ListedWindow> listedWindows(const WindowSnapshot& snapshot, std::int32_t pid, const Reported& reported,
                                        bool hidden, bool titledOnly) {
  std::vector<ListedWindow> listed;
  auto group = snapshot.cgWindows().find(pid);
  if (group == snapshot.cgWindows().end()) return listed;
  for (const WindowSnapshot::Listed& entry : group->second) {
    const auto number = entry.number;
    if (!number || std::binary_search(reported.numbers.begin(), reported.numbers.end(), *number)) continue;
    const auto alpha = entry.alpha;
    if (!alpha || !(*alpha > 0)) continue;
    if (!entry.large) continue;
    const std::vector<std::int64_t>& spaces = snapshot.spaces(*number);
    if (spaces.empty()) continue;
    const auto& name = entry.name;
    const bool named = name && !name->empty();
    if (titledOnly && !named) continue;
    const bool onCurrent = sharesAny(spaces, snapshot.currentSpaces());
    const bool orderedIn = Private::isOrderedIn(*number);
    const bool minimized = !orderedIn && Minimized::element(*number) != nullptr;
    const bool incomplete = reported.incomplete;
    if (!(hidden || minimized || (orderedIn && (onCurrent || incomplete)))) continue;
    if (!onCurrent && incomplete && !minimized && !hidden && !named && snapshot.titlesKnown()) continue;
    const bool fullScreen = !minimized && sharesAny(spaces, snapshot.fullScreenSpaces());
    listed.push_back(
        {WindowInfo(pid, number, nullptr, named ? name : std::nullopt, minimized, fullScreen, snapshot.bounds(*number)),
         spaces});
  }
  return listed;
}

// Appends the listed windows, leaving out companions: a full-screen or hidden app's
// untitled window sharing a Space with a titled one is only a toolbar or backdrop of it,
// not a window of its own.
void addWithoutCompanions(std::vector<WindowInfo>& result, std::vector<ListedWindow> listed, bool hidden) {
  std::set<std::int64_t> titledSpaces;
  for (const auto& window : listed) {
    if ((window.info.fullScreen || hidden) && window.info.title) {
      titledSpaces.insert(window.spaces.begin(), window.spaces.end());
    }
  }
  for (auto& window : listed) {
    const bool companion =
        (window.info.fullScreen || hidden) && !window.info.title && sharesAny(window.spaces, titledSpaces);
    if (!companion) result.push_back(std::move(window.info));
  }
}

}  // namespace

WindowSnapshot::WindowSnapshot() {
  titlesKnown_ = CGPreflightScreenCaptureAccess();
  const auto list = CGWindowListCopyWindowInfo(kCGWindowListExcludeDesktopElements, kCGNullWindowID);
  listRead_ = list.has_value();
  int position = 0;
  static const platform::PlistArray none;
  if (list) spaces_.reserve(list->size());
  for (const entries::Row& row : ListedRows::of(list ? *list : none, entries::kLargeSide, true)) {
    if (row.layer != 0) continue;
    if (row.number) order_.emplace(*row.number, position);
    ++position;
    std::optional<std::string> name;
    if (row.name) name = *row.name;
    cgWindows_[row.ownerPID.value_or(0)].push_back(
        {row.number, row.alpha, row.bounds.present, row.bounds.rect, row.bounds.atLeast, std::move(name)});
  }
  // A number's bounds come from the first owner (by pid) whose first entry for it has a
  // bounds dictionary; a later entry of the same owner never counts.
  // Gathered in that order, then sorted by number keeping the first of each.
  struct Candidate {
    std::uint32_t number;
    std::size_t group;  // counts owners in pid order
    bool hasBounds;
    std::optional<CGRect> bounds;
  };
  std::vector<Candidate> candidates;
  candidates.reserve(static_cast<std::size_t>(position));
  std::size_t groupIndex = 0;
  for (const auto& [pid, group] : cgWindows_) {
    for (const Listed& entry : group) {
      if (entry.number) candidates.push_back({*entry.number, groupIndex, entry.hasBounds, entry.bounds});
    }
    ++groupIndex;
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.number < b.number; });
  bounds_.reserve(candidates.size());
  for (std::size_t i = 0; i < candidates.size();) {
    // One number's entries, owners in pid order and each owner's in list order.
    std::size_t end = i;
    while (end < candidates.size() && candidates[end].number == candidates[i].number) ++end;
    for (std::size_t k = i; k < end; ++k) {
      const bool firstOfOwner = k == i || candidates[k - 1].group != candidates[k].group;
      if (firstOfOwner && candidates[k].hasBounds) {
        bounds_.emplace_back(candidates[k].number, candidates[k].bounds);
        break;
      }
    }
    i = end;
  }
  currentSpaces_ = Private::currentSpaces();
  fullScreenSpaces_ = Private::fullScreenSpaces();
}

std::optional<CGRect> WindowSnapshot::bounds(std::uint32_t window) const {
  const auto found = std::lower_bound(bounds_.begin(), bounds_.end(), window,
                                      [](const auto& entry, std::uint32_t number) { return entry.first < number; });
  return found == bounds_.end() || found->first != window ? std::nullopt : found->second;
}

const std::vector<std::int64_t>& WindowSnapshot::spaces(std::uint32_t window) const {
  auto found = spaces_.find(window);
  if (found == spaces_.end()) found = spaces_.emplace(window, Private::spaces(window)).first;
  return found->second;
}

bool WindowSnapshot::isFullScreen(std::optional<std::uint32_t> window) const {
  if (!window || fullScreenSpaces_.empty()) return false;
  return sharesAny(spaces(*window), fullScreenSpaces_);
}

std::vector<WindowInfo> WindowSnapshot::windows(const NSRunningApplication& app, bool titledOnly) const {
  Reported reported = reportedWindows(*this, app);
  const bool hidden = app.isHidden();
  std::vector<ListedWindow> listed = listedWindows(*this, app.processIdentifier(), reported, hidden, titledOnly);
  std::vector<WindowInfo> result = std::move(reported.windows);
  addWithoutCompanions(result, std::move(listed), hidden);
  std::stable_sort(result.begin(), result.end(), [](const WindowInfo& a, const WindowInfo& b) {
    if (!a.windowID || !b.windowID) return a.windowID.has_value() && !b.windowID.has_value();
    return *a.windowID < *b.windowID;
  });
  return result;
}

bool WindowSnapshot::mayHaveWindows(std::int32_t pid) const {
  auto group = cgWindows_.find(pid);
  if (group == cgWindows_.end()) return false;
  for (const Listed& entry : group->second) {
    const auto number = entry.number;
    const auto alpha = entry.alpha;
    if (!number || !alpha || !(*alpha > 0) || !entry.large) continue;
    if (Private::isOrderedIn(*number)) return true;
  }
  return false;
}

std::vector<WindowInfo> WindowSnapshot::ownWindows() const {
  std::vector<WindowInfo> result;
  const std::int32_t pid = NSProcessInfo::processInfo().processIdentifier();
  for (NSWindow* window : NSApplication::shared().windows()) {
    if (!(window->isVisible() || window->isMiniaturized())) continue;
    const NSWindowStyleMask style = window->styleMask();
    if (!(style & NSWindowStyleMaskTitled)) continue;
    const auto number = static_cast<std::uint32_t>(window->windowNumber());
    std::optional<std::string> title;
    if (!window->title().empty()) title = window->title();
    result.emplace_back(pid, number, nullptr, std::move(title), window->isMiniaturized(),
                        (style & NSWindowStyleMaskFullScreen) != 0, bounds(number));
  }
  return result;
}

}  // namespace trelliq
