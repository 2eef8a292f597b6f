// Two copies of the program on one home see one desk: the menu-bar program runs as a real
// process attached to a host, and a second program (this test, attached as another
// process of the world) presses ⌘⇥ at the HID level and watches what a user would.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>

#include "HostProcess.h"
#include "platform/CGEvent.h"

namespace {

/// The other copy's display panels that show now (layer 101, on screen, each as large as
/// a display; the preview beside them is smaller).
std::vector<platform::WindowEntry> panelsOf(host::RemoteMac& mac, std::int32_t pid) {
  const auto screens = mac.system->screens();
  std::vector<platform::WindowEntry> panels;
  for (const auto& w : mac.windowServer->windowList()) {
    const bool displaySized = std::any_of(screens.begin(), screens.end(), [&](const auto& s) {
      return s.frame.size.width == w.bounds.width() && s.frame.size.height == w.bounds.height();
    });
    if (w.ownerPID == pid && w.layer == 101 && w.onScreen && w.alpha > 0 && displaySized) panels.push_back(w);
  }
  return panels;
}

/// The part of `picture` its opaque pixels span.
QRect opaquePart(const QImage& picture) {
  QRect part;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      if (qAlpha(picture.pixel(x, y)) == 255) part |= QRect(x, y, 1, 1);
    }
  }
  return part;
}

}  // namespace

TEST(TwoProgramsTest, OneCopysPanelsShowInTheOthersWindowListAndCaptureAndTheSwitchIsSeenByBoth) {
  Home home;
  HostProcess host(home.path);
  ASSERT_EQ(host.said, "ready");
  ProgramProcess menuBar(home.path);
  const std::string log = home.path + "/Library/Logs/Trelliq.log";
  ASSERT_TRUE(eventually([&] { return fileText(log).find("launched") != std::string::npos; }))
      << fileText(menuBar.output) << host.errors();

  auto driver = attach(home.socket());
  ASSERT_TRUE(driver);
  const std::int32_t self = driver->windowServer->ownProcessIdentifier();
  // The menu-bar program is the other process of the world with the program's bundle.
  std::int32_t program = 0;
  const auto selfInfo = driver->windowServer->application(self);
  ASSERT_TRUE(selfInfo);
  for (const auto& app : driver->windowServer->runningApplications()) {
    if (app.pid != self && app.bundleIdentifier == selfInfo->bundleIdentifier) program = app.pid;
  }
  ASSERT_NE(program, 0);
  const auto before = driver->windowServer->frontmostApplication();
  ASSERT_TRUE(before);
  const auto screens = driver->system->screens();
  ASSERT_FALSE(screens.empty());
  const auto& first = screens.front();
  const int width = static_cast<int>(first.frame.size.width), height = static_cast<int>(first.frame.size.height);
  const CGImageRef quiet = driver->system->captureDisplay(first.displayID, width, height, false);
  ASSERT_TRUE(quiet);

  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, kCGEventFlagMaskCommand));
  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyDown, kTab, kCGEventFlagMaskCommand));
  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyUp, kTab, kCGEventFlagMaskCommand));

  // One panel per display, in this program's window list.
  ASSERT_TRUE(eventually([&] { return panelsOf(*driver, program).size() == screens.size(); }))
      << panelsOf(*driver, program).size() << " panels; the program's windows:" <<
      [&] {
        std::string text;
        for (const auto& w : driver->windowServer->windowList()) {
          if (w.ownerPID != program) continue;
          text += "\n  " + std::to_string(w.number) + " layer " + std::to_string(w.layer) + " on " +
                  std::to_string(w.onScreen) + " alpha " + std::to_string(w.alpha) + " at " +
                  std::to_string(w.bounds.minX()) + "," + std::to_string(w.bounds.minY());
        }
        return text;
      }()
      << "\nits log:\n"
      << fileText(log) << "\nits output:\n"
      << fileText(menuBar.output);
  EXPECT_EQ(driver->windowServer->frontmostApplication(), before) << "nothing switches while ⌘ is held";

  const auto panels = panelsOf(*driver, program);
  const auto onFirst = std::find_if(panels.begin(), panels.end(),
                                    [&](const auto& w) { return w.bounds.intersects(first.frame); });
  ASSERT_NE(onFirst, panels.end());
  // The display picture shows the panel's content where it stands, once it has faded in.
  int changed = 0, looked = 0;
  auto compare = [&] {
    const CGImageRef shown = driver->system->captureDisplay(first.displayID, width, height, false);
    changed = looked = 0;
    if (!shown) return false;
    for (double y = onFirst->bounds.minY() + 4; y < onFirst->bounds.maxY() - 4; y += 7) {
      for (double x = onFirst->bounds.minX() + 4; x < onFirst->bounds.maxX() - 4; x += 7) {
        const int px = static_cast<int>(x - first.frame.minX()), py = static_cast<int>(y - first.frame.minY());
        if (px < 0 || py < 0 || px >= width || py >= height) continue;
        ++looked;
        if (shown->pixel(px, py) != quiet->pixel(px, py)) ++changed;
      }
    }
    return looked > 0 && changed > looked / 10;
  };
  EXPECT_TRUE(eventually(compare)) << changed << " of " << looked << " points show the panel";

  // Letting go of ⌘ switches: the world's one frontmost app changes, for every program.
  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, 0));
  ASSERT_TRUE(eventually([&] { return driver->windowServer->frontmostApplication() != before; }));
  const auto after = driver->windowServer->frontmostApplication();
  ASSERT_TRUE(after);
  EXPECT_NE(*after, program);
  EXPECT_TRUE(eventually([&] { return panelsOf(*driver, program).empty(); })) << "the panels go";

  menuBar.stop();
  const auto status = menuBar.wait();
  EXPECT_TRUE(status && WIFEXITED(*status)) << fileText(menuBar.output);
}

TEST(TwoProgramsTest, WhenTheHostGoesAwayTheProgramSaysSoAndEndsNonZero) {
  Home home;
  HostProcess host(home.path);
  ASSERT_EQ(host.said, "ready");
  ProgramProcess menuBar(home.path);
  const std::string log = home.path + "/Library/Logs/Trelliq.log";
  ASSERT_TRUE(eventually([&] { return fileText(log).find("launched") != std::string::npos; }))
      << fileText(menuBar.output);
  host.stop(SIGKILL);
  host.wait();
  const auto status = menuBar.wait();  // it ends by itself; nothing hangs
  ASSERT_TRUE(status && WIFEXITED(*status)) << fileText(menuBar.output);
  EXPECT_NE(WEXITSTATUS(*status), 0);
  EXPECT_NE(fileText(menuBar.output).find("the simulated Mac went away"), std::string::npos) << fileText(menuBar.output);
}

TEST(TwoProgramsTest, AProgramStartsTheHostOnDemandAndAScenarioForARunningOneIsRefused) {
  Home home;
  {
    ProgramProcess first(home.path);
    const std::string log = home.path + "/Library/Logs/Trelliq.log";
    ASSERT_TRUE(eventually([&] { return fileText(log).find("launched") != std::string::npos; }))
        << fileText(first.output);
    EXPECT_TRUE(std::filesystem::exists(home.socket())) << "the program started a host for its home";

    ProgramProcess second(home.path, {"--scenario", "/nonexistent.json", "--dump", home.path + "/desk.txt"});
    const auto status = second.wait();
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_NE(WEXITSTATUS(*status), 0);
    EXPECT_NE(fileText(second.output).find("already runs"), std::string::npos) << fileText(second.output);
  }
  // The program is gone; the host it started follows a few seconds later and takes its
  // socket with it.
  EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(home.socket()); }));
}

TEST(TwoProgramsTest, TheOtherCopysPreviewShowsThePictureOfTheSelectedWindow) {
  Home home;
  HostProcess host(home.path);
  ASSERT_EQ(host.said, "ready");
  ProgramProcess menuBar(home.path);
  const std::string log = home.path + "/Library/Logs/Trelliq.log";
  ASSERT_TRUE(eventually([&] { return fileText(log).find("launched") != std::string::npos; }))
      << fileText(menuBar.output) << host.errors();
  auto driver = attach(home.socket());
  ASSERT_TRUE(driver);
  const std::int32_t self = driver->windowServer->ownProcessIdentifier();
  const auto selfInfo = driver->windowServer->application(self);
  ASSERT_TRUE(selfInfo);
  std::int32_t program = 0;
  for (const auto& app : driver->windowServer->runningApplications()) {
    if (app.pid != self && app.bundleIdentifier == selfInfo->bundleIdentifier) program = app.pid;
  }
  ASSERT_NE(program, 0);
  const auto before = driver->windowServer->frontmostApplication();
  const auto screens = driver->system->screens();

  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, kCGEventFlagMaskCommand));
  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyDown, kTab, kCGEventFlagMaskCommand));
  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyUp, kTab, kCGEventFlagMaskCommand));
  // The preview above the panels (the program's panel smaller than a display), as the
  // window server has it from the program, once the picture in it has faded in.
  QImage preview;
  QRect shown;
  const bool appeared = eventually([&] {
    for (const auto& w : driver->windowServer->windowList()) {
      const bool displaySized = std::any_of(screens.begin(), screens.end(), [&](const auto& s) {
        return s.frame.size.width == w.bounds.width() && s.frame.size.height == w.bounds.height();
      });
      if (w.ownerPID != program || w.layer != 101 || !w.onScreen || displaySized) continue;
      const CGImageRef picture = driver->windowServer->captureWindowPicture(
          w.number, static_cast<int>(w.bounds.width()), static_cast<int>(w.bounds.height()));
      preview = picture ? picture->qimage() : QImage();
      shown = opaquePart(preview);
      if (shown.width() > 100 && shown.height() > 60) return true;
    }
    return false;
  });
  ASSERT_TRUE(appeared) << "the preview shows no picture";

  // Letting go of ⌘ brings the selected window to the front: the one the preview showed.
  driver->windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, 0));
  ASSERT_TRUE(eventually([&] { return driver->windowServer->frontmostApplication() != before; }));
  const auto front = driver->windowServer->frontmostApplication();
  std::optional<platform::WindowEntry> selected;
  for (const auto& w : driver->windowServer->windowList()) {
    if (!selected && front && w.ownerPID == *front && w.layer == 0 && w.onScreen) selected = w;
  }
  ASSERT_TRUE(selected);
  const CGImageRef whole = driver->windowServer->captureWindowPicture(
      selected->number, static_cast<int>(selected->bounds.width()), static_cast<int>(selected->bounds.height()));
  ASSERT_TRUE(whole);
  const QImage window = whole->qimage().scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  // Inside its rounded corners the preview holds the window's pixels, scaled.
  double difference = 0;
  int counted = 0;
  for (int y = 12; y < shown.height() - 12; y += 2) {
    for (int x = 12; x < shown.width() - 12; x += 2) {
      const QRgb p = preview.pixel(shown.x() + x, shown.y() + y), q = window.pixel(x, y);
      difference += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
      ++counted;
    }
  }
  EXPECT_LT(difference / counted, 12) << "the preview differs from window " << selected->number;
}
