#pragma once
// The widget tests need one QApplication for the whole test program; it draws off screen.

#include <QApplication>
#include <cstdlib>

namespace trelliq::test {

inline void ensureWidgets() {
  if (QApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "tests_switcher";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives as long as the program
}

}  // namespace trelliq::test
