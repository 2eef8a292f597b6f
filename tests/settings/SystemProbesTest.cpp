// Whether macOS itself already uses a hot corner or a trackpad gesture, read from the
// Dock's, the trackpads' and the accessibility preferences as those programs write them.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using platform::PlistDictionary;
using platform::PlistValue;
using Corner = Settings::HotCorner;
using Gesture = Settings::Gesture;

constexpr const char* kDock = "com.apple.dock";
constexpr const char* kTrackpad = "com.apple.AppleMultitouchTrackpad";
constexpr const char* kBluetooth = "com.apple.driver.AppleBluetoothMultitouch.trackpad";
constexpr const char* kAccess = "com.apple.universalaccess";

TEST(DockCorners, ACornerIsTakenOnlyByAnActionWithoutModifier) {
  struct Row {
    std::optional<PlistValue> action;
    std::optional<PlistValue> modifier;
    bool taken;
  };
  const std::vector<Row> rows = {
      {std::nullopt, std::nullopt, false},
      {0, 0, false},
      {1, 0, false},  // 1 is the Dock's "no action"
      {2, 0, true},
      {5, std::nullopt, true},
      {5, 0, true},
      {5, 131072, false},  // needs ⇧
      {5, "0", true},      // a modifier that is no number counts as none
      {"5", 0, false},     // an action that is no number counts as none
      {5.0, 0, true},
      {true, 0, false},
      {-3, 0, false},
  };
  Scene scene;
  for (const Row& row : rows) {
    ASSERT_TRUE(scene.world.writeForeignDomain(kDock, PlistDictionary{}));
    scene.world.writeForeignPreference(kDock, "wvous-tr-corner", row.action);
    scene.world.writeForeignPreference(kDock, "wvous-tr-modifier", row.modifier);
    EXPECT_EQ(Corner(Corner::topRight).takenByMacOS(), row.taken)
        << (row.action ? row.action->describe() : "none") << " / "
        << (row.modifier ? row.modifier->describe() : "none");
  }
}

TEST(DockCorners, EachCornerReadsItsOwnKeysAfresh) {
  Scene scene;
  scene.world.writeForeignPreferences(kDock, {{"wvous-bl-corner", 4}, {"wvous-tl-corner", 1}});
  std::vector<std::string> taken;
  for (const Corner corner : Corner::allCases()) {
    if (corner.takenByMacOS()) taken.emplace_back(corner.rawValue());
  }
  EXPECT_EQ(taken, std::vector<std::string>{"bottomLeft"});

  // The user changes the Dock's corners in System Settings while the program runs.
  scene.world.writeForeignPreferences(kDock, {{"wvous-bl-corner", 1}, {"wvous-br-corner", 13}});
  EXPECT_FALSE(Corner(Corner::bottomLeft).takenByMacOS());
  EXPECT_TRUE(Corner(Corner::bottomRight).takenByMacOS());
}

TEST(TrackpadGestures, ZoomWinsOverLookUpAndFourFingersAreFree) {
  struct Row {
    const char* name;
    std::optional<PlistValue> trackpad;
    std::optional<PlistValue> bluetooth;
    std::optional<PlistValue> zoom;
    const char* expected;  // `what` of the answer, or nullptr
  };
  const std::vector<Row> rows = {
      {"nothing set", std::nullopt, std::nullopt, std::nullopt, nullptr},
      {"built-in trackpad looks up", 2, std::nullopt, std::nullopt, "look up & data detectors"},
      {"built-in trackpad as a real", 2.0, std::nullopt, std::nullopt, "look up & data detectors"},
      {"Bluetooth trackpad looks up", 0, 2, std::nullopt, "look up & data detectors"},
      {"only the Bluetooth trackpad is set", std::nullopt, 2, std::nullopt, "look up & data detectors"},
      {"three-finger tap does something else", 1, 1, std::nullopt, nullptr},
      {"look up as text is not a number", "2", std::nullopt, std::nullopt, nullptr},
      {"zoom alone", std::nullopt, std::nullopt, true, "Zoom"},
      {"zoom as a number", std::nullopt, std::nullopt, 1, "Zoom"},
      {"zoom and look up", 2, 2, true, "Zoom"},
      {"zoom off, look up on", 2, std::nullopt, false, "look up & data detectors"},
      {"zoom as text is not a number", std::nullopt, std::nullopt, "1", nullptr},
  };
  for (const Row& row : rows) {
    Scene scene;
    scene.world.writeForeignPreference(kTrackpad, "TrackpadThreeFingerTapGesture", row.trackpad);
    scene.world.writeForeignPreference(kBluetooth, "TrackpadThreeFingerTapGesture", row.bluetooth);
    scene.world.writeForeignPreference(kAccess, "closeViewTrackpadGestureZoomEnabled", row.zoom);
    const auto use = Gesture(Gesture::threeFingerDoubleTap).usedByMacOS();
    if (row.expected) {
      ASSERT_TRUE(use) << row.name;
      EXPECT_EQ(use->what, row.expected) << row.name;
    } else {
      EXPECT_FALSE(use) << row.name << ": " << use->what;
    }
    EXPECT_FALSE(Gesture(Gesture::fourFingerDoubleTap).usedByMacOS()) << row.name;
  }
}

TEST(TrackpadGestures, TheAnswerNamesWhereToTurnTheFeatureOff) {
  Scene scene;
  scene.world.writeForeignPreference(kTrackpad, "TrackpadThreeFingerTapGesture", 2);
  const Gesture three(Gesture::threeFingerDoubleTap);
  EXPECT_EQ(three.usedByMacOS(),
            (Gesture::MacOSUse{"look up & data detectors", "System Settings › Trackpad › Point & Click",
                               "x-apple.systempreferences:com.apple.preference.trackpad", false}));
  // Turned on while the program runs: seen at the next call.
  scene.world.writeForeignPreference(kAccess, "closeViewTrackpadGestureZoomEnabled", true);
  EXPECT_EQ(three.usedByMacOS(),
            (Gesture::MacOSUse{"Zoom", "System Settings › Accessibility › Zoom",
                               "x-apple.systempreferences:com.apple.preference.universalaccess?Zoom", true}));
}

}  // namespace
}  // namespace trelliq
