// The topics of each switcher mode and the scripts the demonstrations play.

#include <gtest/gtest.h>

#include "guide/model/GuideTopic.h"

namespace trelliq {
namespace {

using Tiles = Settings::Tiles;
using Gesture = Settings::Gesture;

std::vector<std::string> titles(const std::vector<GuideTopic>& topics) {
  std::vector<std::string> result;
  for (const auto& t : topics) result.push_back(t.title);
  return result;
}

std::vector<std::string> names(const GuideTopic& topic) {
  std::vector<std::string> result;
  for (const auto& v : topic.variants) result.push_back(v.name);
  return result;
}

const Demo& script(const GuideTopic& topic, const std::string& variant) {
  const Demo* demo = topic.variant(variant).demo();
  EXPECT_NE(demo, nullptr);
  static const Demo none;
  return demo ? *demo : none;
}

TEST(GuideTopics, EachModeListsItsTopicsInOrder) {
  EXPECT_EQ(titles(GuideTopic::all(Tiles::apps, std::nullopt)),
            (std::vector<std::string>{"Apps", "Spaces", "Windows", "Apps without windows", "Displays", "Scrolling",
                                      "Without the keyboard"}));
  EXPECT_EQ(titles(GuideTopic::all(Tiles::windows, std::nullopt)),
            (std::vector<std::string>{"Windows", "One desktop", "Apps without windows", "Displays", "Scrolling",
                                      "Without the keyboard"}));
  EXPECT_EQ(titles(GuideTopic::all(Tiles::both, Gesture::fourFingerDoubleTap)),
            (std::vector<std::string>{"Apps", "Spaces", "An app's windows", "Window tiles", "One desktop",
                                      "Apps without windows", "Displays", "Scrolling", "Without the keyboard"}));
}

TEST(GuideTopics, TheTitleWindowsMeansAnAppsWindowsInAppsModeAndEveryWindowInWindowsMode) {
  const GuideTopic inApps = GuideTopic::all(Tiles::apps, std::nullopt)[2];
  EXPECT_EQ(script(inApps, "Windows").keys, (std::set<std::string>{"⌘", "`"}));
  EXPECT_EQ(inApps.line, "Pick one of an app's windows");
  const GuideTopic inWindows = GuideTopic::all(Tiles::windows, std::nullopt)[0];
  EXPECT_EQ(script(inWindows, "Forward").keys, (std::set<std::string>{"⌘", "⇥"}));
  EXPECT_TRUE(script(inWindows, "Forward").tiles);
  const GuideTopic tilesInBoth = GuideTopic::all(Tiles::both, std::nullopt)[3];
  EXPECT_EQ(script(tilesInBoth, "Backward").hold, "⌥");
  EXPECT_EQ(script(tilesInBoth, "Backward").keys, (std::set<std::string>{"⌥", "⇧", "⇥"}));
}

TEST(GuideTopics, WithoutAGestureTheKeyboardFreeTopicHasNoOpenAndCloseVariant) {
  const GuideTopic last = GuideTopic::all(Tiles::apps, std::nullopt).back();
  EXPECT_EQ(last.line, "Opened from a hot corner");
  EXPECT_EQ(names(last), (std::vector<std::string>{"Scroll", "Two-finger click"}));

  const GuideTopic withTap = GuideTopic::all(Tiles::both, Gesture::fourFingerDoubleTap).back();
  EXPECT_EQ(withTap.line, "Open it with a double-tap");
  ASSERT_EQ(names(withTap), (std::vector<std::string>{"Open and close", "Scroll", "Two-finger click"}));
  EXPECT_EQ(withTap.variants[0].caption, "Double-tap with four fingers to open it, and again to close it");
  const Demo& open = script(withTap, "Open and close");
  ASSERT_EQ(open.steps.size(), 4u);
  EXPECT_FALSE(open.steps[0].open);
  EXPECT_EQ(open.steps[1].move, TrackpadMove::doubleTap(4));
  EXPECT_TRUE(open.steps[1].open);
  EXPECT_EQ(open.steps[3].move, TrackpadMove::doubleTap(4));
  EXPECT_FALSE(open.steps[3].open);
  EXPECT_EQ(script(GuideTopic::withoutKeyboard(false, Gesture::threeFingerDoubleTap), "Open and close").steps[1].move,
            TrackpadMove::doubleTap(3));
}

TEST(GuideTopics, ExactlyTheseTopicsOfferAVariantPicker) {
  for (Tiles mode : Tiles::allCases()) {
    for (auto gesture : {std::optional<Gesture>(), std::optional<Gesture>(Gesture::threeFingerDoubleTap)}) {
      for (const GuideTopic& topic : GuideTopic::all(mode, gesture)) {
        ASSERT_FALSE(topic.variants.empty()) << topic.title;
        const bool several = topic.variants.size() >= 2;
        const bool expected = topic.title == "Apps" || topic.title == "Scrolling" ||
                              topic.title == "Without the keyboard" || topic.title == "Window tiles" ||
                              (topic.title == "Windows" && mode == Tiles::windows);
        EXPECT_EQ(several, expected) << topic.title << " in mode " << mode.rawValue();
      }
    }
  }
}

// Every frame of every script must point at something the miniature draws, and a key it
// presses must be among the caps shown: a slip in a script would highlight nothing.
TEST(GuideTopics, EveryFrameHighlightsSomethingDrawnAndPressesAShownKey) {
  for (Tiles mode : Tiles::allCases()) {
    for (const GuideTopic& topic : GuideTopic::all(mode, Gesture::fourFingerDoubleTap)) {
      for (const GuideVariant& variant : topic.variants) {
        const Demo* demo = variant.demo();
        if (!demo) continue;
        const std::string where = topic.title + "/" + variant.name;
        ASSERT_FALSE(demo->steps.empty()) << where;
        EXPECT_LE(demo->bottomApps, 3) << where;
        EXPECT_NE(demo->trackpad, !demo->keys.empty()) << where;
        if (!demo->trackpad) {
          EXPECT_TRUE(demo->keys.count(demo->hold)) << where;
        }
        for (const Demo::Step& step : demo->steps) {
          if (step.bottom) {
            EXPECT_LT(step.app, demo->bottomApps) << where;
          } else if (demo->tiles) {
            EXPECT_LT(step.app, 2) << where;
            EXPECT_LT(step.window, 2) << where;
          } else {
            EXPECT_LT(step.app, 4) << where;
            if (demo->windows > 0) {
              EXPECT_LT(step.window, demo->windows) << where;
            }
          }
          if (step.tap) {
            EXPECT_TRUE(demo->keys.count(*step.tap)) << where << " presses " << *step.tap;
          }
          for (const auto& held : step.held) EXPECT_TRUE(demo->keys.count(held)) << where << " holds " << held;
          if (step.move) {
            EXPECT_TRUE(demo->trackpad) << where;
          }
        }
      }
    }
  }
}

TEST(GuideTopics, ScriptsThatDependOnTheTileModeLandOnTheirOwnTiles) {
  // Going back up from the tray lands on app 1 among app tiles and desktop 0 among window tiles.
  EXPECT_EQ(script(GuideTopic::tray(false), "Apps without windows").steps.back(), (Demo::Step{.tap = "⌃", .app = 1}));
  EXPECT_EQ(script(GuideTopic::tray(true), "Apps without windows").steps.back(), (Demo::Step{.tap = "⌃", .app = 0}));
  EXPECT_TRUE(script(GuideTopic::tray(true), "Apps without windows").tiles);

  const auto sideways = script(GuideTopic::scrolling(false), "Sideways").steps;
  ASSERT_EQ(sideways.size(), 4u);
  EXPECT_EQ(sideways[0].app, 1);
  EXPECT_EQ(sideways[2].app, 3);
  const auto tiled = script(GuideTopic::scrolling(true), "Sideways").steps;
  EXPECT_EQ(tiled[0].app, 0);
  EXPECT_EQ(tiled[0].window, 1);
  EXPECT_EQ(tiled[2].window, 1);
  for (const auto& step : tiled) EXPECT_EQ(step.move, TrackpadMove::scroll(1, 0));

  const auto upDown = script(GuideTopic::scrolling(true), "Up and down");
  EXPECT_EQ(upDown.bottomApps, 3);
  EXPECT_EQ(upDown.steps[0].move, TrackpadMove::scroll(0, 1));
  EXPECT_TRUE(upDown.steps[0].bottom);
  EXPECT_EQ(upDown.steps[2].move, TrackpadMove::scroll(0, -1));
  EXPECT_FALSE(upDown.steps[2].bottom);

  const auto click = script(GuideTopic::withoutKeyboard(false, std::nullopt), "Two-finger click").steps;
  ASSERT_EQ(click.size(), 5u);
  EXPECT_EQ(click[4].move, TrackpadMove::rightClick());
  EXPECT_FALSE(click[4].open);
  EXPECT_EQ(click[4].app, 2);
  EXPECT_EQ(script(GuideTopic::withoutKeyboard(true, std::nullopt), "Two-finger click").steps[4].window, 1);
}

TEST(GuideTopics, DisplaysCarriesItsOwnDemonstrationAndATwoLineCaption) {
  const GuideTopic topic = GuideTopic::displays();
  ASSERT_EQ(topic.variants.size(), 1u);
  EXPECT_EQ(topic.variants[0].demo(), nullptr);
  EXPECT_EQ(std::count(topic.variants[0].caption.begin(), topic.variants[0].caption.end(), '\n'), 1);
  // Unknown variant names fall back to the first.
  EXPECT_EQ(GuideTopic::apps().variant("Sideways").name, "Forward");
  EXPECT_EQ(GuideTopic::apps().variant(std::nullopt).name, "Forward");
  EXPECT_EQ(&GuideTopic::apps(), &GuideTopic::apps());
}

}  // namespace
}  // namespace trelliq
