#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/AppKit.h"
#include "platform/CoreFoundation.h"
#include "platform/CoreGraphics.h"
#include "platform/Files.h"
#include "platform/ServiceManagement.h"
#include "platform/sim/Scenario.h"
#include "support/Scene.h"

using platform::PlistData;
using platform::PlistDate;
using platform::PlistValue;
using testing::HasSubstr;
using testing::StartsWith;

TEST(ScenarioTest, DefaultDeskIsPlausible) {
  Scene scene(Scene::Start::defaultScenario);
  const auto displays = scene.world.displays();
  ASSERT_EQ(displays.size(), 2u);
  EXPECT_EQ(displays[0].screen.frame, CGRect(0, 0, 1512, 982));
  EXPECT_EQ(displays[1].screen.frame, CGRect(1512, 0, 2560, 1440));
  EXPECT_NE(displays[0].desktopColor, displays[1].desktopColor);
  EXPECT_NE(displays[0].screen.localizedName, displays[1].screen.localizedName);
  EXPECT_TRUE(CGPreflightScreenCaptureAccess());
  EXPECT_EQ(SMAppService::mainAppService().status(), SMAppService::Status::notRegistered);
  EXPECT_EQ(scene.world.osVersion().major, 15);
  CFPreferencesAppSynchronize("com.apple.dock");
  EXPECT_EQ(CFPreferencesCopyAppValue("wvous-br-corner", "com.apple.dock"), PlistValue(14));
  EXPECT_EQ(CFPreferencesCopyAppValue("com.apple.swipescrolldirection", kCFPreferencesAnyApplication),
            PlistValue(true));
  EXPECT_EQ(sim::loadScenarioText(scene.world, sim::defaultScenarioText(), "again"), std::nullopt);
}

TEST(ScenarioTest, AFileDescribesTheWholeDesk) {
  Scene scene;
  const std::string path = scene.path("desk.json");
  ASSERT_TRUE(platform::FileManager::writeAtomically(path, R"({
    // Comments are allowed.
    "osVersion": "14.6.1",
    "displays": [
      {"id": 5, "frame": [0, 0, 1920, 1080], "desktopColor": "#112233", "scale": 2,
       "safeAreaInsets": {"top": 10}},
      {"id": 6, "name": "Side", "frame": [-1080, -200, 1080, 1920], "visibleFrame": [-1080, -200, 1080, 1895],
       "capturable": false}
    ],
    "permissions": {"screenCapture": true, "accessibility": false, "screenCaptureOnRequest": true},
    "loginItem": {"status": "requiresApproval", "registerError": "Not allowed"},
    "preferences": {"com.apple.dock": {"wvous-tl-corner": 2, "when": {"$date": 1767225600},
                                       "blob": {"$data": "AAEC/w=="}, "list": [1, "two", false]}},
    "missingSymbols": [{"library": "/L", "symbol": "S"}]
  })"));
  scene.world.addSymbol("/L", "S", &scene);
  scene.world.addSymbol("/L", "T", &scene);

  ASSERT_EQ(sim::loadScenarioFile(scene.world, path), std::nullopt);
  EXPECT_EQ(scene.world.osVersion(), (sim::World::Version{14, 6, 1}));
  const auto screens = NSScreen::screens();
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0].localizedName(), "Display 5");
  EXPECT_EQ(screens[0].visibleFrame(), CGRect(0, 0, 1920, 1056));
  EXPECT_EQ(screens[0].backingScaleFactor(), 2);
  EXPECT_EQ(screens[1].visibleFrame(), CGRect(-1080, -200, 1080, 1895));
  EXPECT_EQ(scene.world.display(5)->desktopColor, 0x112233u);
  EXPECT_FALSE(scene.world.display(6)->capturable);
  EXPECT_FALSE(scene.world.accessibilityTrusted(false));
  EXPECT_EQ(SMAppService::mainAppService().status(), SMAppService::Status::requiresApproval);
  EXPECT_EQ(SMAppService::mainAppService().registerService()->localizedDescription, "Not allowed");

  const auto dock = *scene.world.preferenceDomain("com.apple.dock");
  EXPECT_EQ(dock.at("wvous-tl-corner"), PlistValue(2));
  EXPECT_EQ(dock.at("when"), PlistValue(PlistDate{1767225600}));
  EXPECT_EQ(dock.at("blob"), PlistValue(PlistData{0, 1, 2, 255}));
  EXPECT_EQ(dock.at("list"), PlistValue(platform::PlistArray{1, "two", false}));
  EXPECT_EQ(scene.world.symbol("/L", "S"), nullptr);
  EXPECT_NE(scene.world.symbol("/L", "T"), nullptr);
}

TEST(ScenarioTest, TextThatIsNotJsonNamesFileAndLine) {
  Scene scene;
  const std::string path = scene.path("broken.json");
  platform::FileManager::writeAtomically(path, "{\n  \"displays\": [\n    {\"id\": 1,, }\n  ]\n}\n");
  const auto problem = sim::loadScenarioFile(scene.world, path);
  ASSERT_TRUE(problem);
  EXPECT_THAT(*problem, StartsWith(path + ": line 3, column "));
  EXPECT_THAT(*problem, Not(HasSubstr("json.exception")));

  EXPECT_THAT(sim::loadScenarioFile(scene.world, scene.path("absent.json")).value_or(""),
              StartsWith(scene.path("absent.json") + ": cannot read the file"));
  EXPECT_THAT(sim::loadScenarioText(scene.world, "", "empty.json").value_or(""), StartsWith("empty.json: line 1"));
}

TEST(ScenarioTest, WrongFieldsAreNamedAndLeaveTheWorldAlone) {
  Scene scene(Scene::Start::defaultScenario);
  const std::string good = R"({"id": 1, "frame": [0, 0, 100, 100]})";
  struct Case {
    std::string json;
    std::string message;
  };
  const Case cases[] = {
      {"[]", "the top level: expected an object, found an array"},
      {R"({"dispalys": []})", "dispalys: unknown field"},
      {R"({"displays": {}})", "displays: expected an array, found an object"},
      {R"({"displays": [)" + good + R"(, {"id": 2, "frame": [100, 0, 100]}]})",
       "displays[1].frame: expected an array of 4 numbers"},
      {R"({"displays": [{"id": 1, "frame": [0, 0, 0, 100]}]})", "displays[0].frame: expected a finite origin"},
      {R"({"displays": [{"id": 1, "frame": [10, 0, 100, 100]}]})", "displays[0].frame: the first display"},
      {R"({"displays": [)" + good + R"(, {"id": 1, "frame": [100, 0, 50, 50]}]})", "displays[1].id: display 1 is"},
      {R"({"displays": [)" + good + R"(, {"id": 2, "frame": [50, 50, 100, 100]}]})",
       "displays[1].frame: overlaps displays[0]"},
      {R"({"displays": [{"id": "one", "frame": [0, 0, 100, 100]}]})", "displays[0].id: expected a display number"},
      {R"({"displays": [{"id": 1}]})", "displays[0]: missing \"frame\""},
      {R"({"displays": [{"id": 1, "frame": [0, 0, 100, 100], "desktopColor": "blue"}]})",
       "displays[0].desktopColor: expected a colour"},
      {R"({"displays": [{"id": 1, "frame": [0, 0, 100, 100], "visibleFrame": [0, 0, 100, 200]}]})",
       "displays[0].visibleFrame: must lie within the frame"},
      {R"({"displays": [{"id": 1, "frame": [0, 0, 100, 100], "scale": "2"}]})",
       "displays[0].scale: expected a number, found a string"},
      {R"({"permissions": {"screenCapture": "yes"}})", "permissions.screenCapture: expected true or false"},
      {R"({"loginItem": {"status": "on"}})", "loginItem.status: expected \"notRegistered\""},
      {R"({"loginItem": {"registerError": 5}})", "loginItem.registerError: expected a string, found a number"},
      {R"({"osVersion": "fifteen"})", "osVersion: expected a version like"},
      {R"({"osVersion": 4000000000})", "osVersion: expected a major version"},
      {R"({"preferences": {"../x": {}}})", "preferences[\"../x\"]: not a domain name"},
      {R"({"preferences": {"com.apple.dock": {"a": null}}})",
       "preferences[\"com.apple.dock\"][\"a\"]: expected a preference value, found null"},
      {R"({"preferences": {"com.apple.dock": {"b": {"$data": "%%"}}}})",
       "preferences[\"com.apple.dock\"][\"b\"].$data: expected base64 text"},
      {R"({"missingSymbols": [{"library": "/L"}]})", "missingSymbols[0]: expected \"library\" and \"symbol\""},
  };
  for (const Case& c : cases) {
    const auto problem = sim::loadScenarioText(scene.world, c.json, "desk.json");
    ASSERT_TRUE(problem) << c.json;
    EXPECT_THAT(*problem, StartsWith("desk.json: " + c.message)) << c.json;
  }
  // Nothing of the failed files reached the world.
  EXPECT_EQ(scene.world.displays().size(), 2u);
  EXPECT_EQ(scene.world.display(1)->screen.frame, CGRect(0, 0, 1512, 982));
  EXPECT_EQ(scene.world.preferenceDomain("com.apple.dock")->count("a"), 0u);
}
