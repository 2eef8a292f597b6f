#include "workspace/ScreenGeometry.h"

#include <vector>

namespace trelliq {

CGRect ScreenGeometry::windowServerFrame(const CGRect& frame, const CGRect& first) {
  return platform::flipRect(frame, first.maxY());
}

CGRect ScreenGeometry::windowServerFrame(const NSScreen& screen) {
  const std::vector<NSScreen> screens = NSScreen::screens();
  const CGRect first = screens.empty() ? screen.frame() : screens.front().frame();
  return windowServerFrame(screen.frame(), first);
}

double ScreenGeometry::primaryTop() {
  const std::vector<NSScreen> screens = NSScreen::screens();
  return screens.empty() ? 0 : screens.front().frame().maxY();
}

}  // namespace trelliq
