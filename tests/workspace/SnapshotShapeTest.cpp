// What the switcher reads off a snapshot without changing it: its windows, its shape
// (compared between two looks) and the copy narrowed to one app; and the values the
// tiles compute from their fields.

#include <gtest/gtest.h>

#include "Snapshots.h"
#include "platform/sim/WindowServer.h"
#include "support/Scene.h"
#include "workspace/Recency.h"

namespace trelliq {
namespace {

using namespace snapshots;
using IDs = std::vector<std::string>;
using Lines = std::vector<std::string>;

class SnapshotShape : public ::testing::Test {
 protected:
  Scene scene_;
  const AppInfo notes_ = app(412, "Notes");
  const AppInfo mail_ = app(200, "Mail");
  const AppInfo music_ = app(300, "Music");
};

TEST_F(SnapshotShape, OneLinePerTileThenTheTray) {
  EXPECT_TRUE(Workspace().shape().empty());
  EXPECT_EQ((Workspace{{}, {music_, mail_}}.shape()), (Lines{"300", "200"}));
  Workspace w{
      {display("A", {space(7, {desktop(0, 7, 1), tile(0, 7, {notes_}, {window(412, 8817), window(412, 9002, true)})},
                           true, desktop(0, 7, 1))}),
       display("B", {space(9, {tile(1, 9, {mail_}, {window(200, std::nullopt)})})})},
      {music_}};
  EXPECT_EQ(w.shape(), (Lines{"0:7:desktop []", R"(0:7:412 ["8817", "9002m"])", R"(1:9:200 ["0"])", "300"}));
  EXPECT_EQ(w.windows().size(), 3u) << "spare desktops and the tray add no windows";
}

TEST_F(SnapshotShape, MinimizingChangesTheShapeMovingAndRetitlingDoNot) {
  Workspace w{{display("A", {space(7, {tile(0, 7, {notes_}, {window(412, 1, false, CGRect(0, 0, 10, 10))})})})}, {}};
  const Lines before = w.shape();
  WindowInfo& win = w.displays[0].spaces[0].clusters[0].windows[0];
  win.bounds = CGRect(300, 300, 50, 50);
  win.title = "Renamed";
  EXPECT_EQ(w.shape(), before);
  win.minimized = true;
  EXPECT_NE(w.shape(), before);
}

TEST_F(SnapshotShape, NarrowingWithoutDesktopsKeepsOnlyTheAppsTiles) {
  Cluster screen = screenTile(0, 3, 2, {notes_, mail_}, {window(412, 30), window(200, 31)});
  screen.lastOnDesktop = true;
  Workspace w{
      {display("A",
               {space(1, {desktop(0, 1, 1), tile(0, 1, {mail_}, {window(200, 10)})}, true, desktop(0, 1, 1)),
                space(2, {tile(0, 2, {notes_}, {window(412, 20)})}, false, desktop(0, 2, 2)), space(3, {screen})},
               "0:1:200"),
       display("B", {space(5, {tile(1, 5, {mail_}, {window(200, 50)})}, true)}, "1:5:200")},
      {music_},
      {{"desktop/uuid-1", "Home"}}};
  const Workspace narrowed = w.only(412, false);
  ASSERT_EQ(narrowed.displays.size(), 1u) << "display B had nothing of the app";
  const DisplayGroup& d = narrowed.displays[0];
  EXPECT_EQ(tileIDs(d), (IDs{"0:2:412", "0:3:screen"}));
  for (const SpaceGroup& g : d.spaces) EXPECT_FALSE(g.emptyStop) << g.id;
  EXPECT_FALSE(d.spaces[1].clusters[0].lastOnDesktop);
  EXPECT_EQ(d.spaces[1].clusters[0].apps.size(), 1u);
  EXPECT_FALSE(d.here) << "the front tile was another app's";
  EXPECT_TRUE(narrowed.tray.empty());
  EXPECT_EQ(narrowed.names, w.names);
  EXPECT_TRUE(narrowed.appDesktops.empty());
  EXPECT_EQ(w.displays.size(), 2u) << "the original is unchanged";
  EXPECT_EQ(w.tray.size(), 1u);
}

TEST_F(SnapshotShape, NarrowingWithDesktopsKeepsCurrentAndEmptyLookingDesktops) {
  Cluster screen = screenTile(0, 4, 3, {notes_}, {window(412, 40)});
  screen.lastOnDesktop = true;
  Workspace w{
      {display("A",
               {space(1, {desktop(0, 1, 1), tile(0, 1, {mail_}, {window(200, 10)})}, true, desktop(0, 1, 1)),
                space(2, {tile(0, 2, {mail_}, {window(200, 20)}), tile(0, 2, {notes_}, {window(412, 21)})}),
                space(3, {tile(0, 3, {mail_}, {window(200, 30, true)}), tile(0, 3, {notes_}, {window(412, 31)})}, false,
                      desktop(0, 3, 3)),
                space(4, {screen}), space(6, {desktop(0, 6, 5)}),
                fullScreenSpace(fullScreenTile(0, 9, mail_, window(200, 90)))},
               "0:1:desktop")},
      {}};
  w.displays[0].spaces[1].clusters.insert(w.displays[0].spaces[1].clusters.begin(), desktop(0, 2, 2));
  const Workspace narrowed = w.only(412, true);
  // Space 1 is current and Space 6 shows no window. Space 3's only visible window is the
  // app's own, which still counts: its other window is minimized, not invisible.
  EXPECT_EQ(narrowed.appDesktops, (std::set<std::int64_t>{1, 6}));
  const DisplayGroup& d = narrowed.displays.at(0);
  EXPECT_EQ(tileIDs(d), (IDs{"0:1:desktop", "0:2:412", "0:3:412", "0:4:screen", "0:6:desktop"}));
  EXPECT_EQ(d.here, "0:1:desktop");
  EXPECT_FALSE(d.spaces[3].clusters[0].lastOnDesktop) << "Space 4 is not among the app's desktops";
}

TEST_F(SnapshotShape, NarrowingToAnAppWithoutWindowsLeavesNoDisplays) {
  Workspace w{{display("A", {space(1, {desktop(0, 1, 1), tile(0, 1, {mail_}, {window(200, 10)})}, true)})}, {music_}};
  EXPECT_TRUE(w.only(300, false).displays.empty());
  const Workspace withDesktops = w.only(300, true);
  ASSERT_EQ(withDesktops.displays.size(), 1u);
  EXPECT_EQ(tileIDs(withDesktops.displays[0]), (IDs{"0:1:desktop"}));
}

TEST_F(SnapshotShape, NarrowingCountsADesktopOfHiddenAppsAsEmpty) {
  sim::App chat;
  chat.name = "Chat";
  const AppInfo hidden = app(scene_.windowServer.addApp(chat), "Chat");
  ASSERT_TRUE(scene_.windowServer.setHidden(hidden.id, true));
  Workspace w{
      {display("A",
               {space(1, {tile(0, 1, {mail_}, {window(200, 10)})}, true),
                space(2, {tile(0, 2, {hidden}, {window(hidden.id, 20)}), tile(0, 2, {notes_}, {window(412, 21, true)})},
                      false, desktop(0, 2, 2)),
                space(3, {tile(0, 3, {mail_}, {window(200, 30)}), tile(0, 3, {notes_}, {window(412, 31)})})})},
      {}};
  const Workspace narrowed = w.only(412, true);
  EXPECT_EQ(narrowed.appDesktops, (std::set<std::int64_t>{1, 2}));
  // Space 2 shows only a minimized window of the app, so its spare desktop comes to the
  // front and stays; Space 1 had no desktop tile and loses its only tile.
  EXPECT_EQ(tileIDs(narrowed.displays.at(0)), (IDs{"0:2:desktop", "0:2:412", "0:3:412"}));
}

TEST_F(SnapshotShape, NarrowingKeepsHereOnlyWhileItNamesATileThatStayed) {
  // Space 1 keeps a tile of the app whatever happens to its desktop and Mail's tile.
  const auto desk = [&](std::string here) {
    return Workspace{{display("A",
                              {space(1, {desktop(0, 1, 1), tile(0, 1, {mail_}, {window(200, 10)}),
                                         tile(0, 1, {notes_}, {window(412, 11)})},
                                     true)},
                              std::move(here))},
                     {}};
  };
  struct Case {
    std::string here;
    bool desktops;
    std::optional<std::string> kept;
  };
  for (const Case& c : std::vector<Case>{{"0:1:desktop", false, std::nullopt},
                                         {"0:1:desktop", true, "0:1:desktop"},
                                         {"0:1:200", true, std::nullopt},
                                         {"0:1:412", false, "0:1:412"},
                                         {"0:7:412", true, std::nullopt}}) {
    const Workspace narrowed = desk(c.here).only(412, c.desktops);
    ASSERT_EQ(narrowed.displays.size(), 1u);
    EXPECT_EQ(narrowed.displays[0].here, c.kept) << c.here << (c.desktops ? " with desktops" : "");
  }
}

// ---- Values the tiles compute ----

TEST_F(SnapshotShape, TileNamesFollowTheirKind) {
  Cluster named = desktop(0, 1, 2, "Work");
  EXPECT_EQ(named.name(), "Work");
  EXPECT_EQ(desktop(0, 1, 2).name(), "Desktop 2");
  Cluster screen = screenTile(0, 1, 2, {notes_, mail_}, {window(412, 1), window(200, 2)});
  screen.named = "Work";
  EXPECT_EQ(screen.name(), "Notes & Mail") << "a screen tile is named by its apps even on a named desktop";
  Cluster full = fullScreenTile(0, 9, mail_, window(200, 9));
  EXPECT_EQ(full.name(), "Mail");
  full.named = "Film";
  EXPECT_EQ(full.name(), "Film");
  EXPECT_EQ(tile(0, 1, {notes_}, {window(412, 3)}).name(), "Notes");
}

TEST_F(SnapshotShape, MinimizedAndAppOfWindow) {
  EXPECT_TRUE(tile(0, 1, {notes_}, {}).minimized()) << "an app tile without windows";
  EXPECT_FALSE(desktop(0, 1, 1).minimized());
  EXPECT_TRUE(tile(0, 1, {notes_}, {window(412, 1, true), window(412, 2, true)}).minimized());
  EXPECT_FALSE(tile(0, 1, {notes_}, {window(412, 1, true), window(412, 2)}).minimized());

  const Cluster shared = screenTile(0, 1, 1, {notes_, mail_}, {window(412, 1), window(200, 2)});
  const WindowInfo stranger = window(999, 5);
  EXPECT_EQ(shared.app(&shared.windows[1])->id, 200);
  EXPECT_EQ(shared.app(&stranger)->id, 412) << "another process's window gives the first app";
  EXPECT_EQ(shared.app(nullptr)->id, 412);
  EXPECT_EQ(desktop(0, 1, 1).app(&stranger), nullptr);
  EXPECT_FALSE(desktop(0, 1, 1).hidden());
  EXPECT_FALSE(desktop(0, 1, 1).accessory());
  EXPECT_TRUE(tile(0, 1, {app(5, "Clock", true)}, {window(5, 1)}).accessory());
}

TEST_F(SnapshotShape, LastUsedReadsTheRecencyClock) {
  Recency& recency = Recency::shared();
  recency.touch(1, false);
  recency.touchDesktop(7);
  recency.touch(2, false);
  const Cluster t = tile(0, 7, {notes_}, {window(412, 1), window(412, 2), window(412, std::nullopt)});
  EXPECT_EQ(t.lastUsed(), recency.stamp(2));
  EXPECT_GT(recency.stamp(2), recency.desktopStamp(7));
  EXPECT_EQ(tile(0, 7, {notes_}, {window(412, std::nullopt)}).lastUsed(), 0u) << "an unnumbered window was never used";
  EXPECT_EQ(desktop(0, 7, 1).lastUsed(), recency.desktopStamp(7));

  Cluster screen = screenTile(0, 7, 1, {notes_}, {window(412, 1)});
  EXPECT_EQ(screen.lastUsed(), recency.desktopStamp(7)) << "the desktop was used after window 1";
  recency.touch(1, false);
  EXPECT_EQ(screen.lastUsed(), recency.stamp(1));
}

TEST_F(SnapshotShape, AppInfoFromARunningApplication) {
  sim::App named, bundled, bare;
  named.name = "Quill";
  named.policy = platform::ActivationPolicy::accessory;
  bundled.bundleIdentifier = "org.example.lumen";
  const auto make = [&](const sim::App& a) {
    return AppInfo(*NSRunningApplication::withProcessIdentifier(scene_.windowServer.addApp(a)));
  };
  const AppInfo quill = make(named), lumen = make(bundled), nameless = make(bare);
  EXPECT_EQ(quill.name, "Quill");
  EXPECT_TRUE(quill.accessory);
  EXPECT_EQ(lumen.name, "org.example.lumen");
  EXPECT_FALSE(lumen.accessory);
  EXPECT_EQ(nameless.name, "?");
  ASSERT_TRUE(nameless.icon);
  EXPECT_NE(nameless.id, 0);
  EXPECT_EQ(nameless.app.processIdentifier(), nameless.id);
}

}  // namespace
}  // namespace trelliq
