// The welcome window: made once and reused, following the system once a second while it
// shows, and its footer's ways out.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>

#include "ViewsDesk.h"
#include "app/views/PermissionNote.h"
#include "app/views/PermissionRow.h"
#include "app/views/PermissionsView.h"
#include "app/views/PermissionsWindow.h"
#include "app/views/PreviewDemo.h"
#include "guide/GuideWindow.h"
#include "ownwindows/ClosableWindow.h"
#include "platform/AppKit.h"
#include "support/TextFit.h"

namespace trelliq {
namespace {

using test::shown;
using test::title;

struct WelcomeDesk : test::ViewsDesk {
  PermissionsWindow permissions;
  WelcomeDesk() { installDelegate(permissions); }
  PermissionsView& view() { return *permissions.view(); }
  std::int32_t ownPID() const { return NSProcessInfo::processInfo().processIdentifier(); }
  void pressReturn() {
    NSApp().sendEvent(NSEvent::keyEvent(NSEventType::keyDown, 0, "\r", "\r", false, 36,
                                        permissions.window()->windowNumber()));
    scene.clock.runUntilIdle();
  }
};

TEST(PermissionsWindowTest, TheFirstShowBuildsTheWindowCentredAndLaterShowsReuseIt) {
  WelcomeDesk desk;
  EXPECT_FALSE(desk.permissions.isVisible());
  EXPECT_EQ(desk.permissions.window(), nullptr);
  desk.permissions.show();
  desk.scene.clock.advance(0.1);
  NSWindow* window = desk.permissions.window();
  ASSERT_NE(window, nullptr);
  EXPECT_NE(dynamic_cast<ClosableWindow*>(window), nullptr);
  EXPECT_EQ(window->title(), "Welcome to Trelliq");
  EXPECT_EQ(window->styleMask(), 3u);
  EXPECT_FALSE(window->isReleasedWhenClosed());
  EXPECT_TRUE(desk.permissions.isVisible());
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_EQ(desk.server.frontmost(), desk.ownPID());
  EXPECT_EQ(window->frame().width(), PermissionsView::fixedWidth);
  const CGRect screen = NSScreen::main()->visibleFrame();
  EXPECT_NEAR(window->frame().midX(), screen.midX(), 1);

  // Moved by the user, then shown again while visible: it stays where it is.
  window->setFrame(CGRect(10, 20, window->frame().width(), window->frame().height()), true);
  desk.permissions.show();
  EXPECT_EQ(desk.permissions.window(), window);
  EXPECT_EQ(window->frame().minX(), 10);

  // Closed, it is only hidden; the next show centres it again.
  window->performClose(nullptr);
  EXPECT_FALSE(desk.permissions.isVisible());
  desk.permissions.show();
  EXPECT_EQ(desk.permissions.window(), window);
  EXPECT_NEAR(window->frame().midX(), screen.midX(), 1);
  EXPECT_TRUE(desk.permissions.isVisible());
}

TEST(PermissionsWindowTest, AccessibilityArrivingWithinASecondEnablesTheFooterAndBringsTheWindowForward) {
  WelcomeDesk desk;
  desk.world.setAccessibilityTrusted(false);
  desk.permissions.show();
  PermissionsView& view = desk.view();
  EXPECT_FALSE(view.footer()->isEnabled());
  EXPECT_EQ(title(view.lockLabel()), "Allow Accessibility to continue");
  EXPECT_EQ(title(view.accessibilityRow()->button()), "Allow\u2026");
  EXPECT_TRUE(view.accessibilityRow()->accentBorder());

  // Another app comes in front once the window's own activation is done; then the user
  // grants access in System Settings.
  desk.scene.clock.advance(0.1);
  const std::int32_t other = desk.addApp("Notes", "/Applications/Notes.app");
  desk.server.makeFrontmost(other);
  desk.scene.clock.advance(0.4);
  ASSERT_EQ(desk.server.frontmost(), other);
  desk.world.setAccessibilityTrusted(true);
  desk.scene.clock.advance(0.49);
  EXPECT_FALSE(view.accessibility()) << "the first check comes a second after showing";
  desk.scene.clock.advance(0.02);
  EXPECT_TRUE(view.accessibility());
  EXPECT_TRUE(view.footer()->isEnabled());
  EXPECT_FALSE(shown(view.lockLabel()));
  EXPECT_EQ(title(view.accessibilityRow()->statusLabel()), "Granted");
  EXPECT_FALSE(view.accessibilityRow()->accentBorder());
  desk.scene.clock.advance(0.1);
  EXPECT_EQ(desk.server.frontmost(), desk.ownPID());

  // Losing it disables the footer again without bringing anything forward.
  desk.server.makeFrontmost(other);
  desk.scene.clock.advance(0.1);
  desk.world.setAccessibilityTrusted(false);
  desk.scene.clock.advance(1);
  EXPECT_FALSE(view.footer()->isEnabled());
  EXPECT_EQ(desk.server.frontmost(), other);
}

TEST(PermissionsWindowTest, ScreenRecordingGrantedAfterLaunchOffersARestart) {
  WelcomeDesk desk;
  // Another app's window on screen: the confirming capture has something to take.
  const std::int32_t notes = desk.addApp("Notes", "/Applications/Notes.app");
  sim::Window page;
  page.pid = notes;
  page.title = "Page";
  page.bounds = CGRect(100, 100, 500, 400);
  page.spaces = {test::ViewsDesk::kSpace};
  desk.server.addWindow(page);
  Permission::screenRecordingAtLaunch();  // launched without it
  desk.permissions.show();
  PermissionsView& view = desk.view();
  EXPECT_FALSE(shown(view.note()));
  EXPECT_EQ(title(view.screenRecordingRow()->button()), "Allow\u2026");
  desk.world.setScreenCaptureAllowed(true);
  desk.scene.clock.advance(1.01);
  EXPECT_TRUE(view.needsRestart());
  EXPECT_TRUE(shown(view.note()));
  EXPECT_EQ(title(view.screenRecordingRow()->statusLabel()), "Granted");
  EXPECT_EQ(title(view.screenRecordingRow()->button()), "Restart Trelliq");
  EXPECT_TRUE(Settings::defaults().boolForKey(Permission::screenCaptureConfirmedKey))
      << "the confirming capture runs once screen recording reads as allowed";
  const std::string confirming = "screen recording: first capture, so macOS asks to confirm it now";
  auto log = ShellDesk::log();
  EXPECT_EQ(std::count(log.begin(), log.end(), confirming), 1);

  // Once true it stays, whatever the system says later, and so do the note and the row.
  desk.world.setScreenCaptureAllowed(false);
  desk.scene.clock.advance(2);
  EXPECT_FALSE(view.screenRecording());
  EXPECT_TRUE(view.needsRestart());
  EXPECT_TRUE(shown(view.note())) << "the note stays while a restart is needed";
  EXPECT_EQ(title(view.screenRecordingRow()->statusLabel()), "Granted");
  EXPECT_EQ(title(view.screenRecordingRow()->button()), "Restart Trelliq");
  log = ShellDesk::log();
  EXPECT_EQ(std::count(log.begin(), log.end(), confirming), 1) << "confirmed once only";
}

TEST(PermissionsWindowTest, ScreenRecordingAllowedAtLaunchNeedsNoRestart) {
  WelcomeDesk desk;
  desk.world.setScreenCaptureAllowed(true);
  Permission::screenRecordingAtLaunch();
  desk.permissions.show();
  PermissionsView& view = desk.view();
  EXPECT_TRUE(shown(view.note()));
  EXPECT_EQ(view.note()->text().toStdString().rfind("macOS will ask once more", 0), 0u);
  desk.scene.clock.advance(3);
  EXPECT_FALSE(view.needsRestart());
  EXPECT_EQ(title(view.screenRecordingRow()->statusLabel()), "Granted");
  EXPECT_EQ(title(view.screenRecordingRow()->button()), "");
  view.getStarted()->click();
  desk.scene.clock.runUntilIdle();
  EXPECT_FALSE(desk.permissions.isVisible());
  EXPECT_FALSE(desk.exited()) << "nothing to restart for";
}

TEST(PermissionsWindowTest, GetStartedRestartsWithoutReopeningButTheRowsRestartReopens) {
  for (bool fromRow : {false, true}) {
    WelcomeDesk desk;
    Permission::screenRecordingAtLaunch();
    desk.permissions.show();
    desk.world.setScreenCaptureAllowed(true);
    desk.scene.clock.advance(1.01);
    ASSERT_TRUE(desk.view().needsRestart());
    if (fromRow) {
      desk.view().screenRecordingRow()->button()->click();
    } else {
      desk.view().getStarted()->click();
    }
    desk.scene.clock.runUntilIdle();
    EXPECT_TRUE(desk.exited()) << fromRow;
    EXPECT_TRUE(desk.relaunched()) << fromRow;
    EXPECT_EQ(desk.reopensPermissions(), fromRow) << "closed first, so only the row's restart reopens it";
  }
}

TEST(PermissionsWindowTest, ReturnAndTheFooterWorkOnlyWithAccessibility) {
  WelcomeDesk desk;
  int guides = 0;
  desk.permissions.setOpenGuide([&] { ++guides; });
  desk.world.setAccessibilityTrusted(false);
  desk.permissions.show();
  desk.pressReturn();
  EXPECT_TRUE(desk.permissions.isVisible()) << "Return does nothing while the footer is disabled";
  desk.view().showGuide();
  EXPECT_TRUE(desk.permissions.isVisible());
  EXPECT_EQ(guides, 0);

  desk.world.setAccessibilityTrusted(true);
  desk.scene.clock.advance(1.01);
  desk.pressReturn();
  EXPECT_FALSE(desk.permissions.isVisible());
  EXPECT_FALSE(desk.exited());
}

TEST(PermissionsWindowTest, HowItWorksClosesTheWindowAndOpensTheGuide) {
  WelcomeDesk desk;
  GuideWindow guide;
  desk.permissions.setOpenGuide([&] { guide.show(); });
  desk.permissions.show();
  desk.scene.clock.advance(0.1);
  desk.view().howItWorks()->click();
  desk.scene.clock.advance(0.1);
  EXPECT_FALSE(desk.permissions.isVisible());
  ASSERT_NE(guide.window(), nullptr);
  EXPECT_TRUE(guide.window()->isVisible());
  EXPECT_EQ(desk.server.frontmost(), desk.ownPID());
}

TEST(PermissionsWindowTest, NothingPollsOrMovesWhileTheWindowIsClosed) {
  WelcomeDesk desk;
  Permission::screenRecordingAtLaunch();
  desk.permissions.show();
  desk.scene.clock.advance(1.01);
  const auto launches = desk.processes.launches().size();
  EXPECT_EQ(launches, 1u) << "this process cannot tell: a child copy is asked";
  desk.permissions.close();
  const int index = desk.view().demo()->index();
  EXPECT_FALSE(desk.view().isPolling());
  desk.world.setAccessibilityTrusted(false);
  desk.scene.clock.advance(5);
  EXPECT_EQ(desk.processes.launches().size(), launches);
  EXPECT_EQ(desk.view().demo()->index(), index);
  EXPECT_TRUE(desk.view().accessibility()) << "no check ran";

  desk.permissions.show();
  EXPECT_TRUE(desk.view().isPolling());
  EXPECT_TRUE(desk.view().demo()->isRunning());
  desk.scene.clock.advance(1.01);
  EXPECT_FALSE(desk.view().accessibility());
}

// The close ends the wait for the next check; the check itself still runs, once.
TEST(PermissionsWindowTest, ClosingTheWindowStillMakesTheLastCheckWithoutBringingItBack) {
  WelcomeDesk desk;
  desk.world.setAccessibilityTrusted(false);
  desk.permissions.show();
  desk.scene.clock.advance(1.5);
  ASSERT_FALSE(desk.view().accessibility());
  desk.world.setAccessibilityTrusted(true);  // granted in System Settings meanwhile
  desk.permissions.close();
  EXPECT_TRUE(desk.view().accessibility());
  EXPECT_TRUE(desk.view().footer()->isEnabled());
  EXPECT_FALSE(desk.permissions.isVisible()) << "a closed window is not brought forward";
  desk.world.setAccessibilityTrusted(false);
  desk.scene.clock.advance(3);
  EXPECT_TRUE(desk.view().accessibility()) << "and no check after it";
}

TEST(PermissionsWindowTest, TheDemonstrationTakesItsOwedStepOnClosingAndGoesOnFromThereWhenReopened) {
  WelcomeDesk desk;
  desk.permissions.show();
  desk.scene.clock.advance(2 * PreviewDemo::stepInterval);
  ASSERT_EQ(desk.view().demo()->index(), 2);
  desk.permissions.close();
  EXPECT_EQ(desk.view().demo()->index(), 3) << "the wait cut short still moves the highlight on";
  desk.scene.clock.advance(5);
  desk.permissions.show();
  EXPECT_EQ(desk.view().demo()->index(), 3) << "the new view starts where the old one stopped";
  desk.scene.clock.advance(PreviewDemo::stepInterval);
  EXPECT_EQ(desk.view().demo()->index(), 0);
}

TEST(PermissionsWindowTest, CardsGrowToTheirWrappedReasonsAndKeepTheDemoInside) {
  WelcomeDesk desk;
  desk.permissions.show();
  desk.scene.clock.advance(0.1);
  PermissionsView& view = desk.view();
  view.window()->show();  // the simulated window server never puts widgets on screen itself
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(view.height(), view.sizeHint().height());
  for (PermissionRow* row : {view.accessibilityRow(), view.screenRecordingRow()}) {
    const QLabel& reason = *row->reasonLabel();
    EXPECT_GE(reason.height(), reason.heightForWidth(reason.width()));
    EXPECT_TRUE(row->rect().contains(QRect(reason.mapTo(row, QPoint(0, 0)), reason.size())));
    EXPECT_TRUE(view.rect().contains(row->geometry()));
  }
  const QWidget& demo = *view.screenRecordingRow()->extra();
  EXPECT_TRUE(view.screenRecordingRow()->rect().contains(demo.geometry()));
  // The demonstration, a 90-point window 6 above a 36-point strip, is the tallest part of its
  // card, which pads it by 16 above and below.
  EXPECT_EQ(demo.height(), 90 + 6 + 36);
  EXPECT_EQ(view.screenRecordingRow()->height(), 90 + 6 + 36 + 2 * 16);
}

TEST(PermissionsWindowTest, EveryTextFitsItsBoxWithOrWithoutThePermissions) {
  for (const bool granted : {false, true}) {
    WelcomeDesk desk;
    desk.world.setAccessibilityTrusted(granted);
    desk.world.setScreenCaptureAllowed(granted);  // the confirmation note shows with it
    PermissionsView view;
    view.resize(view.sizeHint());
    ASSERT_EQ(shown(view.note()), granted);
    ASSERT_EQ(shown(view.lockLabel()), !granted);
    EXPECT_EQ(test::labelsThatDoNotFit(view), std::vector<std::string>{}) << granted;
  }
}

TEST(PermissionsWindowTest, TheHeaderShowsTheApplicationsIconEightyPointsSquare) {
  WelcomeDesk desk;
  QImage art(32, 32, QImage::Format_ARGB32_Premultiplied);
  art.fill(QColor(255, 0, 255));
  NSApp().setApplicationIconImage(std::make_shared<const CGImage>(art));
  PermissionsView view;
  view.resize(view.sizeHint());
  QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  view.render(&image);
  NSApp().setApplicationIconImage(nullptr);
  QRect icon;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) == qRgb(255, 0, 255)) icon |= QRect(x, y, 1, 1);
    }
  }
  EXPECT_EQ(icon.size(), QSize(PermissionsView::iconSide, PermissionsView::iconSide));
  EXPECT_NEAR(icon.center().x(), view.width() / 2, 1) << "centred over the welcome";
  EXPECT_LT(icon.top(), 40) << "at the head of the window";
}

}  // namespace
}  // namespace trelliq
