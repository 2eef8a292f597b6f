// What captures of displays and windows show: the desk composed back to front.

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>

#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"
#include "platform/ScreenCaptureKit.h"
#include "platform/sim/DisplayPicture.h"
#include "support/Scene.h"
#include "support/Served.h"
#include "support/WidgetsApp.h"

namespace {

using platform::PlistArray;
using platform::PlistValue;

bool near(std::uint32_t a, std::uint32_t b, int tolerance = 3) {
  for (int shift : {0, 8, 16}) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
      return false;
  }
  return true;
}

CGImageRef capture(std::uint32_t display, int width, int height) {
  SCContentFilter filter;
  filter.display = SCDisplay{display, width, height};
  return SCScreenshotManager::captureImageNow(filter, SCStreamConfiguration{.width = width, .height = height});
}

std::uint32_t rgb(const CGImageRef& image, int x, int y) { return image->pixel(x, y) & 0xFFFFFF; }

// Each case in process and in a program attached to a host serving the scene.
class PictureTest : public ::testing::TestWithParam<Served> {
 protected:
  PictureTest() { trelliq::test::ensureWidgets(); }  // the title bars' text needs fonts
  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
  Attachment attachment{scene, GetParam()};
};

TRELLIQ_SERVED_BOTH_WAYS(PictureTest);

}  // namespace

TEST_P(PictureTest, ADisplayShowsItsSpacesWindowsOverTheDesktopPicture) {
  const auto picture = capture(1, 1512, 982);
  ASSERT_TRUE(picture);
  EXPECT_EQ(rgb(picture, 700, 500), 0xFFF8E7u);  // Draft.txt, in front of Documents
  EXPECT_EQ(rgb(picture, 200, 600), 0xF5F5F5u);  // Documents where Draft.txt does not cover it
  // Where no window lies, the desktop picture.
  const QImage desktop = sim::composeDisplayPicture(*scene.world.display(1), 1512, 982);
  EXPECT_EQ(rgb(picture, 1400, 500), desktop.pixel(1400, 500) & 0xFFFFFF);
  // Minimized windows and windows of other Spaces are not drawn.
  server.moveWindow(2101, {2000, 2000});
  server.moveWindow(1101, {2000, 2000});
  const auto bare = capture(1, 1512, 982);
  EXPECT_EQ(rgb(bare, 700, 500), desktop.pixel(700, 500) & 0xFFFFFF);

  // The title bar is the dark appearance's, darker than the body, and carries the title in
  // light pixels.
  server.moveWindow(2101, {300, 90});
  const auto titled = capture(1, 1512, 982);
  EXPECT_LT(rgb(titled, 400, 100) & 0xFF, 0x80u);
  bool text = false;
  for (int x = 400; x < 1100 && !text; ++x) {
    for (int y = 92; y < 116 && !text; ++y) text = qGray(static_cast<QRgb>(rgb(titled, x, y))) > 200;
  }
  EXPECT_TRUE(text);
}

TEST_P(PictureTest, AlphaBlendsAWindowWithWhatLiesBehind) {
  server.updateWindow(2101, [](sim::Window& w) { w.alpha = 0.5; });
  const auto picture = capture(1, 1512, 982);
  // Half of Draft.txt's 0xFFF8E7 over Documents' 0xF5F5F5.
  EXPECT_TRUE(near(rgb(picture, 700, 500), 0xFAF6EE)) << std::hex << rgb(picture, 700, 500);
  server.updateWindow(2101, [](sim::Window& w) { w.alpha = 0; });
  EXPECT_EQ(rgb(capture(1, 1512, 982), 700, 500), 0xF5F5F5u);
}

TEST_P(PictureTest, AnotherSpaceShowsItsOwnDesktopAndWindows) {
  server.switchSpace(4, sim::SwitchStyle::instant);
  const auto picture = capture(1, 756, 491);     // half size: windows scale with the picture
  EXPECT_EQ(rgb(picture, 300, 250), 0xFFF8E7u);  // Notes.txt at (200, 120)-(1000, 720) in points
  sim::Display green = *scene.world.display(1);
  green.desktopColor = 0x3C6E47;  // Space 4's own desktop picture
  const QImage desktop = sim::composeDisplayPicture(green, 756, 491);
  EXPECT_EQ(rgb(picture, 700, 300), desktop.pixel(700, 300) & 0xFFFFFF);
  // The other display is unaffected.
  EXPECT_EQ(rgb(capture(3, 2560, 1440), 2400 - 1512 + 100, 100 + 458 + 100), 0x1E1E1Eu);  // Slate — build
}

TEST_P(PictureTest, OverlayWindowsAreDrawnOverAFullScreenSpace) {
  server.switchSpace(5, sim::SwitchStyle::instant);
  EXPECT_EQ(rgb(capture(1, 1512, 982), 600, 400), 0xE9F5ECu);  // the full-screen spreadsheet

  sim::Window panel;
  panel.pid = server.ownProcessIdentifier();
  panel.own = true;
  panel.layer = 101;
  panel.bounds = CGRect(500, 300, 200, 200);
  panel.color = 0xD02020;
  panel.subrole.clear();
  panel.spaces = {4};
  const std::uint32_t n = server.addWindow(panel);
  EXPECT_EQ(rgb(capture(1, 1512, 982), 600, 400), 0xE9F5ECu);  // it lies on another Space

  auto h = platform::dlopen(kSkyLightPath, 2);
  const auto cid = sim::WindowServer::kConnectionID;
  const CGSSpaceID overlay = platform::symbolAs<SLSSpaceCreate_t>(h, "SLSSpaceCreate")(cid, 1, nullptr);
  platform::symbolAs<SLSSpaceSetAbsoluteLevel_t>(h, "SLSSpaceSetAbsoluteLevel")(cid, overlay, 100);
  const PlistArray spaces{PlistValue(static_cast<long long>(overlay))};
  platform::symbolAs<SLSShowSpaces_t>(h, "SLSShowSpaces")(cid, spaces);
  platform::symbolAs<SLSAddWindowsToSpaces_t>(h, "SLSAddWindowsToSpaces")(cid, PlistArray{n}, spaces);
  const auto picture = capture(1, 1512, 982);
  EXPECT_EQ(rgb(picture, 600, 400), 0xD02020u);
  EXPECT_EQ(rgb(picture, 800, 400), 0xE9F5ECu);
}

TEST_P(PictureTest, ASlideShowsBothSpacesSideBySide) {
  const auto before = capture(1, 1512, 982);
  server.switchSpace(4, sim::SwitchStyle::instant);
  const auto target = capture(1, 1512, 982);
  server.switchSpace(1, sim::SwitchStyle::instant);

  ASSERT_TRUE(server.switchSpace(4, sim::SwitchStyle::slide));
  scene.clock.advance(server.timings().slide / 2);
  const auto middle = capture(1, 1512, 982);
  // Space 4 lies to the right: the old Space has moved half a screen left, the new one follows it in.
  for (int y : {300, 500, 700}) {
    EXPECT_TRUE(near(rgb(middle, 100, y), rgb(before, 856, y), 6)) << y;
    EXPECT_TRUE(near(rgb(middle, 856, y), rgb(target, 100, y), 6)) << y;
  }
  scene.clock.advance(server.timings().slide);
  EXPECT_EQ(capture(1, 1512, 982)->qimage(), target->qimage());
}

// The menu bar and the Dock are on every Space and stay put while the Spaces slide under
// them: mid-slide they are where they were, the clock at the bar's right, the Dock's icons
// at its middle.
TEST_P(PictureTest, TheMenuBarAndTheDockStayPutWhileTheSpacesSlide) {
  const auto before = capture(1, 1512, 982);
  ASSERT_TRUE(server.switchSpace(4, sim::SwitchStyle::slide));
  scene.clock.advance(server.timings().slide / 2);
  const auto middle = capture(1, 1512, 982);
  // The clock's light text at the bar's right end is where it was.
  int text = 0, kept = 0;
  for (int y = 0; y < 30; ++y) {
    for (int x = 1300; x < 1512; ++x) {
      if (qGray(static_cast<QRgb>(rgb(before, x, y))) < 200) continue;
      ++text;
      kept += qGray(static_cast<QRgb>(rgb(middle, x, y))) >= 200;
    }
  }
  ASSERT_GT(text, 20) << "the clock is drawn";
  EXPECT_GT(kept * 10, text * 9) << "the clock moved";
  // The Dock's icons: each pixel of its middle row near what it was.
  int moved = 0;
  for (int x = 400; x < 1112; ++x) moved += !near(rgb(middle, x, 947), rgb(before, x, 947), 40);
  EXPECT_LT(moved, 40) << "the Dock moved";
}

TEST_P(PictureTest, SingleWindowsAreCapturedWhereverTheyAre) {
  auto content = SCShareableContent::current(true, false);
  ASSERT_TRUE(content);
  const auto notes = std::find_if(content->windows.begin(), content->windows.end(),
                                  [](const SCWindow& w) { return w.windowID == 2102; });
  ASSERT_NE(notes, content->windows.end());
  EXPECT_FALSE(notes->isOnScreen);
  EXPECT_EQ(notes->title, "Notes.txt");
  for (const SCWindow& w : content->windows) EXPECT_GE(w.windowLayer, -20) << w.windowID;  // no desktop windows

  SCContentFilter filter;
  filter.desktopIndependentWindow = *notes;
  const auto picture = SCScreenshotManager::captureImageNow(filter, SCStreamConfiguration{.width = 400, .height = 300});
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width(), 400);
  EXPECT_EQ(rgb(picture, 200, 200), 0xFFF8E7u);

  auto onScreen = SCShareableContent::current(false, true);
  EXPECT_TRUE(std::none_of(onScreen->windows.begin(), onScreen->windows.end(),
                           [](const SCWindow& w) { return w.windowID == 2102; }));
  scene.world.setScreenCaptureAllowed(false);
  EXPECT_FALSE(SCScreenshotManager::captureImageNow(filter, SCStreamConfiguration{.width = 400, .height = 300}));
}
