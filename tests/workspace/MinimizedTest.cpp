// Windows reported minimized, remembered with their elements and logged.

#include <gtest/gtest.h>

#include "WindowServerScenes.h"
#include "workspace/Minimized.h"
#include "workspace/Recency.h"

namespace trelliq {
namespace {

struct AnyWindowIs4711 {
  static AXError call(const AXUIElementRef&, std::uint32_t* window) {
    *window = 4711;
    return kAXErrorSuccess;
  }
};

class MinimizedWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    scenes::twoDisplays(scene);
    scene.world.setAccessibilityTrusted(true);
    pid = scenes::addApp(scene, "Notes");
    sim::Window letter;
    letter.number = 4711;
    letter.pid = pid;
    letter.spaces = {12};
    scene.windowServer.addWindow(letter);
  }
  AXUIElementRef element() { return AXUIElementMake({pid, scene.windowServer.window(4711)->axElement}); }

  const std::vector<std::string> bothLines{"window 4711 of Notes minimized",
                                           "window 4711 of Notes no longer minimized"};
  Scene scene;
  std::int32_t pid = 0;
};

TEST_F(MinimizedWindows, EachChangeOfStateIsLoggedOnce) {
  Minimized::changed(element(), true);
  Minimized::changed(element(), true);
  EXPECT_TRUE(AXUIElementEqual(Minimized::element(4711), element()));
  Minimized::changed(element(), false);
  Minimized::changed(element(), false);
  EXPECT_FALSE(Minimized::element(4711));
  Minimized::changed(AXUIElementMake({pid, 999}), true);  // no window number: ignored
  EXPECT_EQ(scenes::logMessages(), bothLines);
}

TEST_F(MinimizedWindows, TheWatchedAppsNotificationsKeepTrack) {
  scene.windowServer.makeFrontmost(pid);
  Recency::shared().start();
  scene.clock.advance(0.1);
  scene.windowServer.setMinimized(4711, true);
  scene.clock.advance(0.1);
  EXPECT_TRUE(Minimized::element(4711));
  scene.windowServer.setMinimized(4711, false);
  scene.clock.advance(0.1);
  EXPECT_FALSE(Minimized::element(4711));
  EXPECT_EQ(scenes::logMessages(), bothLines);
}

TEST_F(MinimizedWindows, NamesAreEscapedAndUnknownProcessesNamedByTheirId) {
  scene.windowServer.updateApp(pid, [](sim::App& a) { a.name = "Notes\n12:00:00.000 forged"; });
  Minimized::changed(element(), true);
  scene.restart();  // a fresh system remembers nothing
  EXPECT_FALSE(Minimized::element(4711));
  scene.world.addFunction<AXUIElementGetWindow_t>(kApplicationServicesPath, "_AXUIElementGetWindow",
                                                  &AnyWindowIs4711::call);
  Minimized::changed(AXUIElementMake({31337, 5}), true);
  EXPECT_EQ(scenes::logMessages(), (std::vector<std::string>{"window 4711 of Notes\\n12:00:00.000 forged minimized",
                                                             "window 4711 of pid 31337 minimized"}));
}

}  // namespace
}  // namespace trelliq
