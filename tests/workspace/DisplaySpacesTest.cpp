// Displays and their Spaces as the program reads them from the window server.

#include <gtest/gtest.h>

#include "WindowServerScenes.h"
#include "platform/AppKit.h"
#include "workspace/Private.h"

namespace trelliq {
namespace {

using platform::PlistArray;
using platform::PlistDictionary;
using platform::PlistValue;
using scenes::displayEntry;
using scenes::spaceEntry;
using Ids = std::vector<std::int64_t>;

Ids spaceIDs(const Private::DisplayLayout& display) {
  Ids ids;
  for (const auto& space : display.spaces) ids.push_back(space.id);
  return ids;
}

std::vector<std::string> displayIDs(const Private::Layout& layout) {
  std::vector<std::string> ids;
  for (const auto& display : layout.displays) ids.push_back(display.id);
  return ids;
}

class DisplaySpaces : public ::testing::Test {
 protected:
  Scene scene;
};

TEST_F(DisplaySpaces, SeparateSharedAndSingleScreenLayouts) {
  // The server lists the right-hand display first; the layout reads left to right.
  scene.world.setDisplays({sim::makeDisplay(2, CGRect(1440, 0, 1920, 1080), "Studio"),
                           sim::makeDisplay(1, CGRect(0, 0, 1440, 900), "Built-in")});
  scene.windowServer.setSpaces(1, {scenes::space(11), scenes::space(12), scenes::space(13, 4)}, 12);
  scene.windowServer.setSpaces(2, {scenes::space(21)}, 21);
  auto layout = Private::displayLayout();
  EXPECT_FALSE(layout.shared);
  EXPECT_EQ(displayIDs(layout), (std::vector<std::string>{sim::displayUUID(1), sim::displayUUID(2)}));
  EXPECT_EQ(spaceIDs(layout.displays[0]), (Ids{11, 12, 13}));
  EXPECT_EQ(layout.displays[0].spaces[0], (Private::SpaceLayout{11, "uuid-11", false}));
  EXPECT_TRUE(layout.displays[0].spaces[2].fullScreen);
  EXPECT_EQ(layout.displays[0].current, 12);
  EXPECT_EQ(layout.displays[1].current, 21);

  scene.windowServer.setSharedSpaces(true);  // one "Main" entry for both screens
  layout = Private::displayLayout();
  EXPECT_TRUE(layout.shared);
  EXPECT_EQ(displayIDs(layout), (std::vector<std::string>{sim::displayUUID(1), sim::displayUUID(2)}));
  EXPECT_EQ(spaceIDs(layout.displays[0]), spaceIDs(layout.displays[1]));
  EXPECT_EQ(layout.displays[0].current, layout.displays[1].current);

  scene.world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1440, 900), "Built-in")});
  layout = Private::displayLayout();
  EXPECT_FALSE(layout.shared);
  EXPECT_EQ(displayIDs(layout), (std::vector<std::string>{"Main"}));  // "Main" is the first screen
}

TEST_F(DisplaySpaces, DescriptionsThatMatchScreensOddly) {
  auto noNumber = sim::makeDisplay(2, CGRect(1440, 0, 1920, 1080.5), "Studio");
  noNumber.screen.hasDisplayNumber = false;
  scene.world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1440, 900), "Built-in"), noNumber});
  scenes::FakeDisplaySpaces::install(scene, PlistArray{displayEntry("Elsewhere", {spaceEntry(5, 0)}, 5)});
  EXPECT_EQ(Private::displayLayout().shared, true);
  EXPECT_TRUE(Private::displayLayout().displays.empty());

  // Shared Spaces name a screen without a UUID by its frame.
  scenes::FakeDisplaySpaces::answer = PlistArray{displayEntry("Main", {spaceEntry(5, 0)}, 5)};
  EXPECT_EQ(displayIDs(Private::displayLayout()),
            (std::vector<std::string>{sim::displayUUID(1), "(1440.0, 0.0, 1920.0, 1080.5)"}));
  EXPECT_FALSE(Private::screenOfDisplay(std::string("main")));

  // Screens starting at the same x keep the server's order.
  scene.world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1440, 900), "Built-in"),
                           sim::makeDisplay(2, CGRect(0, 900, 1440, 900), "Above"),
                           sim::makeDisplay(3, CGRect(-1920, 0, 1920, 1080), "Left")});
  scenes::FakeDisplaySpaces::answer = PlistArray{displayEntry(sim::displayUUID(2), {spaceEntry(21, 0)}, 21),
                                                 displayEntry(sim::displayUUID(1), {spaceEntry(11, 0)}, 11),
                                                 displayEntry(sim::displayUUID(3), {spaceEntry(31, 0)}, 31)};
  EXPECT_EQ(displayIDs(Private::displayLayout()),
            (std::vector<std::string>{sim::displayUUID(3), sim::displayUUID(2), sim::displayUUID(1)}));
}

TEST_F(DisplaySpaces, StepsCountEverySpaceFromTheCurrentOneOfTheTargetsDisplay) {
  scenes::twoDisplays(scene);
  scene.windowServer.setSpaces(
      1, {scenes::space(11), scenes::space(15, sim::kSpaceTypeSystem), scenes::space(12), scenes::space(13)}, 13);
  EXPECT_EQ(spaceIDs(Private::displayLayout().displays[0]), (Ids{11, 12, 13}));
  EXPECT_EQ(Private::steps(11)->steps, -3);
  EXPECT_EQ(Private::steps(12)->steps, -1);
  EXPECT_EQ(Private::steps(13)->steps, 0);
  const auto right = Private::steps(22);
  ASSERT_TRUE(right);
  EXPECT_EQ(right->steps, 1);
  EXPECT_EQ(right->center, (CGPoint{1440 + 960, 900 - 540}));  // top-left coordinates
  EXPECT_FALSE(Private::steps(99));

  // A display whose current Space is not among its Spaces is passed over.
  scene.restart();  // functions are looked up once per system
  scenes::twoDisplays(scene);
  scenes::FakeDisplaySpaces::install(
      scene, PlistArray{displayEntry(sim::displayUUID(1), {spaceEntry(5, 0)}, 77),
                        displayEntry(sim::displayUUID(2), {spaceEntry(5, 0), spaceEntry(6, 0)}, 6)});
  EXPECT_EQ(Private::steps(5)->steps, -1);
}

TEST_F(DisplaySpaces, CurrentSpacesAndTheScreenOfASpace) {
  scenes::twoDisplays(scene);
  scene.windowServer.setSpaces(2, {scenes::space(21), scenes::space(22, 4)}, 22);
  const auto screens = NSScreen::screens();
  EXPECT_EQ(Private::currentSpaces(), (std::set<std::int64_t>{12, 22}));
  EXPECT_EQ(Private::currentSpace(screens[1]), 22);
  EXPECT_EQ(Private::fullScreenSpaces(), (std::set<std::int64_t>{22}));
  EXPECT_EQ(Private::screenOfSpace(22)->screen, screens[1]);
  EXPECT_TRUE(Private::screenOfSpace(22)->fullScreen);
  EXPECT_FALSE(Private::screenOfSpace(11)->fullScreen);
  EXPECT_FALSE(Private::screenOfSpace(404));

  scene.restart();
  scenes::twoDisplays(scene);
  scenes::FakeDisplaySpaces::install(scene, PlistArray{displayEntry("gone", {spaceEntry(5, 4)}, 5),
                                                       displayEntry(sim::displayUUID(2), {spaceEntry(5, 0)}, 5)});
  EXPECT_EQ(Private::screenOfSpace(5)->screen.frame(), CGRect(1440, 0, 1920, 1080));
  EXPECT_FALSE(Private::screenOfSpace(5)->fullScreen);
}

TEST_F(DisplaySpaces, MalformedEntriesCountAsMissing) {
  scenes::twoDisplays(scene);
  PlistDictionary first{{"Display Identifier", sim::displayUUID(1)},
                        {"Spaces", PlistArray{spaceEntry(11, 0), PlistDictionary{{"id64", "12"}, {"type", 0}},
                                              PlistDictionary{{"type", 0}}, PlistDictionary{{"id64", 14}},
                                              PlistValue("not a Space"), PlistDictionary{{"id64", 16}, {"type", "4"}}}},
                        {"Current Space", PlistArray{}}};
  PlistDictionary second{{"Display Identifier", sim::displayUUID(2)},
                         {"Spaces", "none"},
                         {"Current Space", PlistDictionary{{"id64", 21}}}};
  scenes::FakeDisplaySpaces::install(scene, PlistArray{first, second});
  const auto layout = Private::displayLayout();
  ASSERT_EQ(layout.displays.size(), 2u);
  EXPECT_EQ(spaceIDs(layout.displays[0]), (Ids{11, 14, 16}));  // missing type reads as 0
  EXPECT_EQ(layout.displays[0].spaces[1].uuid, "");
  EXPECT_FALSE(layout.displays[0].spaces[2].fullScreen);
  EXPECT_FALSE(layout.displays[0].current);
  EXPECT_TRUE(layout.displays[1].spaces.empty());
  EXPECT_EQ(Private::currentSpaces(), (std::set<std::int64_t>{21}));
  EXPECT_FALSE(Private::steps(11));
}

TEST_F(DisplaySpaces, EveryUnreadableDescriptionGivesTheEmptyAnswers) {
  const std::vector<std::pair<std::string, std::function<void(Scene&)>>> cases = {
      {"not a list of dictionaries",
       [](Scene& s) {
         scenes::FakeDisplaySpaces::install(s, PlistArray{scenes::displayEntry("x", {}, 1), 42});
       }},
      {"null", [](Scene& s) { scenes::FakeDisplaySpaces::install(s, std::nullopt); }},
      {"no function", [](Scene& s) { s.world.removeSymbol(kSkyLightPath, "SLSCopyManagedDisplaySpaces"); }},
      {"no connection", [](Scene& s) { s.world.removeSymbol(kSkyLightPath, "SLSMainConnectionID"); }},
      {"no library", [](Scene& s) { s.world.removeLibrary(kSkyLightPath); }},
  };
  for (const auto& [name, breakIt] : cases) {
    SCOPED_TRACE(name);
    scene.restart();
    scenes::twoDisplays(scene);
    breakIt(scene);
    const auto layout = Private::displayLayout();
    EXPECT_TRUE(layout.displays.empty());
    EXPECT_FALSE(layout.shared);
    EXPECT_TRUE(Private::currentSpaces().empty());
    EXPECT_FALSE(Private::currentSpace(NSScreen::screens()[0]));
    EXPECT_TRUE(Private::fullScreenSpaces().empty());
    EXPECT_FALSE(Private::steps(11));
    EXPECT_FALSE(Private::screenOfSpace(11));
  }
}

}  // namespace
}  // namespace trelliq
