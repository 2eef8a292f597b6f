// The permission rows of the welcome window and the Preferences form: what each shows for
// each finding, and what its button sets off.

#include <gtest/gtest.h>

#include "ViewsDesk.h"
#include "app/PermissionStatus.h"
#include "app/views/PermissionRow.h"
#include "app/views/PreviewDemo.h"

namespace trelliq {
namespace {

using test::title;
using Action = PermissionStatus::Action;
using Kind = PermissionStatus::Kind;

struct Shown {
  std::string status, button;
};

Shown shownBy(const PermissionRow& row) { return {title(row.statusLabel()), title(row.button())}; }

TEST(PermissionRowTest, ACardShowsAllowGrantedOrGrantedWithRestart) {
  test::ViewsDesk desk;
  struct Case {
    bool granted, restart;
    std::string status, button;
    Action action;
  };
  const Case cases[] = {
      {false, false, "", "Allow\u2026", Action::request},
      {true, false, "Granted", "", Action::none},
      {true, true, "Granted", "Restart Trelliq", Action::restart},
      {false, true, "Granted", "Restart Trelliq", Action::restart},  // a pending restart wins
  };
  for (const Case& c : cases) {
    PermissionRow row(Permission::screenRecording, c.granted, "rectangle.dashed.badge.record", "Screen Recording",
                      false, "why", c.restart);
    const Shown shown = shownBy(row);
    EXPECT_EQ(shown.status, c.status) << c.granted << c.restart;
    EXPECT_EQ(shown.button, c.button) << c.granted << c.restart;
    EXPECT_EQ(row.status().action, c.action);
    EXPECT_EQ(row.status().grantedMark, !c.status.empty());
  }
}

TEST(PermissionRowTest, OnlyAMissingRequiredPermissionGetsTheAccentBorder) {
  test::ViewsDesk desk;
  PermissionRow required(Permission::accessibility, false, "accessibility", "Accessibility", true, "why");
  PermissionRow optional(Permission::screenRecording, false, "x", "Screen Recording", false, "why");
  EXPECT_EQ(required.badge(), "Required");
  EXPECT_EQ(optional.badge(), "Optional");
  EXPECT_TRUE(required.accentBorder());
  EXPECT_FALSE(optional.accentBorder());
  required.setState(true, false);
  EXPECT_FALSE(required.accentBorder());
  EXPECT_EQ(required.badge(), "Required") << "the badge stays once granted";
  EXPECT_EQ(shownBy(required).status, "Granted");
  EXPECT_EQ(shownBy(required).button, "");
  required.setState(false, false);
  EXPECT_TRUE(required.accentBorder()) << "losing it again brings the border back";
  EXPECT_EQ(shownBy(required).button, "Allow\u2026");
}

TEST(PermissionRowTest, ExtraContentSitsAtTheTrailingEndAndALongReasonWraps) {
  test::ViewsDesk desk;
  auto* demo = new PreviewDemo();
  PermissionRow with(Permission::screenRecording, false, "x", "Screen Recording", false,
                     std::string(600, 'w').replace(100, 1, " ").replace(300, 1, " "), false, demo);
  PermissionRow without(Permission::accessibility, false, "x", "Accessibility", true, "short");
  EXPECT_EQ(with.extra(), demo);
  EXPECT_EQ(demo->parent(), &with);
  EXPECT_EQ(without.extra(), nullptr);
  with.setFixedWidth(544);
  with.adjustSize();
  EXPECT_TRUE(with.reasonLabel()->wordWrap());
  EXPECT_GT(with.sizeHint().height(), without.sizeHint().height());
}

TEST(PermissionRowTest, AFormRowAlwaysHasAStatusAndAButton) {
  test::ViewsDesk desk;
  struct Case {
    bool granted, restart;
    std::string status, button;
  };
  const Case cases[] = {
      {false, false, "Not granted", "Allow\u2026"},
      {true, false, "Granted", "Change\u2026"},
      {false, true, "Granted", "Restart Trelliq"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<PermissionRow> row(
        PermissionRow::formRow(Permission::screenRecording, c.granted, "Screen Recording", "detail", c.restart));
    EXPECT_EQ(shownBy(*row).status, c.status);
    EXPECT_EQ(shownBy(*row).button, c.button);
    EXPECT_EQ(row->badge(), "");
    EXPECT_FALSE(row->accentBorder());
  }
}

TEST(PermissionRowTest, ButtonsAskOpenSettingsOrRestart) {
  test::ViewsDesk desk;
  // Allow…: the first time the system's prompt, then System Settings.
  PermissionRow card(Permission::accessibility, false, "accessibility", "Accessibility", true, "why");
  card.button()->click();
  EXPECT_TRUE(Settings::defaults().boolForKey("askedForAccessibility"));
  EXPECT_TRUE(desk.server.openedURLs().empty());
  card.button()->click();
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(desk.server.openedURLs(), std::vector<std::string>{Permission::accessibility.settings()});

  // Change… opens the pane of the row's own permission, without asking again.
  std::unique_ptr<PermissionRow> form(
      PermissionRow::formRow(Permission::screenRecording, true, "Screen Recording", "detail", false));
  form->button()->click();
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(desk.server.openedURLs().back(), Permission::screenRecording.settings());
  EXPECT_FALSE(Settings::defaults().boolForKey("askedForScreenRecording"));
  EXPECT_FALSE(desk.exited());

  // Restart Trelliq quits and opens again.
  FakeWindow permissions;
  permissions.visible = true;
  desk.installDelegate(permissions);
  form->setState(false, true);
  form->button()->click();
  desk.scene.clock.runUntilIdle();
  EXPECT_TRUE(desk.exited());
  EXPECT_TRUE(desk.reopensPermissions());
}

}  // namespace
}  // namespace trelliq
