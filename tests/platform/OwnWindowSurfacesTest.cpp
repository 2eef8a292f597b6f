// What captures show of the program's own windows: the content view as last published,
// where the window stands, at the size asked for, and the window server's plain fill
// whenever there is nothing to draw; a view that reports its own changes is drawn once for each.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QBackingStore>
#include <QImage>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>

#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "platform/OwnWindowSurface.h"
#include "platform/ScreenCaptureKit.h"
#include "platform/SharedSurface.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"

namespace {

// The plain fill of an own window in the desk's dark appearance.
constexpr std::uint32_t kRed = 0xFF0000, kBlue = 0x0000FF, kFill = sim::kOwnWindowDarkFill;

// Left half red; the right half blue, or left clear when `clearRight`.
class TwoHalves : public QWidget {
 public:
  explicit TwoHalves(bool clearRight = false) : clearRight_(clearRight) { resize(200, 100); }
  QColor left = QColor(255, 0, 0);

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(0, 0, width() / 2, height(), left);
    if (!clearRight_) p.fillRect(width() / 2, 0, width() - width() / 2, height(), QColor(0, 0, 255));
  }

 private:
  bool clearRight_;
};

// A red band 50 points high over blue.
class RedTop : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 255));
    p.fillRect(0, 0, width(), 50, QColor(255, 0, 0));
  }
};

// A view that reports what it changes itself, as a clear panel does, and asks Qt to
// repaint it too; it counts how often it is drawn.
class Reporting : public QWidget, public platform::DamageReportingView {
 public:
  Reporting() { resize(200, 100); }
  QColor color = QColor(255, 0, 0);
  int paints = 0;
  void change(const QRect& part, const QColor& now) {
    color = now;
    dirty_ += part;
    update(part);
    if (damaged) damaged();
  }
  QRect drawnArea() const override { return rect(); }
  QRegion takeDamage() override { return std::exchange(dirty_, QRegion()); }

 protected:
  void paintEvent(QPaintEvent*) override {
    ++paints;
    QPainter(this).fillRect(rect(), color);
  }

 private:
  QRegion dirty_;
};

std::uint32_t rgb(const CGImageRef& image, int x, int y) { return image->pixel(x, y) & 0xFFFFFF; }
std::uint32_t alpha(const CGImageRef& image, int x, int y) { return image->pixel(x, y) >> 24; }

class OwnWindowPictures : public ::testing::Test {
 protected:
  OwnWindowPictures() {
    trelliq::test::ensureWidgets();
    scene.world.setScreenCaptureAllowed(true);
  }
  // A titled window with a 200 × 100 content area (128 points high with its title bar).
  std::unique_ptr<NSWindow> window(QWidget* content) {
    auto w = std::make_unique<NSWindow>(CGRect(100, 300, 200, 100), NSWindowStyleMaskTitled,
                                        NSBackingStoreType::buffered, false);
    w->setLevel(NSFloatingWindowLevel);
    w->setContentView(content);
    w->orderFront(nullptr);
    return w;
  }
  // A borderless window that leaves the view's clear parts clear.
  std::unique_ptr<NSWindow> clearWindow(QWidget& content, CGRect frame) {
    auto w = std::make_unique<NSWindow>(frame, NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
    w->setLevel(NSFloatingWindowLevel);
    w->setOpaque(false);
    w->setContentView(&content);
    w->orderFront(nullptr);
    return w;
  }
  // Runs what is due and the paint passes it sets off.
  void settle() {
    scene.clock.runUntilIdle();
    QApplication::processEvents();
    scene.clock.runUntilIdle();
  }
  CGImageRef capture(const NSWindow& w, int width, int height) {
    return server.captureWindowPicture(static_cast<std::uint32_t>(w.windowNumber()), width, height);
  }
  // Where the window stands on the desk (top-left points).
  CGRect bounds(const NSWindow& w) {
    for (const auto& e : server.windowList()) {
      if (e.number == w.windowNumber()) return e.bounds;
    }
    return CGRect();
  }
  CGImageRef display() {
    const NSScreen screen = NSScreen::screens().front();
    const CGRect f = screen.frame();
    SCContentFilter filter;
    filter.display = SCDisplay{*screen.displayNumber(), static_cast<int>(f.width()), static_cast<int>(f.height())};
    return SCScreenshotManager::captureImageNow(
        filter, SCStreamConfiguration{.width = static_cast<int>(f.width()), .height = static_cast<int>(f.height())});
  }

  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
};

TEST_F(OwnWindowPictures, AWindowCaptureShowsTheContentBelowTheServersTitleBarAtTheSizeAskedFor) {
  TwoHalves content;
  auto w = window(&content);

  const CGImageRef doubled = capture(*w, 400, 256);
  ASSERT_TRUE(doubled);
  EXPECT_EQ(rgb(doubled, 40, 100), kRed);
  EXPECT_EQ(rgb(doubled, 360, 250), kBlue);
  EXPECT_EQ(rgb(doubled, 40, 60), kRed) << "the content starts right under the 28-point bar";
  EXPECT_NE(rgb(doubled, 40, 50), kRed) << "the title bar is the server's";

  // A capture at the window's own size scales the same content down.
  const CGImageRef plain = capture(*w, 200, 128);
  EXPECT_EQ(rgb(plain, 20, 80), kRed);
  EXPECT_EQ(rgb(plain, 180, 80), kBlue);

  // What the view marks for drawing shows in the next capture, and only that part is
  // published again.
  const auto surface = server.ownWindowSurface(static_cast<std::uint32_t>(w->windowNumber()));
  ASSERT_TRUE(surface);
  const std::uint64_t before = surface->sequence();
  content.left = QColor(0, 255, 0);
  content.update(0, 0, 100, 100);
  const CGImageRef after = capture(*w, 200, 128);
  EXPECT_EQ(rgb(after, 20, 80), 0x00FF00u);
  EXPECT_EQ(rgb(after, 180, 80), kBlue);
  EXPECT_EQ(surface->sequence(), before + 1);
  const int scale = static_cast<int>(NSScreen::screens().front().backingScaleFactor());
  EXPECT_EQ(surface->damageSince(before), QRegion(0, 0, 100 * scale, 100 * scale));
}

TEST_F(OwnWindowPictures, APartAddedToAShownViewIsDrawnInTheNextFrame) {
  // Qt shows a part added to a shown layout only on a later turn of the event loop; a
  // frame made before then (a capture right away) shows it all the same.
  QWidget content;
  content.resize(200, 100);
  auto* layout = new QVBoxLayout(&content);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(new RedTop());
  auto w = window(&content);
  ASSERT_EQ(rgb(capture(*w, 200, 128), 100, 120), kBlue);

  auto* added = new TwoHalves();
  added->left = QColor(0, 255, 0);
  layout->addWidget(added);
  content.update();
  const CGImageRef after = capture(*w, 200, 128);
  EXPECT_EQ(rgb(after, 20, 120), 0x00FF00u) << "the added part is drawn where the layout put it";
}

TEST_F(OwnWindowPictures, AScrolledViewShowsOnlyWhatItScrolledTo) {
  // A 200 × 150 form, its top third red, in the 100-point-high window: scrolled to its foot
  // it shows only blue, though Qt repaints just the 50 points the scroll uncovers.
  QScrollArea content;
  content.setFrameShape(QFrame::NoFrame);
  content.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  content.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* form = new RedTop();
  form->resize(200, 150);
  content.setWidget(form);
  content.resize(200, 100);
  auto w = window(&content);
  ASSERT_EQ(rgb(capture(*w, 200, 128), 100, 40), kRed);

  content.verticalScrollBar()->setValue(content.verticalScrollBar()->maximum());
  ASSERT_EQ(form->y(), -50);
  const CGImageRef scrolled = capture(*w, 200, 128);
  for (int y = 29; y < 128; y += 7) EXPECT_EQ(rgb(scrolled, 100, y), kBlue) << "row " << y;
}

TEST_F(OwnWindowPictures, TheDisplayShowsTheContentWhereTheWindowStandsAndThroughItsClearParts) {
  TwoHalves content(/*clearRight=*/true);
  auto w = window(&content);
  w->setOpaque(false);
  const CGRect b = bounds(*w);
  const int x = static_cast<int>(b.minX()), y = static_cast<int>(b.minY()) + 28;

  const CGImageRef shown = display();
  EXPECT_EQ(rgb(shown, x + 20, y + 50), kRed);
  w->orderOut(nullptr);
  const CGImageRef without = display();
  EXPECT_NE(rgb(without, x + 20, y + 50), kRed);
  EXPECT_EQ(rgb(shown, x + 150, y + 50), rgb(without, x + 150, y + 50))
      << "a window that is not opaque has no fill behind what its view leaves clear";

  // Its own capture keeps the clear part clear.
  w->orderFront(nullptr);
  const CGImageRef own = capture(*w, 200, 128);
  EXPECT_EQ(alpha(own, 150, 80), 0u);
  EXPECT_EQ(alpha(own, 20, 80), 255u);
}

TEST_F(OwnWindowPictures, WithoutAViewTheWindowKeepsThePlainFillAndAGoneWindowHasNoPicture) {
  auto content = std::make_unique<TwoHalves>();
  auto w = window(content.get());
  EXPECT_EQ(rgb(capture(*w, 200, 128), 20, 80), kRed);

  // The view is destroyed while the window still names it.
  content.reset();
  EXPECT_EQ(rgb(capture(*w, 200, 128), 20, 80), kFill);

  TwoHalves other;
  w->setContentView(&other);
  EXPECT_EQ(rgb(capture(*w, 200, 128), 20, 80), kRed);
  w->setContentView(nullptr);
  EXPECT_EQ(rgb(capture(*w, 200, 128), 20, 80), kFill);

  const auto number = static_cast<std::uint32_t>(w->windowNumber());
  w.reset();
  EXPECT_FALSE(server.captureWindowPicture(number, 200, 128));
}

// A one-shot window (a display-sized backdrop) is drawn straight into its surface: the
// program keeps no second picture of it, and what it shows is the same.
TEST_F(OwnWindowPictures, AOneShotWindowKeepsNoPictureBesideItsSurface) {
  TwoHalves content;
  auto w = std::make_unique<NSWindow>(CGRect(100, 300, 200, 100), NSWindowStyleMaskBorderless,
                                      NSBackingStoreType::buffered, false);
  w->setOneShot(true);
  const std::size_t before = platform::OwnWindowSurface::keptBytes();
  w->setContentView(&content);
  w->orderFront(nullptr);
  EXPECT_EQ(rgb(capture(*w, 200, 100), 20, 80), kRed);
  EXPECT_EQ(rgb(capture(*w, 200, 100), 180, 80), kBlue);
  EXPECT_EQ(platform::OwnWindowSurface::keptBytes(), before);
  content.left = QColor(0, 0, 255);
  content.update();
  EXPECT_EQ(rgb(capture(*w, 200, 100), 20, 80), kBlue) << "drawn again whole";
}

// A one-shot window drawn again whole goes on showing its newest frame while the next one
// is drawn over it a band of rows at a time: it never holds a second frame's pages.
TEST_F(OwnWindowPictures, AOneShotWindowDrawnAgainHoldsOneFrame) {
  struct Measured : TwoHalves {
    std::function<void()> painted;
    void paintEvent(QPaintEvent* event) override {
      TwoHalves::paintEvent(event);
      if (painted) painted();
    }
  } content;
  content.resize(400, 300);
  auto w = std::make_unique<NSWindow>(CGRect(100, 300, 400, 300), NSWindowStyleMaskBorderless,
                                      NSBackingStoreType::buffered, false);
  w->setOneShot(true);
  w->setContentView(&content);
  w->orderFront(nullptr);
  const auto surface = server.ownWindowSurface(static_cast<std::uint32_t>(w->windowNumber()));
  ASSERT_TRUE(surface);
  const long long frame = 4LL * surface->width() * surface->height();
  long long largest = 0;
  content.painted = [&] {
    struct stat s {};
    ::fstat(surface->descriptor(), &s);
    largest = std::max(largest, static_cast<long long>(s.st_blocks) * 512);
  };
  for (const QColor& left : {QColor(0, 0, 255), QColor(0, 255, 0)}) {
    content.left = left;
    content.update();
    EXPECT_EQ(rgb(capture(*w, 400, 300), 20, 80), left.rgb() & 0xFFFFFF);
  }
  EXPECT_EQ(rgb(capture(*w, 400, 300), 380, 280), kBlue);
  EXPECT_LT(largest, frame * 3 / 2) << "one frame's pages, not two";
}

// A window that keeps its drawing (a panel) copies each changed part from it over its
// newest frame: its surface holds one frame's pages, however often it changes.
TEST_F(OwnWindowPictures, AWindowDrawnInPartsHoldsOneFrameBesideItsDrawing) {
  TwoHalves content;
  auto w = clearWindow(content, CGRect(100, 300, 200, 100));
  settle();
  const auto surface = server.ownWindowSurface(static_cast<std::uint32_t>(w->windowNumber()));
  ASSERT_TRUE(surface);
  for (const QColor& left : {QColor(0, 0, 255), QColor(0, 255, 0), QColor(9, 9, 9)}) {
    content.left = left;
    content.update(0, 0, 100, 100);
    settle();
    EXPECT_EQ(rgb(capture(*w, 200, 100), 20, 80), left.rgb() & 0xFFFFFF);
    struct stat s {};
    ::fstat(surface->descriptor(), &s);
    EXPECT_LT(s.st_blocks * 512, 4LL * surface->width() * surface->height() * 3 / 2) << "one frame's pages, not two";
  }
  EXPECT_EQ(rgb(capture(*w, 200, 100), 180, 80), kBlue);
}

// A titled window changes in parts while it is open: they are drawn straight over its
// newest frame, so the program keeps no second picture of it, nor does Qt's own store of
// the view (which nothing reads) get any pixels.
TEST_F(OwnWindowPictures, ATitledWindowKeepsNoPictureBesideItsSurface) {
  TwoHalves content;
  QPalette palette = content.palette();
  palette.setColor(QPalette::Window, QColor(1, 2, 3));
  content.setPalette(palette);
  QWidget filling(&content);
  filling.setGeometry(150, 0, 50, 50);
  filling.setAutoFillBackground(true);
  const std::size_t before = platform::OwnWindowSurface::keptBytes();
  auto w = window(&content);
  settle();
  EXPECT_EQ(rgb(capture(*w, 200, 128), 20, 80), kRed);
  EXPECT_EQ(platform::OwnWindowSurface::keptBytes(), before);
  content.left = QColor(0, 0, 255);
  content.update(0, 50, 100, 50);
  settle();
  const CGImageRef after = capture(*w, 200, 128);
  EXPECT_EQ(rgb(after, 20, 100), kBlue) << "the part drawn again";
  EXPECT_EQ(rgb(after, 20, 40), kRed) << "the rest as it was";
  const auto* store = content.backingStore() ? dynamic_cast<QImage*>(content.backingStore()->paintDevice()) : nullptr;
  ASSERT_TRUE(store && !store->isNull());
  for (const QPoint at : {QPoint(20, 80), QPoint(170, 20)})
    EXPECT_NE(store->pixel(at) & 0xFFFFFFu, 0x010203u) << "Qt filled its own store at " << at.x() << "," << at.y();
}

TEST_F(OwnWindowPictures, OnlyOwnWindowsTakeASurface) {
  // Another app's window keeps its generated picture whatever is handed in for its number.
  const auto entries = server.windowList();
  const auto other = std::find_if(entries.begin(), entries.end(), [&](const platform::WindowEntry& e) {
    return e.ownerPID != server.ownProcessIdentifier() && e.bounds.width() > 50 && e.bounds.height() > 50;
  });
  ASSERT_NE(other, entries.end());
  const int wp = static_cast<int>(other->bounds.width()), hp = static_cast<int>(other->bounds.height());
  const std::uint32_t before = rgb(server.captureWindowPicture(other->number, wp, hp), wp / 2, hp / 2);
  QImage red(wp, hp, QImage::Format_ARGB32_Premultiplied);
  red.fill(Qt::red);
  auto surface = platform::SharedSurface::create(wp, hp);
  ASSERT_TRUE(surface && surface->publish(red, QRegion()));
  server.setOwnWindowSurface(other->number, surface);
  EXPECT_EQ(rgb(server.captureWindowPicture(other->number, wp, hp), wp / 2, hp / 2), before);
}

}  // namespace

// A clear window whose view lays a half-transparent grey over all of it, as a panel's glass does.
class Frosted : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(128, 128, 128, 128)); }
};

TEST_F(OwnWindowPictures, WhatLiesBehindAClearWindowsTranslucentContentIsBlurred) {
  // A sharp red edge under the middle of the frosted window.
  sim::Window red;
  red.pid = server.ownProcessIdentifier();
  red.layer = 150;
  red.bounds = CGRect(400, 0, 400, 3000);
  red.color = 0xFF0000;
  red.subrole.clear();
  red.allSpaces = true;
  server.addWindow(red);

  Frosted content;
  content.resize(200, 200);
  auto w = std::make_unique<NSWindow>(CGRect(300, 300, 200, 200), NSWindowStyleMaskBorderless,
                                      NSBackingStoreType::buffered, false);
  w->setLevel(200);
  w->setOpaque(false);
  w->setContentView(&content);
  w->orderFront(nullptr);
  const int y = static_cast<int>(bounds(*w).midY());
  const CGImageRef frosted = display();
  w->orderOut(nullptr);
  const CGImageRef bare = display();
  // The edge in the picture: the display need not start at the origin.
  int edge = -1;
  for (int x = 1; x < bare->width() && edge < 0; ++x) {
    if (rgb(bare, x, y) == kRed && rgb(bare, x - 1, y) != kRed) edge = x;
  }
  ASSERT_GT(edge, 100);
  // What plain blending of the grey over the backdrop would give at `x`, in green (the red
  // window has none).
  auto plain = [&](int x) { return static_cast<int>((((rgb(bare, x, y) >> 8) & 0xFF) * 127 + 128 * 128) / 255); };
  auto shown = [&](int x) { return static_cast<int>((rgb(frosted, x, y) >> 8) & 0xFF); };
  // The edge spreads: red reaches out beside it and thins inside it ...
  EXPECT_LT(shown(edge - 3), plain(edge - 3) - 8);
  EXPECT_GT(shown(edge + 3), plain(edge + 3) + 8);
  // ... while far from it the glass is the plain tint.
  EXPECT_NEAR(shown(edge + 70), plain(edge + 70), 4);
  // Beyond the window nothing changes.
  EXPECT_EQ(rgb(frosted, edge - 150, y), rgb(bare, edge - 150, y));
}

TEST_F(OwnWindowPictures, AClearWindowWithNothingPublishedHidesNothingAndASurfaceHandedOverNeverTurnsTheCountBack) {
  // A clear own window that has drawn nothing yet, wholly in front of a red window.
  auto w = std::make_unique<NSWindow>(CGRect(200, 200, 400, 400), NSWindowStyleMaskBorderless,
                                      NSBackingStoreType::buffered, false);
  w->setLevel(200);
  w->setOpaque(false);
  w->orderFront(nullptr);
  const auto number = static_cast<std::uint32_t>(w->windowNumber());
  server.setOwnWindowSurface(number, nullptr);
  const CGRect b = bounds(*w);
  sim::Window red;
  red.pid = server.ownProcessIdentifier();
  red.layer = 150;
  red.bounds = CGRect(b.minX() + 100, b.minY() + 100, 200, 200);
  red.color = 0xFF0000;
  red.subrole.clear();
  red.allSpaces = true;
  server.addWindow(red);
  const int x = static_cast<int>(b.midX()), y = static_cast<int>(b.midY());
  EXPECT_EQ(rgb(display(), x, y), kRed) << "no surface yet";
  auto blank = platform::SharedSurface::create(400, 400);
  ASSERT_TRUE(blank);
  server.setOwnWindowSurface(number, blank);
  EXPECT_EQ(rgb(display(), x, y), kRed) << "a surface with no frame in it";

  // A surface three frames on is replaced by a new one at its first frame: the screen,
  // which fetches only when the count moves, must still see a change.
  QImage clear(400, 400, QImage::Format_ARGB32_Premultiplied);
  clear.fill(Qt::transparent);
  for (int n = 0; n < 3; ++n) ASSERT_TRUE(blank->publish(clear, QRegion()));
  const std::uint64_t before = server.generation();
  auto fresh = platform::SharedSurface::create(400, 400);
  ASSERT_TRUE(fresh && fresh->publish(clear, QRegion()));
  server.setOwnWindowSurface(number, fresh);
  EXPECT_GT(server.generation(), before);
}

TEST_F(OwnWindowPictures, WhatAViewReportsAndAsksQtToRepaintIsDrawnOnce) {
  Reporting content;
  auto w = clearWindow(content, CGRect(100, 300, 200, 100));
  settle();
  content.paints = 0;
  content.change(QRect(0, 0, 100, 100), QColor(0, 255, 0));
  settle();
  EXPECT_EQ(content.paints, 1) << "the reported part was drawn again for Qt's repaint";
  EXPECT_EQ(rgb(capture(*w, 200, 100), 20, 20), 0x00FF00u);
}

// Blue with a red band 10 points high, `top` points down.
class Band : public QWidget {
 public:
  Band() { resize(200, 100); }
  int top = 10;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 255));
    p.fillRect(0, top, width(), 10, QColor(255, 0, 0));
  }
};

TEST_F(OwnWindowPictures, APartDrawnAgainIsPublishedOnlyWhereItsPixelsChanged) {
  Band content;
  auto w = window(&content);
  settle();
  const auto number = static_cast<std::uint32_t>(w->windowNumber());
  const std::uint64_t drawn = server.ownWindowSurface(number)->sequence();
  content.update();
  settle();
  EXPECT_EQ(server.ownWindowSurface(number)->sequence(), drawn) << "drawn again as it was: nothing to publish";

  content.top = 20;
  content.update();
  settle();
  const auto surface = server.ownWindowSurface(number);
  ASSERT_GT(surface->sequence(), drawn);
  const auto damage = surface->damageSince(drawn);
  ASSERT_TRUE(damage.has_value());
  const double scale = static_cast<double>(surface->height()) / content.height();
  EXPECT_EQ(damage->boundingRect(), QRectF(0, 10 * scale, 200 * scale, 20 * scale).toAlignedRect())
      << "only the rows the band left and took";
  EXPECT_EQ(surface->copy().pixel(static_cast<int>(100 * scale), static_cast<int>(25 * scale)) & 0xFFFFFFu, 0xFF0000u);
}

// Inks its top 180 points only; the rest of the window stays clear.
class PartlyDrawn : public Reporting {
 public:
  QRect drawnArea() const override { return QRect(0, 0, 200, 180) & rect(); }
};

TEST_F(OwnWindowPictures, AClearWindowShrunkInHeightShowsWhatChangesAfterwards) {
  PartlyDrawn content;
  content.resize(200, 200);
  auto w = clearWindow(content, CGRect(100, 300, 200, 200));
  settle();
  ASSERT_EQ(rgb(capture(*w, 200, 200), 20, 20), 0xFF0000u);

  w->setFrame(CGRect(100, 300, 200, 150), false);
  content.resize(200, 150);
  content.change(content.rect(), QColor(0, 255, 0));
  settle();
  const CGImageRef picture = capture(*w, 200, 150);
  EXPECT_EQ(rgb(picture, 20, 20), 0x00FF00u);
  EXPECT_EQ(rgb(picture, 180, 140), 0x00FF00u);
}

// The surface holds an opaque window's only picture: Qt's own backing store of the view,
// which nothing reads, is never drawn into by a pass (so its pages are never made).
TEST_F(OwnWindowPictures, AnOpaqueWindowsPassLeavesQtsOwnStoreUntouched) {
  TwoHalves content;
  auto w = window(&content);
  ASSERT_EQ(rgb(capture(*w, 200, 128), 20, 80), kRed);
  QBackingStore* store = content.backingStore();
  ASSERT_TRUE(store && store->paintDevice() && store->paintDevice()->devType() == QInternal::Image);
  auto* own = static_cast<QImage*>(store->paintDevice());
  own->fill(QColor(0, 255, 0));
  content.left = QColor(0, 0, 255);
  content.update();
  EXPECT_EQ(rgb(capture(*w, 200, 128), 20, 80), kBlue);
  EXPECT_EQ(own->pixel(20, 20) & 0xFFFFFF, 0x00FF00u) << "Qt filled the window's background into its own store";
}

// Widgets added to a view already shown are known to every later pass: one that fills its
// own background has it drawn by the surface, never into Qt's own store.
TEST_F(OwnWindowPictures, APartAddedLaterThatFillsItsBackgroundLeavesQtsOwnStoreUntouched) {
  TwoHalves content;
  auto w = window(&content);
  settle();
  auto* filling = new QWidget(&content);
  QPalette palette = filling->palette();
  palette.setColor(QPalette::Window, QColor(1, 2, 3));
  filling->setPalette(palette);
  filling->setGeometry(150, 0, 50, 50);
  filling->setAutoFillBackground(true);
  filling->show();
  settle();
  EXPECT_EQ(rgb(capture(*w, 200, 128), 170, 48), 0x010203u);
  const auto* store = content.backingStore() ? dynamic_cast<QImage*>(content.backingStore()->paintDevice()) : nullptr;
  ASSERT_TRUE(store && !store->isNull());
  EXPECT_NE(store->pixel(170, 20) & 0xFFFFFFu, 0x010203u) << "Qt filled its own store";
}

// The small parts of one frame are drawn into a picture kept for the next ones: each frame
// finds it clear, and it goes once frames stop.
TEST_F(OwnWindowPictures, AFramesSmallPartsLeaveNothingBehindForTheNextAndTheirPictureGoes) {
  TwoHalves content(true);
  const std::size_t before = platform::OwnWindowSurface::keptBytes();
  auto w = window(&content);
  w->setOpaque(false);
  settle();
  const auto number = static_cast<std::uint32_t>(w->windowNumber());
  content.update(0, 0, 90, 50);
  ASSERT_EQ(rgb(capture(*w, 200, 128), 20, 48), kRed);
  EXPECT_GT(platform::OwnWindowSurface::keptBytes(), before);
  content.update(110, 0, 80, 40);
  capture(*w, 200, 128);
  const QImage frame = server.ownWindowSurface(number)->copy();
  const double scale = static_cast<double>(frame.width()) / content.width();
  EXPECT_EQ(qAlpha(frame.pixel(static_cast<int>(150 * scale), static_cast<int>(20 * scale))), 0)
      << "the clear half shows what the frame before drew";
  scene.clock.advance(5);
  EXPECT_EQ(platform::OwnWindowSurface::keptBytes(), before);
}
