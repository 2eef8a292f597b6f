#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>

#include "platform/AppKit.h"
#include "platform/ScreenCaptureKit.h"
#include "platform/sim/DisplayPicture.h"
#include "support/Scene.h"
#include "support/Served.h"

namespace {

SCContentFilter filterFor(SCDisplay display) {
  SCContentFilter filter;
  filter.display = display;
  return filter;
}

// Colours within a small distance per channel: gradients round differently by a step or two.
bool near(std::uint32_t a, std::uint32_t b) {
  for (int shift : {0, 8, 16}) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 3) return false;
  }
  return true;
}

CGImageRef capture(std::uint32_t display, int width, int height) {
  return SCScreenshotManager::captureImageNow(filterFor(SCDisplay{display, width, height}),
                                              SCStreamConfiguration{.width = width, .height = height});
}

// Each case in process and in a program attached to a host serving the scene.
class CaptureTest : public ::testing::TestWithParam<Served> {};
TRELLIQ_SERVED_BOTH_WAYS(CaptureTest);

}  // namespace

TEST_P(CaptureTest, EachDisplayHasItsOwnPictureAtTheAskedSize) {
  Scene scene(Scene::Start::defaultScenario);
  Attachment attachment(scene, GetParam());
  scene.windowServer.resetDesk();  // no windows in front of the desktop pictures
  auto content = SCShareableContent::current(false, true);
  ASSERT_TRUE(content);
  ASSERT_EQ(content->displays.size(), 2u);

  std::vector<std::uint32_t> centres;
  for (const SCDisplay& d : content->displays) {
    const sim::Display display = *scene.world.display(d.displayID);
    EXPECT_EQ(d.width, display.screen.frame.width());
    CGImageRef image = capture(d.displayID, d.width, d.height);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), d.width);
    EXPECT_EQ(image->height(), d.height);
    const std::uint32_t centre = image->pixel(d.width / 2, d.height / 2);
    EXPECT_TRUE(near(centre, sim::desktopCentreColor(display.desktopColor))) << std::hex << centre;
    centres.push_back(centre);
    // The gradient runs from light at the top left to dark at the bottom right.
    EXPECT_GT(image->pixel(1, 1) & 0xFF, image->pixel(d.width - 2, d.height - 2) & 0xFF);
  }
  EXPECT_FALSE(near(centres[0], centres[1]));
}

TEST_P(CaptureTest, NameIsWrittenOnThePicture) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  scene.world.setScreenCaptureAllowed(true);
  scene.world.addDisplay(sim::makeDisplay(1, CGRect(0, 0, 800, 600), "Left"));
  scene.world.addDisplay(sim::makeDisplay(2, CGRect(800, 0, 800, 600), "Right"));
  scene.world.setDesktopColor(2, scene.world.display(1)->desktopColor);
  const QImage left = capture(1, 800, 600)->qimage(), right = capture(2, 800, 600)->qimage();
  // Same colour and size: only the written name and number tell them apart, and only in the upper part.
  EXPECT_NE(left.copy(0, 0, 800, 300), right.copy(0, 0, 800, 300));
  EXPECT_EQ(left.copy(0, 400, 800, 200), right.copy(0, 400, 800, 200));
}

TEST_P(CaptureTest, PngDataRoundTrips) {
  Scene scene(Scene::Start::defaultScenario);
  Attachment attachment(scene, GetParam());
  CGImageRef image = capture(1, 302, 196);
  ASSERT_TRUE(image);
  auto png = image->pngData();
  ASSERT_TRUE(png);
  ASSERT_GT(png->size(), 8u);
  EXPECT_EQ((*png)[1], 'P');
  QImage back;
  ASSERT_TRUE(back.loadFromData(png->data(), static_cast<int>(png->size()), "PNG"));
  EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), image->qimage().convertToFormat(QImage::Format_RGB32));
}

TEST_P(CaptureTest, ChangesShowInTheNextCapture) {
  Scene scene(Scene::Start::defaultScenario);
  Attachment attachment(scene, GetParam());
  scene.windowServer.resetDesk();  // no windows in front of the desktop pictures
  const std::uint32_t before = capture(1, 200, 100)->pixel(100, 80);
  scene.world.setDesktopColor(1, 0x00FF00);
  const std::uint32_t after = capture(1, 200, 100)->pixel(100, 80);
  EXPECT_NE(before, after);
  EXPECT_TRUE(near(capture(1, 200, 100)->pixel(100, 50), sim::desktopCentreColor(0x00FF00)));
}

TEST_P(CaptureTest, FailuresWithoutPermissionOrForOneDisplay) {
  Scene scene(Scene::Start::defaultScenario);
  Attachment attachment(scene, GetParam());
  scene.world.setCaptureFails(3, true);
  EXPECT_FALSE(capture(3, 100, 100));
  EXPECT_TRUE(capture(1, 100, 100));
  EXPECT_FALSE(capture(77, 100, 100));
  EXPECT_FALSE(capture(1, 0, 100));

  scene.world.setShareableContentAvailable(false);
  EXPECT_FALSE(SCShareableContent::current(false, true));
  scene.world.setShareableContentAvailable(true);
  scene.world.setScreenCaptureAllowed(false);
  EXPECT_FALSE(SCShareableContent::current(false, true));
  EXPECT_FALSE(capture(1, 100, 100));
}

TEST_P(CaptureTest, CompletionsArriveOnABackgroundTaskNotOnTheCaller) {
  Scene scene(Scene::Start::defaultScenario);
  Attachment attachment(scene, GetParam());
  int delivered = 0;
  std::optional<SCShareableContent> got;
  SCShareableContent::getExcludingDesktopWindows(false, true, [&](auto content, auto error) {
    ++delivered;
    got = content;
    EXPECT_FALSE(error);
  });
  CGImageRef picture;
  SCScreenshotManager::captureImage(filterFor(SCDisplay{1, 100, 50}), SCStreamConfiguration{.width = 100, .height = 50},
                                    [&](CGImageRef image, auto error) {
                                      ++delivered;
                                      picture = image;
                                    });
  EXPECT_EQ(delivered, 0);
  scene.clock.runUntilIdle();
  EXPECT_EQ(delivered, 2);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->displays.size(), 2u);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width(), 100);

  scene.world.setScreenCaptureAllowed(false);
  std::optional<NSError> refused;
  SCShareableContent::getExcludingDesktopWindows(false, true, [&](auto content, auto error) { refused = error; });
  scene.clock.runUntilIdle();
  ASSERT_TRUE(refused);
  EXPECT_FALSE(refused->localizedDescription.empty());
}
