// Scenario files describing the desk: what they build, and how a bad one is reported.

#include <gtest/gtest.h>

#include <set>

#include "platform/sim/Scenario.h"
#include "support/ScenarioText.h"
#include "support/Scene.h"

namespace {

// Cases without displays of their own stand on the built-in desk's.
std::optional<std::string> load(Scene& scene, const std::string& text) {
  return sim::loadScenarioText(scene.world, scenarios::withBuiltInDisplays(text), "desk.json");
}

int runningWithBundle(const sim::WindowServer& ws, const std::string& bundle) {
  int n = 0;
  for (const sim::App& a : ws.apps()) n += a.bundleIdentifier == bundle;
  return n;
}

}  // namespace

TEST(DeskScenarioTest, MalformedSectionsNameTheFileAndThePath) {
  Scene scene(Scene::Start::defaultScenario);
  const std::size_t apps = scene.windowServer.apps().size();
  const std::size_t windows = scene.windowServer.windows().size();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"apps": [], "windows": [{"app": 999, "frame": [0, 0, 10, 10]}]})",
       "desk.json: windows[0].app: no running app has pid 999"},
      {R"({"spaces": [{"display": 9, "spaces": [{"id": 1}]}]})", "desk.json: spaces[0].display: no display 9"},
      {R"({"spaces": [{"display": 1, "spaces": [{"id": 1, "type": "wide"}]}]})",
       "desk.json: spaces[0].spaces[0].type: expected one of \"desktop\", \"fullScreen\""},
      {R"({"spaces": [{"display": 1, "current": 9, "spaces": [{"id": 1}]}]})", "desk.json: spaces[0].current: "},
      {R"({"spaces": [{"display": 1, "spaces": [{"id": 1}]}, {"display": 3, "spaces": [{"id": 1}]}]})",
       "desk.json: spaces[1].spaces[0].id: Space 1 is listed twice"},
      {R"({"apps": [{"pid": 400, "name": 3}]})", "desk.json: apps[0].name: expected a string, found a number"},
      {R"({"apps": [{"pid": 400, "colour": "#FFFFFF"}]})", "desk.json: apps[0].colour: unknown field"},
      {R"({"apps": [{"pid": 401}, {"pid": 401}]})", "desk.json: apps[1].pid: pid 401 is taken"},
      {R"({"apps": [{"name": "Ghost", "running": false}]})", "desk.json: apps[0]: an app that is not running"},
      {R"({"windows": [{"app": 301, "frame": [0, 0, 10]}]})", "desk.json: windows[0].frame: expected an array of 4"},
      {R"({"windows": [{"app": 301, "frame": [0, 0, 10, 10], "alpha": 2}]})", "desk.json: windows[0].alpha: "},
      {R"({"spaces": [{"display": 1, "spaces": [{"id": 1}]}], "apps": [{"pid": 301}],
          "windows": [{"app": 301, "frame": [0, 0, 10, 10],
          "spaces": [1], "fullScreen": true}]})",
       "desk.json: windows[0].fullScreen: "},
      {R"({"windows": [{"app": 301, "frame": [0, 0, 10, 10], "spaces": "some"}]})", "desk.json: windows[0].spaces: "},
      {R"({"followsSpace": "sometimes"})", "desk.json: followsSpace: expected one of"},
      {R"({"sharedSpaces": "yes"})", "desk.json: sharedSpaces: expected true or false"},
      {R"({"apps": [], "frontmost": 301})", "desk.json: frontmost: no running app has pid 301"},
  };
  for (const auto& [text, expected] : cases) {
    const auto problem = load(scene, text);
    ASSERT_TRUE(problem) << text;
    EXPECT_EQ(problem->rfind(expected, 0), 0u) << *problem;
    // Nothing of a bad file reaches the desk.
    EXPECT_EQ(scene.windowServer.apps().size(), apps) << text;
    EXPECT_EQ(scene.windowServer.windows().size(), windows) << text;
  }
}

TEST(DeskScenarioTest, AFileDescribesSpacesAppsAndWindows) {
  Scene scene;
  const auto problem = load(scene, R"({
    "displays": [{"id": 1, "frame": [0, 0, 1000, 800]}, {"id": 2, "frame": [1000, 0, 1000, 800]}],
    "sharedSpaces": true,
    "followsSpace": "late",
    "spaces": [{"display": 1, "current": 11, "spaces": [
      {"id": 10}, {"id": 11, "desktopColor": "#112233"}, {"id": 12, "type": 2}, {"id": 13, "type": "fullScreen"}]}],
    "apps": [
      {"own": true, "pid": 777, "name": "Trelliq"},
      {"pid": 500, "name": "Older", "launchedAgo": 600},
      {"pid": 501, "name": "Newer", "launchedAgo": 60, "hidden": true, "quit": "refuses"},
      {"name": "Later", "bundlePath": "/Applications/Later.app", "running": false}
    ],
    "frontmost": 500,
    "windows": [
      {"number": 40, "app": 500, "title": "Front", "frame": [10, 10, 300, 200], "spaces": [11]},
      {"number": 41, "app": 500, "title": "Back", "frame": [20, 20, 300, 200], "spaces": [11]},
      {"number": 42, "app": 501, "title": "Everywhere", "frame": [30, 30, 300, 200], "spaces": "all"},
      {"number": 43, "app": 500, "title": "Whole", "frame": [0, 0, 10, 10], "spaces": [13], "fullScreen": true},
      {"number": 44, "app": 500, "title": "Down", "frame": [0, 0, 300, 200], "spaces": [10], "minimized": true}
    ]
  })");
  ASSERT_FALSE(problem) << *problem;
  sim::WindowServer& ws = scene.windowServer;
  EXPECT_TRUE(ws.sharedSpaces());
  EXPECT_EQ(ws.spaceFollow(), sim::SpaceFollow::followsLate);
  EXPECT_EQ(ws.currentSpace(2), 11u);
  EXPECT_EQ(ws.space(12)->type, 2);
  EXPECT_EQ(ws.space(11)->desktopColor, 0x112233u);
  EXPECT_EQ(ws.ownProcessIdentifier(), 777);

  std::vector<std::int32_t> running;
  for (const sim::App& a : ws.apps()) running.push_back(a.pid);
  EXPECT_EQ(running, (std::vector<std::int32_t>{500, 501, 777}));  // oldest launch first
  EXPECT_EQ(ws.frontmost(), 500);
  EXPECT_TRUE(ws.app(501)->hidden);
  EXPECT_EQ(ws.app(501)->quitBehavior, sim::QuitBehavior::refuses);
  EXPECT_FALSE(ws.appWithBundlePath("/Applications/Later.app"));

  const auto mine = ws.windowsOf(500);
  ASSERT_GE(mine.size(), 2u);
  EXPECT_EQ(mine[0].number, 40u);  // listed front to back
  EXPECT_EQ(mine[1].number, 41u);
  EXPECT_EQ(ws.app(500)->focusedWindow, 40u);
  EXPECT_TRUE(ws.window(42)->allSpaces);
  EXPECT_FALSE(ws.isOnScreen(42));                            // its app is hidden
  EXPECT_EQ(ws.window(43)->bounds, CGRect(0, 0, 1000, 800));  // a full-screen window fills its screen
  EXPECT_EQ(ws.space(13)->fullScreenWindow, 43u);
  EXPECT_FALSE(ws.window(44)->orderedIn);
  EXPECT_TRUE(ws.changes().empty());  // setting up is not a change tests should see
}

TEST(DeskScenarioTest, TheBuiltInDeskHasWhatADeskHas) {
  Scene scene(Scene::Start::defaultScenario);
  sim::WindowServer& ws = scene.windowServer;
  const auto displays = ws.displays();
  ASSERT_EQ(displays.size(), 2u);
  std::size_t fullScreenSpaces = 0;
  for (const auto& d : displays) {
    EXPECT_GE(d.spaces.size(), 2u);
    for (const auto& s : d.spaces) fullScreenSpaces += s.type == sim::kSpaceTypeFullScreen;
  }
  EXPECT_EQ(fullScreenSpaces, 1u);

  std::set<std::uint32_t> displaysWithWindows;
  std::set<std::uint64_t> spacesWithWindows;
  bool minimized = false;
  for (const sim::Window& w : ws.windows()) {
    if (w.layer != 0 || !w.axElement) continue;
    minimized = minimized || w.minimized;
    for (std::uint64_t s : w.spaces) {
      spacesWithWindows.insert(s);
      displaysWithWindows.insert(*ws.displayOfSpace(s));
    }
  }
  EXPECT_TRUE(minimized);
  EXPECT_EQ(displaysWithWindows.size(), 2u);
  EXPECT_GE(spacesWithWindows.size(), 5u);

  int regular = 0, hidden = 0, windowless = 0, accessory = 0;
  for (const sim::App& a : ws.apps()) {
    if (a.policy == platform::ActivationPolicy::regular) {
      ++regular;
      hidden += a.hidden;
      windowless += ws.windowsOf(a.pid).empty();
    }
    accessory += a.policy == platform::ActivationPolicy::accessory && a.pid != ws.ownProcessIdentifier();
  }
  EXPECT_GE(regular, 12);
  EXPECT_GE(hidden, 1);
  EXPECT_GE(windowless, 1);
  EXPECT_GE(accessory, 1);
  EXPECT_EQ(runningWithBundle(ws, "com.apple.finder"), 1);
  EXPECT_EQ(runningWithBundle(ws, "com.apple.dock"), 1);

  // The text of the built-in desk loads on its own, to the same desk.
  Scene again;
  ASSERT_FALSE(sim::loadScenarioText(again.world, sim::defaultScenarioText(), "built-in"));
  EXPECT_EQ(again.windowServer.windows().size(), ws.windows().size());
  EXPECT_EQ(again.windowServer.apps().size(), ws.apps().size());
}

TEST(DeskScenarioTest, PidsMustNameAProcessTheDeskHasAndNeverTheProgramsOrTheServers) {
  Scene scene(Scene::Start::defaultScenario);
  const std::size_t windows = scene.windowServer.windows().size();
  const std::vector<std::pair<std::string, std::string>> cases = {
      // Without an "apps" section the desk's own apps are the ones to point at, unless
      // "windows" clears the desk, apps and all.
      {R"({"frontmost": 999})", "desk.json: frontmost: no running app has pid 999"},
      {R"({"windows": [{"app": 301, "frame": [0, 0, 10, 10]}]})",
       "desk.json: windows[0].app: no running app has pid 301 (a \"windows\" section clears the desk: list its apps "
       "under \"apps\")"},
      // The program's own pid, and the window server's, are nobody else's.
      {R"({"apps": [{"pid": 4242}]})", "desk.json: apps[0].pid: pid 4242 is taken"},
      {R"({"apps": [{"pid": 150}]})", "desk.json: apps[0].pid: pid 150 is taken"},
      {R"({"apps": [{"own": true, "pid": 150}]})", "desk.json: apps[0].pid: pid 150 is taken"},
      {R"({"apps": [{"pid": 500}, {"own": true, "pid": 500}]})", "desk.json: apps[1].pid: pid 500 is taken"},
      {R"({"apps": [{"own": true, "pid": 500}, {"pid": 500}]})", "desk.json: apps[1].pid: pid 500 is taken"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(load(scene, text), expected) << text;
    EXPECT_EQ(scene.windowServer.windows().size(), windows) << text;
  }
  // A desk app may be made frontmost without an "apps" section; the window server's own
  // entries and the program's windows need no app.
  EXPECT_EQ(load(scene, R"({"frontmost": 302})"), std::nullopt);
  EXPECT_EQ(scene.windowServer.frontmost(), 302);
  EXPECT_EQ(load(scene, R"({"windows": [{"app": 150, "frame": [0, 0, 10, 10], "layer": 20}]})"), std::nullopt);
}

TEST(DeskScenarioTest, AuthoringMistakesInTheNewerFactsAreNamedWhereTheyAre) {
  Scene scene(Scene::Start::defaultScenario);
  const std::size_t windows = scene.windowServer.windows().size();
  const std::string two = R"("displays": [{"id": 1, "uuid": "A", "frame": [0, 0, 100, 100]},
                                          {"id": 2, "uuid": "B", "frame": [100, 0, 100, 100]}])";
  const std::vector<std::pair<std::string, std::string>> cases = {
      // One list of Spaces for every display: a second entry would silently replace the first.
      {"{" + two + R"(, "sharedSpaces": true, "spaces": [{"display": 1, "spaces": [{"id": 1}]},
                                                         {"display": 2, "spaces": [{"id": 2}]}]})",
       "desk.json: spaces[1]: with shared Spaces every display shows the one list of spaces[0]"},
      {R"({"apps": [{"pid": 500, "focusedWindow": 7}], "windows": [{"number": 7, "app": 500, "frame": [0, 0, 9, 9],
          "accessible": false}]})",
       "desk.json: apps[0].focusedWindow: window 7 is not one of this app's accessible windows"},
      {R"({"apps": [{"pid": 500, "focusedWindow": 7}, {"pid": 501}],
          "windows": [{"number": 7, "app": 501, "frame": [0, 0, 9, 9]}]})",
       "desk.json: apps[0].focusedWindow: window 7 is not one of this app's"},
      {R"({"apps": [{"pid": 500, "terminated": true}], "windows": [{"app": 500, "frame": [0, 0, 9, 9]}]})",
       "desk.json: windows[0].app: app 500 has terminated: its windows are gone"},
      {R"({"apps": [{"pid": 500, "terminated": true}], "frontmost": 500})", "desk.json: frontmost: app 500 has terminated"},
      {R"({"apps": [{"own": true, "terminated": true}]})", "desk.json: apps[0].terminated: only a running app"},
      {R"({"apps": [{"pid": 500, "accessibilityErrors": {"AXTitle": "broken"}}]})",
       "desk.json: apps[0].accessibilityErrors[\"AXTitle\"]: expected one of \"failure\""},
      {R"({"apps": [{"name": "Later", "bundlePath": "/L.app", "running": false, "launchedAgo": null}]})",
       "desk.json: apps[0]: an app that is not running has no windows"},
      {R"({"windows": [{"app": 150, "title": "x", "emptyName": true, "frame": [0, 0, 9, 9]}]})",
       "desk.json: windows[0].emptyName: a window with an empty name has no \"title\""},
      {R"({"windows": [{"app": 150, "listed": false, "accessible": false, "frame": [0, 0, 9, 9]}]})",
       "desk.json: windows[0].listed: a window neither the window server nor its app lists does not exist"},
      {R"({"windows": [{"number": 5, "app": 150, "listed": false, "frame": [0, 0, 9, 9]}]})",
       "desk.json: windows[0].number: a window the window server does not list has no number"},
      {"{" + two + R"(, "unmatchedDisplays": [{"uuid": "B", "spaces": [{"id": 90}]}]})",
       "desk.json: unmatchedDisplays[0].uuid: \"B\" must be a uuid no screen has"},
      {R"({"unmatchedDisplays": [{"uuid": "X", "spaces": [{"id": 1}]}]})",
       "desk.json: unmatchedDisplays[0].spaces[0].id: Space 1 is listed twice"},
      {R"({"unmatchedDisplays": [{"uuid": "X", "current": 3, "spaces": [{"id": 90}]}]})",
       "desk.json: unmatchedDisplays[0].current: Space 3 is not one of this entry's"},
      {R"({"frontmostRaisesWindow": 0})", "desk.json: frontmostRaisesWindow: expected true or false"},
  };
  for (const auto& [text, expected] : cases) {
    const auto problem = load(scene, text);
    ASSERT_TRUE(problem) << text;
    EXPECT_EQ(problem->rfind(expected, 0), 0u) << *problem;
    EXPECT_EQ(scene.windowServer.windows().size(), windows) << text;
  }
}
