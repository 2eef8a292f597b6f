// What the guide shows as modes are picked, topics clicked, settings changed and the window closed.

#include <gtest/gtest.h>

#include "guide/model/GuideState.h"

namespace trelliq {
namespace {

using Tiles = Settings::Tiles;

TEST(GuideStates, TheModeMenuNamesTheCurrentModeAndPickingChangesOnlyTheGuide) {
  GuideState state("Apps", "apps");
  const auto items = state.modeItems();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].second, "App cycling (current mode)");
  EXPECT_EQ(items[1].second, "Window cycling");
  EXPECT_EQ(items[2].second, "Hybrid");

  state.pickMode(Tiles::windows);
  EXPECT_EQ(state.mode(), Tiles::windows);
  EXPECT_EQ(state.current(), Tiles::apps);
  EXPECT_EQ(state.topics().size(), 6u);
  EXPECT_EQ(state.topic(), "Windows");
  EXPECT_EQ(state.displayedVariant().name, "Forward");

  state.pickMode(Tiles::both);
  EXPECT_EQ(state.topics().size(), 9u);
  EXPECT_EQ(state.topic(), "Apps");

  state.selectTopic("Spaces");
  state.pickMode(Tiles::apps);  // the current mode: the override goes
  EXPECT_FALSE(state.shown());
  EXPECT_EQ(state.topic(), "Apps");  // the mode changed from both, so the first topic
}

TEST(GuideStates, TheHeaderOffersOptionOnlyInTheHybridMode) {
  using Kind = GuideState::HeaderPart::Kind;
  GuideState both("Apps", "both");
  const auto parts = both.header();
  std::vector<std::string> texts;
  for (const auto& p : parts) texts.push_back(p.kind == Kind::arrow ? "→" : p.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"Hold", "⌘", "or", "⌥", "press", "⇥", "→", "let go to switch"}));
  EXPECT_EQ(parts[3].label, "option");
  EXPECT_EQ(both.modeItems()[2].second, "Hybrid (current mode)");
  GuideState apps("Apps", "apps");
  EXPECT_EQ(apps.header().size(), 6u);
  apps.pickMode(Tiles::both);
  EXPECT_EQ(apps.header().size(), 8u);
}

TEST(GuideStates, ClickingATopicResetsItsVariantAndUnknownTopicsShowTheFirst) {
  GuideState state("Scrolling", "apps");
  state.selectVariant("Up and down");
  EXPECT_EQ(state.demoIdentity(), "Scrolling/Up and down");
  EXPECT_TRUE(state.showsVariantPicker());
  state.selectTopic("Scrolling");
  EXPECT_EQ(state.displayedVariant().name, "Sideways");

  GuideState lost("No such topic", "apps");
  EXPECT_EQ(lost.topic(), "No such topic");  // the selection stays, no row is selected
  EXPECT_EQ(lost.displayedTopic().title, "Apps");
  for (const auto& t : lost.topics()) EXPECT_FALSE(lost.isSelected(t));
  lost.selectTopic("Spaces");
  EXPECT_FALSE(lost.showsVariantPicker());
  lost.selectVariant("Nonsense");
  EXPECT_EQ(lost.displayedVariant().name, "Spaces");
}

TEST(GuideStates, ClosingTheWindowOrChangingTheStoredModeReturnsToTheCurrentMode) {
  GuideState state("Spaces", "apps");
  state.pickMode(Tiles::windows);
  state.selectTopic("One desktop");
  state.windowWillClose();
  EXPECT_EQ(state.mode(), Tiles::apps);
  EXPECT_EQ(state.topic(), "Apps");  // the mode changed back

  // Closing without an override keeps topic and variant.
  state.selectTopic("Scrolling");
  state.selectVariant("Up and down");
  state.windowWillClose();
  EXPECT_EQ(state.demoIdentity(), "Scrolling/Up and down");

  // The switcher's mode changed elsewhere to the mode shown: the override goes, the topic stays.
  state.pickMode(Tiles::windows);
  state.selectTopic("Scrolling");
  state.setStoredTiles("windows");
  EXPECT_FALSE(state.shown());
  EXPECT_EQ(state.mode(), Tiles::windows);
  EXPECT_EQ(state.topic(), "Scrolling");
  // ...and to another mode: its first topic.
  state.setStoredTiles("both");
  EXPECT_EQ(state.topic(), "Apps");
}

TEST(GuideStates, UnknownStoredValuesReadAsAppsAndNoGesture) {
  GuideState state("Without the keyboard", "tiles?", "fiveFingerPinch");
  EXPECT_EQ(state.current(), Tiles::apps);
  EXPECT_EQ(state.displayedTopic().line, "Opened from a hot corner");
  state.setStoredGesture("threeFingerDoubleTap");
  EXPECT_EQ(state.displayedTopic().line, "Open it with a double-tap");
  EXPECT_EQ(state.displayedVariant().name, "Open and close");
  EXPECT_EQ(state.topic(), "Without the keyboard");  // same mode: the topic stays
  EXPECT_EQ(GuideState("Apps", "").current(), Tiles::apps);
}

}  // namespace
}  // namespace trelliq
