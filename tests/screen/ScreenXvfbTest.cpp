// The simulated Mac's screen used as a person would, under a virtual X server: a host, the
// program and the screen run as their own processes; keys go in through X (xdotool), and
// what the screen's window shows is grabbed from the X server.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/host/Channel.h"
#include "platform/host/Remote.h"
#include "platform/screen/ScreenLayout.h"
#include "platform/screen/ScreenWindow.h"
#include "platform/sim/World.h"

namespace {

// Large enough that a point is over half a pixel of the screen's window, so a one-point
// insertion point shows.
constexpr int kWidth = 2400, kHeight = 1340;
constexpr std::int32_t kPanelLayer = 101, kMenuLayer = 101, kStatusLayer = 25;
// The middle of Preferences' "Show tile names" pop-up, from its window's top left, once
// five notches of the wheel at kFormMiddle have scrolled the form 300 points.
constexpr CGPoint kFormMiddle{307, 400}, kNamesButton{508, 664};

std::string binaries() {
  const char* dir = std::getenv("TRELLIQ_BIN");
  return dir ? dir : "src";
}

// Waits for `done` with a generous cap: the machine may be loaded.
bool waitFor(const std::function<bool()>& done, int capMs = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < capMs) {
    if (done()) return true;
    QThread::msleep(50);
  }
  return done();
}

std::string xdo(const QStringList& args) {
  QProcess p;
  p.start("xdotool", args);
  p.waitForFinished(30000);
  return p.readAllStandardOutput().trimmed().toStdString();
}

class Screen : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "tests_screen";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);
  }

  void SetUp() override {
    char folder[] = "/tmp/trelliq-screen-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    home_ = folder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TRELLIQ_HOME", QString::fromStdString(home_));
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    QProcessEnvironment offscreen = env;
    offscreen.insert("QT_QPA_PLATFORM", "offscreen");
    start(host_, binaries() + "/simmac", {}, offscreen);
    const std::string socket = host::endpointFor(home_).socket;
    ASSERT_TRUE(waitFor([&] {
      // The test looks on as the screen does: it is no program of the world.
      auto attached = host::RemoteMac::attach(socket, nullptr, host::AttachAs::screen);
      if (auto* mac = std::get_if<std::unique_ptr<host::RemoteMac>>(&attached)) mac_ = std::move(*mac);
      return mac_ != nullptr;
    })) << "the host never answered";
    // The test looks on as the screen does: it is no program of the world.
    mac_->connection->call("screenAttach");
    QProcessEnvironment program = env;
    if (programPlatform_.isEmpty()) program.remove("QT_QPA_PLATFORM");
    else program.insert("QT_QPA_PLATFORM", programPlatform_);
    if (!programDisplay_.isEmpty()) program.insert("DISPLAY", programDisplay_);
    start(program_, binaries() + "/trelliq", programArgs_, program);
    QProcessEnvironment xcb = env;
    xcb.insert("QT_QPA_PLATFORM", "xcb");
    // TRELLIQ_SCREEN_SIZE (WxH) sizes the window otherwise (the X screen must hold it).
    const char* size = std::getenv("TRELLIQ_SCREEN_SIZE");
    start(screen_, binaries() + "/simscreen",
          {"--size", size ? QString(size) : QString("%1x%2").arg(kWidth).arg(kHeight)}, xcb);
    window_ = xdo({"search", "--sync", "--name", "Simulated Mac"});
    ASSERT_FALSE(window_.empty());
    xdo({"windowfocus", "--sync", QString::fromStdString(window_)});
    displays_ = screen::topLeftFrames(mac_->system->screens());
    ASSERT_GE(displays_.size(), 2u);
  }

  void TearDown() override {
    // What the program wrote down, for whoever reads a failure.
    if (HasFailure()) {
      QFile log(QString::fromStdString(home_ + "/Library/Logs/Trelliq.log"));
      if (log.open(QIODevice::ReadOnly)) std::cerr << "---- the program's log ----\n" << log.readAll().toStdString();
    }
    xdo({"keyup", "ctrl"});
    for (QProcess* p : {&screen_, &program_, &host_}) {
      if (p->state() == QProcess::NotRunning) continue;
      p->terminate();
      if (!p->waitForFinished(15000)) p->kill();
      p->waitForFinished(5000);
    }
    mac_.reset();
    QProcess::execute("rm", {"-rf", QString::fromStdString(home_)});
  }

  void start(QProcess& p, const std::string& path, const QStringList& args, const QProcessEnvironment& env) {
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QString::fromStdString(path), args);
    ASSERT_TRUE(p.waitForStarted(10000)) << path;
  }

  QImage grab() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(std::stoul(window_)).toImage().convertToFormat(QImage::Format_RGB32)
                  : QImage();
  }

  // The screen's window once it shows the last change: two grabs a refresh apart alike.
  QImage settled() {
    QImage now = grab(), last;
    waitFor(
        [&] {
          QThread::msleep(100);
          last = std::exchange(now, grab());
          return now == last;
        },
        10000);
    return now;
  }

  // With TRELLIQ_SCREEN_SHOTS set, `picture` (else the screen's window once settled) is
  // kept there as NAME.png for a person to look at; the reference pictures are made so.
  void keep(const char* name, const QImage& picture = QImage()) {
    const char* folder = std::getenv("TRELLIQ_SCREEN_SHOTS");
    if (!folder) return;
    EXPECT_TRUE((picture.isNull() ? settled() : picture).save(QString(folder) + "/" + name + ".png")) << name;
  }

  // Clicks desk point `at` once the screen shows something there that `before` did not
  // (as a person clicks what they see), keeping that picture as `picture`; false when
  // nothing new comes there.
  bool clickOnceDrawn(CGPoint at, const QImage& before, const char* picture = nullptr) {
    QImage now;
    if (!waitFor([&] { return changedNear(before, now = grab(), at); })) return false;
    if (picture) keep(picture);
    click(at, now);
    return true;
  }

  // The program's panels on screen, by the window list.
  std::vector<platform::WindowEntry> panels() {
    std::vector<platform::WindowEntry> found;
    for (const auto& e : mac_->windowServer->windowList()) {
      if (e.layer == kPanelLayer && e.onScreen && e.alpha > 0) found.push_back(e);
    }
    return found;
  }

  // A click of the pointer at a desk point, where the screen's window shows it.
  void click(CGPoint desk, const QImage& grabbed) {
    const QPoint at = onScreen(desk, grabbed);
    xdo({"mousemove", "--window", QString::fromStdString(window_), QString::number(at.x()), QString::number(at.y())});
    xdo({"click", "1"});
  }

  // The program's status item in the built-in display's menu bar, once it shows.
  std::optional<platform::WindowEntry> statusItem() {
    std::optional<platform::WindowEntry> item;
    waitFor([&] {
      for (const auto& e : mac_->windowServer->windowList())
        if (e.layer == kStatusLayer && e.ownerName == std::string("Trelliq") && e.onScreen &&
            displays_[0].frame.contains(CGPoint{e.bounds.midX(), e.bounds.midY()}))
          item = e;
      return item.has_value();
    });
    return item;
  }

  // The status item's menu while it is open.
  std::optional<platform::WindowEntry> menu() {
    for (const auto& e : mac_->windowServer->windowList())
      if (e.layer == kMenuLayer && e.ownerName == std::string("Trelliq") && e.onScreen &&
          e.bounds.height() < displays_[0].frame.height() / 2)
        return e;
    return std::nullopt;
  }

  // Clicks the status item until its menu opens (the program may still be starting).
  bool openMenu(const platform::WindowEntry& item) {
    return waitFor([&] {
      click(CGPoint{item.bounds.midX(), item.bounds.midY()}, grab());
      return waitFor([&] { return menu().has_value(); }, 3000);
    });
  }

  // The window of that title while it is on screen.
  std::optional<platform::WindowEntry> shown(const std::string& title) {
    for (const auto& e : mac_->windowServer->windowList())
      if (e.name == title && e.onScreen) return e;
    return std::nullopt;
  }

  // Whether every display holds a panel the window list names.
  bool panelOnEveryDisplay() {
    const auto shown = panels();
    for (const auto& d : displays_) {
      const bool here = std::any_of(shown.begin(), shown.end(), [&](const platform::WindowEntry& e) {
        return d.frame.contains(CGPoint{e.bounds.midX(), e.bounds.midY()});
      });
      if (!here) return false;
    }
    return true;
  }

  // Where the screen's window shows a desk point (as the screen lays its displays out).
  QPoint onScreen(CGPoint desk, const QImage& grabbed) {
    const auto layout = screen::fit(displays_, grabbed.width(), grabbed.height() - screen::ScreenWindow::kFootHeight, 8);
    for (const auto& p : layout.displays) {
      if (!p.frame.contains(desk)) continue;
      return QPoint(static_cast<int>(p.area.minX() + (desk.x - p.frame.minX()) * layout.scale),
                    static_cast<int>(p.area.minY() + (desk.y - p.frame.minY()) * layout.scale));
    }
    return QPoint(-1, -1);
  }

  // Whether every display shows, in `now`, one of its panels drawn over what `rest` had:
  // a fair share of the panel's area looks different. (A panel may be as large as its
  // display with its glass in a strip across it.)
  bool panelsDrawnOnEveryDisplay(const QImage& rest, const QImage& now) {
    const auto shown = panels();
    for (const auto& d : displays_) {
      bool drawn = false;
      for (const auto& panel : shown) {
        const CGRect& b = panel.bounds;
        if (!d.frame.contains(CGPoint{b.midX(), b.midY()})) continue;
        int changed = 0, seen = 0;
        for (int i = 0; i < 40; ++i) {
          for (int k = 0; k < 40; ++k) {
            const QPoint at = onScreen(CGPoint{b.minX() + b.width() * (i + 0.5) / 40, b.minY() + b.height() * (k + 0.5) / 40}, now);
            if (!now.rect().contains(at) || !rest.rect().contains(at)) continue;
            ++seen;
            if (now.pixel(at) != rest.pixel(at)) ++changed;
          }
        }
        drawn = drawn || (seen > 0 && changed * 50 >= seen);
      }
      if (!drawn) return false;
    }
    return true;
  }

  // Whether `now` differs from `then` in a fair share of the pixels within 10 points of
  // desk point `at` (a name field opened there, say).
  bool changedNear(const QImage& then, const QImage& now, CGPoint at) {
    int changed = 0, seen = 0;
    for (int dx = -10; dx <= 10; dx += 2) {
      for (int dy = -10; dy <= 10; dy += 2) {
        const QPoint p = onScreen(CGPoint{at.x + dx, at.y + dy}, now);
        if (!now.rect().contains(p) || !then.rect().contains(p)) continue;
        ++seen;
        if (now.pixel(p) != then.pixel(p)) ++changed;
      }
    }
    return seen > 0 && changed * 4 >= seen;
  }

  // The rows of ink in `area` of `grabbed` (screen pixels), top to bottom: runs of pixel
  // rows where something much lighter than `area`'s most common colour is drawn (menu
  // entries' text on the menu's ground, say).
  static std::vector<std::pair<int, int>> inkRows(const QImage& grabbed, const QRect& area) {
    const QRect seen = area & grabbed.rect();
    std::vector<std::pair<int, int>> rows;
    if (seen.isEmpty()) return rows;
    std::map<int, int> grays;
    for (int y = seen.top(); y <= seen.bottom(); ++y)
      for (int x = seen.left(); x <= seen.right(); ++x) ++grays[qGray(grabbed.pixel(x, y))];
    const int ground =
        std::max_element(grays.begin(), grays.end(), [](const auto& a, const auto& b) { return a.second < b.second; })
            ->first;
    for (int y = seen.top(); y <= seen.bottom(); ++y) {
      bool ink = false;
      for (int x = seen.left(); x <= seen.right() && !ink; ++x) ink = qGray(grabbed.pixel(x, y)) > ground + 60;
      if (!ink) continue;
      if (!rows.empty() && rows.back().second == y - 1) {
        rows.back().second = y;
      } else {
        rows.emplace_back(y, y);
      }
    }
    return rows;
  }

  // A desk point's pixel in `grabbed` back to the desk (the inverse of onScreen).
  CGPoint onDesk(QPoint at, const QImage& grabbed) {
    const auto layout = screen::fit(displays_, grabbed.width(), grabbed.height() - screen::ScreenWindow::kFootHeight, 8);
    for (const auto& p : layout.displays) {
      if (!p.area.contains(CGPoint{double(at.x()), double(at.y())})) continue;
      return CGPoint{p.frame.minX() + (at.x() - p.area.minX()) / layout.scale,
                     p.frame.minY() + (at.y() - p.area.minY()) / layout.scale};
    }
    return CGPoint{-1, -1};
  }

  // The screen-pixel rectangle showing desk rectangle `desk` in `grabbed`.
  QRect onScreen(const CGRect& desk, const QImage& grabbed) {
    return QRect(onScreen(CGPoint{desk.minX(), desk.minY()}, grabbed),
                 onScreen(CGPoint{desk.maxX() - 1, desk.maxY() - 1}, grabbed));
  }

  // The keyboard layout X uses now ("us", "de"), as setxkbmap tells it; empty when it cannot.
  static std::string keyboardLayout() {
    QProcess p;
    p.start("setxkbmap", {"-query"});
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n'))
      if (line.startsWith("layout:")) return line.mid(7).trimmed().toStdString();
    return {};
  }

  // The insertion point of a field within desk rectangle `field` caught on: grabs are taken
  // until the field has been seen one way, another and the first again, the two apart only
  // in a bar a few pixels wide (the point blinks, so any one grab may catch it off). Pixels
  // a few levels apart count as alike: the screen's scaled picture of a redrawn strip may
  // differ so at the strip's edges. The grab with the bar drawn, the bar's column in it and
  // the right edge of the field's text, drawn as the bar is; nothing when no blink shows.
  struct Caret {
    QImage grabbed;
    int column = -1, textEnd = -1;
  };
  std::optional<Caret> caretShown(const CGRect& field) {
    auto apart = [](QRgb a, QRgb b) {
      return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))}) > 16;
    };
    auto alike = [&](const QImage& a, const QImage& b) {
      for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
          if (apart(a.pixel(x, y), b.pixel(x, y))) return false;
      return true;
    };
    std::vector<std::pair<QImage, QImage>> seen;  // a grab and its field, each unlike the one before
    std::optional<Caret> found;
    waitFor(
        [&] {
          QImage now = grab();
          const QRect box = onScreen(field, now);
          const QImage area = now.copy(box);
          if (!seen.empty() && alike(seen.back().second, area)) return false;
          seen.emplace_back(std::move(now), area);
          if (seen.size() < 3 || !alike(seen[seen.size() - 3].second, area)) return false;
          const QImage& other = seen[seen.size() - 2].second;
          int left = area.width(), right = -1, top = area.height(), bottom = -1;
          for (int y = 0; y < area.height(); ++y)
            for (int x = 0; x < area.width(); ++x)
              if (apart(area.pixel(x, y), other.pixel(x, y)))
                left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
          if (right < 0 || right - left > 4) return false;
          // Drawn is the one whose bar stands further from the field's ground just right of it.
          const QPoint middle((left + right) / 2, (top + bottom) / 2);
          const QPoint beside(std::min(right + 2, area.width() - 1), middle.y());
          auto contrast = [&](const QImage& image) { return qGray(image.pixel(middle)) - qGray(image.pixel(beside)); };
          const bool drawnNow = std::abs(contrast(area)) > std::abs(contrast(other));
          const QImage& off = drawnNow ? other : area;
          const int ground = qGray(off.pixel(beside));
          const int side = contrast(drawnNow ? area : other) > 0 ? 1 : -1;  // lighter or darker than the ground
          Caret caret{drawnNow ? seen.back().first : seen[seen.size() - 2].first, box.left() + middle.x(), box.left() - 1};
          for (int y = top; y <= bottom; ++y)
            for (int x = 0; x < off.width(); ++x)
              if ((qGray(off.pixel(x, y)) - ground) * side > 60) caret.textEnd = std::max(caret.textEnd, box.left() + x);
          found = caret;
          return true;
        },
        15000);
    return found;
  }

  // The open menu's last two entries, "Preferences…" and "Quit Trelliq" (a separator
  // between them), where the screen draws their text; nothing while the screen shows
  // what `rest` showed there.
  std::optional<std::pair<CGPoint, CGPoint>> lastMenuRows(const QImage& rest) {
    const auto open = menu();
    if (!open) return std::nullopt;
    const QImage now = grab();
    if (!changedNear(rest, now, CGPoint{open->bounds.midX(), open->bounds.midY()})) return std::nullopt;
    const QRect area = onScreen(open->bounds, now);
    const auto rows = inkRows(now, area.adjusted(2, 2, -area.width() / 3, -2));  // the titles' side
    if (rows.size() < 3) return std::nullopt;
    auto middle = [&](const std::pair<int, int>& row) {
      return CGPoint{open->bounds.midX(), onDesk(QPoint(area.center().x(), (row.first + row.second) / 2), now).y};
    };
    return std::pair{middle(rows[rows.size() - 2]), middle(rows.back())};
  }

  // Holds the mapped ⌘ and presses Tab until the switcher shows (the program may still be
  // starting when the first press comes).
  bool openSwitcher() {
    return waitFor(
        [&] {
          xdo({"keydown", "ctrl"});
          xdo({"key", "Tab"});
          if (waitFor([&] { return panelOnEveryDisplay(); }, 3000)) return true;
          // Not yet: cancel whatever began, so a later try starts from the same front app.
          xdo({"key", "Escape"});
          xdo({"keyup", "ctrl"});
          QThread::msleep(300);
          return false;
        },
        60000);
  }

  // The X windows mapped now, by id (none of the program's should be: its windows, menus and
  // tool tips are the simulated Mac's).
  static std::vector<std::string> mappedXWindows() {
    QProcess tree;
    tree.start("xwininfo", {"-root", "-children"});
    tree.waitForFinished(30000);
    std::vector<std::string> mapped;
    for (const QString& line : QString::fromUtf8(tree.readAllStandardOutput()).split('\n')) {
      const QString id = line.trimmed().section(' ', 0, 0);
      if (!id.startsWith("0x")) continue;
      QProcess one;
      one.start("xwininfo", {"-id", id});
      one.waitForFinished(30000);
      if (one.readAllStandardOutput().contains("Map State: IsViewable")) mapped.push_back(std::to_string(id.toULong(nullptr, 16)));
    }
    return mapped;
  }

  // How the program is started: as the screen's tests have it by default, off screen;
  // a test of what the program shows on X starts it on X, as ./run does.
  QString programPlatform_ = "offscreen";  // empty: none given
  QString programDisplay_;  // the X display the program is told of; empty: the screen's
  QStringList programArgs_;
  std::string home_;
  QProcess host_, program_, screen_;
  std::unique_ptr<host::RemoteMac> mac_;
  std::string window_;
  std::vector<screen::DisplayPlace> displays_;
};

TEST_F(Screen, TheMappedCommandTabShowsPanelsOnEveryDisplayAndReleaseSwitches) {
  const QImage rest = grab();
  ASSERT_FALSE(rest.isNull());
  ASSERT_TRUE(openSwitcher()) << "no panel on every display after the mapped ⌘⇥";
  // The front app while the switcher is up (a press made while the program was still
  // starting may have switched already).
  const auto before = mac_->windowServer->frontmostApplication();
  // The screen redraws the panels on every display from the world's pictures.
  QImage open;
  EXPECT_TRUE(waitFor([&] {
    open = grab();
    return panelsDrawnOnEveryDisplay(rest, open);
  }, 60000)) << "the screen's window does not show the panels";
  if (const char* keep = std::getenv("TRELLIQ_SCREEN_SHOTS")) {  // for a person to look at
    rest.save(QString(keep) + "/rest.png");
    open.save(QString(keep) + "/open.png");
  }

  xdo({"keyup", "ctrl"});
  EXPECT_TRUE(waitFor([&] { return panels().empty(); })) << "the panels stay after ⌘ is released";
  EXPECT_TRUE(waitFor([&] { return mac_->windowServer->frontmostApplication() != before; }))
      << "the chosen app did not come to the front";
}

TEST_F(Screen, AClickOnTheStatusItemOpensItsMenuAndItsKeysOpenPreferences) {
  const auto item = statusItem();
  ASSERT_TRUE(item) << "no status item of the program in the menu bar";
  const QImage rest = grab();
  ASSERT_TRUE(openMenu(*item)) << "a click on the status item opened no menu";
  const CGRect shownMenu = menu()->bounds;
  EXPECT_TRUE(waitFor([&] {
    const QImage now = grab();
    const QPoint inside = onScreen(CGPoint{shownMenu.midX(), shownMenu.midY()}, now);
    return now.rect().contains(inside) && now.pixel(inside) != rest.pixel(inside);
  })) << "the menu is not drawn on the screen";

  for (const char* key : {"Down", "Down", "Down", "Return"}) xdo({"key", key});
  EXPECT_TRUE(waitFor([&] { return shown("Trelliq Preferences").has_value(); }))
      << "the menu's \"Preferences…\" did not open Preferences";
  EXPECT_FALSE(menu()) << "choosing closes the menu";
}

// A person's first walk, by the pointer alone where a pointer serves: Preferences from the
// status menu, a setting changed, the guide opened from Preferences and closed by its close
// button, the switcher used, Preferences closed by its close button and the program quit
// from the menu. Menu entries are clicked where the screen shows their text; the rest at
// their places in the windows the window list reports, and the first desktop's name where
// the built-in desk draws it.
TEST_F(Screen, APersonsFirstWalkByThePointerEndsWithTheProgramGone) {
  const auto item = statusItem();
  ASSERT_TRUE(item);
  QImage before = settled();
  keep("screen-rest", before);
  ASSERT_TRUE(openMenu(*item));
  std::optional<std::pair<CGPoint, CGPoint>> rows;
  ASSERT_TRUE(waitFor([&] { return (rows = lastMenuRows(before)).has_value(); })) << "the menu's entries are not drawn";
  ASSERT_TRUE(clickOnceDrawn(rows->first, before, "screen-menu"));
  std::optional<platform::WindowEntry> preferences;
  ASSERT_TRUE(waitFor([&] { return (preferences = shown("Trelliq Preferences")).has_value(); }))
      << "a click on \"Preferences…\" did not open Preferences";

  // The middle card of the mode picker, "Window tiles".
  const CGRect frame = preferences->bounds;
  ASSERT_TRUE(clickOnceDrawn(CGPoint{frame.midX(), frame.minY() + 150}, before));
  EXPECT_TRUE(waitFor([&] {
    const auto tiles = mac_->system->preferenceValue(sim::World::kApplicationDomain, "tiles");
    return tiles && tiles->asString() && *tiles->asString() == "windows";
  })) << "the click on \"Window tiles\" did not store the mode";
  before = settled();
  keep("screen-preferences", before);

  // "Show Shortcuts", at the right of its row under the mode's overview.
  click(CGPoint{frame.maxX() - 96, frame.minY() + 583}, before);
  std::optional<platform::WindowEntry> guide;
  ASSERT_TRUE(waitFor([&] { return (guide = shown("Keyboard Shortcuts")).has_value(); }))
      << "\"Show Shortcuts\" did not open the guide";
  ASSERT_TRUE(clickOnceDrawn(CGPoint{guide->bounds.minX() + 20, guide->bounds.minY() + 14}, before, "screen-guide"))
      << "the guide's close button is not on the screen";
  EXPECT_TRUE(waitFor([&] { return !shown("Keyboard Shortcuts"); })) << "the guide's close button did not close it";

  // The switcher, steered; then the first desktop's label (under the first tile, the
  // desktop itself chosen) renamed by typing on a German keyboard, whose keys make ö and Ü.
  ASSERT_TRUE(openSwitcher());
  for (const char* key : {"Tab", "Right", "Left"}) xdo({"key", key});
  xdo({"key", "Escape"});
  xdo({"keyup", "ctrl"});
  EXPECT_TRUE(waitFor([&] { return panels().empty(); })) << "Escape left the switcher up";
  before = settled();
  const CGPoint label{420, 523};
  // Clicked once the panels are drawn, and again from the start should the field not open
  // (a loaded machine may still be laying the panel out when the pointer comes).
  ASSERT_TRUE(waitFor(
      [&] {
        if (!openSwitcher()) return false;
        QImage drawn;
        if (waitFor([&] { return changedNear(before, drawn = grab(), label); })) {
          keep("screen-panels");
          click(label, drawn);
          if (waitFor([&] { return changedNear(drawn, grab(), label); }, 5000)) return true;
        }
        xdo({"key", "Escape"});
        xdo({"keyup", "ctrl"});
        waitFor([&] { return panels().empty(); });
        return false;
      },
      120000))
      << "a click on the desktop's label did not open its name field";
  xdo({"keyup", "ctrl"});
  const std::string layout = keyboardLayout();
  ASSERT_FALSE(layout.empty()) << "setxkbmap cannot tell the keyboard layout (x11-xkb-utils, which scripts/setup.sh installs)";
  ASSERT_EQ(QProcess::execute("setxkbmap", {"de"}), 0) << "the German layout could not be set";
  ASSERT_EQ(keyboardLayout(), "de") << "the German layout did not take";
  xdo({"type", "--delay", "60", "Wörk Ü"});
  // The name as typed, with the insertion point after its last letter (a bar one point wide,
  // which a screen showing a point at under half a pixel averages away).
  const QImage typed = grab();
  const double perPoint =
      screen::fit(displays_, typed.width(), typed.height() - screen::ScreenWindow::kFootHeight, 8).scale;
  EXPECT_GE(perPoint, 0.5) << "the screen's window is too small to show an insertion point (TRELLIQ_SCREEN_SIZE)";
  if (perPoint >= 0.5) {
    const std::optional<Caret> caret = caretShown(CGRect(label.x - 70, label.y - 11, 140, 22));
    EXPECT_TRUE(caret) << "no insertion point blinks in the name field after typing";
    if (caret) {
      keep("screen-renaming", caret->grabbed);
      EXPECT_GE(caret->column, caret->textEnd - 1) << "the insertion point is not after the typed name";
    }
  }
  xdo({"key", "Return"});
  EXPECT_EQ(QProcess::execute("setxkbmap", {QString::fromStdString(layout)}), 0) << "the layout was not put back";
  EXPECT_TRUE(waitFor([&] {
    const auto names = mac_->system->preferenceValue(sim::World::kApplicationDomain, "spaceNames");
    const auto* all = names ? names->asDictionary() : nullptr;
    return all && std::any_of(all->begin(), all->end(), [](const auto& entry) {
             return entry.second.asString() && *entry.second.asString() == "Wörk Ü";
           });
  })) << "the desktop's new name was not stored as typed";
  EXPECT_TRUE(waitFor([&] { return panels().empty(); })) << "the switcher stayed after the name was given";
  ASSERT_TRUE(openSwitcher());
  waitFor([&] { return changedNear(before, grab(), label); });
  keep("screen-renamed");
  xdo({"key", "Escape"});
  xdo({"keyup", "ctrl"});
  EXPECT_TRUE(waitFor([&] { return panels().empty(); }));

  before = settled();
  preferences = shown("Trelliq Preferences");
  ASSERT_TRUE(preferences);
  click(CGPoint{preferences->bounds.minX() + 20, preferences->bounds.minY() + 14}, before);
  EXPECT_TRUE(waitFor([&] { return !shown("Trelliq Preferences"); })) << "Preferences' close button did not close it";

  before = settled();
  ASSERT_TRUE(openMenu(*item));
  ASSERT_TRUE(waitFor([&] { return (rows = lastMenuRows(before)).has_value(); })) << "the menu's entries are not drawn";
  ASSERT_TRUE(clickOnceDrawn(rows->second, before));
  EXPECT_TRUE(program_.waitForFinished(60000)) << "\"Quit Trelliq\" did not end the program";
  EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program_.exitCode(), 0);
  EXPECT_TRUE(waitFor([&] {
    const auto front = mac_->windowServer->frontmostApplication();
    return front && *front != item->ownerPID;
  })) << "the menu bar still names the program that quit";
}

// An X display whose socket nobody serves: a client that opens a connection to it is seen.
class UnservedX {
 public:
  UnservedX() {
    for (int n = 900; n < 1000 && fd_ < 0; ++n) {
      const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
      if (access(path.c_str(), F_OK) == 0) continue;
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
        close(fd);
        continue;
      }
      fd_ = fd;
      path_ = path;
      display_ = QString(":%1").arg(n);
    }
  }
  ~UnservedX() {
    if (fd_ < 0) return;
    close(fd_);
    unlink(path_.c_str());
  }
  const QString& display() const { return display_; }
  /// Whether a client connected since the last call.
  bool connected() {
    const int client = accept(fd_, nullptr, nullptr);
    if (client < 0) return false;
    close(client);
    return true;
  }

 private:
  int fd_ = -1;
  std::string path_;
  QString display_;
};

// The program started as ./run starts it on a Linux desktop: nothing says how Qt should
// draw, and DISPLAY names an X server (here one that only notes who connects).
class ProgramBesideX : public Screen {
 protected:
  void SetUp() override {
    ASSERT_FALSE(x_.display().isEmpty()) << "no free X display number for the test's socket";
    programPlatform_ = "";
    programDisplay_ = x_.display();
    Screen::SetUp();
  }
  UnservedX x_;
};

// Everything the program draws goes through the simulated Mac: it never opens a
// connection to the Linux desktop's display server, only the screen does.
TEST_F(ProgramBesideX, TheProgramNeverConnectsToX) {
  const bool up = statusItem().has_value();
  EXPECT_FALSE(x_.connected()) << "the program connected to the X server";
  EXPECT_TRUE(up) << "the program never put up its status item";
}

// The program on the X server, as ./run starts it, with Preferences open.
class ScreenWithProgramOnX : public Screen {
 protected:
  void SetUp() override {
    programPlatform_ = "xcb";
    programArgs_ = {"--show-preferences"};
    Screen::SetUp();
  }
};

// "Show tile names" in Preferences: the screen shows its menu's two entries over the pop-up
// button, the chosen one on the button's line, and X has no window but the screen's; a
// click on the other entry stores it.
TEST_F(ScreenWithProgramOnX, APopUpOfPreferencesOpensOnTheScreenAtItsButton) {
  std::optional<platform::WindowEntry> preferences;
  ASSERT_TRUE(waitFor([&] { return (preferences = shown("Trelliq Preferences")).has_value(); }, 60000))
      << "--show-preferences opened no Preferences";
  const CGRect frame = preferences->bounds;
  const QPoint wheelAt = onScreen(CGPoint{frame.minX() + kFormMiddle.x, frame.minY() + kFormMiddle.y}, settled());
  xdo({"mousemove", "--window", QString::fromStdString(window_), QString::number(wheelAt.x()), QString::number(wheelAt.y())});
  for (int notch = 0; notch < 5; ++notch) xdo({"click", "5"});
  const QImage before = settled();
  const CGPoint button{frame.minX() + kNamesButton.x, frame.minY() + kNamesButton.y};
  std::optional<platform::WindowEntry> open;
  ASSERT_TRUE(waitFor([&] {
    click(button, grab());
    return waitFor([&] { return (open = menu()).has_value(); }, 3000);
  })) << "a click on the pop-up opened no menu window";
  EXPECT_TRUE(open->bounds.contains(button)) << "the menu opens over its button";
  std::vector<std::pair<int, int>> rows;
  QImage now;
  ASSERT_TRUE(waitFor([&] {
    now = grab();
    const QRect area = onScreen(open->bounds, now);
    rows = inkRows(now, area.adjusted(2, 2, -2, -2));
    return changedNear(before, now, CGPoint{open->bounds.midX(), open->bounds.midY()}) && rows.size() == 2;
  })) << "the screen does not show the menu's two entries";
  keep("screen-popup", now);
  // "When focused" is chosen: the first entry is on the button's line, "Always" under it.
  const int across = onScreen(open->bounds, now).center().x();
  const double first = onDesk(QPoint(across, (rows[0].first + rows[0].second) / 2), now).y;
  const double second = onDesk(QPoint(across, (rows[1].first + rows[1].second) / 2), now).y;
  EXPECT_NEAR(first, button.y, 6);
  EXPECT_GT(second, button.y + 12);

  const std::vector<std::string> mapped = mappedXWindows();
  EXPECT_EQ(mapped, std::vector<std::string>{window_}) << "a window of the Linux desktop besides the screen's";

  click(CGPoint{button.x, second}, now);
  EXPECT_TRUE(waitFor([&] {
    const auto names = mac_->system->preferenceValue(sim::World::kApplicationDomain, "names");
    return names && names->asString() && *names->asString() == "always";
  })) << "a click on \"Always\" did not store it";
  EXPECT_TRUE(waitFor([&] { return !menu(); })) << "choosing closes the menu";
}

TEST_F(Screen, EscapeCancelsTheSwitcher) {
  ASSERT_TRUE(openSwitcher());
  const auto before = mac_->windowServer->frontmostApplication();
  xdo({"key", "Escape"});
  EXPECT_TRUE(waitFor([&] { return panels().empty(); })) << "Escape left the panels up";
  xdo({"keyup", "ctrl"});
  // Nothing changes once ⌘ is up: give the world a moment to act on a switch it should not make.
  QThread::msleep(500);
  EXPECT_EQ(mac_->windowServer->frontmostApplication(), before);
}

TEST_F(Screen, TheScreenSaysSoAndEndsWhenTheHostGoesAway) {
  host_.terminate();
  ASSERT_TRUE(host_.waitForFinished(20000));
  ASSERT_TRUE(screen_.waitForFinished(30000)) << "the screen kept running without its host";
  EXPECT_EQ(screen_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(screen_.exitCode(), 3);
}

}  // namespace

namespace {

TEST(ScreenWithoutHost, SaysSoAndEnds) {
  char folder[] = "/tmp/trelliq-screen-XXXXXX";
  ASSERT_TRUE(mkdtemp(folder));
  QProcess screen;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TRELLIQ_HOME", folder);
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.insert("ASAN_OPTIONS", "detect_leaks=0");  // the X plugin's own allocations are not ours
  screen.setProcessEnvironment(env);
  screen.start(QString::fromStdString(binaries() + "/simscreen"), {"--notice", "0.2"});
  ASSERT_TRUE(screen.waitForFinished(30000));
  EXPECT_EQ(screen.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(screen.exitCode(), 2);
  EXPECT_NE(screen.readAllStandardError().indexOf("No simulated Mac runs for"), -1);
  QProcess::execute("rm", {"-rf", folder});
}

}  // namespace
