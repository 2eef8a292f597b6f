#include "switcher/FullScreenFollower.h"

#include <string>
#include <utility>

#include "platform/AppKitWindows.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/SwitcherTiming.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"
#include "workspace/SpaceList.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {

FullScreenFollower::FullScreenFollower(Hooks hooks) : hooks_(std::move(hooks)) {}

void FullScreenFollower::wish(FullScreen change) {
  ++fullScreenMoves;
  fullScreenWanted = change;
}

void FullScreenFollower::follow(const AppInfo& app, const WindowInfo& window) {
  if (!window.windowID) return;
  const std::uint32_t number = *window.windowID;
  fullScreenPending = number;
  auto start = [this, life = life_.watch(), change = fullScreenWanted, app, window, number] {
    if (!life.lock()) return;
    askFullScreen(change, app, window);
    followFullScreen(number, app, window, platform::now() + SwitcherTiming::fullScreenWait);
  };
  // The app can only change a window on a showing Space: go there first.
  if (!Private::spaces(number).empty() && !onCurrentSpace(number) &&
      SpaceSwipe::jumpToSpaceOf(number, !Settings::instantSpaces(), [start](bool) { start(); })) {
    return;
  }
  start();
}

void FullScreenFollower::askFullScreen(FullScreen change, const AppInfo& app, const WindowInfo& window) {
  fullScreenAsked = change;
  // A slow app must not hold up the main thread; the program's own windows live there.
  const bool own = app.id == NSProcessInfo::processInfo().processIdentifier();
  platform::Executor& executor = own ? platform::mainQueue() : fullScreenQueue();
  executor.async([change, app, window] { setFullScreen(change, app, window); });
}

void FullScreenFollower::followFullScreen(std::uint32_t number, const AppInfo& app, const WindowInfo& window,
                                          double until) {
  platform::mainQueue().asyncAfter(
      SwitcherTiming::fullScreenPoll, [this, life = life_.watch(), number, app, window, until] {
        if (!life.lock()) return;
        const FullScreen asked = fullScreenAsked;
        if (!hooks_.sessionActive() && asked == fullScreenWanted) {
          fullScreenPending.reset();
          return;
        }
        if ((asked == FullScreen::enter) == onFullScreenSpace(number)) {
          platform::mainQueue().asyncAfter(SwitcherTiming::fullScreenSettle, [this, life, asked, number, app, window] {
            if (life.lock()) settleFullScreen(asked, number, app, window);
          });
        } else if (platform::now() > until) {
          platform::mainQueue().async([this, life, asked, number, app, window] {
            if (life.lock()) settleFullScreen(asked, number, app, window);
          });
        } else {
          followFullScreen(number, app, window, until);
        }
      });
}

void FullScreenFollower::settleFullScreen(FullScreen asked, std::uint32_t number, const AppInfo& app,
                                          const WindowInfo& window) {
  if (asked != fullScreenWanted) {
    askFullScreen(fullScreenWanted, app, window);
    followFullScreen(number, app, window, platform::now() + SwitcherTiming::fullScreenWait);
    return;
  }
  fullScreenPending.reset();
  hooks_.settled(number, fullScreenMoves);
}

void FullScreenFollower::setFullScreen(FullScreen change, const AppInfo& app, const WindowInfo& window) {
  if (!window.windowID) return;
  const bool on = change == FullScreen::enter;
  const std::uint32_t number = *window.windowID;

  if (app.id == NSProcessInfo::processInfo().processIdentifier()) {
    NSWindow* own = NSApplication::shared().windowWithWindowNumber(number);
    if (!own) return;
    const bool isFullScreen = (own->styleMask() & NSWindowStyleMaskFullScreen) != 0;
    if (isFullScreen != on) own->toggleFullScreen(nullptr);
    return;
  }

  AXUIElementRef application = AXUIElementCreateApplication(app.id);
  AXUIElementSetMessagingTimeout(application, static_cast<float>(SwitcherTiming::fullScreenMessagingTimeout));
  AXUIElementRef element;
  if (const auto windows = axAttr(application, kAXWindowsAttribute)) {
    if (const auto elements = windows->asElementArray()) {
      for (const AXUIElementRef& candidate : *elements) {
        if (Private::windowID(candidate) == number) {
          element = candidate;
          break;
        }
      }
    }
  }
  if (!element) element = window.element;
  if (!element) element = Private::axElement(app.id, number);
  if (!element) return;

  const AXError error = AXUIElementSetAttributeValue(element, kAXFullScreenAttribute, AXValue(on));
  if (error == kAXErrorSuccess) return;
  const std::string line = "couldn't take " + Diagnostics::escapeForeign(app.name) + " window " +
                           std::to_string(number) + " " + (on ? "into" : "out of") + " full screen: AX error " +
                           std::to_string(error);
  platform::mainQueue().async([line] { Diagnostics::log(line); });
}

bool FullScreenFollower::onFullScreenSpace(std::uint32_t number) {
  for (std::int64_t space : Private::spaces(number)) {
    const auto screen = Private::screenOfSpace(space);
    if (screen && screen->fullScreen) return true;
  }
  return false;
}

platform::Executor& FullScreenFollower::fullScreenQueue() {
  // Asked of the installed clock each time: a test installs a new clock per scene.
  return platform::clock().queue("fullScreen");
}

}  // namespace trelliq
