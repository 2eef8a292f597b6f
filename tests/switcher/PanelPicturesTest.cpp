// The drawn panels, as the window server gets them from the program, pixel by pixel
// against pictures kept with the tests: a session held open on the default desk with the
// real layout and views, both displays' panels, at rest and part-way through the animation
// of a change of the steered display (so the timing and curve of the motion show in the
// pixels too), and window tiles with their pictures beside the preview. Faster drawing
// must draw the same thing: a pixel may differ by a little (antialiasing), only a handful
// by more.
//
// TRELLIQ_WRITE_PANEL_PICTURES=<folder> writes the pictures instead of comparing (for a
// deliberate change of the look; look at them before keeping them).

#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <map>
#include <string>

#include "SwitcherPanelsStage.h"
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

  // The panel of `display` as the window server shows it (the program's own paint, at
  // scale 2), cut to its content and a margin for the shadows.
  QImage drawn(int display) {
    const CGRect c = geometry(display).content();
    if (c.isNull()) return {};
    const QImage image = composed(*switcher->panels.at(static_cast<std::size_t>(display)).window);
    const QRect cut(static_cast<int>(c.minX() - 40) * 2, static_cast<int>(c.minY() - 40) * 2,
                    static_cast<int>(c.width() + 80) * 2, static_cast<int>(c.height() + 80) * 2);
    return image.copy(cut);
  }
  QImage composed(const NSWindow& window) {
    const CGRect frame = window.frame();
    return scene.windowServer.composeWindow(static_cast<std::uint32_t>(window.windowNumber()),
                                            static_cast<int>(frame.width() * 2), static_cast<int>(frame.height() * 2));
  }

  // What a compositor keeping the panel's pixels between frames holds after drawing only
  // what the view marked since the last time.
  QImage& drawnAgain(int display) {
    auto* view = dynamic_cast<views::DisplayPanelView*>(
        switcher->panels.at(static_cast<std::size_t>(display)).window->contentView());
    QImage& store = stores_[display];
    if (store.size() != view->size() * 2) {
      store = QImage(view->size() * 2, QImage::Format_ARGB32_Premultiplied);
      store.fill(Qt::transparent);
    }
    const QRegion dirty = view->takeDirtyRegion();
    if (dirty.isEmpty()) return store;
    QPainter painter(&store);
    painter.scale(2, 2);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect& r : dirty) painter.fillRect(r, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    view->render(&painter, dirty.boundingRect().topLeft(), dirty, QWidget::DrawChildren);
    return store;
  }
  QImage drawnWhole(int display) {
    auto* view = dynamic_cast<views::DisplayPanelView*>(
        switcher->panels.at(static_cast<std::size_t>(display)).window->contentView());
    QImage image(view->size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(2, 2);
    view->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
  }
  std::map<int, QImage> stores_;

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
  ASSERT_TRUE(switcher->shown);
  expectLooksAsKept(drawn(0), "rest-steered");
  expectLooksAsKept(drawn(1), "rest-other");

  press(Switcher::keyTab, kCommand);
  scene.clock.advance(0.3);
  expectLooksAsKept(drawn(0), "step");

  // The pointer on the wide display steers it: both panels animate, one out, one in.
  scene.windowServer.setPointer({2500, 300});
  scene.clock.advance(0.05);
  expectLooksAsKept(drawn(0), "focus-early-out");
  expectLooksAsKept(drawn(1), "focus-early-in");
  scene.clock.advance(0.07);
  expectLooksAsKept(drawn(0), "focus-late-out");
  expectLooksAsKept(drawn(1), "focus-late-in");
  scene.clock.advance(1.0);
  expectLooksAsKept(drawn(1), "focus-rest");
}

TEST_F(PanelPicturesTest, NamesOnEveryTileLookAsKept) {
  setPreview("none");
  UserDefaults::standard().set("names", "always");
  holdSession(0.6);
  ASSERT_TRUE(switcher->shown);
  expectLooksAsKept(drawn(0), "names-steered");
  expectLooksAsKept(drawn(1), "names-other");
}

TEST_F(PanelPicturesTest, WindowTilesWithTheirPicturesAndThePreviewLookAsKept) {
  setPreview("thumbnail");
  UserDefaults::standard().set("tiles", "windows");
  holdSession(1.5);  // every picture in, every fade done
  // The second session's tile pictures are kept at the size the tiles draw them.
  press(Switcher::keyEscape, kCommand);
  modifiers(0);
  scene.clock.advance(0.5);
  modifiers(kCommand);
  press(Switcher::keyTab, kCommand);
  scene.clock.advance(1.5);
  ASSERT_TRUE(switcher->shown);
  expectLooksAsKept(drawn(0), "window-tiles");
  expectLooksAsKept(composed(switcher->previewPanel()), "window-tiles-preview");
}

TEST_F(PanelPicturesTest, DrawingOnlyWhatWasMarkedKeepsThePanelsWhole) {
  setPreview("none");
  holdSession(0.6);
  ASSERT_TRUE(switcher->shown);
  // Every frame is drawn into the kept pixels; a whole drawing to hold them against is
  // made on a sample of frames only, since each costs a full repaint of both displays.
  const auto check = [&](const std::string& when, bool compare) {
    for (const int display : {0, 1}) {
      QImage& kept = drawnAgain(display);
      if (compare) expectAlike(kept, drawnWhole(display), when + ", display " + std::to_string(display));
    }
  };
  check("shown", true);
  // Steps and a change of the steered display, frame by frame.
  for (int step = 0; step < 3; ++step) {
    press(Switcher::keyTab, kCommand);
    for (int frame = 0; frame < 20; ++frame) {
      scene.clock.advance(1.0 / 60);
      check("step " + std::to_string(step) + " frame " + std::to_string(frame), frame % 4 == 1 || frame == 19);
    }
  }
  scene.windowServer.setPointer({2500, 300});
  for (int frame = 0; frame < 30; ++frame) {
    scene.clock.advance(1.0 / 60);
    check("focus frame " + std::to_string(frame), frame % 4 == 1 || frame == 29);
  }
}

}  // namespace
}  // namespace trelliq::panels
