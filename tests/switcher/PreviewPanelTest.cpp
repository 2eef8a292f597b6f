// The floating preview: where it sits over the steered panel's content, how its glass and
// picture are sized, which picture it shows, and the click target of its glass.

#include <QImage>
#include <QPainter>

#include "DisplayPanelsStage.h"
#include "support/WidgetsApp.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/QtPanelViews.h"
#include "switcher/views/SymbolGlyphs.h"

namespace trelliq::panels {
namespace {

class PreviewTest : public PanelsStage {
 protected:
  /// A session on the built-in display with Draft selected and content reported at
  /// (200, 600, 1000, 200) of the panel: (200, 182, 1000, 200) on screen.
  void openOnDraft(const std::string& preview = "thumbnail") {
    setPreview(preview);
    holdSession();
    ASSERT_TRUE(switcher->session().isShown());
    switcher->model().select(tileOf(kQuillPID, 0, 1), 0);
    geometry(0).setContent(CGRect(200, 600, 1000, 200));
    scene.clock.advance(0.01);
  }
  void setThumbnail(std::uint32_t window, CGImageRef image) {
    switcher->model().thumbnails.modify([&](auto& pictures) { pictures[window] = std::move(image); });
    scene.clock.advance(0.01);
  }
  Layer& glass() { return switcher->preview().pane().glass(); }
  Layer& shownPicture() { return switcher->preview().picture(); }
};

TEST_F(PreviewTest, SitsAboveTheContentAndItsGlassSwallowsClicks) {
  openOnDraft();
  setThumbnail(kDraft, picture(1440, 900));
  const SwitcherPanel& preview = switcher->preview().window();
  ASSERT_TRUE(preview.isVisible());
  EXPECT_EQ(preview.frame(), CGRect(472, 354, 456, 321));
  EXPECT_EQ(glass().frame(), CGRect(40, 40, 376, 241));
  EXPECT_FALSE(glass().isHidden());
  EXPECT_FALSE(switcher->preview().pane().haze().isHidden());
  EXPECT_EQ(shownPicture().frame(), CGRect(48, 48, 360, 225));
  EXPECT_EQ(shownPicture().contents(), switcher->model().thumbnails().at(kDraft));
  EXPECT_TRUE(switcher->preview().badge().isHidden());
  EXPECT_EQ(switcher->gate().clickTargets(), (std::vector<Switcher::ClickTarget>{{CGRect(200, 182, 1000, 200), true},
                                                                                 {CGRect(512, 394, 376, 241), false}}));

  // Pressed through the simulated Mac: the glass swallows, the content lets through.
  sim::EventServer& events = *sim::EventServer::active();
  events.clearRecords();
  post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, {600, 982 - 500.0}, kCGMouseButtonLeft));
  post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, {300, 982 - 200.0}, kCGMouseButtonLeft));
  scene.clock.advance(0.05);
  ASSERT_EQ(events.consumed().size(), 1u);
  EXPECT_EQ(events.consumed().front().event.location.y, 482);
  EXPECT_TRUE(switcher->session().isActive()) << "neither press ends the session";
}

TEST_F(PreviewTest, PicturesAreFittedIntoTheBox) {
  openOnDraft();
  struct Case {
    int width, height;
    CGRect glass;
  };
  for (const Case& c : {Case{900, 1440, CGRect(150, 40, 157, 241)}, Case{100, 50, CGRect(40, 40, 376, 196)},
                        Case{1440, 900, CGRect(40, 40, 376, 241)}}) {
    setThumbnail(kDraft, picture(c.width, c.height));
    EXPECT_EQ(glass().frame(), c.glass) << c.width << "x" << c.height;
    EXPECT_EQ(shownPicture().frame(), c.glass.insetBy(8, 8)) << c.width << "x" << c.height;
    EXPECT_EQ(glass().cornerRadius(), 18);
  }
}

TEST_F(PreviewTest, AFullScreenWindowCarriesTheBadgeADesktopItsWallpaper) {
  openOnDraft();
  setThumbnail(kBudget, picture(1440, 900));
  switcher->model().select("0:fullScreen:5101", 0);
  scene.clock.advance(0.01);
  EXPECT_FALSE(switcher->preview().badge().isHidden());
  EXPECT_EQ(switcher->preview().badge().frame(), CGRect(360 - 28, 6, 22, 22)) << "6 points from right and bottom";

  switcher->model().select("0:4:desktop", 0);
  scene.clock.advance(0.01);
  ASSERT_TRUE(switcher->model().wallpapers().count(4));
  EXPECT_EQ(shownPicture().contents(), switcher->model().wallpapers().at(4));
  EXPECT_FALSE(shownPicture().isHidden());
  EXPECT_TRUE(switcher->preview().badge().isHidden());

  switcher->model().wallpapers.modify([](auto& pictures) { pictures.erase(4); });
  scene.clock.advance(0.01);
  EXPECT_TRUE(shownPicture().isHidden());
  EXPECT_TRUE(glass().isHidden());
  EXPECT_EQ(switcher->gate().clickTargets().size(), 1u) << "a hidden glass is no click target";
}

TEST_F(PreviewTest, WithoutAThumbnailThePanelWaitsEmptyForIt) {
  openOnDraft();
  switcher->model().thumbnails.modify([](auto& pictures) { pictures.erase(kDraft); });
  scene.clock.advance(0.01);
  EXPECT_TRUE(switcher->preview().window().isVisible());
  EXPECT_TRUE(glass().isHidden());
  EXPECT_TRUE(switcher->preview().pane().haze().isHidden());
  EXPECT_TRUE(shownPicture().isHidden());
  EXPECT_EQ(switcher->gate().clickTargets().size(), 1u);

  setThumbnail(kDraft, picture(720, 450));
  EXPECT_FALSE(glass().isHidden());
  EXPECT_EQ(switcher->gate().clickTargets().size(), 2u);
}

TEST_F(PreviewTest, FollowsTheFocusToAnotherDisplayOnceItsContentIsKnown) {
  openOnDraft();
  setThumbnail(kDraft, picture(1440, 900));
  ASSERT_TRUE(switcher->preview().window().isVisible());
  switcher->model().focus(1);
  scene.clock.advance(0.01);
  EXPECT_FALSE(switcher->preview().window().isVisible()) << "no content frame on the wide display yet";

  geometry(1).setContent(CGRect(300, 700, 1960, 240));
  const CGRect content = *switcher->panels().contentFrame(1);
  ASSERT_EQ(content, CGRect(1812, 500, 1960, 240));
  EXPECT_TRUE(switcher->preview().window().isVisible());
  EXPECT_EQ(switcher->preview().window().frame(), CGRect(std::round(content.midX() - 228), 740 + 12 - 40, 456, 321));
}

// The same preview drawn by the real views.
class DrawnPreviewTest : public PreviewTest {
 protected:
  DrawnPreviewTest() : views_(std::make_unique<views::QtPanelViews>(scene::layoutPanel)) {
    test::ensureWidgets();
    PanelViews::install(views_.get());
  }
  // The mirrors let go of the controller's layers before the controller goes.
  ~DrawnPreviewTest() override {
    PanelViews::install(nullptr);
    views_.reset();
  }
  QImage drawnPreview() {
    QWidget* view = switcher->preview().window().contentView();
    if (!view) return {};
    QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    view->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
  }

 private:
  std::unique_ptr<views::QtPanelViews> views_;
};

TEST_F(DrawnPreviewTest, TheFullScreenBadgeIsDrawnInsideThePicturesLowerRightWithItsGlyph) {
  openOnDraft();
  setThumbnail(kBudget, picture(1440, 900, 0xFF00C000));
  switcher->model().select("0:fullScreen:5101", 0);
  scene.clock.advance(0.5);
  ASSERT_FALSE(switcher->preview().badge().isHidden());
  const QImage image = drawnPreview();
  ASSERT_FALSE(image.isNull());
  // The picture's lower-right corner in the drawing's coordinates (top-left origin).
  const CGRect picture = shownPicture().frame();
  const int right = static_cast<int>(picture.maxX()), bottom = image.height() - static_cast<int>(picture.minY());
  const QRgb plain = image.pixel(static_cast<int>(picture.minX()) + 20, bottom - 20);
  ASSERT_GT(qGreen(plain), 150) << "the picture itself";

  const QRgb badge = image.pixel(right - 24, bottom - 10);  // inside the badge, off its glyph
  EXPECT_LT(qGreen(badge), qGreen(plain) * 6 / 10) << "the badge darkens the picture";
  EXPECT_LT(qRed(badge), 30);
  const QRgb glyph = image.pixel(right - 17, bottom - 17);  // the badge's middle
  EXPECT_GT(qRed(glyph), 150) << "its glyph is drawn in white";
  EXPECT_GT(qGreen(image.pixel(right - 3, bottom - 17)), 150) << "6 points of picture stay right of it";
  EXPECT_GT(qGreen(image.pixel(right - 17, bottom - 3)), 150) << "and below it";
  EXPECT_GT(qGreen(image.pixel(right - 24, bottom - 31)), 150) << "and it is 22 points tall";
  EXPECT_EQ(qAlpha(image.pixel(right - 17, image.height() - 17)), 0) << "nothing is drawn in the margin below";

  // The glyph is bold: it covers as much as a bold outline does, more than a semibold one.
  EXPECT_EQ(switcher->preview().badge().accessibilityDescription(), "Full screen");
  const auto whiteIn = [](const QImage& picture, const QRect& box) {
    int white = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) {
      for (int x = box.left(); x <= box.right(); ++x) white += qRed(picture.pixel(x, y)) > 128;
    }
    return white;
  };
  const auto outline = [&](scene::Weight weight) {
    QImage alone(22, 22, QImage::Format_ARGB32_Premultiplied);
    alone.fill(Qt::black);
    QPainter painter(&alone);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(views::symbolPath(switcher->preview().badge().symbol().name, QRectF(0, 0, 22, 22), 10, weight),
                     Qt::white);
    painter.end();
    return whiteIn(alone, alone.rect());
  };
  const int bold = outline(scene::Weight::bold), semibold = outline(scene::Weight::semibold);
  ASSERT_GT(bold, semibold + 2);
  EXPECT_GT(whiteIn(image, QRect(right - 28, bottom - 28, 22, 22)), (bold + semibold) / 2);
}

// A panel's view places the preview while the panels are ordered in: a panel ordered in
// after it would cover its part on that display.
TEST_F(DrawnPreviewTest, FloatsAboveEveryPanelOnceTheyAreShown) {
  setPreview("thumbnail");
  holdSession();
  ASSERT_TRUE(switcher->preview().window().isVisible());
  std::vector<std::uint32_t> frontToBack;
  for (const platform::WindowEntry& w : scene.windowServer.windowList()) {
    if (w.layer == panelwindow::panelLevel && w.onScreen) frontToBack.push_back(w.number);
  }
  ASSERT_EQ(frontToBack.size(), 3u) << "two panels and the preview";
  EXPECT_EQ(frontToBack.front(), switcher->preview().window().windowNumber());
}

class OtherPreviewOption : public PreviewTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OtherPreviewOption, NeverShowsIt) {
  openOnDraft(GetParam());
  setThumbnail(kDraft, picture(1440, 900));
  EXPECT_FALSE(switcher->preview().window().isVisible());
  EXPECT_EQ(switcher->gate().clickTargets().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Options, OtherPreviewOption, ::testing::Values("fullScreen", "none"));

}  // namespace
}  // namespace trelliq::panels
