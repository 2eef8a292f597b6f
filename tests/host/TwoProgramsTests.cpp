// Two copies of the program on one home see one desk: the menu-bar program runs as a real
// process attached to a host, and a second program (this test, attached as another
// process of the world) presses ⌘⇥ at the HID level and watches what a user would.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <fstream>
#include <string>

#include "HostProcess.h"
#include "platform/CGEvent.h"
#include "platform/sim/Scenario.h"

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

/// The real processes of the program running on `home` (a copy started by another one is
/// nobody's child here).
std::vector<pid_t> programsOn(const std::string& home) {
  std::vector<pid_t> found;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path() / "exe", error) != std::filesystem::path(TRELLIQ_PROGRAM)) continue;
    const std::string environment = fileText((entry.path() / "environ").string());
    if (environment.find(std::string("TRELLIQ_HOME=") + home + '\0') == std::string::npos) continue;
    found.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return found;
}

/// The push buttons drawn in `picture`: rectangles mostly of the buttons' grey fill, at
/// least 40 pixels wide and 14 to 32 high (the controls' text makes holes in them).
std::vector<QRect> buttonsIn(const QImage& picture) {
  auto fill = [&](int x, int y) {
    const QRgb p = picture.pixel(x, y);
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    return qAlpha(p) == 255 && std::abs(r - g) <= 6 && std::abs(g - b) <= 6 && r >= 70 && r <= 120;
  };
  std::vector<QRect> buttons;
  std::vector<char> seen(static_cast<std::size_t>(picture.width() * picture.height()), 0);
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      if (seen[static_cast<std::size_t>(y * picture.width() + x)] || !fill(x, y)) continue;
      QRect part;
      int count = 0;
      std::vector<QPoint> stack{{x, y}};
      seen[static_cast<std::size_t>(y * picture.width() + x)] = 1;
      while (!stack.empty()) {
        const QPoint p = stack.back();
        stack.pop_back();
        part |= QRect(p, QSize(1, 1));
        ++count;
        for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
          const QPoint n = p + d;
          if (n.x() < 0 || n.y() < 0 || n.x() >= picture.width() || n.y() >= picture.height()) continue;
          char& mark = seen[static_cast<std::size_t>(n.y() * picture.width() + n.x())];
          if (mark || !fill(n.x(), n.y())) continue;
          mark = 1;
          stack.push_back(n);
        }
      }
      if (part.width() >= 40 && part.height() >= 14 && part.height() <= 32 &&
          count * 2 > part.width() * part.height())
        buttons.push_back(part);
    }
  }
  return buttons;
}

/// The built-in desk with `permissions` merged into its own, and `preferences` into its
/// preferences, as a scenario file in `folder`; its path.
std::string deskWith(const std::string& folder, const nlohmann::json& permissions,
                     const nlohmann::json& preferences = nlohmann::json::object()) {
  nlohmann::json desk = nlohmann::json::parse(sim::defaultScenarioText(), nullptr, true, true);
  desk["permissions"].merge_patch(permissions);
  desk["preferences"].merge_patch(preferences);
  const std::string path = folder + "/desk.json";
  std::ofstream(path) << desk.dump();
  return path;
}

// A host, the menu-bar program as a real process attached to it, and this test attached
// as a second program that acts as the user and looks on.
class TwoProgramsTest : public testing::Test {
 protected:
  using Onlooker = ProgramOnHost::Onlooker;
  /// Starts the host (with `hostArguments`) and the program (with `programArguments`),
  /// waits until the program has launched, and attaches this test unless told not to.
  void startCopies(std::vector<std::string> hostArguments = {}, std::vector<std::string> programArguments = {},
                   Onlooker onlooker = Onlooker::attached) {
    ASSERT_EQ(stage.start(std::move(hostArguments), std::move(programArguments), onlooker), "");
    if (onlooker == Onlooker::none) return;
    program = stage.copyOtherThan();
    ASSERT_NE(program, 0) << "the program is no process of the world";
  }
  std::string log() const { return stage.log(); }
  bool hotKeysOn() const { return ::hotKeysOn(*driver); }

  ProgramOnHost stage;
  Home& home = stage.home;
  std::optional<HostProcess>& host = stage.host;
  std::optional<ProgramProcess>& menuBar = stage.program;
  std::unique_ptr<host::RemoteMac>& driver = stage.driver;
  std::int32_t program = 0;
};

}  // namespace

TEST_F(TwoProgramsTest, OneCopysPanelsShowInTheOthersWindowListAndCaptureAndTheSwitchIsSeenByBoth) {
  ASSERT_NO_FATAL_FAILURE(startCopies());
  const auto before = driver->windowServer->frontmostApplication();
  ASSERT_TRUE(before);
  const auto screens = driver->system->screens();
  ASSERT_FALSE(screens.empty());
  const auto& first = screens.front();
  const int width = static_cast<int>(first.frame.size.width), height = static_cast<int>(first.frame.size.height);
  const CGImageRef quiet = driver->system->captureDisplay(first.displayID, width, height, false);
  ASSERT_TRUE(quiet);

  // One panel per display, in this program's window list.
  ASSERT_TRUE(holdCommandTab(*driver, program, [&] { return panelsOf(*driver, program).size() == screens.size(); }))
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
      << fileText(log()) << "\nits output:\n"
      << fileText(menuBar->output);
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

  menuBar->stop();
  const auto status = menuBar->wait();
  EXPECT_TRUE(status && WIFEXITED(*status)) << fileText(menuBar->output);
}

TEST_F(TwoProgramsTest, WhenTheHostGoesAwayTheProgramSaysSoAndEndsNonZero) {
  ASSERT_NO_FATAL_FAILURE(startCopies({}, {}, Onlooker::none));
  host->stop(SIGKILL);
  host->wait();
  const auto status = menuBar->wait();  // it ends by itself; nothing hangs
  ASSERT_TRUE(status && WIFEXITED(*status)) << fileText(menuBar->output);
  EXPECT_NE(WEXITSTATUS(*status), 0);
  EXPECT_NE(fileText(menuBar->output).find("the simulated Mac went away"), std::string::npos)
      << fileText(menuBar->output);
}

TEST_F(TwoProgramsTest, AProgramStartsTheHostOnDemandAndAScenarioForARunningOneIsRefused) {
  {
    ProgramProcess first(home.path);
    ASSERT_TRUE(eventually([&] { return fileText(log()).find("launched") != std::string::npos; }))
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

TEST_F(TwoProgramsTest, TheOtherCopysPreviewShowsThePictureOfTheSelectedWindow) {
  ASSERT_NO_FATAL_FAILURE(startCopies());
  const auto before = driver->windowServer->frontmostApplication();
  const auto screens = driver->system->screens();

  // The preview above the panels (the program's panel smaller than a display), as the
  // window server has it from the program, once the picture in it has faded in.
  QImage preview;
  QRect shown;
  const bool appeared = holdCommandTab(*driver, program, [&] {
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

TEST_F(TwoProgramsTest, TheTrackpadsDoubleTapFromTheScreenReachesTheAttachedCopy) {
  const nlohmann::json chosen = {{"app.ondrel.trelliq", {{"gesture", "threeFingerDoubleTap"}}}};
  ASSERT_NO_FATAL_FAILURE(startCopies({"--scenario", deskWith(home.path, nlohmann::json::object(), chosen)}));
  auto screen = attach(home.socket(), host::AttachAs::screen);
  ASSERT_TRUE(screen);
  // F5 on the screen: answered false until the copy reads the trackpad.
  ASSERT_TRUE(eventually([&] { return screen->connection->call("screenDoubleTap", 3) == nlohmann::json(true); }))
      << fileText(log());
  const auto screens = driver->system->screens();
  EXPECT_TRUE(eventually([&] { return panelsOf(*driver, program).size() == screens.size(); }))
      << "the double tap did not open the copy's switcher; its log:\n"
      << fileText(log());
  EXPECT_NE(fileText(log()).find("gesture: double-tap with three fingers"), std::string::npos) << fileText(log());
}

TEST_F(TwoProgramsTest, RestartTrelliqStartsANewProcessThatHoldsCommandTabWithTheWindowThatWasShowing) {
  // Screen recording is granted the moment it is asked for, and a running program learns
  // of it only by starting again: the Permissions window then offers the restart.
  const nlohmann::json permissions = {{"accessibility", true}, {"screenCapture", false}, {"screenCaptureOnRequest", true}};
  ASSERT_NO_FATAL_FAILURE(startCopies({"--scenario", deskWith(home.path, permissions)}, {"--show-permissions"}));
  auto permissionsWindow = [&](std::int32_t pid) {
    std::optional<platform::WindowEntry> found;
    for (const auto& w : driver->windowServer->windowList()) {
      if (w.ownerPID == pid && w.name == "Welcome to Trelliq" && w.onScreen) found = w;
    }
    return found;
  };
  ASSERT_TRUE(eventually([&] { return permissionsWindow(program).has_value(); })) << fileText(log());
  // A picture of the copy's Permissions window, as the window server has it from the copy.
  auto windowPicture = [&](std::int32_t pid, platform::WindowEntry& entry) {
    const auto w = permissionsWindow(pid);
    if (!w) return QImage();
    entry = *w;
    const CGImageRef shot = driver->windowServer->captureWindowPicture(w->number, static_cast<int>(w->bounds.width()),
                                                                      static_cast<int>(w->bounds.height()));
    return shot ? shot->qimage() : QImage();
  };
  // The button in the Screen Recording card: the one above the footer's.
  auto cardButton = [&](const QImage& picture) -> std::optional<QRect> {
    const auto buttons = buttonsIn(picture);
    if (buttons.empty()) return std::nullopt;
    int footer = 0;
    for (const QRect& b : buttons) footer = std::max(footer, b.top());
    std::optional<QRect> found;
    for (const QRect& b : buttons) {
      if (b.bottom() < footer) found = b;
    }
    return found;
  };
  // The user allows screen recording in System Settings (and this test may now look at
  // the copy's windows). The copy, still without it, marks it granted and offers to
  // restart: its card's button stands after a green "Granted".
  driver->system->requestScreenCaptureAccess();
  ASSERT_TRUE(driver->system->screenCaptureAllowed());
  platform::WindowEntry window;
  std::optional<QRect> restart;
  QImage picture;
  auto grantedBefore = [&](const QRect& button) {
    for (int y = button.top(); y <= button.bottom(); ++y) {
      for (int x = 0; x < button.left(); ++x) {
        const QRgb p = picture.pixel(x, y);
        if (qGreen(p) > qRed(p) + 60 && qGreen(p) > qBlue(p) + 30) return true;
      }
    }
    return false;
  };
  ASSERT_TRUE(eventually([&] {
    picture = windowPicture(program, window);
    restart = picture.isNull() ? std::nullopt : cardButton(picture);
    return restart && grantedBefore(*restart);
  })) << "no \"Restart Trelliq\" button";

  // Pressed as a user does: the pointer over it, a click.
  const double scale = window.bounds.width() / picture.width();
  const CGPoint at(window.bounds.minX() + restart->center().x() * scale,
                   window.bounds.minY() + restart->center().y() * scale);
  for (CGEventType type : {kCGEventMouseMoved, kCGEventLeftMouseDown, kCGEventLeftMouseUp}) {
    CGEvent e;
    e.type = type;
    e.location = at;
    if (type != kCGEventMouseMoved) e.integerFields[kCGMouseEventClickState] = 1;
    driver->windowServer->postEvent(kCGHIDEventTap, e);
  }
  const pid_t old = menuBar->pid;
  const auto status = menuBar->ended(std::chrono::seconds(60));
  ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << fileText(menuBar->output) << fileText(log());

  // A new process of the program, on the same home and world, with the window that was
  // showing (a window of its own), holding ⌘⇥ (the old one gave it back as it quit).
  std::vector<pid_t> relaunched;
  EXPECT_TRUE(eventually(
      [&] {
        relaunched = programsOn(home.path);
        const auto shown = permissionsWindow(program);
        return relaunched.size() == 1 && relaunched.front() != old && shown && shown->number != window.number &&
               !hotKeysOn();
      },
      std::chrono::seconds(60)))
      << relaunched.size() << " copies on the home; the log:\n"
      << fileText(log()) << "\noutput:\n"
      << fileText(menuBar->output);
  for (pid_t pid : relaunched) ::kill(pid, SIGTERM);
  EXPECT_TRUE(eventually([&] { return programsOn(home.path).empty(); })) << "the new copy did not stop";
}
