// Window pictures: scaled down before they cross to the main thread, delivered there
// once per window, through the hardware capture or, for what it misses, the capture
// framework.

#include <gtest/gtest.h>

#include <QImage>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/PrivateSymbols.h"
#include "platform/sim/WindowServer.h"
#include "support/Scene.h"
#include "switcher/Thumbnails.h"

namespace trelliq {
namespace {

constexpr std::int32_t kQuill = 301;

CGImageRef picture(int width, int height, QColor colour) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(colour);
  return std::make_shared<const CGImage>(image);
}

// The hardware capture as the window server offers it, except for the windows listed here.
std::set<std::uint32_t> gMissedByHardware;
SLSHWCaptureWindowList_t* gHardware = nullptr;
std::optional<std::vector<CGImageRef>> partialHardware(CGSConnectionID cid, const std::uint32_t* windows,
                                                       std::int32_t count, std::uint32_t options) {
  if (count == 1 && gMissedByHardware.count(*windows)) return std::nullopt;
  return gHardware(cid, windows, count, options);
}

struct Delivery {
  std::uint32_t window;
  int width;
  int height;
  bool onMain;
};

class ThumbnailsTest : public ::testing::Test {
 protected:
  ThumbnailsTest() { scene.world.setScreenCaptureAllowed(true); }

  std::uint32_t addWindow(CGRect bounds, std::uint32_t colour = 0x3366CC) {
    sim::Window w;
    w.pid = kQuill;
    w.title = "Wide";
    w.bounds = bounds;
    w.spaces = {1};
    w.color = colour;
    return scene.windowServer.addWindow(w);
  }
  /// Lets the hardware capture miss these windows (the others are still taken by it).
  void missInHardware(std::set<std::uint32_t> windows) {
    gMissedByHardware = std::move(windows);
    gHardware =
        reinterpret_cast<SLSHWCaptureWindowList_t*>(scene.world.symbol(kSkyLightPath, "SLSHWCaptureWindowList"));
    scene.world.addFunction<SLSHWCaptureWindowList_t>(kSkyLightPath, "SLSHWCaptureWindowList", &partialHardware);
  }
  // Every window of `ids`, or only those of `plan` at its sizes.
  std::vector<Delivery> capture(const std::vector<std::uint32_t>& ids,
                                std::optional<Thumbnails::Sizes> plan = std::nullopt) {
    std::vector<Delivery> got;
    Thumbnails::Each each = [&](std::uint32_t window, CGImageRef image) {
      got.push_back({window, image ? image->width() : -1, image ? image->height() : -1, platform::mainQueue().isCurrent()});
    };
    if (plan) {
      Thumbnails::capture(ids, each, *plan);
    } else {
      Thumbnails::capture(ids, each, Thumbnails::noLimit);
    }
    scene.clock.advance(1);
    return got;
  }
  std::size_t hardwareCalls() { return scene.windowServer.privateCalls("SLSHWCaptureWindowList").size(); }

  Scene scene{Scene::Start::defaultScenario};
};

TEST_F(ThumbnailsTest, DownscaleKeepsSmallPicturesAndShrinksLargeOnesToTheLongerSide) {
  const CGImageRef small = picture(600, 400, Qt::red);
  EXPECT_EQ(Thumbnails::downscale(small), small) << "a small picture is handed back itself";
  const CGImageRef edge = picture(720, 100, Qt::red);
  EXPECT_EQ(Thumbnails::downscale(edge), edge);

  const CGImageRef wide = Thumbnails::downscale(picture(1440, 900, Qt::red));
  ASSERT_TRUE(wide);
  EXPECT_EQ(wide->width(), 720);
  EXPECT_EQ(wide->height(), 450);

  const CGImageRef tall = Thumbnails::downscale(picture(1000, 2001, QColor(0x20, 0x80, 0x40)));
  ASSERT_TRUE(tall);
  EXPECT_EQ(tall->height(), 720);
  EXPECT_EQ(tall->width(), 359) << "sides are truncated, not rounded";
  EXPECT_EQ(tall->pixel(180, 360) & 0xFFFFFF, 0x208040u) << "the picture is drawn, not just sized";

  EXPECT_FALSE(Thumbnails::downscale(nullptr));
  EXPECT_FALSE(Thumbnails::downscale(picture(100000, 50, Qt::red))) << "a side of 0 pixels cannot be drawn";
}

TEST_F(ThumbnailsTest, NothingHappensWithoutIdsOrWithoutPermission) {
  EXPECT_TRUE(capture({}).empty());
  EXPECT_EQ(hardwareCalls(), 0u);

  scene.world.setScreenCaptureAllowed(false);
  EXPECT_TRUE(capture({2101}).empty());
  EXPECT_EQ(hardwareCalls(), 0u);
}

TEST_F(ThumbnailsTest, EachWindowIsDeliveredOnceOnTheMainQueueAndScaledDown) {
  const std::uint32_t large = addWindow(CGRect(0, 40, 1440, 900));
  const std::uint32_t small = addWindow(CGRect(0, 40, 600, 400));
  const auto got = capture({large, small, large});

  std::map<std::uint32_t, int> count;
  for (const Delivery& d : got) {
    ++count[d.window];
    EXPECT_TRUE(d.onMain);
    if (d.window == large) {
      EXPECT_EQ(std::make_pair(d.width, d.height), std::make_pair(720, 450));
    }
    if (d.window == small) {
      EXPECT_EQ(std::make_pair(d.width, d.height), std::make_pair(600, 400));
    }
  }
  EXPECT_EQ(count, (std::map<std::uint32_t, int>{{large, 1}, {small, 1}}));
}

// A busy main thread never has a whole desk's pictures waiting for it.
TEST_F(ThumbnailsTest, ACaptureWaitsForTheMainThreadOnceItHandedItAFewFramesOfPictures) {
  std::vector<std::uint32_t> ids;
  for (int i = 0; i < 12; ++i) ids.push_back(addWindow(CGRect(0, 40, 1440, 900)));
  std::vector<std::uint32_t> got;
  Thumbnails::capture(ids, [&](std::uint32_t window, CGImageRef) { got.push_back(window); }, Thumbnails::noLimit);
  while (scene.clock.step("thumbnails")) {
  }
  const std::size_t taken = hardwareCalls();
  EXPECT_LT(taken, ids.size()) << "the rest waits until the main thread took these";
  EXPECT_GE(taken * 720 * 450 * 4, Thumbnails::deliveredAhead);
  scene.clock.runUntilIdle();
  EXPECT_EQ(got, ids) << "then every window, once, in order";
}

TEST_F(ThumbnailsTest, APlanTakesOnlyItsWindowsAtItsSizesAndAnEmptyOneNothing) {
  const std::uint32_t large = addWindow(CGRect(0, 40, 1440, 900));
  const std::uint32_t small = addWindow(CGRect(0, 40, 600, 400));
  const std::uint32_t left = addWindow(CGRect(0, 40, 300, 200));
  EXPECT_TRUE(capture({large, small, left}, Thumbnails::Sizes{}).empty());
  EXPECT_EQ(hardwareCalls(), 0u);

  const auto got = capture({large, small, left}, Thumbnails::Sizes{{large, {300, 150}}, {small, Thumbnails::largest}});
  std::map<std::uint32_t, std::pair<int, int>> sizes;
  for (const Delivery& d : got) sizes[d.window] = {d.width, d.height};
  EXPECT_EQ(sizes, (std::map<std::uint32_t, std::pair<int, int>>{{large, {300, 188}}, {small, {600, 400}}}));
}

TEST_F(ThumbnailsTest, AWindowThatDidNotChangeIsDeliveredThePictureHeldOfIt) {
  const std::uint32_t same = addWindow(CGRect(0, 40, 300, 200));
  const std::uint32_t changed = addWindow(CGRect(0, 40, 300, 200));
  const std::uint32_t fallback = addWindow(CGRect(0, 40, 300, 200));
  const Thumbnails::Sizes plan{{same, Thumbnails::largest}, {changed, {150, 100}}, {fallback, Thumbnails::largest}};
  const auto take = [&](const Thumbnails::Held& held) {
    Thumbnails::Held got;
    Thumbnails::capture({same, changed, fallback}, [&](std::uint32_t window, CGImageRef p) { got[window] = p; }, plan,
                        held);
    scene.clock.advance(1);
    return got;
  };
  const Thumbnails::Held held = take({});
  ASSERT_EQ(held.size(), 3u);
  scene.windowServer.updateWindow(changed, [](sim::Window& w) { w.color = 0x993322; });
  missInHardware({fallback});
  Thumbnails::Held again = take(held);
  EXPECT_EQ(again[same], held.at(same));
  EXPECT_EQ(again[fallback], held.at(fallback)) << "the fallback keeps it too";
  ASSERT_TRUE(again[changed]);
  EXPECT_NE(again[changed]->pixel(75, 60), held.at(changed)->pixel(75, 60));
}

TEST_F(ThumbnailsTest, WindowsAreTakenInTheOrderGiven) {
  const std::uint32_t first = addWindow(CGRect(0, 40, 300, 200));
  const std::uint32_t second = addWindow(CGRect(0, 40, 300, 200));
  const std::uint32_t third = addWindow(CGRect(0, 40, 300, 200));
  scene.windowServer.clearPrivateCalls();
  const auto got = capture({third, first, second, first});
  std::vector<std::uint32_t> asked, delivered;
  for (const sim::PrivateCall& call : scene.windowServer.privateCalls("SLSHWCaptureWindowList")) {
    const platform::PlistArray* windows = call.arguments.size() > 1 ? call.arguments[1].asArray() : nullptr;
    if (windows && !windows->empty()) asked.push_back(static_cast<std::uint32_t>(windows->front().asInteger().value_or(0)));
  }
  for (const Delivery& d : got) delivered.push_back(d.window);
  EXPECT_EQ(asked, (std::vector<std::uint32_t>{third, first, second}));
  EXPECT_EQ(delivered, asked);
}

TEST_F(ThumbnailsTest, WhatTheHardwareMissesComesFromTheFallbackAtMostMaxPoints) {
  const std::uint32_t direct = addWindow(CGRect(0, 40, 800, 500));
  const std::uint32_t fallback = addWindow(CGRect(0, 40, 2000, 1000));
  missInHardware({fallback});
  const auto got = capture({direct, fallback});

  std::map<std::uint32_t, int> count;
  for (const Delivery& d : got) {
    ++count[d.window];
    EXPECT_TRUE(d.onMain);
    if (d.window == fallback) {
      EXPECT_EQ(std::make_pair(d.width, d.height), std::make_pair(720, 360));
    }
    if (d.window == direct) {
      EXPECT_EQ(std::make_pair(d.width, d.height), std::make_pair(720, 450));
    }
  }
  EXPECT_EQ(count, (std::map<std::uint32_t, int>{{direct, 1}, {fallback, 1}}));
}

TEST_F(ThumbnailsTest, AWindowMissedByBothIsNeverDelivered) {
  const std::uint32_t kept = addWindow(CGRect(0, 40, 300, 200));
  const std::uint32_t closing = addWindow(CGRect(0, 40, 300, 200));
  // Closed before the capture ran: neither capture finds it.
  std::vector<std::uint32_t> got;
  Thumbnails::capture({kept, closing}, [&](std::uint32_t window, CGImageRef) { got.push_back(window); }, Thumbnails::noLimit);
  scene.windowServer.removeWindow(closing);
  scene.clock.advance(1);
  EXPECT_EQ(got, std::vector<std::uint32_t>{kept});
}

TEST_F(ThumbnailsTest, WithoutTheHardwareCaptureEverythingGoesThroughTheFallback) {
  scene.world.removeSymbol(kSkyLightPath, "SLSHWCaptureWindowList");
  const std::uint32_t one = addWindow(CGRect(0, 40, 400, 300));
  const std::uint32_t empty = addWindow(CGRect(0, 40, 0, 300));
  const auto got = capture({one, empty});
  ASSERT_EQ(got.size(), 1u) << "a window with an empty frame gets nothing";
  EXPECT_EQ(got.front().window, one);
  EXPECT_EQ(std::make_pair(got.front().width, got.front().height), std::make_pair(400, 300));
}

TEST_F(ThumbnailsTest, TheFallbackTakesEachWindowAtTheSizeAskedThenAndSharesOneAsker) {
  // Counts the copies of its state (in use, a map of every planned window's size).
  struct Asker {
    std::shared_ptr<int> copies;
    explicit Asker(std::shared_ptr<int> c) : copies(std::move(c)) {}
    Asker(const Asker& other) : copies(other.copies) { ++*copies; }
    Asker(Asker&&) = default;
    CGSize operator()(std::uint32_t, CGSize) const { return {40, 30}; }
  };
  std::vector<std::uint32_t> windows;
  for (int i = 0; i < 5; ++i) windows.push_back(addWindow(CGRect(0, 40, 400, 300)));
  missInHardware({windows.begin(), windows.end()});
  const auto copiesTaking = [&](const std::vector<std::uint32_t>& ids) {
    auto copies = std::make_shared<int>(0);
    Thumbnails::Sizes plan;
    for (const std::uint32_t id : ids) plan[id] = Thumbnails::largest;
    std::vector<std::pair<int, int>> got;
    Thumbnails::capture(
        ids, [&](std::uint32_t, CGImageRef p, CGSize) { got.emplace_back(p->width(), p->height()); }, plan, {},
        Asker(copies));
    scene.clock.advance(1);
    EXPECT_EQ(got, (std::vector<std::pair<int, int>>(ids.size(), {40, 30})));
    return *copies;
  };
  EXPECT_EQ(copiesTaking({windows[0]}), copiesTaking({windows.begin() + 1, windows.end()}));
}

}  // namespace
}  // namespace trelliq
