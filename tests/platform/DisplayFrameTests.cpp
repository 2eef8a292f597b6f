// A display's frame brought up to date from what changed looks exactly like one composed
// whole, and copies only what changed: windows moved, raised, made key, a program's glass
// panel ordered in before it draws, then drawing and publishing part of its picture (an
// opaque panel's too, translucent or not), and
// a window moving behind that glass, glass hidden whole while what lies behind it changes
// and then uncovered. A frame that leaves out what is hidden looks like one that paints
// every window whole, paints each window's chrome once and a border only where it may
// show (a few changed pixels of a window lay out none of its text, the displays of one
// ask read the look once), and a window whose content cannot be read hides nothing, nor
// does a clear one show anything. What the frames keep is bounded, never a destroyed
// window, keeps the frames asked first when one ask holds more than fit, and goes when
// nobody asks for it, as does the memory no frame takes.

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <limits>
#include <map>

#include "platform/AppKitAppearance.h"
#include "platform/SharedSurface.h"
#include "platform/sim/DisplayComposer.h"
#include "platform/sim/ShownWindow.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"

namespace {

constexpr int kWidth = 756, kHeight = 491;  // the built-in display at half its points

class DisplayFrame : public ::testing::Test {
 protected:
  DisplayFrame() { trelliq::test::ensureWidgets(); }

  struct Frame {
    QImage image;
    sim::WindowServer::DisplayFrame change;
  };
  // No pixel of `a` may differ from `b`'s by more than rounding.
  static void expectAlike(const QImage& a, const QImage& b, const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    int worst = 0;
    QPoint where;
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x) {
        const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
        const int d =
            std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        if (d > worst) worst = d, where = QPoint(x, y);
      }
    EXPECT_LE(worst, 2) << what << ": the frame differs at " << where.x() << "," << where.y();
  }

  Frame compose(std::uint64_t since) {
    Frame f;
    EXPECT_TRUE(server.composeDisplayFrame(1, kWidth, kHeight, since, [&](const QImage& image, const auto& change) {
      f.image = image.copy();
      f.change = change;
    }));
    return f;
  }

  // The frame from what changed since the last one, beside the same frame composed whole:
  // no pixel may differ by more than rounding.
  QRegion expectSameAsWhole(const char* after) {
    const Frame updated = compose(last_);
    last_ = updated.change.sequence;
    server.dropDisplayFrames();
    const Frame whole = compose(0);
    server.dropDisplayFrames();
    last_ = compose(0).change.sequence;
    expectAlike(updated.image, whole.image, after);
    QRegion damage;
    for (const CGRect& r : updated.change.damage.value_or(std::vector<CGRect>{CGRect(0, 0, kWidth, kHeight)}))
      damage += QRect(static_cast<int>(r.minX()), static_cast<int>(r.minY()), static_cast<int>(r.width()),
                      static_cast<int>(r.height()));
    return damage;
  }

  // A clear panel of the program across the middle of the display (an opaque one with
  // `opaque`), its picture a translucent plate whose left half can be lit; with `drawn`
  // false, clear all over until drawPlate.
  void panel(bool opaque = false, bool drawn = true) {
    platform::OwnWindowState state;
    state.frame = CGRect(200, 982 - 700, 1100, 400);  // bottom-left points
    state.level = 101;
    state.opaque = opaque;
    state.hasShadow = false;
    state.collectionBehavior = 1;
    panel_ = server.createOwnWindow(state);
    server.orderOwnWindow(panel_, platform::OwnWindowOrder::frontRegardless);
    publishPlate(drawn);
    server.setOwnWindowSurface(panel_, surface_);
  }
  void publishPlate(bool drawn = true) {
    surface_ = platform::SharedSurface::create(1100, 400);
    plate_ = QImage(1100, 400, QImage::Format_ARGB32_Premultiplied);
    plate_.fill(Qt::transparent);
    surface_->publish(plate_, QRegion());
    if (drawn) drawPlate();
  }
  void drawPlate() {
    const QRect plate(50, 50, 1000, 300);
    QPainter painter(&plate_);
    painter.fillRect(plate, QColor(40, 40, 44, 140));
    painter.end();
    surface_->publish(plate_, QRegion(plate));
  }
  // Lights one tile of the plate, publishing only that tile as changed.
  void lightTile(int index) {
    const QRect tile(80 + index * 120, 100, 100, 100);
    QPainter painter(&plate_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(tile, QColor(90, 140, 230, 200));
    painter.end();
    surface_->publish(plate_, QRegion(tile));
  }

  // Space 1 of the built-in display with no window, for a composer of the test's own.
  sim::DisplayScene emptySpace() {
    sim::DisplayScene display;
    display.display = *scene.world.display(1);
    display.frame = CGRect(0, 0, 1512, 982);
    display.to.space = 1;
    return display;
  }
  static void addTitled(sim::DisplayScene& display, std::uint32_t number, CGRect bounds, std::uint32_t color,
                        bool key = false) {
    sim::Shown s;
    s.window.number = number;
    s.window.bounds = bounds;
    s.chrome.kind = sim::Chrome::Kind::titled;
    s.chrome.color = color;
    s.chrome.title = "Window " + std::to_string(number);
    s.chrome.key = key;
    display.to.windows.push_back(s);
  }

  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
  std::uint64_t last_ = 0;
  std::uint32_t panel_ = 0;
  std::shared_ptr<platform::SharedSurface> surface_;
  QImage plate_;
};

}  // namespace

TEST_F(DisplayFrame, FromWhatChangedEqualsTheWholeFrame) {
  last_ = compose(0).change.sequence;
  const Frame still = compose(last_);
  EXPECT_EQ(still.change.sequence, last_);
  EXPECT_TRUE(still.change.damage && still.change.damage->empty()) << "nothing changed, nothing to copy";

  const QRect all(0, 0, kWidth, kHeight);
  auto small = [&](const QRegion& damage) { return damage.boundingRect() != all; };
  ASSERT_TRUE(server.moveWindow(2101, {320, 140}));
  EXPECT_TRUE(small(expectSameAsWhole("a window moved")));
  ASSERT_TRUE(server.raiseWindow(1101));
  expectSameAsWhole("a window raised");
  for (const auto& e : server.windowList())
    if (e.number == 1101) ASSERT_TRUE(server.makeFrontmost(e.ownerPID));
  expectSameAsWhole("another app came to the front");
  // With the desktop's name in sight: the windows pushed down out of its way.
  ASSERT_TRUE(server.moveWindow(2101, {320, 700}));
  ASSERT_TRUE(server.moveWindow(1101, {100, 700}));
  expectSameAsWhole("the windows moved down");
  auto displays = scene.world.displays();
  for (auto& d : displays)
    if (d.screen.displayID == 1) d.screen.localizedName = "Projector";  // the same display, newly named
  scene.world.setDisplays(displays);
  expectSameAsWhole("the display was renamed");

  panel(false, false);
  expectSameAsWhole("a glass panel came before it drew");
  drawPlate();
  expectSameAsWhole("the panel drew");
  lightTile(0);
  const QRegion tile = expectSameAsWhole("the panel lit a tile");
  EXPECT_LT(tile.boundingRect().width(), kWidth / 4) << "only the tile is composed again";
  server.moveWindow(2101, {500, 300});
  expectSameAsWhole("a window moved behind the glass");
  lightTile(3);
  expectSameAsWhole("the panel lit another tile");
}

// An opaque window's own picture shows wherever its content is translucent, also when
// only the part of it that changed is composed again; where the content covers it, not.
TEST_F(DisplayFrame, AnOpaqueWindowShowsUnderWhatItsContentLeavesTranslucent) {
  last_ = compose(0).change.sequence;
  platform::OwnWindowState state;
  state.frame = CGRect(200, 982 - 700, 1100, 400);
  state.styleMask = 1;  // titled: the window's picture is its title bar over its fill
  state.title = "Pane";
  panel_ = server.createOwnWindow(state);
  server.orderOwnWindow(panel_, platform::OwnWindowOrder::frontRegardless);
  publishPlate();
  server.setOwnWindowSurface(panel_, surface_);
  expectSameAsWhole("an opaque window drew a translucent plate");
  QPainter(&plate_).fillRect(QRect(200, 100, 100, 100), QColor(200, 90, 30));
  surface_->publish(plate_, QRegion(200, 100, 100, 100));
  expectSameAsWhole("the window lit an opaque tile");
  lightTile(1);  // where it was lit
  expectSameAsWhole("the window lit a translucent tile over it");
}

// A clear window (an app's invisible helper) shows nothing and hides nothing: the frame is
// the one without it, for the desk's one-point helper of Cadence and for one grown over the
// corner of Cadence's window.
TEST_F(DisplayFrame, AClearWindowLeavesTheFrameAsItIsWithoutIt) {
  constexpr std::uint32_t kWide = 3, kHelper = 6102;
  const auto frame = [&] {
    QImage image;
    EXPECT_TRUE(
        server.composeDisplayFrame(kWide, 2560, 1440, 0, [&](const QImage& f, const auto&) { image = f.copy(); }));
    server.dropDisplayFrames();
    return image;
  };
  const QImage helper = frame();
  ASSERT_TRUE(server.updateWindow(kHelper, [](sim::Window& w) { w.bounds = CGRect(3850, 750, 100, 100); }));
  const QImage grown = frame();
  ASSERT_TRUE(server.removeWindow(kHelper));
  const QImage without = frame();
  expectAlike(helper, without, "the desk's helper window");
  expectAlike(grown, without, "a clear window over another");
}

TEST_F(DisplayFrame, KeptFramesLetGoOfDestroyedWindowsAndStayWithinTheirBudget) {
  // A frame kept at a size nobody asks for any more must not keep a destroyed panel's surface.
  panel();
  compose(0);
  ASSERT_TRUE(server.composeDisplayFrame(1, kWidth / 2, kHeight / 2, 0, [](const auto&, const auto&) {}));
  std::weak_ptr<platform::SharedSurface> published = surface_;
  server.destroyOwnWindow(panel_);
  surface_.reset();
  ASSERT_TRUE(server.composeDisplayFrame(1, kWidth / 2, kHeight / 2, 0, [](const auto&, const auto&) {}));
  EXPECT_TRUE(published.expired()) << "the destroyed panel's surface is still held";

  // Room for two frames of 600 × 400: a third size lets go of the least recently asked.
  sim::DisplayComposer composer(2 * 600 * 402 * 4);
  sim::DisplayScene display;
  display.display = *scene.world.display(1);
  display.frame = CGRect(0, 0, 1512, 982);
  auto sequenceAt = [&](int height, std::uint64_t since, bool* whole = nullptr) {
    std::uint64_t sequence = 0;
    composer.compose(1, 600, height, display, since, [&](const QImage&, const sim::FrameChange& change) {
      sequence = change.sequence;
      if (whole) *whole = !change.damage;
    });
    return sequence;
  };
  const std::uint64_t first = sequenceAt(400, 0);
  sequenceAt(401, 0);
  const std::uint64_t third = sequenceAt(402, 0);
  bool whole = false;
  sequenceAt(402, third, &whole);
  EXPECT_FALSE(whole) << "the frame just asked for is kept";
  sequenceAt(400, first, &whole);
  EXPECT_TRUE(whole) << "past the budget, the oldest frame is let go";
  const std::uint64_t huge = sequenceAt(1300, 0);
  sequenceAt(1300, huge, &whole);
  EXPECT_TRUE(whole) << "a frame over the budget alone is not kept";

  // One ask for three displays where two fit: those asked first stay and are brought up
  // to date, where letting go of the oldest would make every frame of every ask whole.
  sim::DisplayComposer asks(2 * 600 * 402 * 4);
  std::map<std::uint32_t, std::uint64_t> held;
  int wholeFrames = 0;
  auto ask = [&] {
    wholeFrames = 0;
    const std::uint64_t request = asks.newRequest();
    for (const std::uint32_t id : {1u, 2u, 3u})
      asks.compose(
          id, 600, 400, display, held[id],
          [&](const QImage&, const sim::FrameChange& change) {
            held[id] = change.sequence;
            wholeFrames += !change.damage;
          },
          request);
  };
  ask();
  ask();
  EXPECT_EQ(wholeFrames, 1) << "only the display that does not fit is composed whole again";
  EXPECT_EQ(asks.evicted(), 2u) << "each ask let go of one frame";

  // Two asks under way at once: each is told only of what its own frames let go.
  sim::DisplayComposer two(2 * 600 * 402 * 4);
  const std::uint64_t a = two.newRequest(), b = two.newRequest();
  auto frameOf = [&](std::uint32_t id, std::uint64_t request) {
    return two.compose(id, 600, 400, display, 0, [](const QImage&, const sim::FrameChange&) {}, request);
  };
  std::size_t byA = frameOf(1, a);
  const std::size_t byB = frameOf(3, b) + frameOf(4, b);  // lets go of a's first frame
  byA += frameOf(2, a);                                   // lets go of b's first frame
  EXPECT_EQ(byA, 1u);
  EXPECT_EQ(byB, 1u);
}

TEST_F(DisplayFrame, AWindowWhoseContentCannotBeReadHidesNothingUntilItCanBe) {
  const Frame bare = compose(0);
  panel(true);
  // The panel's program names a buffer that does not exist as its newest frame's.
  void* header = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, surface_->descriptor(), 0);
  ASSERT_NE(header, MAP_FAILED);
  static_cast<std::uint64_t*>(header)[5] = surface_->sequence() << 2 | 3;  // after magic … stride
  ::munmap(header, 4096);
  ASSERT_TRUE(surface_->copy().isNull()) << "the surface is still readable";
  server.dropDisplayFrames();
  const Frame broken = compose(0);
  expectAlike(broken.image, bare.image, "a panel whose content cannot be read");
  last_ = broken.change.sequence;

  // Readable again: the panel is shown whole, not only the part its new frame changed.
  lightTile(0);
  expectSameAsWhole("the panel published a readable frame");
}

// A program copying parts into its window's surface: the display's frame is left as it
// was (the window shown a frame late, never blank) and composed again on the next tick.
// One stopped or killed in the middle of a copy holds the display up for a tick or two
// only: then the window is left out and what the other windows do goes on showing.
TEST_F(DisplayFrame, AWindowBeingCopiedIntoIsShownAsItWasAndHoldsNothingUp) {
  panel(true);
  const Frame shown = compose(0);
  last_ = shown.change.sequence;
  lightTile(0);
  surface_->holdDrawingOver(true);
  const Frame held = compose(last_);
  EXPECT_TRUE(held.change.changing) << "asked for again on the next tick";
  expectAlike(held.image, shown.image, "the panel while its program copies");
  surface_->holdDrawingOver(false);
  EXPECT_GT(expectSameAsWhole("the copy finished").boundingRect().width(), 0) << "the lit tile composed";

  lightTile(1);
  surface_->holdDrawingOver(true);  // and never finishes
  ASSERT_TRUE(server.moveWindow(2101, {320, 140}));
  Frame later;
  for (int tick = 0; tick < 8 && (tick == 0 || later.change.changing); ++tick) later = compose(last_);
  EXPECT_FALSE(later.change.changing) << "the display held up by a stopped program";
  server.dropDisplayFrames();
  expectAlike(later.image, compose(0).image, "the moved window, without the stopped program's panel");
}

// The window server takes any frame in process: a window over the display whose frame
// reaches far beyond every display is placed out of the frame, and composing it is no fault.
TEST_F(DisplayFrame, AWindowFramedFarBeyondTheDeskIsLeftOut) {
  const Frame bare = compose(0);
  panel(true);
  for (const CGRect& frame : {CGRect(-1e300, -1e300, 1e301, 1e301), CGRect(-1e10, -1e10, 3e10, 3e10)}) {
    platform::OwnWindowState state;
    state.frame = frame;
    state.level = 101;
    state.hasShadow = false;
    state.collectionBehavior = 1;
    server.updateOwnWindow(panel_, state);
    server.dropDisplayFrames();
    expectAlike(compose(0).image, bare.image, "a panel out of reach");
  }
}

TEST_F(DisplayFrame, AFrameLooksAsIfEveryWindowWerePaintedWholeBackToFront) {
  // A crowded Space: windows overlapping, one exactly behind another of its size, a small
  // one inside a larger one near its edge (its shadow reaching out), a glass panel over
  // two of them and a window in front of that glass; and a window whose program has
  // published nothing inside a larger one, its shadow the only part of it that could
  // show: it shows none.
  sim::DisplayScene display = emptySpace();
  auto add = [&](std::uint32_t number, CGRect bounds, std::uint32_t color, bool key = false) {
    addTitled(display, number, bounds, color, key);
  };
  add(1, CGRect(80, 90, 620, 420), 0xD04040);
  add(2, CGRect(420, 300, 480, 360), 0x40A040);
  add(3, CGRect(420, 300, 480, 360), 0x4040D0);
  add(4, CGRect(1004, 206, 220, 160), 0xE0C040);
  add(8, CGRect(1100, 598, 200, 150), 0x40C0C0);
  display.to.windows.back().window.own = true;
  display.to.windows.back().surface = platform::SharedSurface::create(200, 150);
  add(5, CGRect(1000, 200, 440, 560), 0xC0C0C0, true);
  publishPlate();
  sim::Shown glass;
  glass.window.number = 6;
  glass.window.own = true;
  glass.window.bounds = CGRect(200, 282, 1100, 400);
  glass.surface = surface_;
  glass.opaque = false;
  display.to.windows.push_back(glass);
  add(7, CGRect(150, 560, 300, 300), 0x8040C0);

  for (const int scale : {1, 2}) {
    const int width = kWidth * scale, height = kHeight * scale;
    sim::DisplayComposer composer;
    QImage composed;
    composer.compose(1, width, height, display, 0, [&](const QImage& image, const auto&) { composed = image.copy(); });
    expectAlike(composed, sim::composePlainly(display, width, height), "at " + std::to_string(width) + " pixels");
  }
  // A screen resized through many sizes in turn: the corners' masks kept per size make room
  // for new ones, and every frame still looks right.
  sim::DisplayComposer resized;
  QImage last;
  int width = 0;
  for (width = 378; width < 378 + 20 * 9; width += 9) {
    resized.compose(1, width, width * 982 / 1512, display, 0,
                    [&](const QImage& image, const auto&) { last = image.copy(); });
  }
  width -= 9;
  expectAlike(last, sim::composePlainly(display, width, width * 982 / 1512), "after many sizes");
}

TEST_F(DisplayFrame, GlassHiddenWholeWhileWhatIsBehindItChangesIsBlurredAnewOnceItShows) {
  panel();
  last_ = compose(0).change.sequence;
  // An opaque panel of the program in front hides the glass whole.
  platform::OwnWindowState state;
  state.frame = CGRect(150, 982 - 750, 1200, 500);
  state.level = 101;
  state.hasShadow = false;
  state.collectionBehavior = 1;
  const std::uint32_t cover = server.createOwnWindow(state);
  server.orderOwnWindow(cover, platform::OwnWindowOrder::frontRegardless);
  auto solid = platform::SharedSurface::create(1200, 500);
  QImage fill(1200, 500, QImage::Format_ARGB32_Premultiplied);
  fill.fill(QColor(200, 120, 40));
  solid->publish(fill, QRegion(fill.rect()));
  server.setOwnWindowSurface(cover, solid);
  auto next = [&] { return last_ = compose(last_).change.sequence; };
  next();
  ASSERT_TRUE(server.moveWindow(2101, {500, 300}));  // behind the hidden glass
  next();
  const Frame idle = compose(last_);
  EXPECT_TRUE(idle.change.damage && idle.change.damage->empty()) << "hidden glass is not composed on every frame";
  // The cover republishes a small part of itself: the glass stays hidden, so only that part
  // is composed again.
  QPainter(&fill).fillRect(QRect(600, 250, 10, 10), Qt::white);
  solid->publish(fill, QRegion(600, 250, 10, 10));
  const Frame part = compose(last_);
  last_ = part.change.sequence;
  ASSERT_TRUE(part.change.damage);
  double area = 0;
  for (const CGRect& r : *part.change.damage) area += r.width() * r.height();
  EXPECT_GT(area, 0);
  EXPECT_LT(area, 200) << "the cover's small change recomposed the hidden glass";
  state.frame = CGRect(150, 982 - 200, 1200, 150);  // off the glass
  server.updateOwnWindow(cover, state);
  expectSameAsWhole("the panel hiding the glass moved off it");
}

TEST_F(DisplayFrame, EachWindowsChromeIsPaintedOnceAndItsBorderOnlyWhereItMayShow) {
  sim::DisplayScene display = emptySpace();
  addTitled(display, 1, CGRect(80, 90, 900, 600), 0xD04040);
  addTitled(display, 2, CGRect(80, 90, 900, 600), 0x40A040);  // the first shows only by its corners
  addTitled(display, 3, CGRect(400, 300, 200, 150), 0x4040D0);
  sim::DisplayComposer composer;
  std::uint64_t sequence = 0;
  auto frame = [&](std::uint64_t since) {
    const sim::FramePaints before = sim::framePaints();
    composer.compose(1, kWidth, kHeight, display, since, [&](const QImage&, const auto& c) { sequence = c.sequence; });
    const sim::FramePaints after = sim::framePaints();
    return std::pair(after.chrome - before.chrome, after.borders - before.borders);
  };
  EXPECT_EQ(frame(0).first, 3u) << "each window's chrome is painted once";
  // The small window moves within the large one, far from its edges: only its own border
  // is painted again.
  display.to.windows.back().window.bounds = CGRect(420, 320, 200, 150);
  EXPECT_EQ(frame(sequence), std::pair(std::uint64_t{2}, std::uint64_t{1}));
}

TEST_F(DisplayFrame, AFewChangedPixelsOfATitledWindowLayNoTextOut) {
  sim::DisplayScene display = emptySpace();
  addTitled(display, 1, CGRect(80, 90, 900, 600), 0xD0D0D0, true);
  display.to.windows.back().window.own = true;
  auto surface = platform::SharedSurface::create(450, 286);
  QImage content(450, 286, QImage::Format_ARGB32_Premultiplied);
  content.fill(Qt::transparent);
  ASSERT_TRUE(surface->publish(content, QRegion(content.rect())));
  display.to.windows.back().surface = surface;
  sim::DisplayComposer composer;
  std::uint64_t sequence = 0;
  QImage composed;
  auto frame = [&](std::uint64_t since) {
    const sim::FramePaints before = sim::framePaints();
    composer.compose(1, kWidth, kHeight, display, since, [&](const QImage& image, const auto& c) {
      sequence = c.sequence;
      composed = image.copy();
    });
    return sim::framePaints().labels - before.labels;
  };
  EXPECT_GT(frame(0), 0u) << "the whole frame writes the title";
  // A few pixels in the middle of the content change, as a demonstration's frame does.
  QPainter(&content).fillRect(QRect(200, 120, 20, 10), QColor(40, 90, 200));
  ASSERT_TRUE(surface->publish(content, QRegion(200, 120, 20, 10)));
  EXPECT_EQ(frame(sequence), 0u) << "the title lies out of the change: no text is laid out";
  expectAlike(composed, sim::composePlainly(display, kWidth, kHeight), "after the content changed");
}

TEST_F(DisplayFrame, TheDisplaysOfOneAskAreComposedWithOneReadOfTheLook) {
  const auto frame = [&](std::uint32_t id, std::uint64_t request) {
    EXPECT_TRUE(server.composeDisplayFrame(id, 300, 200, 0, [](const QImage&, const auto&) {}, request));
  };
  const std::uint64_t ask = server.newFrameRequest(), before = sim::looksRead();
  frame(1, ask);
  frame(3, ask);
  EXPECT_EQ(sim::looksRead() - before, 1u) << "both displays of the ask";
  frame(1, server.newFrameRequest());
  EXPECT_EQ(sim::looksRead() - before, 2u) << "the next ask reads it anew";
}

TEST_F(DisplayFrame, MemoryOfASizeNoScreenShowsAnyMoreGoesInTime) {
  // A screen shown at one size, then at half of it: the first size's frame goes unused,
  // and then the memory it leaves, which no frame of the second size takes.
  sim::DisplayComposer composer;
  const sim::DisplayScene display = emptySpace();
  auto frame = [&](int width) { composer.compose(1, width, width * 982 / 1512, display, 0, [](auto&, auto&) {}); };
  frame(kWidth);
  auto halfTheTimeOut = [&] {
    frame(kWidth / 2);
    scene.clock.advance(sim::DisplayComposer::kUnusedSeconds / 2 + 1);
    composer.dropUnused();
  };
  halfTheTimeOut();
  halfTheTimeOut();
  EXPECT_GT(composer.spareBytes(), 0u) << "the memory of a frame let go is kept for a while";
  halfTheTimeOut();
  halfTheTimeOut();
  EXPECT_EQ(composer.spareBytes(), 0u) << "memory no frame took for so long is let go";
}

TEST_F(DisplayFrame, AFrameLargerThanTheBudgetLeavesNoMemoryBehind) {
  // Captures at a size no display shows are composed whole and let go at once; memory
  // kept for the next such frame would lie outside every budget for minutes.
  const sim::DisplayScene display = emptySpace();
  const std::size_t small = static_cast<std::size_t>(kWidth) * (kWidth * 982 / 1512) * 4;
  sim::DisplayComposer composer(small);
  composer.compose(1, 2 * kWidth, 2 * kWidth * 982 / 1512, display, 0, [](auto&, auto&) {});
  EXPECT_EQ(composer.spareBytes(), 0u);
}

TEST_F(DisplayFrame, AFrameNobodyAsksForGoesInTime) {
  // Two sizes shown, one of them asked for again just before the time is up.
  const std::uint64_t asked = compose(0).change.sequence;
  std::uint64_t small = 0;
  ASSERT_TRUE(server.composeDisplayFrame(1, kWidth / 2, kHeight / 2, 0,
                                         [&](const auto&, const auto& change) { small = change.sequence; }));
  scene.clock.advance(sim::DisplayComposer::kUnusedSeconds - 1);
  const Frame again = compose(asked);
  EXPECT_TRUE(again.change.damage) << "a frame asked for in time is kept";
  // Nobody composes meanwhile: the frames go on their own.
  scene.clock.advance(2);
  std::optional<std::vector<CGRect>> smallChange;
  ASSERT_TRUE(server.composeDisplayFrame(1, kWidth / 2, kHeight / 2, small,
                                         [&](const auto&, const auto& change) { smallChange = change.damage; }));
  EXPECT_FALSE(smallChange) << "the frame nobody asked for is still kept";
  EXPECT_TRUE(compose(again.change.sequence).change.damage) << "the frame asked for lately went too";
  scene.clock.advance(sim::DisplayComposer::kUnusedSeconds + 1);
  EXPECT_FALSE(compose(again.change.sequence).change.damage) << "past its time, it goes";
}

TEST_F(DisplayFrame, ADisplayIsComposedAgainOnlyWhenSomethingItShowsChanged) {
  panel();  // on the built-in display; display 3 shows none of it
  std::map<std::uint32_t, std::shared_ptr<const sim::WindowServer::FrameInputs>> held;
  const auto composed = [&](std::uint32_t id) {
    bool called = false;
    EXPECT_TRUE(server.composeDisplayFrame(
        id, 300, 200, 0,
        [&](const QImage&, const auto& change) {
          called = true;
          held[id] = change.inputs;
        },
        0, nullptr, held[id].get()));
    return called;
  };
  ASSERT_TRUE(composed(1));
  ASSERT_TRUE(composed(3));
  ASSERT_FALSE(composed(3)) << "nothing changed";
  lightTile(0);
  EXPECT_FALSE(composed(3)) << "a frame published on the other display";
  EXPECT_TRUE(composed(1)) << "a frame published in a window it shows";
  EXPECT_FALSE(composed(1));
  const bool dark = platform::isDarkInterfaceStyle(
      scene.world.preferenceValue(sim::World::kGlobalDomain, sim::World::kAppearanceKey));
  scene.world.setPreferenceValue(sim::World::kGlobalDomain, sim::World::kAppearanceKey,
                                 dark ? std::nullopt : std::optional(platform::PlistValue(std::string("Dark"))));
  EXPECT_TRUE(composed(3)) << "the appearance changed";
  EXPECT_TRUE(server.moveWindow(panel_, {300, 300}));
  EXPECT_TRUE(composed(3)) << "a window moved";
}
