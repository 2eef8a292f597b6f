// The panels over a run of sessions with the real layout and views, as the window server
// gets them: the line between two Space groups is drawn in every session, however the
// last one ended (mid-step, mid-change of the desk), and the first session of a fresh
// program passes its own self-check in every tile style and preview setting.

#include <QImage>
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DisplayPanelsStage.h"
#include "support/WidgetsApp.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/DisplayPanelView.h"
#include "switcher/views/KeptLayers.h"
#include "switcher/views/QtPanelViews.h"

namespace trelliq::panels {
namespace {

class PanelSessionsTest : public PanelsStage {
 protected:
  PanelSessionsTest() : views_(std::make_unique<views::QtPanelViews>(scene::layoutPanel)) {
    test::ensureWidgets();
    PanelViews::install(views_.get());
  }
  ~PanelSessionsTest() override {
    PanelViews::install(nullptr);
    views_.reset();
  }

  /// A program started afresh: its controller and panel views made anew (the views'
  /// mirrors let go of the old controller's layers before it goes).
  void freshProgram() {
    if (switcher->gate().tapPort()) switcher->stopTap();
    PanelViews::install(nullptr);
    views_.reset();
    switcher.reset();
    views_ = std::make_unique<views::QtPanelViews>(scene::layoutPanel);
    PanelViews::install(views_.get());
    switcher = Switcher::make();
  }

  void open() {
    modifiers(kCommand);
    press(SwitcherKeys::tab, kCommand);
  }
  void letGo() { modifiers(0); }

  NSWindow& panelWindow(int display) { return *switcher->panels().at(static_cast<std::size_t>(display)).window; }
  const views::DisplayPanelView& view(int display) {
    return *dynamic_cast<const views::DisplayPanelView*>(panelWindow(display).contentView());
  }
  static double scaleOf(const NSWindow& window) {
    for (const NSScreen& screen : NSScreen::screens()) {
      if (screen.frame().intersects(window.frame())) return screen.backingScaleFactor();
    }
    return 1;
  }

  // The separators of a tree, each as its rectangle in the panel's points.
  static void separators(const scene::Node& node, double scale, CGPoint at, std::vector<CGRect>& out) {
    const double ax = node.anchor.x * node.frame.width(), ay = node.anchor.y * node.frame.height();
    const CGPoint origin{at.x + (node.frame.minX() + ax * (1 - node.scale)) * scale,
                         at.y + (node.frame.minY() + ay * (1 - node.scale)) * scale};
    const double s = scale * node.scale;
    if (node.key.rfind("separator:", 0) == 0)
      out.push_back(CGRect(origin.x, origin.y, node.frame.width() * s, node.frame.height() * s));
    for (const scene::Node& child : node.children) separators(child, s, origin, out);
  }

  // The picture of display `display`'s panel the window server holds, and the display's
  // frame as a screen is shown it (composed again only where it changed since its last).
  QImage windowPicture(int display) {
    NSWindow& window = panelWindow(display);
    const double scale = scaleOf(window);
    const CGImageRef captured = scene.windowServer.captureWindowPicture(
        static_cast<std::uint32_t>(window.windowNumber()), static_cast<int>(std::lround(window.frame().width() * scale)),
        static_cast<int>(std::lround(window.frame().height() * scale)));
    return captured ? captured->qimage() : QImage();
  }
  QImage displayFrame(int display, std::optional<double> perPoint = std::nullopt) {
    const sim::DisplaySpaces d = scene.windowServer.displays().at(static_cast<std::size_t>(display));
    const double scale = perPoint.value_or(scaleOf(panelWindow(display)));
    QImage frame;
    scene.windowServer.composeDisplayFrame(
        d.displayID, static_cast<int>(std::lround(d.frame.width() * scale)),
        static_cast<int>(std::lround(d.frame.height() * scale)), 0,
        [&](const QImage& shown, const sim::WindowServer::DisplayFrame&) { frame = shown.copy(); });
    return frame;
  }

  // The separators of display `display`'s panel that `picture` (the panel's or its
  // display's, at `perPoint` pixels per point, else the display's own) shows no line for:
  // at a line's middle it is no lighter than a few points either side. A line under a
  // pixel wide shows fainter, so less of a step is asked of it.
  int missingSeparators(int display, const QImage& picture, std::optional<double> perPoint = std::nullopt) {
    if (picture.isNull()) return -1;
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    const double scale = perPoint.value_or(scaleOf(panelWindow(display)));
    const int aside = std::max(3, static_cast<int>(std::lround(2.5 * scale)));
    const int step = scale >= 1 ? 6 : 3;
    std::vector<CGRect> lines;
    separators(view(display).animator().target(), 1, CGPoint{0, 0}, lines);
    int missing = 0;
    for (const CGRect& line : lines) {
      const int x = static_cast<int>(line.midX() * scale), y = static_cast<int>(line.midY() * scale);
      int lightest = 0;
      for (int dx = -1; dx <= 1; ++dx) lightest = std::max(lightest, qGray(image.pixel(x + dx, y)));
      const int beside = std::max(qGray(image.pixel(x - aside, y)), qGray(image.pixel(x + aside, y)));
      if (lightest - beside < step) ++missing;
    }
    return lines.empty() ? -2 : missing;
  }
  // In the panel's picture, in its display's frame, and in that frame as the screen at its
  // usual size is sent it, at about half a pixel per point.
  void expectEverySeparator(const std::string& when) {
    for (const int display : {0, 1}) {
      EXPECT_EQ(missingSeparators(display, windowPicture(display)), 0) << when << ", display " << display;
      EXPECT_EQ(missingSeparators(display, displayFrame(display)), 0) << when << ", display " << display << "'s frame";
      for (const double perPoint : {0.56, 0.43})
        EXPECT_EQ(missingSeparators(display, displayFrame(display, perPoint), perPoint), 0)
            << when << ", display " << display << "'s frame at " << perPoint << " px/pt";
    }
  }

  std::uint32_t builtIn() { return scene.windowServer.displays().front().displayID; }

 private:
  std::unique_ptr<views::QtPanelViews> views_;
};

TEST_F(PanelSessionsTest, EverySeparatorIsDrawnInEverySessionHoweverTheLastEnded) {
  setPreview("none");
  startTap();
  std::uint64_t added = 0;
  for (int session = 0; session < 8; ++session) {
    const std::string name = "session " + std::to_string(session);
    open();
    scene.clock.advance(0.2);
    ASSERT_TRUE(switcher->session().isShown()) << name;
    expectEverySeparator(name + " shown");
    // A Space comes or goes: the look again after the show lays a group (and its line)
    // in or out with a fade, and the session ends part-way through it, or part-way
    // through a step, or once all is at rest.
    if (added) {
      scene.windowServer.removeSpace(added);
      added = 0;
    } else {
      added = scene.windowServer.addSpace(builtIn(), sim::Space{}, 1);
    }
    scene.clock.advance(0.33);
    if (session % 3 == 1) press(SwitcherKeys::tab, kCommand);
    if (session % 3 == 2) {
      scene.clock.advance(1.0);
      expectEverySeparator(name + " changed, at rest");
    }
    scene.clock.advance(0.05);
    // Some end with a switch, some with Escape.
    if (session % 2 == 0) press(SwitcherKeys::escape, kCommand);
    letGo();
    scene.clock.advance(0.6);
  }
}

// Sessions in quick succession: the layers one kept shrink as it ends, before the relief
// that follows a wait, so the next session's layers do not pile up on top of them.
TEST_F(PanelSessionsTest, ASessionsKeptLayersShrinkAsItEnds) {
  setPreview("none");
  holdSession();
  ASSERT_TRUE(switcher->session().isShown());
  views::KeptLayers& layers = views::KeptLayers::shared();
  scene::Shape shape;
  shape.kind = scene::Shape::Kind::rectangle;
  shape.fill = scene::Paint{scene::Paint::Tone::white, 1};
  scene::Node node;
  node.frame = CGRect(0, 0, 1, 1);
  node.content = shape;
  for (double width = 1; layers.bytes() < views::KeptLayers::keptBetweenSessions * 2; ++width) {
    node.frame.size.width = width;  // a drawing of its own, as a move leaves them
    const views::KeptLayers::Found missed = layers.find(node, QTransform());
    layers.keep(node, QTransform(), missed, QPoint(), QImage(512, 512, QImage::Format_ARGB32_Premultiplied));
  }
  press(SwitcherKeys::escape, kCommand);
  letGo();
  scene.clock.advance(0.05);  // well before the relief
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_LE(layers.bytes(), views::KeptLayers::keptBetweenSessions);
}

// A fresh program's first session: its panels are on screen and whole when they check
// themselves, in every tile style with every preview.
TEST_F(PanelSessionsTest, TheFirstSessionPassesItsSelfCheckInEveryStyle) {
  for (const char* tiles : {"apps", "windows", "both"}) {
    for (const char* preview : {"none", "thumbnail", "fullScreen"}) {
      UserDefaults::standard().set("tiles", tiles);
      setPreview(preview);
      freshProgram();
      startTap();
      const std::size_t before = entriesStarting("opened").size();
      open();
      scene.clock.advance(0.7);
      const auto entries = entriesStarting("opened");
      ASSERT_EQ(entries.size(), before + 1) << tiles << ", " << preview;
      EXPECT_EQ(entries.back().rfind("opened: ", 0), 0u) << tiles << ", " << preview << ": " << entries.back();
      press(SwitcherKeys::escape, kCommand);
      letGo();
      scene.clock.advance(1);
    }
  }
}

}  // namespace
}  // namespace trelliq::panels
