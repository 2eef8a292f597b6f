#include "switcher/NewWindowPlacer.h"

#include <algorithm>
#include <string>

#include "platform/Clock.h"
#include "workspace/Focus.h"
#include "workspace/ScreenGeometry.h"

namespace trelliq {

namespace {

/// The app's first standard window; null when it has none yet or does not answer.
AXUIElementRef firstStandardWindow(std::int32_t pid) {
  AXUIElementRef application = AXUIElementCreateApplication(pid);
  AXUIElementSetMessagingTimeout(application, static_cast<float>(NewWindowPlacer::messagingTimeout));
  const auto windows = axAttr(application, kAXWindowsAttribute);
  if (!windows) return nullptr;
  const auto elements = windows->asElementArray();
  if (!elements) return nullptr;
  for (const AXUIElementRef& window : *elements) {
    const auto subrole = axAttr(window, kAXSubroleAttribute);
    const std::string* text = subrole ? subrole->asString() : nullptr;
    if (text && *text == kAXStandardWindowSubrole) return window;
  }
  return nullptr;
}

}  // namespace

void NewWindowPlacer::bring(std::int32_t pid, const NSScreen& screen, double until) {
  platform::mainQueue().asyncAfter(lookInterval, [pid, screen, until] {
    if (AXUIElementRef window = firstStandardWindow(pid)) {
      move(window, screen);
      return;
    }
    if (platform::now() < until) bring(pid, screen, until);
  });
}

void NewWindowPlacer::bring(std::int32_t pid, const NSScreen& screen) {
  bring(pid, screen, platform::now() + defaultWait);
}

void NewWindowPlacer::move(const AXUIElementRef& window, const NSScreen& screen) {
  const auto positionValue = axAttr(window, kAXPositionAttribute);
  const auto sizeValue = axAttr(window, kAXSizeAttribute);
  const auto position = positionValue ? positionValue->asPoint() : std::nullopt;
  const auto size = sizeValue ? sizeValue->asSize() : std::nullopt;
  if (!position || !size) return;

  const double primaryTop = ScreenGeometry::primaryTop();
  const CGPoint centre =
      platform::flipPoint(CGPoint{position->x + size->width * 0.5, position->y + size->height * 0.5}, primaryTop);
  if (screen.frame().contains(centre)) return;

  // Centred in the visible frame, but never with its top-left corner above or left of it.
  const CGRect visible = screen.visibleFrame();
  const CGPoint origin{std::max(visible.minX(), visible.midX() - size->width * 0.5),
                       std::max(primaryTop - visible.maxY(), primaryTop - visible.midY() - size->height * 0.5)};
  AXUIElementSetAttributeValue(window, kAXPositionAttribute, AXValue(origin));
}

}  // namespace trelliq
