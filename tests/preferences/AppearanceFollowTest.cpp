// The program's windows take the system's appearance: when the program starts in either
// one, and when it changes while they are open, both ways, every part of them at once.

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>

#include "app/views/PermissionsWindow.h"
#include "guide/GuideWindow.h"
#include "preferences/PreferencesWindow.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "workspace/Private.h"

namespace trelliq {
namespace {

class AppearanceFollow : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureWidgets();
    Settings::registerDefaults();
  }
  void frames(double seconds) { test::paintFrames(scene, seconds); }
  /// How light the window's background is (0 to 255) beside its left edge, two thirds down.
  int background(const NSWindow* window) {
    const CGImageRef picture = Private::capture(static_cast<std::uint32_t>(window->windowNumber()), true);
    if (!picture) return -1;
    const QImage& image = picture->qimage();
    return qGray(image.pixel(6, image.height() * 2 / 3));
  }

  Scene scene{Scene::Start::defaultScenario};
};

TEST_F(AppearanceFollow, OpenWindowsTakeEachAppearanceAsItChanges) {
  GuideWindow guide;
  PreferencesWindow preferences;
  PermissionsWindow permissions;
  scene.setDark(false);
  guide.show();
  preferences.show();
  permissions.show();
  frames(0.5);
  for (const bool dark : {false, true, false}) {
    scene.setDark(dark);
    frames(0.5);  // a notice of the change, then a frame
    for (const NSWindow* window : {guide.window(), preferences.window(), permissions.window()}) {
      ASSERT_NE(window, nullptr);
      const int seen = background(window);
      if (dark) {
        EXPECT_LT(seen, 80) << window->title() << " in the dark appearance";
      } else {
        EXPECT_GT(seen, 180) << window->title() << " in the light appearance";
      }
      // Label text in a see-through grey (the adaptive styles) stands out from the
      // background: light on dark, dark on light.
      for (const QLabel* label : window->contentView()->findChildren<QLabel*>()) {
        const QColor text = label->palette().color(QPalette::WindowText);
        if (text.red() != text.green() || text.green() != text.blue() || text.alpha() == 255) continue;
        EXPECT_EQ(text.red() > 128, dark) << window->title() << ": " << label->text().toStdString();
      }
    }
  }
}

}  // namespace
}  // namespace trelliq
