// Composed pictures of a Space that is not on screen: where a window's picture would be
// composed, which windows are drawn and in what order, where and how strongly each is
// drawn, and the dimming.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppKit.h"
#include "platform/CGWindow.h"
#include "platform/sim/World.h"
#include "support/Scene.h"
#include "switcher/DestinationScreen.h"
#include "workspace/WindowServerScenes.h"

namespace trelliq {
namespace {

std::uint32_t channel(std::uint32_t argb, int shift) { return (argb >> shift) & 0xFF; }

/// Expects a pixel's colour within 2 of `rgb` in each channel, opaque.
void expectPixel(const CGImageRef& image, int x, int y, std::uint32_t rgb) {
  const std::uint32_t pixel = image->pixel(x, y);
  SCOPED_TRACE("pixel " + std::to_string(x) + "," + std::to_string(y));
  EXPECT_EQ(channel(pixel, 24), 0xFFu);
  for (int shift : {16, 8, 0}) {
    EXPECT_LE(std::abs(static_cast<int>(channel(pixel, shift)) - static_cast<int>(channel(rgb, shift))), 2)
        << std::hex << pixel << " vs " << rgb;
  }
}

/// `top` at `alpha` over an opaque `bottom`.
std::uint32_t over(std::uint32_t top, std::uint32_t bottom, double alpha) {
  std::uint32_t result = 0;
  for (int shift : {16, 8, 0}) {
    const double value = channel(top, shift) * alpha + channel(bottom, shift) * (1 - alpha);
    result |= static_cast<std::uint32_t>(value + 0.5) << shift;
  }
  return result;
}

std::uint32_t scaled(std::uint32_t rgb, double factor) {
  auto part = [&](int shift) {
    return static_cast<std::uint32_t>(static_cast<double>(channel(rgb, shift)) * factor + 0.5) << shift;
  };
  return part(16) | part(8) | part(0);
}

// A primary display 1920 × 1080 and a 1440 × 900 one to its right, bottom edges level, so
// the side display's top lies 180 points below the primary's in window-server terms.
// Spaces 11 (showing) and 12 on the primary, 21 (showing) and 22 on the side display.
class DestinationScreenTest : public ::testing::Test {
 protected:
  DestinationScreenTest() {
    scene.world.setScreenCaptureAllowed(true);
    scene.world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1920, 1080), "Primary"),
                             sim::makeDisplay(2, CGRect(1920, 0, 1440, 900), "Side")});
    scene.windowServer.setSpaces(1, {scenes::space(11), scenes::space(12)}, 11);
    scene.windowServer.setSpaces(2, {scenes::space(21), scenes::space(22)}, 21);
    sim::App app;
    app.name = "Paint";
    app.bundleIdentifier = "org.example.paint";
    paint = scene.windowServer.addApp(app);
    DestinationScreen::drawn().clear();
  }

  std::uint32_t addWindow(std::vector<std::uint64_t> spaces, CGRect bounds, std::uint32_t color,
                          const std::string& title = "Canvas") {
    sim::Window w;
    w.pid = paint;
    w.title = title;
    w.bounds = bounds;
    w.spaces = std::move(spaces);
    w.color = color;
    return scene.windowServer.addWindow(w);
  }

  CGImageRef renderSide(std::uint64_t space, bool desktopPicture = false) {
    return DestinationScreen::render(static_cast<std::int64_t>(space), CGRect(1920, 0, 1440, 900), 1080, false,
                                     desktopPicture);
  }

  Scene scene;
  std::int32_t paint = 0;
};

TEST_F(DestinationScreenTest, AWindowIsDrawnWhereItLiesOnItsDisplayAndDimmed) {
  addWindow({22}, CGRect(2000, 200, 400, 300), 0xFF0000);
  const CGImageRef image = renderSide(22);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 1440);
  EXPECT_EQ(image->height(), 900);
  EXPECT_EQ(DestinationScreen::drawn(), std::vector<std::string>{"Paint@0"});

  // Bottom-left x 80, y 580, 400 × 300: rows 20 to 320 from the top. Inside its body
  // (below the title bar) the red is drawn at 0.85 and dimmed by 0.45.
  const std::uint32_t body = scaled(0xFF0000, 0.85 * 0.55);
  expectPixel(image, 100, 300, body);
  expectPixel(image, 470, 300, body);
  // Just outside each edge: black.
  expectPixel(image, 78, 300, 0x000000);
  expectPixel(image, 482, 300, 0x000000);
  expectPixel(image, 100, 18, 0x000000);
  expectPixel(image, 100, 322, 0x000000);
}

TEST_F(DestinationScreenTest, DesktopPicturesGoUnderTheWindowsAtFullStrengthAndWindowsBackToFront) {
  // A Dock gives every desktop its picture window below all others.
  sim::App dock;
  dock.name = "Dock";
  dock.bundleIdentifier = "com.apple.dock";
  dock.policy = platform::ActivationPolicy::prohibited;
  scene.windowServer.addApp(dock);
  ASSERT_TRUE(scene.world.setDesktopColor(2, 0x204060));
  addWindow({22}, CGRect(2000, 200, 600, 500), 0x00FF00, "Back");
  addWindow({22}, CGRect(2100, 300, 400, 300), 0x0000FF, "Front");

  const CGImageRef image = renderSide(22);
  ASSERT_TRUE(image);
  const auto desktopLevel = std::to_string(CGWindowLevelForKey(kCGDesktopWindowLevelKey));
  EXPECT_EQ(DestinationScreen::drawn(), (std::vector<std::string>{"Dock@" + desktopLevel, "Paint@0", "Paint@0"}));

  // The desktop picture is opaque; each window lies over what is behind it at 0.85; then
  // everything is dimmed.
  const std::uint32_t desk = 0x204060;
  const std::uint32_t back = over(0x00FF00, desk, 0.85);
  const std::uint32_t front = over(0x0000FF, back, 0.85);
  expectPixel(image, 1300, 800, scaled(desk, 0.55));
  expectPixel(image, 100, 480, scaled(back, 0.55));
  expectPixel(image, 400, 350, scaled(front, 0.55));
}

TEST_F(DestinationScreenTest, WindowsThatCannotBeSeenThereAreLeftOut) {
  addWindow({22}, CGRect(2000, 200, 19, 300), 0xFF0000, "Narrow");
  addWindow({22}, CGRect(2000, 200, 300, 19), 0xFF0000, "Low");
  const std::uint32_t clear = addWindow({22}, CGRect(2000, 200, 300, 300), 0xFF0000, "Clear");
  scene.windowServer.updateWindow(clear, [](sim::Window& w) { w.alpha = 0; });
  addWindow({22}, CGRect(2000, 200, 300, 300), 0xFF0000, "Fullscreen Backdrop");
  scenes::addWindow(scene, {.pid = sim::WindowServer::kWindowServerPID,
                            .title = "Shield",
                            .bounds = CGRect(2000, 200, 300, 300),
                            .spaces = {22}});
  const std::uint32_t hidden = addWindow({22}, CGRect(2000, 200, 300, 300), 0xFF0000, "Ordered out");
  scene.windowServer.updateWindow(hidden, [](sim::Window& w) { w.orderedIn = false; });
  addWindow({21}, CGRect(2000, 200, 300, 300), 0xFF0000, "Elsewhere");
  sim::Window above;
  above.pid = paint;
  above.title = "Palette";
  above.layer = 3;
  above.bounds = CGRect(2000, 200, 300, 300);
  above.spaces = {22};
  scene.windowServer.addWindow(above);

  const CGImageRef image = renderSide(22);
  ASSERT_TRUE(image);
  EXPECT_TRUE(DestinationScreen::drawn().empty());
  expectPixel(image, 100, 100, 0x000000);
}

TEST_F(DestinationScreenTest, AFullScreenSpaceIsPlainBlackAndKeepsTheLastListAndNoCanvasNoPicture) {
  addWindow({22}, CGRect(2000, 200, 400, 300), 0xFF0000);
  ASSERT_TRUE(renderSide(22));
  ASSERT_EQ(DestinationScreen::drawn().size(), 1u);

  const CGImageRef black = DestinationScreen::render(22, CGRect(1920, 0, 1440, 900), 1080, true, false);
  ASSERT_TRUE(black);
  EXPECT_EQ(black->width(), 1440);
  expectPixel(black, 100, 300, 0x000000);
  EXPECT_EQ(DestinationScreen::drawn(), std::vector<std::string>{"Paint@0"});

  // A canvas that cannot be made gives no picture.
  EXPECT_FALSE(DestinationScreen::render(22, CGRect(1920, 0, 0.5, 900), 1080, false, false));
  EXPECT_FALSE(DestinationScreen::render(22, CGRect(1920, 0, 40000, 900), 1080, false, false));
}

TEST_F(DestinationScreenTest, ForADesktopTileWindowsAreFaintAndNothingIsDimmed) {
  addWindow({22}, CGRect(2000, 200, 400, 300), 0xFF0000);
  const CGImageRef image = renderSide(22, true);
  ASSERT_TRUE(image);
  expectPixel(image, 100, 300, scaled(0xFF0000, 0.35));
}

TEST_F(DestinationScreenTest, AWindowIsComposedOnItsFirstSpaceOnlyWhileThatSpaceIsNotShowing) {
  const std::uint32_t away = addWindow({22, 21}, CGRect(2000, 200, 400, 300), 0xFF0000);
  const std::uint32_t here = addWindow({21}, CGRect(2000, 200, 400, 300), 0xFF0000);
  const std::uint32_t nowhere = addWindow({}, CGRect(2000, 200, 400, 300), 0xFF0000);
  scene.windowServer.setWindowSpaces(nowhere, {});

  const auto place = DestinationScreen::space(away);
  ASSERT_TRUE(place);
  EXPECT_EQ(place->space, 22);
  EXPECT_EQ(place->screen.displayNumber(), 2u);
  EXPECT_FALSE(place->fullScreen);
  EXPECT_FALSE(DestinationScreen::space(here));
  EXPECT_FALSE(DestinationScreen::space(nowhere));

  ASSERT_TRUE(scene.windowServer.setFullScreen(here, true));
  // Taking it full screen shows its new Space; show the other one again.
  ASSERT_TRUE(scene.windowServer.switchSpace(21, sim::SwitchStyle::instant));
  const auto moved = DestinationScreen::space(here);
  ASSERT_TRUE(moved);
  EXPECT_TRUE(moved->fullScreen);
  EXPECT_EQ(moved->screen.displayNumber(), 2u);
}

TEST_F(DestinationScreenTest, ComposingRunsOnItsQueueAndAnswersOnTheMainQueue) {
  addWindow({22}, CGRect(2000, 200, 400, 300), 0xFF0000);
  const auto screens = NSScreen::screens();
  ASSERT_EQ(screens.size(), 2u);
  std::vector<CGImageRef> delivered;
  PackedImageRef packed;
  bool onMain = false;
  DestinationScreen::compose(22, screens[1], false, false, [&](CGImageRef image, PackedImageRef copy) {
    delivered.push_back(image);
    packed = std::move(copy);
    onMain = platform::mainQueue().isCurrent();
  });
  EXPECT_TRUE(delivered.empty());
  ASSERT_TRUE(scene.clock.step("destination"));
  EXPECT_TRUE(delivered.empty()) << "the answer hops to the main queue";
  scene.clock.runUntilIdle();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_TRUE(onMain);
  ASSERT_TRUE(delivered[0]);
  EXPECT_EQ(delivered[0]->width(), 1440);
  expectPixel(delivered[0], 100, 300, scaled(0xFF0000, 0.85 * 0.55));
  // The packed copy holds a fraction of the pixels' bytes and gives them back exactly.
  ASSERT_TRUE(packed);
  EXPECT_LT(packed->bytes(), std::size_t{1440} * 900 * 4 / 8);
  const CGImageRef unpacked = packed->unpack();
  ASSERT_TRUE(unpacked);
  EXPECT_TRUE(unpacked->samePixels(*delivered[0]));
}

}  // namespace
}  // namespace trelliq
