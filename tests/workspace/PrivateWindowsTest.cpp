// Questions about single windows, and the program's overlay Space.

#include <gtest/gtest.h>

#include "WindowServerScenes.h"
#include "platform/AppKitWindows.h"
#include "platform/Image.h"
#include "workspace/Private.h"

namespace trelliq {
namespace {

using platform::PlistArray;
using platform::PlistValue;

class PrivateWindows : public ::testing::Test {
 protected:
  void SetUp() override { prepare(); }
  void prepare() {
    scenes::twoDisplays(scene);
    scene.world.setScreenCaptureAllowed(true);
    pid = scenes::addApp(scene, "Notes");
    window = scenes::addWindow(scene, {.pid = pid, .spaces = {13}});
  }
  std::vector<PlistArray> calls(const char* symbol) {
    std::vector<PlistArray> result;
    for (const auto& call : scene.windowServer.privateCalls(symbol)) result.push_back(call.arguments);
    return result;
  }

  Scene scene;
  std::int32_t pid = 0;
  std::uint32_t window = 0;
};

TEST_F(PrivateWindows, SpacesOrderingAndPictures) {
  const auto hidden = scenes::addWindow(scene, {.pid = pid, .spaces = {22, 11}, .orderedIn = false});
  EXPECT_EQ(Private::spaces(window), (std::vector<std::int64_t>{13}));
  EXPECT_EQ(Private::spaces(hidden).size(), 2u);
  EXPECT_TRUE(Private::spaces(9999).empty());
  EXPECT_EQ(calls("SLSCopySpacesForWindows")[0][1], PlistValue(7));
  EXPECT_EQ(calls("SLSCopySpacesForWindows")[0][2], PlistValue(PlistArray{window}));
  EXPECT_TRUE(Private::isOrderedIn(window));
  EXPECT_FALSE(Private::isOrderedIn(hidden));
  EXPECT_FALSE(Private::isOrderedIn(9999));

  scene.world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1440, 900), "Built-in", 2)});
  CGImageRef full = Private::capture(window, true);
  CGImageRef reduced = Private::capture(window, false);
  ASSERT_TRUE(full && reduced);
  EXPECT_GT(full->width(), reduced->width());
  EXPECT_EQ(calls("SLSHWCaptureWindowList")[0][2], PlistValue(0x80900));
  EXPECT_EQ(calls("SLSHWCaptureWindowList")[1][2], PlistValue(0x80a00));
  EXPECT_FALSE(Private::capture(9999, true));
}

TEST_F(PrivateWindows, TheDesktopPictureBelongsToTheDockAndItsSpace) {
  // A picture-named window of another owner on the same Space does not count.
  scenes::addWindow(scene, {.pid = pid, .title = "Wallpaper Studio", .spaces = {12}});
  EXPECT_FALSE(Private::wallpaperWindow(12));  // no Dock yet
  sim::App dock;
  dock.name = "Dock";
  dock.bundleIdentifier = "com.apple.dock";
  const std::int32_t dockPID = scene.windowServer.addApp(dock);
  for (std::int64_t space : {11, 12, 21}) {
    auto number = Private::wallpaperWindow(space);
    ASSERT_TRUE(number) << space;
    EXPECT_EQ(scene.windowServer.window(*number)->pid, dockPID);
    EXPECT_EQ(scene.windowServer.window(*number)->spaces, (std::vector<std::uint64_t>{std::uint64_t(space)}));
  }
  EXPECT_FALSE(Private::wallpaperWindow(404));
  // Several Spaces at once find the same pictures, and none for a Space without one.
  const std::map<std::int64_t, std::uint32_t> together = Private::wallpaperWindows({11, 12, 21, 404});
  EXPECT_EQ(together.size(), 3u);
  for (const auto& [space, number] : together) EXPECT_EQ(Private::wallpaperWindow(space), number) << space;
  scene.world.setOSVersion({13, 6, 0});  // older systems name it "Desktop Picture …"
  EXPECT_TRUE(Private::wallpaperWindow(13));
  scene.world.setScreenCaptureAllowed(false);  // no names, nothing to recognise
  EXPECT_FALSE(Private::wallpaperWindow(13));
}

TEST_F(PrivateWindows, KeepOnTopMakesOneOverlaySpaceAndPassesOnlyNumberedWindows) {
  NSPanel shown(CGRect(10, 10, 200, 100), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  NSPanel neverShown(CGRect(10, 10, 200, 100), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  shown.orderFrontRegardless();
  Private::keepOnTop({&neverShown, &shown});
  Private::keepOnTop({&neverShown});

  ASSERT_EQ(calls("SLSSpaceCreate").size(), 1u);
  EXPECT_EQ(calls("SLSSpaceCreate")[0][1], PlistValue(1));
  const PlistValue overlay = calls("SLSSpaceSetAbsoluteLevel").at(0)[1];
  EXPECT_EQ(calls("SLSSpaceSetAbsoluteLevel")[0][2], PlistValue(100));
  EXPECT_EQ(calls("SLSShowSpaces"), (std::vector<PlistArray>{{PlistValue(0x5A3D), PlistArray{overlay}}}));
  const auto adds = calls("SLSAddWindowsToSpaces");
  ASSERT_EQ(adds.size(), 2u);
  EXPECT_EQ(adds[0][1], PlistValue(PlistArray{shown.windowNumber()}));
  EXPECT_EQ(adds[0][2], PlistValue(PlistArray{overlay}));
  EXPECT_EQ(adds[1][1], PlistValue(PlistArray{}));  // still called with nothing left
  const auto spaces = Private::spaces(static_cast<std::uint32_t>(shown.windowNumber()));
  EXPECT_NE(std::find(spaces.begin(), spaces.end(), *overlay.asInteger()), spaces.end());
}

struct NoSpace {
  static CGSSpaceID create(CGSConnectionID, std::int32_t, const platform::PlistDictionary*) { return 0; }
};

TEST_F(PrivateWindows, AnOverlaySpaceThatCannotBeMadeIsNeverRetried) {
  for (bool missingShow : {true, false}) {
    scene.restart();
    prepare();
    if (missingShow)
      scene.world.removeSymbol(kSkyLightPath, "SLSShowSpaces");
    else
      scene.world.addFunction<SLSSpaceCreate_t>(kSkyLightPath, "SLSSpaceCreate", &NoSpace::create);
    NSPanel panel(CGRect(10, 10, 200, 100), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
    panel.orderFrontRegardless();
    Private::keepOnTop({&panel});
    Private::keepOnTop({&panel});
    EXPECT_TRUE(calls("SLSSpaceSetAbsoluteLevel").empty());
    EXPECT_TRUE(calls("SLSAddWindowsToSpaces").empty());
  }
}

struct OddSpaces {
  static std::optional<PlistArray> call(CGSConnectionID, std::int32_t, const PlistArray&) {
    return PlistArray{12, "13", 14.0};
  }
};

TEST_F(PrivateWindows, MissingFunctionsAndOddAnswersGiveEmptyAnswers) {
  for (const char* symbol :
       {"SLSCopySpacesForWindows", "SLSWindowIsOrderedIn", "SLSHWCaptureWindowList", "SLSMainConnectionID"}) {
    SCOPED_TRACE(symbol);
    scene.restart();
    prepare();
    scene.world.removeSymbol(kSkyLightPath, symbol);
    // Each answer is empty exactly when its own function (or the connection) is missing.
    const std::string missing = symbol;
    const bool all = missing == "SLSMainConnectionID";
    EXPECT_EQ(Private::spaces(window).empty(), all || missing == "SLSCopySpacesForWindows");
    EXPECT_EQ(!Private::isOrderedIn(window), all || missing == "SLSWindowIsOrderedIn");
    EXPECT_EQ(!Private::capture(window, true), all || missing == "SLSHWCaptureWindowList");
  }
  scene.restart();
  scene.world.addFunction<SLSCopySpacesForWindows_t>(kSkyLightPath, "SLSCopySpacesForWindows", &OddSpaces::call);
  EXPECT_EQ(Private::spaces(5), (std::vector<std::int64_t>{12, 14}));  // non-numbers are skipped
}

TEST_F(PrivateWindows, FunctionsAreLookedUpOnceAndTheConnectionAskedOnce) {
  scene.world.resetCallCounts();
  for (int i = 0; i < 3; ++i) {
    Private::spaces(window);
    Private::currentSpaces();
  }
  EXPECT_EQ(scene.world.callCount("dlsym:SLSCopySpacesForWindows"), 1);
  EXPECT_EQ(scene.world.callCount("dlsym:SLSCopyManagedDisplaySpaces"), 1);
  EXPECT_EQ(calls("SLSMainConnectionID").size(), 1u);
}

}  // namespace
}  // namespace trelliq
