#include "platform/WindowFrame.h"

#include <cmath>

namespace platform {

CGPoint titleButtonCentre(TitleButton button) {
  return {kTitleButtonStep * (1 + static_cast<int>(button)), kTitleBarHeight / 2};
}

std::optional<TitleButton> titleButtonAt(CGPoint inFrame) {
  constexpr double reach = kTitleButtonDiameter / 2 + 2;
  for (TitleButton b : {TitleButton::close, TitleButton::miniaturize, TitleButton::zoom}) {
    const CGPoint c = titleButtonCentre(b);
    if (std::hypot(inFrame.x - c.x, inFrame.y - c.y) <= reach) return b;
  }
  return std::nullopt;
}

double menuBarHeight(const CGRect& frame, const CGRect& visibleFrame, bool bottomLeft) {
  if (visibleFrame.isEmpty()) return kMenuBarMinHeight;
  const double room = bottomLeft ? frame.maxY() - visibleFrame.maxY() : visibleFrame.minY() - frame.minY();
  return room > kMenuBarMinHeight && room < frame.height() / 4 ? room : kMenuBarMinHeight;
}

}  // namespace platform
