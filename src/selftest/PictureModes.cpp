#include "selftest/PictureModes.h"

#include <QAbstractScrollArea>
#include <QScrollBar>
#include <QWidget>
#include <algorithm>

#include "app/views/PermissionsWindow.h"
#include "guide/GuideWindow.h"
#include "platform/AppKitWindows.h"
#include "platform/Files.h"
#include "preferences/PreferencesWindow.h"
#include "selftest/Dispatch.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "settings/Settings.h"
#include "workspace/Private.h"

namespace trelliq {

double PictureModes::delay(const std::vector<std::string>& args, std::size_t index) {
  if (index >= args.size()) return kDefaultDelay;
  const std::optional<double> seconds = parseDecimal(args[index]);
  if (!seconds) return kDefaultDelay;
  return std::clamp(*seconds, 0.0, kLongestDelay);
}

int PictureModes::writeWindow(std::uint32_t window, const std::string& out, const std::string& what) {
  const CGImageRef image = Private::capture(window, true);
  if (!image) return ModeReport::failed("cannot capture " + what);
  const std::optional<std::vector<std::uint8_t>> png = image->pngData();
  if (!png) return ModeReport::failed("cannot encode the picture of " + what);
  return ModeReport::status(ModeReport::save(out, *png));
}

std::optional<std::uint32_t> PictureModes::windowTitled(const std::string& title) {
  for (const NSWindow* window : NSApp().windows()) {
    if (window->title() != title) continue;
    if (window->windowNumber() <= 0) return std::nullopt;
    return static_cast<std::uint32_t>(window->windowNumber());
  }
  return std::nullopt;
}

std::vector<QAbstractScrollArea*> PictureModes::scrollViews(QWidget* view) {
  if (!view) return {};
  if (auto* area = qobject_cast<QAbstractScrollArea*>(view)) return {area};
  std::vector<QAbstractScrollArea*> found;
  for (QObject* child : view->children()) {
    if (auto* widget = qobject_cast<QWidget*>(child)) {
      const std::vector<QAbstractScrollArea*> inner = scrollViews(widget);
      found.insert(found.end(), inner.begin(), inner.end());
    }
  }
  return found;
}

int PictureModes::screenshot(const std::string& out, const std::optional<std::string>& window) {
  if (window) {
    if (const std::optional<std::uint32_t> number = parseWindowNumber(*window)) {
      if (const CGImageRef image = Private::capture(*number, true)) {
        // An image that does not encode ends the mode without a file, and without the
        // screens in its place.
        const auto png = image->pngData();
        if (!png) return ModeReport::failed("cannot encode the picture of window " + std::to_string(*number));
        return ModeReport::status(ModeReport::save(out, *png));
      }
    }
  }
  return ModeReport::debugScreenshot(out).status("--screenshot");
}

int PictureModes::guideShot(const std::string& out, double delay, const std::optional<std::string>& topic) {
  NSApp().setActivationPolicy(NSApplicationActivationPolicyAccessory);
  Settings::registerDefaults();  // the legend and topics read options, as in the running program
  GuideWindow::shared().show(topic);
  ModeClock::pump(delay);
  const std::optional<std::uint32_t> window = windowTitled("Keyboard Shortcuts");
  if (!window) return ModeReport::failed("--guide-shot: the guide window is not on screen");
  return writeWindow(*window, out, "the guide window");
}

int PictureModes::permissionsShot(const std::string& out, double delay) {
  NSApp().setActivationPolicy(NSApplicationActivationPolicyAccessory);
  PermissionsWindow& permissions = PermissionsWindow::shared();
  permissions.show();
  ModeClock::pump(delay);
  const NSWindow* window = permissions.window();
  if (!window || window->windowNumber() <= 0)
    return ModeReport::failed("--permissions-shot: the Permissions window is not on screen");
  return writeWindow(static_cast<std::uint32_t>(window->windowNumber()), out, "the Permissions window");
}

int PictureModes::prefsShot(const std::string& out, double delay, FormEnd end) {
  NSApp().setActivationPolicy(NSApplicationActivationPolicyAccessory);
  Settings::registerDefaults();
  PreferencesWindow::shared().show();
  ModeClock::pump(delay);
  if (end == FormEnd::bottom) {
    const std::vector<NSWindow*> windows = NSApp().windows();
    QWidget* content = windows.empty() ? nullptr : windows.front()->contentView();
    if (content) {
      for (QAbstractScrollArea* area : scrollViews(content)) {
        QScrollBar* bar = area->verticalScrollBar();
        bar->setValue(bar->maximum());
      }
      ModeClock::pump(0.5);
    }
  }
  const std::optional<std::uint32_t> window = windowTitled(PreferencesWindow::title);
  if (!window) return ModeReport::failed("--prefs-shot: the Preferences window is not on screen");
  return writeWindow(*window, out, "the Preferences window");
}

std::vector<SelfTestMode> PictureModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--screenshot", "out [w]", optionalParsesAt(2, 2, isWindowNumber),
       [](const Args& args, std::size_t at) { return screenshot(args[at + 1], optionalAt(args, at, 2)); }},
      {"--guide-shot", "out [delay] [topic]", optionalParsesAt(2, 2, isDecimal),
       [](const Args& args, std::size_t at) {
         return guideShot(args[at + 1], delay(args, at + 2), optionalAt(args, at, 3));
       }},
      {"--permissions-shot", "out [delay]", optionalParsesAt(2, 2, isDecimal),
       [](const Args& args, std::size_t at) { return permissionsShot(args[at + 1], delay(args, at + 2)); }},
      {"--prefs-shot", "out [delay] [bottom]",
       both(optionalParsesAt(2, 2, isDecimal),
            optionalParsesAt(2, 3, [](const std::string& word) { return word == "bottom"; })),
       [](const Args& args, std::size_t at) {
         return prefsShot(args[at + 1], delay(args, at + 2),
                          optionalAt(args, at, 3) == "bottom" ? FormEnd::bottom : FormEnd::top);
       }},
  };
}

}  // namespace trelliq
