// The picture of a whole-Space tile: the desktop, the windows where they stand, the
// minimized row, the pick marks and the frames the pointer picks by.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "Snapshots.h"
#include "support/Scene.h"
#include "switcher/layout/ScreenTileLayout.h"

namespace trelliq::scene {
namespace {

using namespace test;

// A 1000 × 500 display in a 200 × 108 tile: scale 0.2, the miniature fills (0, 0, 200, 100).
const CGRect kScreen(0, 0, 1000, 500);
const CGSize kTile{200, 108};

WindowInfo framed(std::optional<std::uint32_t> number, CGRect bounds, bool minimized = false, std::int32_t pid = 100) {
  WindowInfo w = window(number, pid, minimized);
  w.bounds = bounds;
  return w;
}

Cluster tile(std::vector<WindowInfo> windows, std::vector<AppInfo> apps = {app(100)}) {
  Cluster c = screenTile(0, 1, std::move(apps), std::move(windows));
  for (const WindowInfo& w : c.windows) {
    if (!w.minimized) c.stacking.push_back(w.id);
  }
  return c;
}

const Node* find(const Node& n, const std::string& key) {
  for (const Node& c : n.children) {
    if (c.key == key) return &c;
  }
  return nullptr;
}

const Node& at(const Node& n, const std::string& key) {
  if (const Node* c = find(n, key)) return *c;
  ADD_FAILURE() << "no " << key << " under " << n.key;
  static const Node none;
  return none;
}

// The opacity a window picture is drawn with.
double shown(const Node& window) { return at(at(window, "body"), "preview").opacity; }

Node draw(const Cluster& c, std::optional<int> picked = std::nullopt, bool selected = true,
          const std::map<std::uint32_t, CGImageRef>& thumbnails = {}) {
  return screenTilePicture(c, kScreen, nullptr, thumbnails, kTile, picked, selected);
}

TEST(ScreenTile, AWindowsPictureIsItsPartOnTheDisplayScaledAndRoundedOutward) {
  const CGRect mini(0, 0, 200, 100), above(-1000, -500, 1000, 500);
  const std::tuple<const char*, std::optional<CGRect>, bool, CGRect, std::optional<CGRect>> cases[] = {
      {"inside", CGRect(100.5, 50, 301, 200), false, kScreen, CGRect(20, 10, 61, 40)},
      {"straddling", CGRect(900, 100, 300, 100), false, kScreen, CGRect(180, 20, 20, 20)},
      {"no frame", std::nullopt, false, kScreen, std::nullopt},
      {"on another display", CGRect(1000, 0, 300, 100), false, kScreen, std::nullopt},
      {"minimized", CGRect(0, 0, 300, 100), true, kScreen, std::nullopt},
      {"just four wide", CGRect(0, 0, 19, 100), false, kScreen, CGRect(0, 0, 4, 20)},
      {"under four wide", CGRect(0, 0, 14, 100), false, kScreen, std::nullopt},
      {"display above the first", CGRect(-500, -250, 100, 100), false, above, CGRect(100, 50, 20, 20)},
  };
  for (const auto& [what, bounds, minimized, screen, rect] : cases) {
    WindowInfo w = window(1, 100, minimized);
    w.bounds = bounds;
    EXPECT_EQ(windowRect(w, screen, mini, 0.2), rect) << what;
  }
}

TEST(ScreenTile, ALoneWindowKeepsItsRectangleAndSeveralAreShrunk) {
  const Node one = draw(tile({framed(42, CGRect(100.5, 50, 301, 200))}));
  EXPECT_EQ(at(one, "desktop").frame, CGRect(20, 10, 160, 80));
  EXPECT_EQ(at(one, "desktop").reports.at(0).first, TileID::window("0:1:screen", -1, 0));
  const Node& picture = at(one, "window 42");
  EXPECT_EQ(picture.frame, CGRect(20, 10, 61, 40));
  EXPECT_EQ(picture.reports.at(0), std::make_pair(TileID::window("0:1:screen", 0, 1), CGRect(0, 0, 61, 40)));
  // Badge: 0.45 × 40 = 18, capped at 16, centred on the bottom edge.
  EXPECT_EQ(at(at(picture, "body"), "badge").frame, CGRect(22.5, 32, 16, 16));

  // Two apart: each 85 % about its centre, rounded outward; the front one ranks higher.
  const Node two = draw(tile({framed(1, CGRect(0, 0, 200, 100)), framed(2, CGRect(500, 250, 200, 100))}));
  EXPECT_EQ(at(two, "window 1").frame, CGRect(3, 1, 34, 18));
  EXPECT_EQ(at(two, "window 2").frame, CGRect(103, 51, 34, 18));
  EXPECT_EQ(at(two, "window 2").reports[0].first.z(), 2);

  // The smallest badge is 9; without a number the key is the index.
  const Node tiny = draw(tile({framed(std::nullopt, CGRect(0, 0, 50, 50))}));
  EXPECT_EQ(at(at(at(tiny, "window -1"), "body"), "badge").frame.width(), 9);
}

TEST(ScreenTile, ThePickDecidesOpacitiesTheRingAndTheScale) {
  const Cluster c = tile({framed(1, CGRect(0, 0, 400, 300)), framed(2, CGRect(600, 200, 400, 300))});
  // picked, selected, then the desktop's and the two windows' opacities and the first one's ring.
  const std::tuple<std::optional<int>, bool, double, double, double, std::optional<double>> cases[] = {
      {std::nullopt, true, 0.7, 0.7, 0.7, std::nullopt},
      {-1, true, 1, 0.7, 0.7, std::nullopt},
      {0, true, 0.7, 1, 0.7, 1.0},
      {0, false, 0.7, 1, 0.7, 0.7},
      {5, true, 0.7, 0.7, 0.7, std::nullopt}};
  for (const auto& [picked, selected, desktop, first, second, ringOpacity] : cases) {
    const Node n = draw(c, picked, selected);
    const Node& body = at(at(n, "window 1"), "body");
    EXPECT_EQ(at(n, "desktop").opacity, desktop) << picked.value_or(99);
    EXPECT_EQ(shown(at(n, "window 1")), first) << picked.value_or(99);
    EXPECT_EQ(shown(at(n, "window 2")), second) << picked.value_or(99);
    EXPECT_EQ(body.scale, first == 1 ? 1.08 : 1);
    const Node* ring = find(body.children.front(), "ring");
    EXPECT_EQ(ring ? std::optional(std::get<Shape>(ring->content).stroke->paint.opacity) : std::nullopt, ringOpacity);
  }
  // The picked window is drawn on top and outranks every picture; it reports its unscaled frame.
  const Node n = draw(c, 0);
  const Node& top = n.children.back();
  EXPECT_EQ(top.key, "window 1");
  EXPECT_EQ(top.frame, CGRect(6, 4, 68, 52));
  EXPECT_EQ(top.reports[0], std::make_pair(TileID::window("0:1:screen", 0, 3), CGRect(0, 0, 68, 52)));
  EXPECT_EQ(at(top, "body").transitions.scale, (Animation{0.15, Animation::Curve::easeOut}));
}

TEST(ScreenTile, MinimizedWindowsLineUpAlongTheBottom) {
  const Cluster c =
      tile({framed(1, CGRect(0, 0, 400, 200), true), framed(2, CGRect(0, 0, 100, 200), true), window(3, 100, true),
            framed(4, CGRect(0, 0, 300, 100), true), framed(5, CGRect(0, 0, 190, 100), true)});
  const Node n = draw(c, 3);
  // Picture area 108 − 24 = 84: scale 0.168, miniature (16, 0, 168, 84).
  EXPECT_EQ(at(n, "desktop").frame, CGRect(32, 8, 136, 68));
  const Node& row = at(n, "minimized");
  const double widths[] = {28, 14, 21, 28, 27};
  EXPECT_EQ(row.frame, CGRect((200 - 118 - 12) / 2.0, 94, 118 + 12, 14));
  ASSERT_EQ(row.children.size(), 5u);
  double x = 0;
  for (std::size_t i = 0; i < 5; ++i) {
    const Node& small = row.children[i];
    EXPECT_EQ(small.frame, CGRect(x, 0, widths[i], 14)) << i;
    EXPECT_EQ(small.reports[0].first, TileID::window("0:1:screen", static_cast<int>(i), 1 + static_cast<int>(i)));
    EXPECT_EQ(at(small, "preview").opacity, i == 3 ? 1 : 0.7) << i;
    EXPECT_EQ(at(small, "ring").opacity, i == 3 ? 1 : 0) << i;
    EXPECT_EQ(at(small, "badge").frame.width(), 9.8);
    x += widths[i] + 3;
  }
  EXPECT_EQ(find(n, "window 1"), nullptr);
}

TEST(ScreenTile, StackingLivePicturesAndTheGround) {
  Cluster c = tile(
      {framed(1, CGRect(0, 0, 200, 100)), framed(2, CGRect(500, 0, 200, 100)), framed(3, CGRect(0, 300, 200, 100))});
  // Front-most last; an id matching no window is skipped.
  c.stacking = {c.windows[2].id, 987654321, c.windows[0].id, c.windows[1].id};
  const auto live = std::make_shared<const CGImage>(QImage(8, 8, QImage::Format_ARGB32));
  const Node n = draw(c, std::nullopt, true, {{2, live}});
  ASSERT_EQ(n.children.size(), 4u);
  EXPECT_EQ(n.children[1].key + n.children[2].key + n.children[3].key, "window 3window 1window 2");
  EXPECT_EQ(at(n, "window 3").reports[0].first.z(), 1);
  EXPECT_EQ(at(n, "window 2").reports[0].first.z(), 3);

  const Node& withPicture = at(at(at(n, "window 2"), "body"), "preview");
  EXPECT_EQ(std::get<Picture>(at(withPicture, "image").content).image, live);
  EXPECT_TRUE(at(withPicture, "image").transitions.fades);
  const Node& without = at(at(at(n, "window 1"), "body"), "preview");
  EXPECT_EQ(std::get<Shape>(at(without, "placeholder").content).fill, (Paint{Paint::Tone::black, 0.5}));

  c.fullScreen = true;
  EXPECT_EQ(find(draw(c), "desktop"), nullptr);
  // A display without size gives no window picture at all.
  EXPECT_EQ(screenTilePicture(c, CGRect(0, 0, 0, 500), nullptr, {}, kTile, std::nullopt, true).children.size(), 0u);
}

TEST(ScreenTile, AHiddenAppsPicturesAreDimmedButNotTheirBadges) {
  Scene scene;
  scene.windowServer.addApp(sim::App{.pid = 300, .hidden = true});
  const Cluster c = tile(
      {framed(1, CGRect(0, 0, 400, 300), false, 300), framed(2, CGRect(600, 0, 400, 300), false, 300)}, {app(300)});
  const Node n = draw(c, 1);
  EXPECT_NEAR(shown(at(n, "window 1")), 0.42, 1e-12);
  EXPECT_NEAR(shown(at(n, "window 2")), 0.6, 1e-12);
  EXPECT_EQ(at(at(at(n, "window 1"), "body"), "badge").opacity, 1);
}

TEST(ScreenTile, TheMemoMakesATileAgainWhenAnythingItShowsChangedAndLetsUnaskedTilesGo) {
  Scene scene;
  scene.windowServer.addApp(sim::App{.pid = 300});
  Cluster c =
      tile({framed(1, CGRect(0, 0, 400, 300), false, 300), framed(2, CGRect(600, 0, 400, 300), false, 300)}, {app(300)});
  auto live = std::make_shared<const CGImage>(QImage(8, 8, QImage::Format_ARGB32));
  std::map<std::uint32_t, CGImageRef> pictures{{1, live}};
  std::optional<int> picked = 0;
  ScreenTileMemo memo;
  const auto layout = [&] {
    Node n = memo.picture(c, kScreen, nullptr, pictures, kTile, picked, true);
    memo.endLayout();
    return n;
  };
  Node last = layout();
  EXPECT_TRUE(layout().children.sharedWith(last.children)) << "nothing changed";
  // The next session's snapshot numbers the same windows afresh.
  for (WindowInfo& w : c.windows) w.id += 100;
  for (auto& id : c.stacking) id += 100;
  EXPECT_TRUE(layout().children.sharedWith(last.children)) << "the windows numbered afresh";
  const auto image = [](const Node& n) {
    return std::get<Picture>(at(at(at(at(n, "window 1"), "body"), "preview"), "image").content).image;
  };
  const std::pair<const char*, std::function<bool(const Node&)>> changes[] = {
      {"the pick", [&](const Node&) {
         picked = 1;
         return shown(at(layout(), "window 2")) == 1;
       }},
      {"a picture", [&](const Node&) {
         pictures[1] = std::make_shared<const CGImage>(QImage(8, 8, QImage::Format_ARGB32));
         return image(layout()) == pictures[1];
       }},
      {"a window's place", [&](const Node& n) {
         c.windows[1].bounds = CGRect(600, 200, 400, 300);
         return !(at(layout(), "window 2").frame == at(n, "window 2").frame);
       }},
      {"the stacking", [&](const Node& n) {
         std::reverse(c.stacking.begin(), c.stacking.end());
         return !layout().children.sharedWith(n.children);
       }},
      {"its app hidden", [&](const Node&) {
         scene.windowServer.setHidden(300, true);
         return std::abs(shown(at(layout(), "window 1")) - 0.42) < 1e-9;
       }},
  };
  for (const auto& [what, changedAndShown] : changes) {
    EXPECT_TRUE(changedAndShown(last)) << what;
    last = layout();
  }
  // A layout that did not ask for the tile lets it go, and the pictures it drew with it.
  const std::weak_ptr<const CGImage> drawn = pictures[1];
  pictures.clear();
  live.reset();
  last = Node{};
  memo.endLayout();
  EXPECT_TRUE(drawn.expired());
}

}  // namespace
}  // namespace trelliq::scene
