// A fresh program's first ⌘⇥ in window tiles with the full-screen preview, the program
// and its host as real processes: the panels come with their first picture before the
// preview's display-sized backdrops, whose making and filling holds the program's main
// thread for a good part of a second, and the session's own check finds them all shown.

#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "HostProcess.h"

namespace {

constexpr std::int32_t kBackdropLevel = 2, kPanelLevel = 101;

/// The on-screen window of world pid `pid` at `level` as large as display `screen`.
std::optional<platform::WindowEntry> displaySized(host::RemoteMac& mac, std::int32_t pid, std::int32_t level,
                                                  const platform::ScreenDescription& screen) {
  for (const platform::WindowEntry& w : mac.windowServer->windowList()) {
    if (w.ownerPID == pid && w.layer == level && w.onScreen && w.bounds.width() == screen.frame.width() &&
        w.bounds.height() == screen.frame.height())
      return w;
  }
  return std::nullopt;
}

/// Whether window `number`'s picture holds anything drawn (the panel's glass plate).
bool drawn(host::RemoteMac& mac, std::uint32_t number, const platform::ScreenDescription& screen) {
  const CGImageRef picture = mac.windowServer->captureWindowPicture(
      number, static_cast<int>(screen.frame.width()), static_cast<int>(screen.frame.height()));
  if (!picture) return false;
  const QImage image = picture->qimage().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); y += 2) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); x += 2)
      if (qAlpha(row[x]) > 0) return true;
  }
  return false;
}

TEST(FirstSessionThroughHostThreads, PanelsDrawnBeforeTheFullScreenPreviewsBackdropsCome) {
  ProgramOnHost stage;
  std::filesystem::create_directories(stage.home.path + "/Library/Preferences");
  std::ofstream(stage.home.path + "/Library/Preferences/app.ondrel.trelliq.plist")
      << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
         R"(<key>tiles</key><string>windows</string><key>preview</key><string>fullScreen</string></dict></plist>)";
  ASSERT_EQ(stage.start(), "");
  host::RemoteMac& mac = *stage.driver;
  const std::int32_t program = stage.copyOtherThan();
  const auto screens = mac.system->screens();
  ASSERT_FALSE(screens.empty());
  const platform::ScreenDescription& builtIn = screens.front();

  std::optional<platform::WindowEntry> backdrop;
  ASSERT_TRUE(holdCommandTab(mac, program, [&] {
    backdrop = displaySized(mac, program, kBackdropLevel, builtIn);
    return backdrop.has_value();
  })) << "the full-screen preview never came: " << fileText(stage.log());
  const auto panel = displaySized(mac, program, kPanelLevel, builtIn);
  ASSERT_TRUE(panel) << "a backdrop without its panel";
  EXPECT_TRUE(drawn(mac, panel->number, builtIn)) << "the backdrop came before the panel's first picture";

  ASSERT_TRUE(eventually([&] { return fileText(stage.log()).find("opened") != std::string::npos; }));
  const std::string log = fileText(stage.log());
  EXPECT_EQ(log.find("MISSING"), std::string::npos) << log;
  mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyDown, kEscape, kCGEventFlagMaskCommand));
  mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, 0));
}

}  // namespace
