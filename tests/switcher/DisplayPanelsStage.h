#pragma once
// The stage of the panel tests: a session held open with ⌘ on the default desk, the
// preview option chosen by the test, and helpers that play the panel views' part
// (reporting content and tile frames into a panel's geometry) and look at the windows
// the way the window server sees them.

#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SessionStage.h"
#include "ownwindows/OverlayPanel.h"
#include "platform/Foundation.h"
#include "platform/sim/WindowServer.h"
#include "workspace/Private.h"

namespace trelliq::panels {

using session::kCommand;
using session::kDocuments, session::kDraft, session::kSlateBuild;
using session::kFinderPID, session::kLumenPID, session::kQuillPID, session::kSlatePID;

// The default desk's screens in screen coordinates (bottom-left origin).
inline const CGRect kBuiltInFrame(0, 0, 1512, 982);
inline const CGRect kWideFrame(1512, 0, 2560, 1440);

constexpr std::uint32_t kReleaseNotes = 3102, kBudget = 5101;
constexpr std::int32_t kTallyPID = 304;

class PanelsStage : public session::SessionStage {
 protected:
  PanelsStage() { scene.windowServer.setPointer({700, 500}); }

  static void setPreview(const std::string& preview) { UserDefaults::standard().set("preview", preview); }

  /// ⌘ down and ⇥ pressed, ⌘ still held; `wait` later the panels have shown.
  void holdSession(double wait = 0.2) {
    startTap();
    modifiers(kCommand);
    press(SwitcherKeys::tab, kCommand);
    scene.clock.advance(wait);
  }

  PanelGeometry& geometry(int display) { return *switcher->panels().at(static_cast<std::size_t>(display)).geometry; }
  MouseView& mouseView(int display) { return *switcher->panels().at(static_cast<std::size_t>(display)).mouse; }

  /// The id of the tile of `pid` on display `display` (on `space` when given).
  std::string tileOf(std::int32_t pid, int display, std::optional<std::int64_t> space = std::nullopt) const {
    if (const DisplayGroup* g = switcher->model().display(display)) {
      for (const Cluster& c : g->clusters()) {
        if (space && c.space != *space) continue;
        for (const AppInfo& app : c.apps) {
          if (app.id == pid) return c.id;
        }
      }
    }
    return "";
  }

  /// A view's point (bottom-left origin, the panel's full size) from a panel-space point.
  CGPoint viewPoint(int display, CGPoint panelPoint) {
    return {panelPoint.x, mouseView(display).bounds().height() - panelPoint.y};
  }

  /// Window-server (top-left global) point of a panel-space point of display `display`.
  CGPoint globalPoint(int display, CGPoint panelPoint) {
    const CGRect screen = switcher->model().display(display)->screen.frame();
    const CGPoint bottomLeft{screen.minX() + panelPoint.x, screen.maxY() - panelPoint.y};
    return platform::flipPoint(bottomLeft, kBuiltInFrame.maxY());
  }

  /// A plain picture of the given size and colour.
  static CGImageRef picture(int width, int height, std::uint32_t argb = 0xFF336699) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(argb);
    return std::make_shared<const CGImage>(image);
  }

  /// The window server's entry of one of our windows.
  std::optional<sim::Window> served(const NSWindow& window) {
    return scene.windowServer.window(static_cast<std::uint32_t>(window.windowNumber()));
  }

  /// Full-resolution captures of one window so far.
  int fullCapturesOf(std::uint32_t window) {
    int count = 0;
    for (const sim::PrivateCall& call : scene.windowServer.privateCalls("SLSHWCaptureWindowList")) {
      const platform::PlistArray* asked = call.arguments.size() > 2 ? call.arguments[1].asArray() : nullptr;
      if (!asked || asked->empty() || asked->front().asInteger() != static_cast<std::int64_t>(window)) continue;
      if (call.arguments[2].asInteger() == 0x80900) ++count;
    }
    return count;
  }

  /// The log's entries, each with its continuation lines, without the time stamp.
  static std::vector<std::string> logEntries() {
    std::vector<std::string> entries;
    for (const std::string& line : perform::logFileLines()) {
      // Continuation lines carry no stamp ("HH:mm:ss.SSS ").
      const bool stamped = line.size() > 13 && line[2] == ':' && line[5] == ':' && line[8] == '.';
      if (stamped || entries.empty()) {
        entries.push_back(stamped ? line.substr(13) : line);
      } else {
        entries.back() += "\n" + line;
      }
    }
    return entries;
  }
  /// The entries starting with `prefix`.
  static std::vector<std::string> entriesStarting(const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& entry : logEntries()) {
      if (entry.rfind(prefix, 0) == 0) found.push_back(entry);
    }
    return found;
  }
};

}  // namespace trelliq::panels
