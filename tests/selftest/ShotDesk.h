#pragma once
// What the picture-mode tests share: widgets drawing off screen, the built-in desk with
// screen capture allowed, and PNG files read back.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "selftest/Dispatch.h"
#include "selftest/ModeClock.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"

namespace trelliq::shots {

/// The picture in a PNG file; nothing when there is no such file or it is not a PNG.
inline std::optional<QImage> png(const std::string& path) {
  const auto bytes = platform::FileManager::contents(path);
  if (!bytes) return std::nullopt;
  QImage image;
  if (!image.loadFromData(bytes->data(), static_cast<int>(bytes->size()), "PNG")) return std::nullopt;
  return image;
}

inline std::optional<QSize> pngSize(const std::string& path) {
  const auto image = png(path);
  return image ? std::optional<QSize>(image->size()) : std::nullopt;
}

/// Runs the dispatch on the program path and `args`; its answer.
inline int dispatch(std::vector<std::string> args) {
  args.insert(args.begin(), "trelliq");
  return dispatchSelfTests(args);
}

/// Seconds of virtual time `run` lets pass.
template <typename Run>
double elapsed(Run run) {
  const double start = ModeClock::seconds();
  run();
  return ModeClock::seconds() - start;
}

/// Runs `body` in a process of its own, as the program runs one mode per process: the
/// program's shared windows and what they observe must not outlive the test's world.
/// The test fails when `body` records a failure there.
template <typename Body>
void inOwnProcess(Body body) {
  // A fresh run of the test program, not a fork: the widgets' threads do not survive one.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        body();
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

class ShotDesk {
 public:
  ShotDesk() {
    test::ensureWidgets();
    scene.world.setScreenCaptureAllowed(true);
  }
  std::string path(const std::string& name) const { return scene.path(name); }
  bool exists(const std::string& name) const { return platform::FileManager::fileExists(path(name)); }

  Scene scene{Scene::Start::defaultScenario};
};

}  // namespace trelliq::shots
