#include "app/MenuSwitcherMode.h"

#include "platform/Foundation.h"

namespace trelliq {

MenuSwitcherMode::MenuSwitcherMode(std::function<void()> picked) : picked_(std::move(picked)) {}

bool MenuSwitcherMode::isSelected(Settings::Tiles::Case style) {
  const auto stored = UserDefaults::standard().stringForKey(key);
  return stored && *stored == Settings::Tiles::rawValues[static_cast<std::size_t>(style)];
}

std::optional<std::string> MenuSwitcherMode::selectedTitle() {
  for (const Option& option : options) {
    if (isSelected(option.style)) return std::string(option.title);
  }
  return std::nullopt;
}

void MenuSwitcherMode::pick(Settings::Tiles::Case style) {
  UserDefaults::standard().set(
      key, platform::PlistValue(std::string(Settings::Tiles::rawValues[static_cast<std::size_t>(style)])));
  if (picked_) picked_();
}

CGRect MenuSwitcherMode::optionFrame(std::size_t index) {
  const double row = width - 2 * horizontalPadding;
  const double each = (row - 2 * spacing) / 3;
  return CGRect(horizontalPadding + static_cast<double>(index) * (each + spacing), topPadding + headingHeight + spacing,
                each, optionHeight);
}

std::optional<Settings::Tiles::Case> MenuSwitcherMode::optionAt(CGPoint point) {
  for (std::size_t i = 0; i < options.size(); ++i) {
    const CGRect frame = optionFrame(i);
    if (point.x >= frame.minX() && point.x < frame.maxX() && point.y >= frame.minY() && point.y < frame.maxY()) {
      return options[i].style;
    }
  }
  return std::nullopt;
}

CGSize MenuSwitcherMode::fittingSize() const {
  return CGSize{width, topPadding + headingHeight + spacing + optionHeight + bottomPadding};
}

void MenuSwitcherMode::click(CGPoint point) {
  if (auto style = optionAt(point)) pick(*style);
}

}  // namespace trelliq
