// Renaming a desktop in place while the panels show: saving (trimmed; the usual name or
// a blank removes the user's name), escaping, submitting (closes a second later without
// switching), resetting, what the tap does with keys meanwhile, and how the session goes
// on after the edit when ⌘ was let go during it.

#include <gtest/gtest.h>

#include "SessionStage.h"
#include "workspace/SpaceNames.h"

namespace trelliq::session {
namespace {

constexpr CGKeyCode kKeyQ = 12, kKeyComma = 43;

class RenamingTest : public SessionStage {
 protected:
  static constexpr const char* kDesktop = "0:1:desktop";  // Space 1's desktop on the built-in display

  void SetUp() override {
    startTap();
    openAndShow();
  }
  void openAndShow() {
    modifiers(kCommand);
    press(SwitcherKeys::tab, kCommand);
    scene.clock.advance(0.2);
    ASSERT_TRUE(switcher->session().isShown());
  }
  const Cluster* tile(const std::string& id) const {
    for (const DisplayGroup& g : switcher->model().workspace().displays) {
      for (const SpaceGroup& s : g.spaces) {
        for (const Cluster& c : s.clusters) {
          if (c.id == id) return &c;
        }
      }
    }
    return nullptr;
  }
  TileLabel labelOf(const std::string& id, int display) const {
    const Cluster* c = tile(id);
    return c ? switcher->model().label(*c, display, true) : TileLabel{};
  }
  std::optional<std::string> stored(const std::string& key) const {
    const auto names = SpaceNames::all();
    const auto it = names.find(key);
    return it == names.end() ? std::nullopt : std::optional(it->second);
  }
  void rename(const std::string& text, bool save = true) {
    switcher->renaming().startRenaming(kDesktop, 0);
    ASSERT_TRUE(switcher->gate().isRenaming());
    switcher->model().nameDraft.set(text);
    switcher->renaming().finishRenaming(save, false);
  }
  std::size_t consumedCount() { return sim::EventServer::active()->consumed().size(); }
};

TEST_F(RenamingTest, StartingHandsTheKeyboardToTheField) {
  const TileLabel label = labelOf(kDesktop, 0);
  ASSERT_TRUE(label.key);
  switcher->renaming().startRenaming(kDesktop, 0);
  const Switcher::OpenState state = switcher->gate().openState();
  EXPECT_TRUE(state.renaming);
  EXPECT_FALSE(state.open);
  EXPECT_EQ(switcher->model().renaming(), std::optional<std::string>(kDesktop));
  EXPECT_EQ(switcher->model().nameDraft(), label.name);
  EXPECT_EQ(switcher->model().renamingKey(), label.key);
  EXPECT_TRUE(switcher->panels().at(0).window->takesKeys());
  EXPECT_TRUE(switcher->panels().at(0).window->isKeyWindow());

  // Letters, esc and Return now reach the field instead of the switcher.
  const std::size_t consumed = consumedCount();
  press(kKeyQ, kCommand);
  press(SwitcherKeys::escape, kCommand);
  press(SwitcherKeys::returnKey, kCommand);
  scene.clock.advance(0.05);
  EXPECT_EQ(consumedCount(), consumed);
  EXPECT_TRUE(switcher->session().isActive());
  EXPECT_TRUE(switcher->gate().isRenaming());
}

TEST_F(RenamingTest, NothingStartsBeforeThePanelsShowOrForAnUnknownTile) {
  switcher->renaming().startRenaming("0:999:desktop", 0);
  switcher->renaming().startRenaming(kDesktop, 7);
  EXPECT_FALSE(switcher->gate().isRenaming());
  press(SwitcherKeys::escape, kCommand);
  modifiers(0);
  scene.clock.advance(0.1);

  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.05);
  ASSERT_TRUE(switcher->session().isActive());
  ASSERT_FALSE(switcher->session().isShown());
  switcher->renaming().startRenaming(kDesktop, 0);
  EXPECT_FALSE(switcher->gate().isRenaming());
  EXPECT_TRUE(switcher->gate().isOpen());
}

TEST_F(RenamingTest, SavingStoresTheTrimmedNameAndTheUsualNameOrABlankRemovesIt) {
  const std::string key = *labelOf(kDesktop, 0).key;
  const std::string usual = labelOf(kDesktop, 0).usual;
  SpaceNames::set("Elsewhere", "desktop/another-space");

  rename("  Studio \n");
  EXPECT_EQ(stored(key), "Studio");
  EXPECT_EQ(labelOf(kDesktop, 0).name, "Studio");
  EXPECT_EQ(switcher->model().workspace().names.at(key), "Studio");
  // The session goes on as before, ⌘ still held.
  Switcher::OpenState state = switcher->gate().openState();
  EXPECT_TRUE(state.open);
  EXPECT_FALSE(state.renaming);
  EXPECT_FALSE(state.staysOpen);
  EXPECT_FALSE(switcher->panels().at(0).window->takesKeys());
  EXPECT_FALSE(switcher->model().renaming());

  rename(usual);
  EXPECT_EQ(stored(key), std::nullopt);
  EXPECT_EQ(labelOf(kDesktop, 0).name, usual);

  rename("Studio");
  rename("   ");
  EXPECT_EQ(stored(key), std::nullopt);
  EXPECT_FALSE(switcher->model().workspace().names.count(key));
  EXPECT_EQ(stored("desktop/another-space"), "Elsewhere");
}

TEST_F(RenamingTest, EscapeKeepsTheStoredNameAndTheSessionSwitchesAsUsual) {
  const std::string key = *labelOf(kDesktop, 0).key;
  rename("Mine");
  rename("Not this", false);
  EXPECT_EQ(stored(key), "Mine");
  EXPECT_EQ(labelOf(kDesktop, 0).name, "Mine");

  const std::size_t switches = linesStarting("switch to ").size();
  modifiers(0);
  scene.clock.advance(1);
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_EQ(linesStarting("switch to ").size(), switches + 1);
}

TEST_F(RenamingTest, AnEditEndedAfterCommandWasLetGoContinuesAsAStaysOpenSession) {
  switcher->renaming().startRenaming(kDesktop, 0);
  const std::size_t switches = linesStarting("switch to ").size();
  modifiers(0);  // ⌘ goes up while typing: the field's business, no commit
  scene.clock.advance(0.1);
  EXPECT_TRUE(switcher->session().isActive());
  EXPECT_EQ(linesStarting("switch to ").size(), switches);

  switcher->renaming().finishRenaming(false, false);
  Switcher::OpenState state = switcher->gate().openState();
  EXPECT_TRUE(state.open);
  EXPECT_TRUE(state.staysOpen);

  // Unbound keys reach the front app; bound ones steer; Return chooses.
  const std::size_t consumed = consumedCount();
  press(kKeyComma, 0);
  scene.clock.advance(0.05);
  EXPECT_EQ(consumedCount(), consumed);
  const std::string before = selected();
  press(SwitcherKeys::right, 0);
  scene.clock.advance(0.05);
  EXPECT_NE(selected(), before);
  press(SwitcherKeys::returnKey, 0);
  scene.clock.advance(1);
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_EQ(linesStarting("switch to ").size(), switches + 1);
}

TEST_F(RenamingTest, SubmittingShowsTheNameThenClosesASecondLaterWithoutSwitching) {
  const std::string key = *labelOf(kDesktop, 0).key;
  const std::size_t switches = linesStarting("switch to ").size();
  switcher->renaming().startRenaming(kDesktop, 0);
  switcher->model().nameDraft.set("Studio");
  switcher->renaming().finishRenaming(true, true);
  EXPECT_EQ(stored(key), "Studio");
  EXPECT_EQ(switcher->model().justNamed(), std::optional<std::string>(kDesktop));
  EXPECT_TRUE(switcher->gate().isRenaming()) << "the tap keeps its hands off until the session closes";

  modifiers(0);
  scene.clock.advance(0.95);
  EXPECT_TRUE(switcher->session().isActive());
  scene.clock.advance(0.1);
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_FALSE(switcher->gate().isRenaming());
  EXPECT_FALSE(anyPanelVisible());
  EXPECT_EQ(linesStarting("switch to ").size(), switches);
}

TEST_F(RenamingTest, ASubmittedSessionCancelledMeanwhileDoesNotCloseTheNextOne) {
  switcher->renaming().startRenaming(kDesktop, 0);
  switcher->renaming().finishRenaming(true, true);
  scene.clock.advance(0.3);
  switcher->session().cancel(false);
  openAndShow();
  scene.clock.advance(1);
  EXPECT_TRUE(switcher->session().isActive());
  EXPECT_TRUE(switcher->gate().isOpen());
}

TEST_F(RenamingTest, ResetRemovesTheNameAtOnceWithoutOpeningTheField) {
  const std::string key = *labelOf(kDesktop, 0).key;
  rename("Studio");
  ASSERT_EQ(stored(key), "Studio");
  switcher->renaming().resetName(kDesktop);
  EXPECT_EQ(stored(key), std::nullopt);
  EXPECT_EQ(labelOf(kDesktop, 0).name, labelOf(kDesktop, 0).usual);
  EXPECT_FALSE(switcher->gate().isRenaming());
  EXPECT_TRUE(switcher->gate().isOpen());
  switcher->renaming().resetName("0:999:desktop");  // a tile that is gone: nothing
  EXPECT_EQ(stored(key), std::nullopt);
}

// The edit keeps the display it began on: the pointer wandering onto another display
// neither moves the steering nor changes which label the typed name is compared with.
TEST_F(RenamingTest, ThePointerLeavesTheSteeringAloneDuringAnEdit) {
  const std::string key = *labelOf(kDesktop, 0).key;
  const std::string usual = labelOf(kDesktop, 0).usual;
  ASSERT_EQ(switcher->model().focused(), 0);
  switcher->renaming().startRenaming(kDesktop, 0);
  const CGRect wide = NSScreen::screens().at(1).frame();
  const double top = NSScreen::screens().front().frame().maxY();
  movePointer({wide.midX(), top - wide.midY()});
  scene.clock.advance(0.2);
  EXPECT_EQ(switcher->model().focused(), 0);
  switcher->model().nameDraft.set(usual);
  switcher->renaming().finishRenaming(true, false);
  EXPECT_EQ(stored(key), std::nullopt);

  // Once the edit is over the pointer steers again.
  movePointer({wide.midX() + 10, top - wide.midY()});
  scene.clock.advance(0.2);
  EXPECT_EQ(switcher->model().focused(), 1);
}

}  // namespace
}  // namespace trelliq::session
