// The standard controls of a window of the program as the system draws them, in the light
// and the dark appearance: the default button filled with the accent under a white title,
// a checked box an accent square under a white check, an unchecked one a visible square.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QPushButton>
#include <QStyleOptionButton>
#include <optional>

#include "platform/AppKitControls.h"
#include "platform/AppKitWindows.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"

namespace {

class ControlLooks : public ::testing::Test {
 protected:
  void SetUp() override {
    trelliq::test::ensureWidgets();
    scene.emplace(Scene::Start::defaultScenario);
    w.emplace();
    w->content.resize(300, 120);
    w->content.setAutoFillBackground(true);  // the window's background, as the form's
    w->button.setGeometry(20, 20, 120, 28);
    w->button.setDefault(true);
    w->on.setGeometry(20, 60, 100, 20);
    w->on.setChecked(true);
    w->off.setGeometry(20, 90, 100, 20);
    w->window.setContentView(&w->content);
    w->window.orderFrontRegardless();
  }
  void TearDown() override {
    w->window.setContentView(nullptr);
    w.reset();
    scene.reset();
  }

  /// How many pixels of `area` in `image` are the accent, and how many near white.
  static std::pair<int, int> accentAndWhite(const QImage& image, const QRect& area) {
    const QColor accent = platform::controlAccentColor();
    int blue = 0, white = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (std::abs(c.red() - accent.red()) + std::abs(c.green() - accent.green()) +
                std::abs(c.blue() - accent.blue()) < 30)
          ++blue;
        if (std::min({c.red(), c.green(), c.blue()}) > 220) ++white;
      }
    }
    return {blue, white};
  }
  QRect indicator(const QCheckBox& box) const {
    QStyleOptionButton option;
    option.initFrom(&box);
    return box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box).translated(box.pos());
  }

  struct Window {
    QWidget content;
    QPushButton button{"Get Started", &content};
    QCheckBox on{&content}, off{&content};
    NSWindow window{CGRect(100, 200, 300, 120), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false};
  };
  std::optional<Scene> scene;
  std::optional<Window> w;
};

TEST_F(ControlLooks, TheDefaultButtonAndTheCheckboxesLookAsTheSystemDrawsThem) {
  for (const bool dark : {false, true}) {
    scene->setDark(dark);
    const char* look = dark ? "dark" : "light";
    const QImage image = w->content.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRect face = w->button.geometry().adjusted(4, 4, -4, -4);
    const auto [buttonBlue, buttonWhite] = accentAndWhite(image, face);
    EXPECT_GT(buttonBlue, face.width() * face.height() / 2) << look << ": the default button is filled with the accent";
    EXPECT_GT(buttonWhite, 20) << look << ": its title is white";

    const QRect checked = indicator(w->on).adjusted(1, 1, -1, -1);
    const auto [boxBlue, boxWhite] = accentAndWhite(image, checked);
    EXPECT_GT(boxBlue, checked.width() * checked.height() / 3) << look << ": a checked box is an accent square";
    EXPECT_GT(boxWhite, 3) << look << ": under a white check";

    const QRect empty = indicator(w->off);
    const int ground = qGray(image.pixel(empty.right() + 40, empty.center().y()));
    int far = 0;
    for (int y = empty.top(); y <= empty.bottom(); ++y)
      for (int x = empty.left(); x <= empty.right(); ++x) far = std::max(far, std::abs(qGray(image.pixel(x, y)) - ground));
    EXPECT_GE(far, 40) << look << ": an unchecked box shows its square";
    EXPECT_EQ(accentAndWhite(image, empty).first, 0) << look;
  }
}

}  // namespace
