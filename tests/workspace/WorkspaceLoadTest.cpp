// Loading a snapshot from the simulated window server: where windows land, which tiles
// each Space shows under each desktops option, the tray, names, the front tile, and
// what the load prunes (and, after a failed read, does not).

#include <gtest/gtest.h>

#include <algorithm>

#include "WindowServerScenes.h"
#include "platform/Foundation.h"
#include "platform/PrivateSymbols.h"
#include "platform/WindowServerPort.h"
#include "platform/sim/AccessibilityServer.h"
#include "support/Scene.h"
#include "workspace/DesktopFrames.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"
#include "workspace/Recency.h"
#include "workspace/SpaceNames.h"
#include "workspace/Unresponsive.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {
namespace {

using IDs = std::vector<std::string>;
using Numbers = std::vector<std::uint32_t>;
using Desktops = Settings::Desktops;

class WorkspaceLoad : public ::testing::Test {
 protected:
  WorkspaceLoad() {
    DesktopFrames::reset();
    scene_.world.setScreenCaptureAllowed(true);
    scene_.world.setAccessibilityTrusted(true);
    // Two screens side by side, top edges aligned.
    scene_.world.setDisplays({sim::makeDisplay(1, CGRect(0, 180, 1440, 900), "Built-in"),
                              sim::makeDisplay(2, CGRect(1440, 0, 1920, 1080), "Wide")});
  }
  ~WorkspaceLoad() override { DesktopFrames::reset(); }

  sim::WindowServer& server() { return scene_.windowServer; }

  static sim::Space space(std::uint64_t id, std::int32_t type = sim::kSpaceTypeDesktop) {
    return scenes::space(id, type);
  }
  void spaces(std::uint32_t display, std::vector<sim::Space> list, std::uint64_t current) {
    ASSERT_TRUE(server().setSpaces(display, std::move(list), current));
  }
  // A running app launched `age` seconds ago.
  std::int32_t app(const std::string& name, double age,
                   platform::ActivationPolicy policy = platform::ActivationPolicy::regular) {
    sim::App a;
    a.name = name;
    a.bundleIdentifier = "org.example." + name;
    a.launchDate = platform::now() - age;
    a.policy = policy;
    return server().addApp(a);
  }
  // A standard window reported by accessibility, in front of the others.
  std::uint32_t window(std::int32_t pid, std::vector<std::uint64_t> on, CGRect bounds, const std::string& title = "w") {
    sim::Window w;
    w.pid = pid;
    w.spaces = std::move(on);
    w.bounds = bounds;
    w.title = title;
    w.axElement = (nextElement_ += 10);
    return server().addWindow(w);
  }
  // Frames on the first screen (window-server coordinates) and on the second.
  static CGRect left(double x = 100) { return CGRect(x, 100, 400, 300); }
  static CGRect right(double x = 1600) { return CGRect(x, 100, 400, 300); }

  static const DisplayGroup& display(const Workspace& w, std::size_t d) { return w.displays.at(d); }
  static const SpaceGroup& group(const Workspace& w, std::size_t d, std::int64_t id) {
    const auto& all = w.displays.at(d).spaces;
    const auto it = std::find_if(all.begin(), all.end(), [id](const SpaceGroup& g) { return g.id == id; });
    if (it == all.end()) throw std::runtime_error("no Space " + std::to_string(id));
    return *it;
  }
  static bool hasGroup(const Workspace& w, std::size_t d, std::int64_t id) {
    const auto& all = w.displays.at(d).spaces;
    return std::any_of(all.begin(), all.end(), [id](const SpaceGroup& g) { return g.id == id; });
  }
  static IDs ids(const SpaceGroup& g) {
    IDs out;
    for (const Cluster& c : g.clusters) out.push_back(c.id);
    return out;
  }
  static Numbers numbers(const Cluster& c) {
    Numbers out;
    for (const WindowInfo& w : c.windows) out.push_back(w.windowID.value_or(0));
    return out;
  }
  static std::string tile(int d, std::int64_t space, std::int32_t pid) {
    return std::to_string(d) + ":" + std::to_string(space) + ":" + std::to_string(pid);
  }

  Scene scene_;
  std::uint64_t nextElement_ = 0;
};

TEST_F(WorkspaceLoad, SeparateSpacesPutEveryWindowOnItsDisplayAndSpace) {
  spaces(1, {space(11), space(12)}, 11);
  spaces(2, {space(21), space(22)}, 21);
  const std::int32_t notes = app("Notes", 900), mail = app("Mail", 800);
  app("Clock", 950, platform::ActivationPolicy::accessory);
  const std::int32_t music = app("Music", 700), books = app("Books", 1000);
  const std::uint32_t n1 = window(notes, {11}, left()), n2 = window(notes, {12}, left());
  const std::uint32_t m1 = window(mail, {21}, right()), m2 = window(mail, {12}, left(600));

  const Workspace w = Workspace::load(Desktops::always, false);
  ASSERT_EQ(w.displays.size(), 2u);
  EXPECT_EQ(display(w, 0).id, *Private::uuid(display(w, 0).screen));
  EXPECT_EQ(display(w, 0).screen.localizedName(), "Built-in");
  const SpaceGroup& first = group(w, 0, 11);
  EXPECT_EQ(ids(first), (IDs{"0:11:desktop", tile(0, 11, notes)}));
  EXPECT_EQ(first.label, "Desktop 1");
  EXPECT_TRUE(first.current);
  ASSERT_TRUE(first.emptyStop);
  EXPECT_EQ(first.emptyStop->id, "0:11:desktop");
  EXPECT_EQ(first.clusters.at(0).nameKey, "desktop/uuid-11");
  EXPECT_EQ(ids(group(w, 0, 12)), (IDs{"0:12:desktop", tile(0, 12, notes), tile(0, 12, mail)}))
      << "app tiles in launch order";
  EXPECT_FALSE(group(w, 0, 12).current);
  EXPECT_EQ(group(w, 0, 12).label, "Desktop 2");
  EXPECT_EQ(numbers(group(w, 0, 11).clusters.at(1)), (Numbers{n1}));
  EXPECT_EQ(numbers(group(w, 0, 12).clusters.at(1)), (Numbers{n2}));
  EXPECT_EQ(numbers(group(w, 0, 12).clusters.at(2)), (Numbers{m2}));
  EXPECT_EQ(ids(group(w, 1, 21)), (IDs{"1:21:desktop", tile(1, 21, mail)}));
  EXPECT_EQ(numbers(group(w, 1, 21).clusters.at(1)), (Numbers{m1}));
  EXPECT_EQ(group(w, 1, 21).label, "Desktop 1") << "counted per display";
  EXPECT_EQ(ids(group(w, 1, 22)), (IDs{"1:22:desktop"}));

  // Windowless regular apps, oldest first; never an accessory app or the program itself.
  ASSERT_EQ(w.tray.size(), 2u);
  EXPECT_EQ(w.tray[0].id, books);
  EXPECT_EQ(w.tray[1].id, music);
  EXPECT_TRUE(w.appDesktops.empty());
  EXPECT_EQ(display(w, 0).here, tile(0, 11, notes));
  EXPECT_EQ(display(w, 1).here, tile(1, 21, mail));
}

TEST_F(WorkspaceLoad, AWindowOnSeveralSpacesPrefersACurrentOne) {
  spaces(1, {space(11), space(12)}, 12);
  spaces(2, {space(21), space(22)}, 22);
  const std::int32_t notes = app("Notes", 900);
  const std::uint32_t both = window(notes, {11, 12}, left());
  const std::uint32_t across = window(notes, {21, 11}, right());  // the first display with a match wins
  const std::uint32_t elsewhere = window(notes, {22, 21}, right());
  const Workspace w = Workspace::load(Desktops::whenEmpty, false);
  EXPECT_EQ(numbers(group(w, 0, 12).clusters.at(0)), (Numbers{both}));
  EXPECT_EQ(numbers(group(w, 0, 11).clusters.at(0)), (Numbers{across}));
  EXPECT_EQ(numbers(group(w, 1, 22).clusters.at(0)), (Numbers{elsewhere}));
}

TEST_F(WorkspaceLoad, SharedSpacesPlaceWindowsByTheScreenUnderThem) {
  server().setSharedSpaces(true);
  spaces(1, {space(11), space(12)}, 11);
  const std::int32_t notes = app("Notes", 900);
  const std::uint32_t mostlyRight = window(notes, {11}, CGRect(1300, 100, 500, 300));
  const std::uint32_t offScreen = window(notes, {11}, CGRect(-5000, -5000, 400, 300));
  const std::uint32_t onLeft = window(notes, {12}, left());
  ASSERT_TRUE(Private::displayLayout().shared);

  const Workspace w = Workspace::load(Desktops::whenEmpty, false);
  ASSERT_EQ(w.displays.size(), 2u);
  EXPECT_EQ(display(w, 1).id, *Private::uuid(display(w, 1).screen)) << "each screen under its own UUID";
  EXPECT_EQ(numbers(group(w, 1, 11).clusters.at(0)), (Numbers{mostlyRight}));
  EXPECT_EQ(numbers(group(w, 0, 11).clusters.at(0)), (Numbers{offScreen})) << "the first screen's display";
  EXPECT_EQ(numbers(group(w, 0, 12).clusters.at(0)), (Numbers{onLeft}));
  // Both screens list the same Spaces; the empty ones show their desktops.
  EXPECT_EQ(ids(group(w, 1, 12)), (IDs{"1:12:desktop"}));
  EXPECT_TRUE(group(w, 1, 11).current);
}

TEST_F(WorkspaceLoad, DisplayUnderAFrameTakesTheLargestOverlap) {
  spaces(1, {space(11)}, 11);
  spaces(2, {space(21)}, 21);
  const Private::Layout layout = Private::displayLayout();
  const double top = 1080;
  EXPECT_EQ(Workspace::display(CGRect(1000, 0, 600, 100), layout.displays, top), 0) << "440 wide against 160";
  EXPECT_EQ(Workspace::display(CGRect(1240, 0, 400, 100), layout.displays, top), 0) << "a tie goes to the first";
  EXPECT_EQ(Workspace::display(CGRect(1300, 0, 400, 100), layout.displays, top), 1);
  EXPECT_EQ(Workspace::display(std::nullopt, layout.displays, top), 0);
  EXPECT_EQ(Workspace::display(CGRect(0, 2000, 10, 10), layout.displays, top), 0);
  EXPECT_EQ(Workspace::display(CGRect(0, 0, 10, 10), {}, top), 0);
}

TEST_F(WorkspaceLoad, OnlyOrdinaryDesktopsCountAndSystemSpacesAreLeftOut) {
  spaces(1, {space(11), space(50, sim::kSpaceTypeSystem), space(13, sim::kSpaceTypeFullScreen), space(14)}, 11);
  const std::int32_t notes = app("Notes", 900), mail = app("Mail", 800);
  const std::uint32_t full = window(notes, {13}, CGRect(0, 0, 1440, 900), "Film");
  server().updateWindow(full, [](sim::Window& x) { x.fullScreen = true; });
  window(mail, {14}, left());
  SpaceNames::set("Cinema", SpaceNames::key(full));

  const Workspace w = Workspace::load(Desktops::always, false);
  std::vector<std::int64_t> order;
  for (const SpaceGroup& g : display(w, 0).spaces) order.push_back(g.id);
  EXPECT_EQ(order, (std::vector<std::int64_t>{11, 13, 14}));
  EXPECT_EQ(group(w, 0, 14).label, "Desktop 2") << "the full-screen Space does not advance the count";
  const SpaceGroup& fs = group(w, 0, 13);
  EXPECT_TRUE(fs.fullScreen);
  EXPECT_FALSE(fs.emptyStop);
  EXPECT_EQ(ids(fs), (IDs{"0:fullScreen:" + std::to_string(full)}));
  EXPECT_EQ(fs.key(), "0:fullScreen:" + std::to_string(full));
  EXPECT_EQ(fs.clusters.at(0).nameKey, "window/" + std::to_string(full));
  EXPECT_EQ(fs.label, "Cinema");
  EXPECT_TRUE(fs.clusters.at(0).fullScreen);
  EXPECT_TRUE(fs.clusters.at(0).windows.at(0).fullScreen);
}

TEST_F(WorkspaceLoad, FullScreenSpacesWithoutWindowsOrWithOnlyMinimizedOnes) {
  spaces(1, {space(11), space(13, sim::kSpaceTypeFullScreen), space(15, sim::kSpaceTypeFullScreen)}, 11);
  const std::int32_t notes = app("Notes", 900);
  const std::uint32_t small = window(notes, {13}, left(), "Minimized");
  ASSERT_TRUE(server().setMinimized(small, true));
  const Workspace w = Workspace::load(Desktops::always, false);
  EXPECT_FALSE(hasGroup(w, 0, 15)) << "an empty full-screen Space";
  const SpaceGroup& fs = group(w, 0, 13);
  EXPECT_FALSE(fs.clusters.at(0).nameKey);
  EXPECT_FALSE(fs.clusters.at(0).named);
  EXPECT_EQ(fs.label, "Notes");
  EXPECT_EQ(fs.clusters.at(0).lastWindow, 0) << "all minimized: the first is still preselected";
}

class DesktopsOption : public WorkspaceLoad {
 protected:
  DesktopsOption() {
    // 11: a visible window; 12: empty; 13: a minimized window only; 14: a hidden app's window.
    spaces(1, {space(11), space(12), space(13), space(14)}, 11);
    notes_ = app("Notes", 900);
    mail_ = app("Mail", 800);
    music_ = app("Music", 700);
    window(notes_, {11}, left());
    minimized_ = window(mail_, {13}, left());
    server().setMinimized(minimized_, true);
    window(music_, {14}, left());
    server().setHidden(music_, true);
  }
  std::int32_t notes_ = 0, mail_ = 0, music_ = 0;
  std::uint32_t minimized_ = 0;
};

TEST_F(DesktopsOption, AlwaysGivesEveryDesktopItsTileFirst) {
  const Workspace w = Workspace::load(Desktops::always, false);
  EXPECT_EQ(ids(group(w, 0, 11)), (IDs{"0:11:desktop", tile(0, 11, notes_)}));
  EXPECT_EQ(ids(group(w, 0, 12)), (IDs{"0:12:desktop"}));
  EXPECT_EQ(ids(group(w, 0, 13)), (IDs{"0:13:desktop", tile(0, 13, mail_)}));
  EXPECT_EQ(ids(group(w, 0, 14)), (IDs{"0:14:desktop", tile(0, 14, music_)}));
  for (const SpaceGroup& g : display(w, 0).spaces) {
    ASSERT_TRUE(g.emptyStop) << g.id;
    EXPECT_EQ(g.emptyStop->id, g.clusters.at(0).id);
  }
}

TEST_F(DesktopsOption, WhenEmptyLooksAtMinimizedWindowsAndHiddenApps) {
  const Workspace w = Workspace::load(Desktops::whenEmpty, false);
  EXPECT_EQ(ids(group(w, 0, 11)), (IDs{tile(0, 11, notes_)}));
  EXPECT_TRUE(group(w, 0, 11).emptyStop) << "kept as a stop although not a tile";
  EXPECT_EQ(ids(group(w, 0, 12)), (IDs{"0:12:desktop"}));
  EXPECT_EQ(ids(group(w, 0, 13)), (IDs{"0:13:desktop", tile(0, 13, mail_)}));
  EXPECT_EQ(ids(group(w, 0, 14)), (IDs{"0:14:desktop", tile(0, 14, music_)})) << "a hidden app still has its tile";
  EXPECT_TRUE(group(w, 0, 14).clusters.at(1).hidden());
  EXPECT_TRUE(group(w, 0, 13).clusters.at(1).minimized());
}

TEST_F(DesktopsOption, FirstWhenEmptyOnlyTheFirstDesktopOfEachDisplay) {
  spaces(2, {space(21), space(22)}, 21);
  const Workspace w = Workspace::load(Desktops::firstWhenEmpty, false);
  EXPECT_EQ(ids(group(w, 0, 11)), (IDs{tile(0, 11, notes_)}));
  EXPECT_TRUE(group(w, 0, 11).emptyStop);
  EXPECT_FALSE(hasGroup(w, 0, 12)) << "a later empty desktop vanishes";
  EXPECT_EQ(ids(group(w, 0, 13)), (IDs{tile(0, 13, mail_)}));
  EXPECT_FALSE(group(w, 0, 13).emptyStop);
  EXPECT_EQ(ids(group(w, 1, 21)), (IDs{"1:21:desktop"})) << "the second display's first desktop";
  EXPECT_FALSE(hasGroup(w, 1, 22));
}

TEST_F(DesktopsOption, ScreenTilesGiveOnePicturePerDesktopAndNoStops) {
  const Workspace w = Workspace::load(Desktops::always, true);
  EXPECT_EQ(ids(group(w, 0, 11)), (IDs{"0:11:screen"}));
  EXPECT_EQ(ids(group(w, 0, 12)), (IDs{"0:12:desktop"}));
  EXPECT_EQ(ids(group(w, 0, 13)), (IDs{"0:13:screen"})) << "the desktop tile is dropped for the picture";
  for (const SpaceGroup& g : display(w, 0).spaces) EXPECT_FALSE(g.emptyStop) << g.id;
  const Cluster& screen = group(w, 0, 11).clusters.at(0);
  EXPECT_TRUE(screen.screen);
  EXPECT_EQ(screen.desktopName, "Desktop 1");
  EXPECT_EQ(screen.nameKey, "desktop/uuid-11");
  EXPECT_EQ(screen.name(), "Notes");
  EXPECT_EQ(group(w, 0, 13).clusters.at(0).stacking.size(), 0u) << "a minimized window is not drawn";
}

TEST_F(WorkspaceLoad, ScreenTilesSortWindowsAndStackThemBackToFront) {
  spaces(1, {space(11), space(12, sim::kSpaceTypeFullScreen)}, 11);
  const std::int32_t notes = app("Notes", 900), mail = app("Mail", 800);
  const std::uint32_t a = window(notes, {11}, CGRect(500, 100, 300, 300));
  const std::uint32_t b = window(mail, {11}, CGRect(100, 300, 300, 300));
  const std::uint32_t c = window(notes, {11}, CGRect(100, 100, 300, 300));  // frontmost
  const std::uint32_t gone = window(mail, {11}, CGRect(0, 0, 300, 300));
  server().setMinimized(gone, true);
  const std::uint32_t full = window(mail, {12}, CGRect(0, 0, 1440, 900));
  Recency::shared().touch(a, true);

  const Workspace w = Workspace::load(Desktops::always, true);
  const Cluster& screen = group(w, 0, 11).clusters.at(0);
  EXPECT_EQ(numbers(screen), (Numbers{c, b, a, gone})) << "left to right, top to bottom, minimized last";
  EXPECT_EQ(screen.windows.at(static_cast<std::size_t>(*screen.lastWindow)).windowID, a);
  std::vector<std::uint32_t> stacked;
  for (ValueID id : screen.stacking) {
    for (const WindowInfo& win : screen.windows) {
      if (win.id == id) stacked.push_back(*win.windowID);
    }
  }
  EXPECT_EQ(stacked, (Numbers{a, b, c})) << "back to front";
  EXPECT_EQ(screen.appNames(), "Notes & Mail");
  EXPECT_FALSE(screen.lastOnDesktop);

  const Cluster& fs = group(w, 0, 12).clusters.at(0);
  EXPECT_TRUE(fs.screen);
  EXPECT_TRUE(fs.fullScreen);
  EXPECT_EQ(fs.desktopName, "Mail");
  EXPECT_EQ(fs.id, "0:fullScreen:" + std::to_string(full));
}

TEST_F(WorkspaceLoad, ADesktopUsedAfterItsWindowsIsInFront) {
  spaces(1, {space(11)}, 11);
  const std::int32_t notes = app("Notes", 900);
  const std::uint32_t n = window(notes, {11}, left());
  Recency::shared().touch(n, true);
  Workspace w = Workspace::load(Desktops::always, false);
  EXPECT_EQ(display(w, 0).here, tile(0, 11, notes));
  Recency::shared().touchDesktop(11);
  w = Workspace::load(Desktops::always, false);
  EXPECT_EQ(display(w, 0).here, "0:11:desktop");
  w = Workspace::load(Desktops::always, true);
  EXPECT_TRUE(group(w, 0, 11).clusters.at(0).lastOnDesktop);
}

TEST_F(WorkspaceLoad, TheFrontTileHoldsTheFrontmostWindow) {
  spaces(1, {space(11)}, 11);
  const std::int32_t notes = app("Notes", 900), mail = app("Mail", 800);
  window(mail, {11}, left());
  const std::uint32_t n = window(notes, {11}, left());
  Workspace w = Workspace::load(Desktops::always, false);
  EXPECT_EQ(display(w, 0).here, tile(0, 11, notes));
  // With only minimized windows on the Space, the desktop tile is the first that shows anything.
  server().setMinimized(n, true);
  server().removeWindow(server().windowsOf(mail).at(0).number);
  w = Workspace::load(Desktops::always, false);
  EXPECT_EQ(display(w, 0).here, "0:11:desktop");
}

TEST_F(WorkspaceLoad, PreselectionPrefersRecentThenFocusedWindows) {
  spaces(1, {space(11)}, 11);
  const std::int32_t notes = app("Notes", 900);
  const std::uint32_t a = window(notes, {11}, left()), b = window(notes, {11}, left()), c = window(notes, {11}, left());
  server().raiseWindow(b);  // Notes' focused window
  Workspace w = Workspace::load(Desktops::whenEmpty, false);
  const Cluster* t = &group(w, 0, 11).clusters.at(0);
  EXPECT_EQ(numbers(*t), (Numbers{a, b, c}));
  EXPECT_EQ(t->lastWindow, 1) << "the focused window, nothing having been used";
  Recency::shared().touch(c, true);
  Recency::shared().touch(a, true);
  w = Workspace::load(Desktops::whenEmpty, false);
  EXPECT_EQ(group(w, 0, 11).clusters.at(0).lastWindow, 0) << "the most recently used";
  server().setMinimized(a, true);
  w = Workspace::load(Desktops::whenEmpty, false);
  EXPECT_EQ(group(w, 0, 11).clusters.at(0).lastWindow, 2) << "a minimized window is passed over";
}

TEST_F(WorkspaceLoad, WindowsWithoutANumberComeLastInTheirOrder) {
  spaces(1, {space(11)}, 11);
  const std::int32_t notes = app("Notes", 900);
  const std::uint32_t a = window(notes, {11}, left(), "A");
  const std::uint32_t b = window(notes, {11}, left(), "B");
  // Without the private call that numbers accessibility windows, the accessibility side
  // gives two unnumbered windows (front first) and the window list the two numbered ones.
  scene_.world.removeSymbol(kApplicationServicesPath, "_AXUIElementGetWindow");
  const Workspace w = Workspace::load(Desktops::whenEmpty, false);
  const Cluster& t = group(w, 0, 11).clusters.at(0);
  ASSERT_EQ(t.windows.size(), 4u);
  EXPECT_EQ(numbers(t), (Numbers{a, b, 0, 0}));
  EXPECT_EQ(t.windows[2].title, "B");
  EXPECT_EQ(t.windows[3].title, "A");
  EXPECT_EQ(w.shape().at(0),
            tile(0, 11, notes) + " [\"" + std::to_string(a) + "\", \"" + std::to_string(b) + "\", \"0\", \"0\"]");
}

TEST_F(WorkspaceLoad, AccessoryAppsShowOnlyTitledWindowsAndNeverJoinTheTray) {
  spaces(1, {space(11)}, 11);
  const std::int32_t clock = app("Clock", 900, platform::ActivationPolicy::accessory);
  const std::int32_t meter = app("Meter", 800, platform::ActivationPolicy::accessory);
  sim::Window listed;
  listed.pid = clock;
  listed.spaces = {11};
  listed.bounds = left();
  listed.title = "World Clock";
  listed.accessible = false;  // known to the window list only
  const std::uint32_t titled = server().addWindow(listed);
  listed.pid = meter;
  listed.title = "";
  server().addWindow(listed);
  const Workspace w = Workspace::load(Desktops::whenEmpty, false);
  EXPECT_TRUE(w.tray.empty());
  EXPECT_EQ(ids(group(w, 0, 11)), (IDs{tile(0, 11, clock)}));
  EXPECT_EQ(numbers(group(w, 0, 11).clusters.at(0)), (Numbers{titled}));
  EXPECT_TRUE(group(w, 0, 11).clusters.at(0).accessory());
}

TEST_F(WorkspaceLoad, NamesLabelDesktopsAndNamesOfGoneWindowsArePruned) {
  spaces(1, {space(11), space(12)}, 11);
  const std::int32_t notes = app("Notes", 900);
  const std::uint32_t n = window(notes, {11}, left());
  SpaceNames::save({{"desktop/uuid-12", "Work"}, {"window/999999", "Gone"}, {SpaceNames::key(n), "Kept"}});
  DesktopFrames::note(WindowInfo(notes, 999999, nullptr, std::nullopt, false, false, CGRect(1, 1, 100, 100)));

  const Workspace w = Workspace::load(Desktops::always, false);
  EXPECT_EQ(group(w, 0, 12).label, "Work");
  EXPECT_EQ(group(w, 0, 12).clusters.at(0).named, "Work");
  EXPECT_EQ(group(w, 0, 12).clusters.at(0).name(), "Work");
  EXPECT_EQ(group(w, 0, 11).label, "Desktop 1");
  const std::map<std::string, std::string> expected{{"desktop/uuid-12", "Work"}, {SpaceNames::key(n), "Kept"}};
  EXPECT_EQ(w.names, expected);
  EXPECT_EQ(SpaceNames::all(), expected);
  EXPECT_FALSE(DesktopFrames::frame(999999));
  EXPECT_EQ(DesktopFrames::frame(n), left()) << "every loaded window is noted";
}

TEST_F(WorkspaceLoad, AWindowListThatCannotBeReadPrunesNothing) {
  spaces(1, {space(11)}, 11);
  const std::int32_t notes = app("Notes", 900);
  const std::uint32_t n = window(notes, {11}, left());
  SpaceNames::save({{SpaceNames::key(n), "Film"}, {"desktop/uuid-11", "Work"}});
  DesktopFrames::note(WindowInfo(notes, n, nullptr, std::nullopt, false, false, left()));

  // The window server stops answering the public calls; the private ones still describe
  // the displays, so the load goes on with an unreadable window list.
  platform::installWindowServer(nullptr);
  const Workspace blind = Workspace::load(Desktops::always, false);
  platform::installWindowServer(&server());
  ASSERT_EQ(blind.displays.size(), 2u);
  EXPECT_TRUE(blind.windows().empty());
  EXPECT_EQ(SpaceNames::all().size(), 2u) << "the user's window name survives";
  EXPECT_EQ(DesktopFrames::frame(n), left());
  EXPECT_EQ(blind.names.at(SpaceNames::key(n)), "Film");

  // A readable list without the window does prune it.
  server().removeWindow(n);
  Workspace::load(Desktops::always, false);
  EXPECT_EQ(SpaceNames::all(), (std::map<std::string, std::string>{{"desktop/uuid-11", "Work"}}));
  EXPECT_FALSE(DesktopFrames::frame(n));
}

TEST_F(WorkspaceLoad, WithoutADisplayLayoutTheSnapshotIsEmptyAndNothingIsPruned) {
  spaces(1, {space(11)}, 11);
  const std::int32_t music = app("Music", 900);
  SpaceNames::save({{"window/999999", "Gone"}});
  scene_.world.removeSymbol(kSkyLightPath, "SLSCopyManagedDisplaySpaces");
  const Workspace w = Workspace::load(Desktops::always, false);
  EXPECT_TRUE(w.displays.empty());
  EXPECT_TRUE(w.tray.empty()) << "not even Music (" << music << ")";
  EXPECT_TRUE(w.names.empty());
  EXPECT_EQ(SpaceNames::all().size(), 1u);
}

TEST_F(WorkspaceLoad, HungAppsCostOneTimeoutEachAndNothingWhileRemembered) {
  spaces(1, {space(11)}, 11);
  const std::int32_t notes = app("Notes", 900);
  const std::uint32_t answered = window(notes, {11}, left());
  auto* accessibility = sim::AccessibilityServer::active();
  ASSERT_NE(accessibility, nullptr);
  std::vector<std::uint32_t> frozen;
  for (int n = 0; n < 9; ++n) {
    const std::int32_t stuck = app("Stuck " + std::to_string(n), 800 - n);
    frozen.push_back(window(stuck, {11}, left(600)));
    accessibility->setHung(stuck, true);
  }
  accessibility->setTimeoutsElapseClock(true);
  struct Load {
    const char* what;
    double advance;  // seconds after the load before
    double waited;   // seconds the load may spend waiting on the hung apps
  };
  const Load loads[] = {
      {"the first load: one windows read per hung app", 0, 9 * 0.25},
      {"a second look in the same session", 1, 0},
      {"a load after the apps were forgotten", Unresponsive::remembered + 1, 9 * 0.25},
  };
  for (const Load& load : loads) {
    scene_.clock.advance(load.advance);
    accessibility->clearWaits();
    const Workspace w = Workspace::load(Desktops::whenEmpty, false);
    EXPECT_NEAR(accessibility->waitedSeconds(), load.waited, 1e-6) << load.what;
    // Every hung app's window still comes from the window server's list.
    std::size_t found = 0;
    for (const Cluster& tile : group(w, 0, 11).clusters) {
      for (const WindowInfo& info : tile.windows) {
        if (std::find(frozen.begin(), frozen.end(), info.windowID.value_or(0)) != frozen.end()) ++found;
      }
    }
    EXPECT_EQ(found, frozen.size()) << load.what;
    EXPECT_EQ(numbers(group(w, 0, 11).clusters.at(0)), (Numbers{answered})) << load.what;
  }
}

TEST_F(WorkspaceLoad, AnAppThatRefusesAtOnceIsAskedAgainEveryTime) {
  spaces(1, {space(11)}, 11);
  const std::int32_t notes = app("Notes", 900);
  const std::uint32_t shown = window(notes, {11}, left());
  auto* accessibility = sim::AccessibilityServer::active();
  accessibility->setError(notes, kAXFocusedWindowAttribute, kAXErrorCannotComplete);
  // Refused at once, not timed out: the main window still answers, in every load.
  for (int load = 0; load < 2; ++load) {
    EXPECT_EQ(focusedWindowID(notes), shown) << load;
    const Workspace w = Workspace::load(Desktops::whenEmpty, false);
    EXPECT_EQ(numbers(group(w, 0, 11).clusters.at(0)), (Numbers{shown})) << load;
  }
}

}  // namespace
}  // namespace trelliq
