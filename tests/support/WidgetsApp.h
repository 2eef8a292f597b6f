#pragma once
// Widget tests need one QApplication for the whole test program; it draws off screen.

#include <QApplication>
#include <cstdlib>

#include "platform/OwnWindowSurface.h"
#include "support/Scene.h"

namespace trelliq::test {

inline void ensureWidgets() {
  if (QApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "trelliq-tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives as long as the program
}

/// Lets `seconds` pass as the event loop would, with a paint pass of every own window
/// each sixtieth of a second.
inline void paintFrames(Scene& scene, double seconds) {
  for (int i = 0; i < static_cast<int>(seconds * 60); ++i) {
    scene.clock.advance(1.0 / 60);
    platform::OwnWindowSurface::publishAll();
  }
}

}  // namespace trelliq::test

// The font library keeps its configuration cache until exit; the leak checker would count
// it against the first test that draws text. Emitted once per program whichever test
// files include this.
extern "C" __attribute__((used)) inline const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
