#pragma once
// Widget tests need one QApplication for the whole test program; it draws off screen.

#include <QApplication>
#include <cstdlib>

namespace trelliq::test {

inline void ensureWidgets() {
  if (QApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "trelliq-tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives as long as the program
}

}  // namespace trelliq::test

// The font library keeps its configuration cache until exit; the leak checker would count
// it against the first test that draws text. Emitted once per program whichever test
// files include this.
extern "C" __attribute__((used)) inline const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
