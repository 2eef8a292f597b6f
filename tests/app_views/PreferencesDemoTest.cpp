// The Preferences window's demonstrations come on screen at their first step, whether the
// window is opened for the first time or the mode was picked in the status menu while it
// was out of sight.

#include <gtest/gtest.h>

#include <QMouseEvent>

#include "ViewsDesk.h"
#include "app/views/MenuSwitcherModeView.h"
#include "preferences/ModeSection.h"
#include "preferences/PreferencesView.h"
#include "preferences/PreferencesWindow.h"
#include "preferences/TilesDemo.h"
#include "preferences/TilesOverview.h"

namespace trelliq {
namespace {

// The app the demonstration shows picked: its highlight and name label fully drawn.
std::string picked(const TilesDemo& demo) {
  for (int app = 0; app < TilesDemo::steps; ++app) {
    if (demo.shown(app) == 1) return TilesDemo::names[static_cast<std::size_t>(app)];
  }
  return "<none>";
}

TEST(PreferencesDemoTest, TheDemonstrationShowsMailFirstAndSafariASecondLaterHoweverItsModeWasPicked) {
  test::ViewsDesk desk;
  PreferencesWindow preferences;
  preferences.show();
  const auto demo = [&]() -> TilesDemo& { return *preferences.view()->mode().overview().demos().front(); };
  EXPECT_EQ(picked(demo()), "Mail");
  desk.scene.clock.advance(0.99);
  EXPECT_EQ(picked(demo()), "Mail");
  desk.scene.clock.advance(0.2);
  EXPECT_EQ(picked(demo()), "Safari");

  // Closed, then Window tiles picked in the status menu.
  preferences.window()->performClose(nullptr);
  MenuSwitcherModeView menuPicker(std::make_shared<MenuSwitcherMode>());
  const CGRect windows = MenuSwitcherMode::optionFrame(1);
  const QPointF at(windows.midX(), windows.midY());
  QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&menuPicker, &release);
  desk.scene.clock.advance(3);
  ASSERT_EQ(preferences.view()->mode().overview().style(), Settings::Tiles::windows);

  preferences.show();
  EXPECT_EQ(picked(demo()), "Mail");
  EXPECT_EQ(demo().front(0, 0), 1) << "the Mail window in front on Desktop 1";
  desk.scene.clock.advance(0.99);
  EXPECT_EQ(picked(demo()), "Mail");
  desk.scene.clock.advance(0.2);
  EXPECT_EQ(picked(demo()), "Safari");
}

}  // namespace
}  // namespace trelliq
