// The drawn panels, as the window server gets them from the program, pixel by pixel
// against pictures kept with the tests: a session held open on the default desk with the
// real layout and views, both displays' panels, at rest and part-way through the animation
// of a change of the steered display (so the timing and curve of the motion show in the
// pixels too), and window tiles with their pictures beside the preview. Faster drawing
// must draw the same thing: a pixel may differ by a little (antialiasing), only a handful
// by more.
//
// TRELLIQ_WRITE_PANEL_PICTURES=<folder> writes the pictures instead of comparing (for a
// deliberate change of the look; look at them before keeping them); a panel's is its view
// drawn whole at its display's pixels, which the kept surfaces must match.

#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

#include "DisplayPanelsStage.h"
#include "platform/OwnWindowSurface.h"
#include "platform/SharedSurface.h"
#include "support/WidgetsApp.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/DisplayPanelView.h"
#include "switcher/views/QtPanelViews.h"

namespace trelliq::panels {
namespace {

// A pixel differs when one of its channels moved by more than this.
constexpr int kChannelTolerance = 24;
// The share of pixels allowed to differ.
constexpr double kDifferingShare = 0.002;

class PanelPicturesTest : public PanelsStage {
 protected:
  PanelPicturesTest() : views_(std::make_unique<views::QtPanelViews>(scene::layoutPanel)) {
    test::ensureWidgets();
    PanelViews::install(views_.get());
  }
  ~PanelPicturesTest() override {
    PanelViews::install(nullptr);
    views_.reset();
  }

  NSWindow& panelWindow(int display) { return *switcher->panels().at(static_cast<std::size_t>(display)).window; }
  // Pixels per point of the display `window` stands on.
  static double scaleOf(const NSWindow& window) {
    for (const NSScreen& screen : NSScreen::screens()) {
      if (screen.frame().intersects(window.frame())) return screen.backingScaleFactor();
    }
    return 1;
  }

  // The panel of `display` as the window server shows it: the program's own paint, at the
  // display's pixels, cut to its content and a margin for the shadows. `whole` draws the
  // panel's view whole instead, as the window's paint used to be.
  QImage drawn(int display, bool whole = false) {
    const CGRect c = geometry(display).content();
    if (c.isNull()) return {};
    NSWindow& window = panelWindow(display);
    const double scale = scaleOf(window);
    const QImage image = whole ? drawnWhole(display, scale) : composed(window);
    const auto pixels = [&](double points) { return static_cast<int>(static_cast<int>(points) * scale); };
    const QRect cut(pixels(c.minX() - 40), pixels(c.minY() - 40), pixels(c.width() + 80), pixels(c.height() + 80));
    return image.copy(cut);
  }
  QImage composed(const NSWindow& window) {
    const CGRect frame = window.frame();
    const double scale = scaleOf(window);
    const CGImageRef captured = scene.windowServer.captureWindowPicture(
        static_cast<std::uint32_t>(window.windowNumber()), static_cast<int>(std::lround(frame.width() * scale)),
        static_cast<int>(std::lround(frame.height() * scale)));
    return captured ? captured->qimage() : QImage();
  }
  QImage drawnWhole(int display, double scale) {
    auto* view = dynamic_cast<views::DisplayPanelView*>(panelWindow(display).contentView());
    QImage image((QSizeF(view->size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.scale(scale, scale);
    view->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
  }

  // The program's panel of `display` against the kept picture `name`; writing pictures,
  // the panel's view drawn whole (as the window's paint used to be) is kept instead.
  void expectPanelLooksAsKept(int display, const std::string& name) {
    expectLooksAsKept(std::getenv("TRELLIQ_WRITE_PANEL_PICTURES") ? drawn(display, true) : drawn(display), name);
  }

  // Compares with the kept picture `name` (or writes it).
  void expectLooksAsKept(const QImage& image, const std::string& name) {
    ASSERT_FALSE(image.isNull()) << name;
    const std::string file = name + ".png";
    if (const char* out = std::getenv("TRELLIQ_WRITE_PANEL_PICTURES")) {
      ASSERT_TRUE(image.save(QString::fromStdString(std::string(out) + "/" + file))) << file;
      return;
    }
    const QImage kept(QString::fromStdString(std::string(TRELLIQ_TESTS_DIR) + "/switcher/pictures/" + file));
    ASSERT_FALSE(kept.isNull()) << "no kept picture " << file;
    expectAlike(image, kept, file);
  }

  static void expectAlike(const QImage& image, const QImage& kept, const std::string& file) {
    const QImage a = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage b = kept.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(a.size(), b.size()) << file;
    long differing = 0;
    for (int y = 0; y < a.height(); ++y) {
      const auto* la = reinterpret_cast<const QRgb*>(a.constScanLine(y));
      const auto* lb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
      if (std::memcmp(la, lb, static_cast<std::size_t>(a.width()) * sizeof(QRgb)) == 0) continue;
      for (int x = 0; x < a.width(); ++x) {
        const QRgb p = la[x], q = lb[x];
        const int d = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        differing += d > kChannelTolerance;
      }
    }
    const double share = static_cast<double>(differing) / (static_cast<double>(a.width()) * a.height());
    EXPECT_LE(share, kDifferingShare) << file << ": " << differing << " pixels differ";
  }

 private:
  std::unique_ptr<views::QtPanelViews> views_;
};

TEST_F(PanelPicturesTest, PanelsAtRestAfterAStepAndMidFocusChangeLookAsKept) {
  setPreview("none");
  holdSession(0.6);
  ASSERT_TRUE(switcher->session().isShown());
  expectPanelLooksAsKept(0, "rest-steered");
  expectPanelLooksAsKept(1, "rest-other");

  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.3);
  expectPanelLooksAsKept(0, "step");

  // The pointer on the wide display steers it: both panels animate, one out, one in.
  scene.windowServer.setPointer({2500, 300});
  scene.clock.advance(0.05);
  expectPanelLooksAsKept(0, "focus-early-out");
  expectPanelLooksAsKept(1, "focus-early-in");
  scene.clock.advance(0.07);
  expectPanelLooksAsKept(0, "focus-late-out");
  expectPanelLooksAsKept(1, "focus-late-in");
  scene.clock.advance(1.0);
  expectPanelLooksAsKept(1, "focus-rest");
}

TEST_F(PanelPicturesTest, NamesOnEveryTileLookAsKept) {
  setPreview("none");
  UserDefaults::standard().set("names", "always");
  holdSession(0.6);
  ASSERT_TRUE(switcher->session().isShown());
  expectPanelLooksAsKept(0, "names-steered");
  expectPanelLooksAsKept(1, "names-other");
}

TEST_F(PanelPicturesTest, WindowTilesWithTheirPicturesAndThePreviewLookAsKept) {
  setPreview("thumbnail");
  UserDefaults::standard().set("tiles", "windows");
  holdSession(1.5);  // every picture in, every fade done
  const auto number = static_cast<std::uint32_t>(panelWindow(0).windowNumber());
  const auto firstSurface = scene.windowServer.ownWindowSurface(number);
  // The second session's tile pictures are kept at the size the tiles draw them.
  press(SwitcherKeys::escape, kCommand);
  modifiers(0);
  scene.clock.advance(0.5);
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(1.5);
  ASSERT_TRUE(switcher->session().isShown());
  // The panel keeps its surface between sessions, and what the last one left is gone.
  EXPECT_EQ(scene.windowServer.ownWindowSurface(number).get(), firstSurface.get());
  expectPanelLooksAsKept(0, "window-tiles");
  expectLooksAsKept(composed(switcher->preview().window()), "window-tiles-preview");
}

TEST_F(PanelPicturesTest, DrawingOnlyWhatChangedKeepsThePanelsWhole) {
  setPreview("none");
  holdSession(0.6);
  ASSERT_TRUE(switcher->session().isShown());
  // The window server gets what the program drew into its surfaces frame by frame; a
  // whole drawing to hold them against is made on a sample of frames only, since each
  // costs a full repaint of both displays.
  const auto check = [&](const std::string& when) {
    for (const int display : {0, 1}) {
      expectAlike(drawn(display), drawn(display, true), when + ", display " + std::to_string(display));
    }
  };
  check("shown");
  // The program publishes each change by itself, and only the part that changed.
  const auto surface = scene.windowServer.ownWindowSurface(static_cast<std::uint32_t>(panelWindow(0).windowNumber()));
  ASSERT_TRUE(surface);
  const std::uint64_t before = surface->sequence();
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(1.0 / 60);
  ASSERT_GT(surface->sequence(), before);
  const std::optional<QRegion> changed = surface->damageSince(before);
  ASSERT_TRUE(changed && !changed->isEmpty());
  const QRect bounds = changed->boundingRect();
  EXPECT_LT(bounds.width() * bounds.height(), surface->width() * surface->height() / 4);
  EXPECT_LT(surface->width() * surface->height(), 1512 * 982 * 4 / 2) << "a surface of the panel, not of its display";
  // Drawn once: the paint pass before the window server's next capture finds nothing left.
  const std::uint64_t drawn = surface->sequence();
  platform::OwnWindowSurface::publishAll();
  EXPECT_EQ(surface->sequence(), drawn) << "the step's change was drawn a second time";
  // Steps and a change of the steered display, frame by frame.
  for (int step = 0; step < 3; ++step) {
    if (step) press(SwitcherKeys::tab, kCommand);
    for (int frame = 0; frame < 20; ++frame) {
      scene.clock.advance(1.0 / 60);
      if (frame % 4 == 1 || frame == 19) check("step " + std::to_string(step) + " frame " + std::to_string(frame));
    }
  }
  scene.windowServer.setPointer({2500, 300});
  for (int frame = 0; frame < 30; ++frame) {
    scene.clock.advance(1.0 / 60);
    if (frame % 4 == 1 || frame == 29) check("focus frame " + std::to_string(frame));
  }
}

// A backdrop draws a wash of a quarter as many pixels as its display has points under a
// plain veil: its surface is kept at that density, and the window server shows it as the
// backdrop drawn at the display's pixels. The ghost, a window's picture at full
// resolution, keeps the display's.
TEST_F(PanelPicturesTest, ABackdropIsKeptAtItsPicturesDensityAndShowsTheSame) {
  setPreview("fullScreen");
  holdSession(1.5);
  ASSERT_TRUE(switcher->session().isShown());
  const NSWindow& backdrop = *switcher->ghost().backdropWindows().at(0).window;
  const auto surface = scene.windowServer.ownWindowSurface(static_cast<std::uint32_t>(backdrop.windowNumber()));
  ASSERT_TRUE(surface);
  EXPECT_EQ(surface->width(), 756);
  EXPECT_EQ(surface->height(), 491);
  auto* view = dynamic_cast<QWidget*>(backdrop.contentView());
  ASSERT_TRUE(view);
  QImage whole(3024, 1964, QImage::Format_ARGB32_Premultiplied);
  whole.fill(Qt::transparent);
  QPainter painter(&whole);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.scale(2, 2);
  view->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
  painter.end();
  expectAlike(composed(backdrop), whole, "backdrop");

  switcher->model().select(TileID::cluster(tileOf(kQuillPID, 0, 1)), 0);
  scene.clock.advance(0.2);
  ASSERT_TRUE(switcher->ghost().shownWindow());
  const NSWindow& ghost = *switcher->ghost().panel().window;
  const auto ghostSurface = scene.windowServer.ownWindowSurface(static_cast<std::uint32_t>(ghost.windowNumber()));
  ASSERT_TRUE(ghostSurface);
  EXPECT_EQ(ghostSurface->width(), static_cast<int>(std::lround(ghost.frame().width() * 2)));
}

}  // namespace
}  // namespace trelliq::panels
