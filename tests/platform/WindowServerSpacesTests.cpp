// Spaces as the private window-server functions describe them, and how Spaces change.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/AppKitWorkspace.h"
#include "platform/CGWindow.h"
#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"
#include "support/Scene.h"
#include "support/Served.h"

namespace {

using platform::PlistArray;
using platform::PlistDictionary;
using platform::PlistValue;

template <typename F>
F* sky(const char* name) {
  return platform::symbolAs<F>(platform::dlopen(kSkyLightPath, platform::RTLD_NOW_), name);
}

PlistArray describeSpaces() {
  auto cid = sky<SLSMainConnectionID_t>("SLSMainConnectionID")();
  auto result = sky<SLSCopyManagedDisplaySpaces_t>("SLSCopyManagedDisplaySpaces")(cid);
  return result ? *result : PlistArray{};
}

std::vector<std::int64_t> spacesFor(std::uint32_t window, std::int32_t mask = 7) {
  auto cid = sky<SLSMainConnectionID_t>("SLSMainConnectionID")();
  auto result = sky<SLSCopySpacesForWindows_t>("SLSCopySpacesForWindows")(cid, mask, PlistArray{window});
  std::vector<std::int64_t> ids;
  for (const auto& v : *result) ids.push_back(*v.asInteger());
  return ids;
}

std::vector<std::uint32_t> onScreenNumbers() {
  std::vector<std::uint32_t> result;
  const auto list = *CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly, 0);
  for (const auto& v : list)
    result.push_back(static_cast<std::uint32_t>(*integerEntry(*v.asDictionary(), kCGWindowNumber)));
  return result;
}

bool contains(const std::vector<std::uint32_t>& v, std::uint32_t n) {
  return std::find(v.begin(), v.end(), n) != v.end();
}

// Each case in process and in a program attached to a host serving the scene.
class SpacesTest : public ::testing::TestWithParam<Served> {
 protected:
  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
  Attachment attachment{scene, GetParam()};
};

TRELLIQ_SERVED_BOTH_WAYS(SpacesTest);

}  // namespace

TEST_P(SpacesTest, EachDisplayDescribesItsOwnSpacesInOrder) {
  const PlistArray displays = describeSpaces();
  ASSERT_EQ(displays.size(), 2u);
  const PlistDictionary& first = *displays[0].asDictionary();
  EXPECT_EQ(stringEntry(first, "Display Identifier"), scene.world.display(1)->screen.uuid);
  const PlistArray& spaces = *arrayEntry(first, "Spaces");
  std::vector<std::int64_t> ids, types;
  for (const auto& s : spaces) {
    ids.push_back(*integerEntry(*s.asDictionary(), "id64"));
    types.push_back(*integerEntry(*s.asDictionary(), "type"));
    EXPECT_EQ(stringEntry(*s.asDictionary(), "uuid")->size(), 36u);
  }
  EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 4, 5, 6}));
  EXPECT_EQ(types, (std::vector<std::int64_t>{0, 0, 4, 0}));
  EXPECT_EQ(integerEntry(*dictionaryEntry(first, "Current Space"), "id64"), 1);
  EXPECT_EQ(integerEntry(*dictionaryEntry(*displays[1].asDictionary(), "Current Space"), "id64"), 2);

  // A connection other than the program's gets nothing.
  EXPECT_FALSE(sky<SLSCopyManagedDisplaySpaces_t>("SLSCopyManagedDisplaySpaces")(1));
}

TEST_P(SpacesTest, SharedSpacesAreOneDisplayCalledMain) {
  server.setSharedSpaces(true);
  const PlistArray displays = describeSpaces();
  ASSERT_EQ(displays.size(), 1u);
  const PlistDictionary& only = *displays[0].asDictionary();
  EXPECT_EQ(stringEntry(only, "Display Identifier"), "Main");
  EXPECT_EQ(arrayEntry(only, "Spaces")->size(), 6u);  // both displays' Spaces, one set
  // Both screens show the one current Space, and switching changes it for both.
  EXPECT_EQ(server.currentSpace(1), server.currentSpace(3));
  ASSERT_TRUE(server.switchSpace(7, sim::SwitchStyle::instant));
  EXPECT_EQ(server.currentSpace(1), 7u);
  EXPECT_EQ(server.currentSpace(3), 7u);
  EXPECT_EQ(server.currentSpaces(), std::vector<std::uint64_t>{7});

  server.setSharedSpaces(false);
  EXPECT_EQ(describeSpaces().size(), 2u);
}

TEST_P(SpacesTest, OtherSpaceTypesAreListedAndCountedAsNeighbours) {
  sim::Space system;
  system.id = 40;
  system.type = sim::kSpaceTypeSystem;
  server.addSpace(3, system, 1);  // between Spaces 2 and 7
  const PlistArray displays = describeSpaces();
  const PlistArray& spaces = *arrayEntry(*displays[1].asDictionary(), "Spaces");
  ASSERT_EQ(spaces.size(), 3u);
  EXPECT_EQ(integerEntry(*spaces[1].asDictionary(), "type"), 2);
  EXPECT_EQ(server.spaceToRight(3), 40u);
  EXPECT_EQ(server.spaceToLeft(3), std::nullopt);
  server.switchSpace(7, sim::SwitchStyle::instant);
  EXPECT_EQ(server.spaceToLeft(3), 40u);
  EXPECT_EQ(server.spaceToRight(3), std::nullopt);
}

TEST_P(SpacesTest, WindowsLieOnTheirSpacesAndAllSpacesWindowsOnEveryCurrentOne) {
  EXPECT_EQ(spacesFor(2102), std::vector<std::int64_t>{4});
  EXPECT_EQ(spacesFor(5101), std::vector<std::int64_t>{5});
  EXPECT_TRUE(spacesFor(5101, 1).empty());                        // full-screen Spaces only with their mask bit
  EXPECT_EQ(spacesFor(9301), (std::vector<std::int64_t>{1, 2}));  // the status item is on every Space
  EXPECT_TRUE(spacesFor(424242).empty());

  server.setWindowSpaces(2102, {4, 6});
  EXPECT_EQ(spacesFor(2102), (std::vector<std::int64_t>{4, 6}));
  auto ordered = sky<SLSWindowIsOrderedIn_t>("SLSWindowIsOrderedIn");
  bool in = true;
  EXPECT_EQ(ordered(sim::WindowServer::kConnectionID, 2103, &in), 0);
  EXPECT_FALSE(in);  // minimized
  EXPECT_EQ(ordered(sim::WindowServer::kConnectionID, 2102, &in), 0);
  EXPECT_TRUE(in);  // ordered in, though on a Space that does not show
  EXPECT_NE(ordered(sim::WindowServer::kConnectionID, 424242, &in), 0);
}

TEST_P(SpacesTest, InstantSwitchLandsAtOnceAndASlideWhenItEnds) {
  int changes = 0;
  NSNotificationCenter& center = NSWorkspace::shared().notificationCenter();
  const auto token = center.addObserver(NSWorkspaceActiveSpaceDidChangeNotification, nullptr, nullptr,
                                        [&](const NSNotification&) { ++changes; });
  ASSERT_TRUE(server.switchSpace(4, sim::SwitchStyle::instant));
  attachment.settle();
  EXPECT_EQ(server.currentSpace(1), 4u);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(server.isOnScreen(2102));
  EXPECT_FALSE(server.isOnScreen(2101));

  ASSERT_TRUE(server.switchSpace(6, sim::SwitchStyle::slide));
  EXPECT_TRUE(server.isSliding(1));
  EXPECT_EQ(server.currentSpace(1), 4u);
  scene.clock.advance(server.timings().slide / 2);
  EXPECT_EQ(server.currentSpace(1), 4u);
  scene.clock.advance(server.timings().slide);
  attachment.settle();
  EXPECT_FALSE(server.isSliding(1));
  EXPECT_EQ(server.currentSpace(1), 6u);
  EXPECT_EQ(changes, 2);
  EXPECT_FALSE(server.switchSpace(999, sim::SwitchStyle::instant));
  center.removeObserver(token);
}

TEST_P(SpacesTest, OverlaySpaceWindowsAreListedAndShownAboveEverySpace) {
  // Show the full-screen Space, then put a panel of the program's own into an overlay Space.
  server.switchSpace(5, sim::SwitchStyle::instant);
  sim::Window panel;
  panel.pid = server.ownProcessIdentifier();
  panel.own = true;
  panel.layer = 101;
  panel.bounds = CGRect(500, 300, 200, 100);
  panel.spaces = {4};  // a Space that does not show
  panel.color = 0xFF0000;
  const std::uint32_t n = server.addWindow(panel);
  EXPECT_FALSE(contains(onScreenNumbers(), n));

  const auto cid = sky<SLSMainConnectionID_t>("SLSMainConnectionID")();
  const CGSSpaceID overlay = sky<SLSSpaceCreate_t>("SLSSpaceCreate")(cid, 1, nullptr);
  ASSERT_NE(overlay, 0u);
  EXPECT_EQ(sky<SLSSpaceSetAbsoluteLevel_t>("SLSSpaceSetAbsoluteLevel")(cid, overlay, 100), 0);
  EXPECT_EQ(sky<SLSAddWindowsToSpaces_t>("SLSAddWindowsToSpaces")(
                cid, PlistArray{n}, PlistArray{PlistValue(static_cast<long long>(overlay))}),
            0);
  // Added but not shown yet: still not on screen.
  EXPECT_FALSE(contains(onScreenNumbers(), n));
  EXPECT_EQ(sky<SLSShowSpaces_t>("SLSShowSpaces")(cid, PlistArray{PlistValue(static_cast<long long>(overlay))}), 0);

  const auto list = onScreenNumbers();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front(), n);  // above the menu bar, the Dock and the full-screen window
  EXPECT_TRUE(contains(list, 5101));
  EXPECT_TRUE(std::find(list.begin(), list.end(), n) < std::find(list.begin(), list.end(), 5101));
  // The overlay Space is not a managed one: the display description does not list it.
  const PlistArray displays = describeSpaces();
  for (const auto& d : displays) {
    for (const auto& s : *arrayEntry(*d.asDictionary(), "Spaces"))
      EXPECT_NE(integerEntry(*s.asDictionary(), "id64"), static_cast<std::int64_t>(overlay));
  }
  // It stays above whatever Space shows next.
  server.switchSpace(6, sim::SwitchStyle::instant);
  EXPECT_EQ(onScreenNumbers().front(), n);
  EXPECT_EQ(spacesFor(n, 4), std::vector<std::int64_t>{static_cast<std::int64_t>(overlay)});
}

TEST_P(SpacesTest, WindowsMoveToAManagedSpace) {
  const auto cid = sky<SLSMainConnectionID_t>("SLSMainConnectionID")();
  auto move = sky<SLSMoveWindowsToManagedSpace_t>("SLSMoveWindowsToManagedSpace");
  EXPECT_EQ(move(cid, PlistArray{2101, 1101}, 6), 0);
  EXPECT_EQ(spacesFor(2101), std::vector<std::int64_t>{6});
  EXPECT_EQ(spacesFor(1101), std::vector<std::int64_t>{6});
  EXPECT_NE(move(cid, PlistArray{2101}, 999), 0);
  EXPECT_EQ(spacesFor(2101), std::vector<std::int64_t>{6});
  ASSERT_EQ(server.privateCalls("SLSMoveWindowsToManagedSpace").size(), 2u);
  EXPECT_EQ(server.privateCalls("SLSMoveWindowsToManagedSpace")[0].arguments[1], PlistValue(PlistArray{2101, 1101}));
}

TEST_P(SpacesTest, RemovingASpaceKeepsItsWindowsOnTheDisplay) {
  server.switchSpace(4, sim::SwitchStyle::instant);
  ASSERT_TRUE(server.removeSpace(4));
  EXPECT_EQ(server.currentSpace(1), 1u);  // the Space to its left shows
  EXPECT_EQ(server.spacesOfWindow(2102), std::vector<std::uint64_t>{1});
  EXPECT_TRUE(server.isOnScreen(2102));
  EXPECT_TRUE(server.removeSpace(2));
  EXPECT_FALSE(server.removeSpace(7));  // a display keeps its last Space
  EXPECT_EQ(server.spacesOfWindow(7102), std::vector<std::uint64_t>{7});
}
