#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "platform/CoreFoundation.h"
#include "platform/CoreGraphics.h"
#include "platform/Files.h"
#include "platform/Geometry.h"
#include "platform/ServiceManagement.h"
#include "platform/sim/Scenario.h"
#include "support/ScenarioText.h"
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
  EXPECT_TRUE(NSGlassEffectView().respondsToSelector("set_variant:"));
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
    "glassVariant": false,
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
  EXPECT_FALSE(NSGlassEffectView().respondsToSelector("set_variant:"));
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
      {R"({"glassVariant": 0})", "glassVariant: expected true or false"},
      {R"({"osVersion": 4000000000})", "osVersion: expected a major version"},
      {R"({"preferences": {"../x": {}}})", "preferences[\"../x\"]: not a domain name"},
      {R"({"preferences": {"com.apple.dock": {"a": null}}})",
       "preferences[\"com.apple.dock\"][\"a\"]: expected a preference value, found null"},
      {R"({"preferences": {"com.apple.dock": {"b": {"$data": "%%"}}}})",
       "preferences[\"com.apple.dock\"][\"b\"].$data: expected base64 text"},
      {R"({"preferences": {"com.example": {"$date": 5}}})",
       "preferences[\"com.example\"]: expected the domain's settings as an object of keys"},
      {R"({"preferences": {"com.example": {"$data": "AAAA"}}})",
       "preferences[\"com.example\"]: expected the domain's settings as an object of keys"},
      {R"({"missingSymbols": [{"library": "/L"}]})", "missingSymbols[0]: expected \"library\" and \"symbol\""},
  };
  for (const Case& c : cases) {
    const auto problem = sim::loadScenarioText(scene.world, scenarios::withBuiltInDisplays(c.json), "desk.json");
    ASSERT_TRUE(problem) << c.json;
    EXPECT_THAT(*problem, StartsWith("desk.json: " + c.message)) << c.json;
  }
  // A scenario is the whole desk: one without displays would start on none.
  EXPECT_EQ(sim::loadScenarioText(scene.world, R"({"osVersion": "15.3"})", "desk.json"),
            "desk.json: no \"displays\": a scenario describes the whole desk (\"displays\": [] for one without "
            "screens)");
  // Nothing of the failed files reached the world.
  EXPECT_EQ(scene.world.displays().size(), 2u);
  EXPECT_EQ(scene.world.display(1)->screen.frame, CGRect(0, 0, 1512, 982));
  EXPECT_EQ(scene.world.preferenceDomain("com.apple.dock")->count("a"), 0u);
}

TEST(ScenarioTest, HostileFilesAreRefusedBeforeTheyAreRead) {
  Scene scene(Scene::Start::defaultScenario);
  // A FIFO with no writer would block a plain read for ever; a device never ends.
  const std::string fifo = scene.path("desk.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(sim::loadScenarioFile(scene.world, fifo), fifo + ": not a regular file");
  EXPECT_EQ(sim::loadScenarioFile(scene.world, "/dev/zero"), "/dev/zero: not a regular file");
  EXPECT_EQ(sim::loadScenarioFile(scene.world, scene.home), scene.home + ": not a regular file");

  // A sparse file just over the limit costs nothing to make and must cost nothing to refuse.
  const std::string large = scene.path("large.json");
  ASSERT_TRUE(platform::FileManager::writeAtomically(large, "{}"));
  ASSERT_EQ(::truncate(large.c_str(), static_cast<off_t>(sim::kMaxScenarioBytes + 1)), 0);
  EXPECT_EQ(sim::loadScenarioFile(scene.world, large), large + ": larger than the 16 MB a scenario may have");
  const std::string desk = scenarios::withBuiltInDisplays("{}");
  ASSERT_TRUE(
      platform::FileManager::writeAtomically(large, desk + std::string(sim::kMaxScenarioBytes - desk.size(), ' ')));
  EXPECT_EQ(sim::loadScenarioFile(scene.world, large), std::nullopt) << "a file at the limit is read";

  // A name that would break the message's line is escaped, like every outside text.
  const std::string odd = scene.path("odd\n\xe2\x80\xae.json");
  EXPECT_THAT(sim::loadScenarioFile(scene.world, odd).value_or(""),
              StartsWith(scene.path("odd\\n\\u{202E}.json") + ": cannot read the file"));
  EXPECT_EQ(scene.world.displays().size(), 2u);
}

TEST(ScenarioTest, DeeplyNestedPreferencesAndHugeDisplaysGetAClearError) {
  Scene scene(Scene::Start::defaultScenario);
  const auto nested = [](int depth) {
    return R"({"displays": [], "preferences": {"d": {"k": )" + std::string(static_cast<std::size_t>(depth), '[') +
           std::string(static_cast<std::size_t>(depth), ']') + "}}}";
  };
  // 64 levels below the domain's key are fine; one more is refused where it happens.
  EXPECT_EQ(sim::loadScenarioText(scene.world, nested(64), "deep.json"), std::nullopt);
  EXPECT_TRUE(scene.world.displays().empty()) << "an empty list of displays is a desk without screens";
  std::string path = "preferences[\"d\"][\"k\"]";
  for (int i = 0; i < 64; ++i) path += "[0]";
  EXPECT_EQ(sim::loadScenarioText(scene.world, nested(65), "deep.json"),
            "deep.json: " + path + ": nested more than 64 levels deep");
  // Far deeper is the same short message, quickly.
  EXPECT_EQ(sim::loadScenarioText(scene.world, nested(200000), "deep.json"),
            "deep.json: " + path + ": nested more than 64 levels deep");

  struct Case {
    std::string display;
    std::string message;
  };
  const Case cases[] = {
      {R"({"id": 1, "frame": [0, 0, 1024, 1000000]})", "displays[0].frame: a display is at most 8192 points"},
      {R"({"id": 1, "frame": [0, 0, 8193, 100]})", "displays[0].frame: a display is at most 8192 points"},
      {R"({"id": 1, "frame": [0, 0, 8192, 100], "scale": 2.5})",
       "displays[0].scale: the display would be more than 16384 pixels"},
      {R"({"id": 1, "frame": [0, 0, 100, 100], "name": "A\u202eB", "scale": 0})",
       "displays[0].scale: expected a scale above 0 and at most 8"},
      {R"({"id": 1, "frame": [0, 0, 100, 100], "scale": 8.01})",
       "displays[0].scale: expected a scale above 0 and at most 8"},
      {R"({"id": 1, "frame": [0, 0, 100, 100], "se\ncret": 1})", "displays[0].se\\ncret: unknown field"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sim::loadScenarioText(scene.world, R"({"displays": [)" + c.display + "]}", "big.json").value_or("")
                  .rfind("big.json: " + c.message, 0),
              0u)
        << c.display;
  }
  EXPECT_EQ(sim::loadScenarioText(scene.world, R"({"displays": [{"id": 1, "frame": [0, 0, 8192, 8192], "scale": 2}]})",
                                  "big.json"),
            std::nullopt);
  // What the message promises, the check allows.
  for (const std::string scale : {"0.5", "8"}) {
    EXPECT_EQ(
        sim::loadScenarioText(
            scene.world, R"({"displays": [{"id": 1, "frame": [0, 0, 100, 100], "scale": )" + scale + "}]}", "big.json"),
        std::nullopt)
        << scale;
  }
}

TEST(ScenarioTest, PictureSidesStayWithinAnIntAndTheLimit) {
  const std::pair<double, int> rows[] = {
      {0, 0}, {-5, 0}, {0.9, 0}, {1.9, 1}, {16383.99, 16383}, {16384, 16384}, {1e19, 16384}, {-1e19, 0},
      {std::numeric_limits<double>::infinity(), 16384}, {std::numeric_limits<double>::quiet_NaN(), 0},
  };
  for (const auto& [pixels, side] : rows) EXPECT_EQ(platform::pictureSide(pixels), side) << pixels;
}
