// The playing demonstrations as drawn: keys held and pressed (a cap lighting up laid from
// pictures made once), the switcher opening and closing, the trackpad, the two displays,
// and the sample icons.

#include <gtest/gtest.h>

#include <QImage>
#include <QLayout>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "guide/DisplaysDemo.h"
#include "guide/GuideDemo.h"
#include "guide/InlineKeys.h"
#include "guide/MiniSwitcher.h"
#include "guide/MiniTrackpad.h"
#include "platform/AppKitWorkspace.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "switcher/model/Metrics.h"
#include "ui/DemoIcons.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

class DemoViews : public ::testing::Test {
 protected:
  void SetUp() override { test::ensureWidgets(); }
  Scene scene{Scene::Start::defaultScenario};

  static std::set<std::string> lit(const InlineKeys& keys, bool pressed) {
    std::set<std::string> result;
    for (const auto& item : keys.items()) {
      if (pressed ? item.cap.pressed : item.cap.held) result.insert(item.cap.key);
    }
    return result;
  }
  /// The Backward demonstration in `pane`, with room above and below its row for the
  /// enlarged caps.
  static void showBackwardIn(QWidget& pane) {
    pane.resize(600, 400);
    auto* demo = new GuideDemo(*GuideTopic::apps().variant("Backward").demo(), 0, false, &pane);
    demo->move(20, 40);
    demo->resize(demo->sizeHint());
  }
  /// `pane` drawn as a window's surface draws it, at a backing scale of two.
  static QImage frameOf(QWidget& pane) {
    QImage image(pane.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(2, 2);
    pane.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
  }
};

TEST_F(DemoViews, TheScriptsModifierIsAlwaysHeldAndTheTapShowsOnlyWhileTheKeyIsDown) {
  GuideDemo demo(*GuideTopic::apps().variant("Backward").demo());
  ASSERT_NE(demo.keys(), nullptr);
  EXPECT_EQ(lit(*demo.keys(), false), (std::set<std::string>{"⌘", "⇧"}));
  EXPECT_TRUE(lit(*demo.keys(), true).empty());  // frame 0's key is not shown pressed at the start
  scene.clock.advance(0.65);
  EXPECT_EQ(lit(*demo.keys(), true), (std::set<std::string>{"⇥"}));
  EXPECT_EQ(demo.miniature().step().app, 1);
  scene.clock.advance(0.22);
  EXPECT_TRUE(lit(*demo.keys(), true).empty());
  EXPECT_EQ(lit(*demo.keys(), false), (std::set<std::string>{"⌘", "⇧"}));

  GuideDemo option(*GuideTopic::oneDesktop("⌥").variants[0].demo());
  EXPECT_EQ(option.keys()->items().front().cap.key, "⌥");  // the held modifier leads the row
  EXPECT_EQ(lit(*option.keys(), false), (std::set<std::string>{"⌥"}));
}

TEST_F(DemoViews, AClosedFrameHidesAndShrinksTheMiniatureButNotTheTrackpad) {
  GuideDemo demo(*GuideTopic::withoutKeyboard(false, Settings::Gesture::threeFingerDoubleTap).variants[0].demo());
  EXPECT_EQ(demo.keys(), nullptr);
  ASSERT_NE(demo.trackpad(), nullptr);
  EXPECT_EQ(demo.miniature().opacity(), 0);
  EXPECT_DOUBLE_EQ(demo.miniature().scale(), 1.2);
  scene.clock.advance(0.65);  // frame 1: a double tap opens it
  EXPECT_EQ(demo.trackpad()->player().state().fingers, 3);
  EXPECT_TRUE(demo.trackpad()->player().state().touching);
  scene.clock.advance(0.06);
  EXPECT_GT(demo.miniature().opacity(), 0);
  EXPECT_LT(demo.miniature().opacity(), 1);  // fading in on the way
  scene.clock.advance(0.1);
  EXPECT_EQ(demo.miniature().opacity(), 1);
  EXPECT_DOUBLE_EQ(demo.miniature().scale(), 1.3);
  EXPECT_FALSE(demo.trackpad()->player().state().touching);
}

TEST_F(DemoViews, MiniaturesKeepTheirHeightAndOnlyTheirTrayWidensThem) {
  Demo apps{.keys = {"⌘"}, .steps = {{}}};
  Demo tray = apps;
  tray.bottomApps = 3;
  EXPECT_EQ(MiniSwitcher::contentSize(apps).height(), 86);
  EXPECT_EQ(MiniSwitcher::contentSize(tray), MiniSwitcher::contentSize(apps));
  Demo tiles = apps;
  tiles.tiles = true;
  EXPECT_EQ(MiniSwitcher::contentSize(tiles).height(), 86);
  EXPECT_LT(MiniSwitcher::contentSize(tiles).width(), MiniSwitcher::contentSize(apps).width());
}

// The highlight is the one strong grey plate of the miniature: it must follow the frame.
TEST_F(DemoViews, TheHighlightSitsBehindTheSelectedIconOnlyWhenTheUpperRowIsSelected) {
  // On white, in the light appearance: the highlight is a darker plate.
  scene.world.setPreferenceValue(sim::World::kGlobalDomain, "AppleInterfaceStyle", std::nullopt);
  const Demo demo{.keys = {"⌘"}, .steps = {{}}, .bottomApps = 3};
  auto render = [&](const Demo::Step& step) {
    const QSizeF size = MiniSwitcher::contentSize(demo);
    QImage image(size.toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    MiniSwitcher::paint(p, demo, step);
    return image;
  };
  // A point inside icon item 3's plate, between its icon and its (empty) dot row.
  const QPoint besideIcon3(6 + 3 * 34 + 7 + 17, 10 + 4 + 26 + 1);
  const QRgb highlighted = render({.app = 3}).pixel(besideIcon3);
  const QRgb plain = render({.app = 0}).pixel(besideIcon3);
  const QRgb onTray = render({.app = 3, .bottom = true}).pixel(besideIcon3);
  EXPECT_LT(qGray(highlighted), qGray(plain) - 20);
  EXPECT_EQ(onTray, plain);
}

TEST_F(DemoViews, AWindowTilesIconStandsOverItsDimmedWindowAtFullStrength) {
  const Demo demo{.keys = {"⌥"}, .steps = {{}}, .tiles = true};
  const QSizeF size = MiniSwitcher::contentSize(demo);
  QImage image((size * 4).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  {
    QPainter p(&image);
    p.scale(4, 4);
    MiniSwitcher::paint(p, demo, {.app = 0, .bottom = true});  // no window picked: all dimmed to 0.7
  }
  // The third sample icon sits on the second desktop's first window, clear of the other;
  // every window is dimmed, so the icons' own colours show only if drawn over the dimming.
  const CGImageRef icon = DemoIcons::top()[2];
  ASSERT_TRUE(icon && icon->width() > 0);
  const QColor plate = icon->qimage().pixelColor(icon->width() / 2, icon->height() / 8);
  int exact = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - plate.red()) <= 2 && std::abs(c.green() - plate.green()) <= 2 &&
          std::abs(c.blue() - plate.blue()) <= 2) {
        ++exact;
      }
    }
  }
  EXPECT_GT(exact, 20) << "the icon's own colour, not dimmed with its window";
}

TEST_F(DemoViews, TheHighlightAndTheKeysMoveOnTheFrameChangesCurve) {
  GuideDemo demo(*GuideTopic::apps().variant("Backward").demo());
  ASSERT_NE(demo.keys(), nullptr);
  const auto tab = [&] {
    for (std::size_t i = 0; i < demo.keys()->items().size(); ++i) {
      if (demo.keys()->items()[i].cap.key == "⇥") return demo.keys()->litness(i);
    }
    return -1.0;
  };
  EXPECT_EQ(demo.miniature().selectionProgress(), 1);
  EXPECT_EQ(tab(), 0);
  scene.clock.advance(0.65);  // frame 1: the highlight moves and ⇥ goes down
  EXPECT_EQ(demo.miniature().selectionProgress(), 0);
  scene.clock.advance(0.04);
  for (const double now : {demo.miniature().selectionProgress(), tab()}) {
    EXPECT_GT(now, 1.0 / 3) << "a third of 0.12 s, eased out";
    EXPECT_LT(now, 1);
  }
  scene.clock.advance(0.08);
  EXPECT_EQ(demo.miniature().selectionProgress(), 1);
  EXPECT_EQ(tab(), 1);
  scene.clock.advance(0.1 + 0.04);  // ⇥ comes up 0.22 s into the frame, on the same curve
  EXPECT_GT(tab(), 0);
  EXPECT_LT(tab(), 2.0 / 3);
  EXPECT_EQ(demo.miniature().selectionProgress(), 1) << "letting the key up moves nothing above it";
  scene.clock.advance(0.1);
  EXPECT_EQ(tab(), 0);
}

TEST_F(DemoViews, AKeyLightingUpIsLaidFromPicturesOfItsCapMadeOnce) {
  QWidget pane;
  showBackwardIn(pane);
  const auto frame = [&] { return frameOf(pane); };
  frame();
  scene.clock.advance(0.65);  // ⇥ goes down over 0.12 s
  const std::uint64_t before = InlineKeys::capPicturesMade();
  for (int i = 0; i < 5; ++i) {
    scene.clock.advance(0.02);
    frame();
  }
  const std::uint64_t made = InlineKeys::capPicturesMade() - before;
  EXPECT_GT(made, 0u) << "the moving cap is laid from its pictures, not drawn anew";
  EXPECT_LE(made, 4u) << "each picture is made once, not on every frame";
}

TEST_F(DemoViews, AKeyPartOfTheWayIsItsTwoLooksMixedAtOneGrowingShare) {
  QWidget pane;
  showBackwardIn(pane);
  const auto frame = [&] { return frameOf(pane); };
  frame();
  scene.clock.advance(0.64);
  const QImage unlit = frame();
  std::vector<QImage> moving;
  for (int i = 0; i < 5; ++i) {
    scene.clock.advance(0.02);  // ⇥ goes down at 0.65 s over 0.12 s
    moving.push_back(frame());
  }
  scene.clock.advance(0.04);
  const QImage lit = frame();
  const auto channel = [](QRgb v, int shift) { return static_cast<int>((v >> shift) & 0xff); };
  // The share of the way each frame stands at, read where the two looks differ most.
  QPoint most;
  int widest = 0, at = 0;
  for (int y = 0; y < lit.height(); ++y) {
    for (int x = 0; x < lit.width(); ++x) {
      for (const int shift : {0, 8, 16}) {
        const int d = channel(lit.pixel(x, y), shift) - channel(unlit.pixel(x, y), shift);
        if (std::abs(d) > std::abs(widest)) {
          widest = d;
          most = QPoint(x, y);
          at = shift;
        }
      }
    }
  }
  ASSERT_GT(std::abs(widest), 100) << "the key lights up";
  double last = 0;
  for (const QImage& mid : moving) {
    const double t = (channel(mid.pixel(most), at) - channel(unlit.pixel(most), at)) / static_cast<double>(widest);
    EXPECT_GE(t, last - 0.01) << "the share grows";
    last = t;
    double off = 0;
    for (int y = 0; y < mid.height(); ++y) {
      for (int x = 0; x < mid.width(); ++x) {
        const QRgb a = unlit.pixel(x, y), b = lit.pixel(x, y), m = mid.pixel(x, y);
        for (const int shift : {0, 8, 16, 24}) {
          off = std::max(
              off, std::abs(channel(m, shift) - (channel(a, shift) + t * (channel(b, shift) - channel(a, shift)))));
        }
      }
    }
    EXPECT_LE(off, 3) << "every pixel mixed at the share " << t;
  }
  EXPECT_GT(last, 0.2) << "the key moved";
  EXPECT_LT(last, 1);
}

TEST_F(DemoViews, TheDisplaysHighlightMovesWithTheFocusOverFourTenths) {
  DisplaysDemo demo;
  EXPECT_EQ(demo.displayHighlight(0), 1);
  EXPECT_EQ(demo.displayHighlight(1), 0);
  scene.clock.advance(1.1 + 0.2);  // half way through the slide to the right display
  EXPECT_NEAR(demo.displayHighlight(1), 0.5, 0.01) << "ease-in-out: half way at half time";
  EXPECT_NEAR(demo.displayHighlight(0), 0.5, 0.01);
  scene.clock.advance(0.2);
  EXPECT_EQ(demo.displayHighlight(1), 1);
  EXPECT_EQ(demo.displayHighlight(0), 0);
}

TEST_F(DemoViews, TheDisplaysTakeTurnsWhileFnFlashesAndThePointerStays) {
  DisplaysDemo demo;
  EXPECT_EQ(demo.displayScale(0), 1);
  EXPECT_DOUBLE_EQ(demo.displayScale(1), Metrics::unfocusedScale);
  EXPECT_DOUBLE_EQ(demo.displayOpacity(1), Metrics::unfocusedOpacity);
  EXPECT_TRUE(lit(demo.keys(), true).empty());
  EXPECT_EQ(lit(demo.keys(), false), (std::set<std::string>{"⌘"}));
  scene.clock.advance(1.1);
  EXPECT_EQ(lit(demo.keys(), true), (std::set<std::string>{"fn"}));
  scene.clock.advance(0.22);
  EXPECT_TRUE(lit(demo.keys(), true).empty());
  scene.clock.advance(0.2);
  EXPECT_DOUBLE_EQ(demo.displayScale(1), 1);
  EXPECT_DOUBLE_EQ(demo.displayOpacity(0), Metrics::unfocusedOpacity);
  EXPECT_EQ(DisplaysDemo::pointerAt(DisplaysDemo::steps()[0]), DisplaysDemo::pointerAt(DisplaysDemo::steps()[1]));
  EXPECT_EQ(DisplaysDemo::pointerAt(DisplaysDemo::steps()[0]), QPointF(98, 62));
}

// The pointer is drawn in the primary style of the appearance, over a shadow blurred by a
// point: on a doubled screen its halo reaches pixels beside the pointer's upright left edge,
// which a shadow moved straight down never covers.
TEST_F(DemoViews, TheDisplaysPointerFollowsTheAppearanceOverABlurredShadow) {
  for (const bool dark : {true, false}) {
    scene.setDark(dark);
    DisplaysDemo demo;
    QWidget& picture = *demo.layout()->itemAt(0)->widget();
    QImage image(picture.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(ui::windowBackground());
    picture.render(&image, {}, {}, QWidget::DrawChildren);
    // Pixels of the unscaled picture's point (x, y): the picture is enlarged about its centre.
    const auto at = [&](double x, double y) {
      return QPoint(static_cast<int>(2 * (picture.width() / 2.0 + DisplaysDemo::scale * (x - 147))),
                    static_cast<int>(2 * (picture.height() / 2.0 + DisplaysDemo::scale * (y - 44))));
    };
    const QPoint body = at(98 + 2, 62 + 8);
    const int ink = qGray(image.pixel(body)), ground = qGray(ui::windowBackground().rgb());
    if (dark)
      EXPECT_GT(ink, ground + 120) << "white on dark";
    else
      EXPECT_LT(ink, ground - 120) << "black on light";
    if (dark) continue;
    // Along the row through the pointer's upright left edge, two pixels out from its ink,
    // against the display's screen further out.
    int edge = body.x();
    while (edge > 0 && std::abs(qGray(image.pixel(edge - 1, body.y())) - ground) > 40) --edge;
    EXPECT_LT(qGray(image.pixel(edge - 2, body.y())), qGray(image.pixel(edge - 10, body.y())) - 2);
  }
}

// The trackpad's shadow is blurred by half a point: beside the pad and a pixel below the
// half point it drops, where a sharp one would end.
TEST_F(DemoViews, TheTrackpadsShadowIsBlurred) {
  MiniTrackpad pad(std::nullopt, 0);
  pad.resize(pad.sizeHint());
  QImage image(pad.size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  image.fill(Qt::transparent);
  pad.render(&image, {}, {}, QWidget::DrawChildren);
  const int left = static_cast<int>(2 * MiniTrackpad::shadowRoom),
            bottom = static_cast<int>(2 * MiniTrackpad::padHeight);
  EXPECT_GT(qAlpha(image.pixel(left - 1, bottom / 2)), 0) << "beside the pad";
  EXPECT_GT(qAlpha(image.pixel(image.width() / 2, bottom + 1)), 0) << "below the shadow's sharp edge";
}

TEST_F(DemoViews, SampleIconsComeFromTheWorkspaceOrFallBackToTheAppSymbol) {
  sim::App post;
  post.name = "Post";
  post.bundleIdentifier = "com.apple.mail";
  post.bundlePath = "/Applications/Post.app";
  post.iconColor = 0xC03030;
  scene.windowServer.addInstalledApp(post);
  ASSERT_EQ(NSWorkspace::shared().urlForApplication("com.apple.mail"), "/Applications/Post.app");
  const CGImageRef found = DemoIcons::icon("com.apple.mail");
  ASSERT_TRUE(found && found->width() > 0);
  EXPECT_EQ(found->pixel(found->width() / 2, 8) & 0xFFFFFF, 0xC03030u);

  EXPECT_FALSE(NSWorkspace::shared().urlForApplication("com.apple.Photos"));
  const CGImageRef missing = DemoIcons::icon("com.apple.Photos");
  ASSERT_TRUE(missing && missing->width() > 0);
  EXPECT_NE(missing->pixel(missing->width() / 2, missing->height() / 2) >> 24, 0u);  // the drawn symbol

  EXPECT_EQ(DemoIcons::top().size(), 4u);
  EXPECT_EQ(DemoIcons::bottom().size(), 3u);
  for (const auto& icon : DemoIcons::top()) EXPECT_TRUE(icon && icon->width() > 0);
}

}  // namespace
}  // namespace trelliq
