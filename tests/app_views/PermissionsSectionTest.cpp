// The Preferences form's permission rows and the previews' notice, per finding.

#include <gtest/gtest.h>

#include "ViewsDesk.h"
#include "app/views/PermissionRow.h"
#include "preferences/PermissionsSection.h"

namespace trelliq {
namespace {

using test::title;

std::vector<std::string> rowsOf(const PermissionsSection& section) {
  std::vector<std::string> shown;
  for (auto* row : section.findChildren<PermissionRow*>(Qt::FindDirectChildrenOnly))
    shown.push_back(title(row->statusLabel()) + " / " + title(row->button()));
  return shown;
}

TEST(PermissionsSectionTest, RowsFollowTheFindingsAndOnlyScreenRecordingOffersARestart) {
  test::ViewsDesk desk;
  PermissionsSection section(false, false, false);
  using Rows = std::vector<std::string>;
  EXPECT_EQ(rowsOf(section), (Rows{"Not granted / Allow\u2026", "Not granted / Allow\u2026"}));
  section.setFindings(true, false, true);
  EXPECT_EQ(rowsOf(section), (Rows{"Granted / Change\u2026", "Granted / Restart Trelliq"}));
  section.setFindings(false, true, true);  // granted to this process: nothing to restart for
  EXPECT_EQ(rowsOf(section), (Rows{"Not granted / Allow\u2026", "Granted / Change\u2026"}));
  PermissionsSection fresh(true, false, true);
  EXPECT_EQ(rowsOf(fresh), (Rows{"Granted / Change\u2026", "Granted / Restart Trelliq"}));
}

TEST(PermissionsSectionTest, TheWarningAsksOrRestarts) {
  test::ViewsDesk desk;
  desk.installDelegate(desk.preferences);
  ScreenRecordingWarning warning(false);
  EXPECT_EQ(title(warning.findChild<QLabel*>("text")), "Live previews need Screen Recording");
  warning.findChild<QPushButton*>("action")->click();
  EXPECT_TRUE(Settings::defaults().boolForKey("askedForScreenRecording"));
  EXPECT_FALSE(desk.exited());
  warning.setNeedsRestart(true);
  EXPECT_EQ(title(warning.findChild<QLabel*>("text")), "Live previews start once Trelliq restarts");
  EXPECT_EQ(title(warning.findChild<QPushButton*>("action")), "Restart Trelliq");
  warning.findChild<QPushButton*>("action")->click();
  desk.scene.clock.runUntilIdle();
  EXPECT_TRUE(desk.exited());
}

}  // namespace
}  // namespace trelliq
