#include "ui/model/KeyCapLook.h"

#include <algorithm>

namespace trelliq {

std::vector<KeyCapLook::Line> KeyCapLook::lines() const {
  std::vector<Line> result{Line::key};
  if (label) result.push_back(Line::label);
  if (key == "fn" && !small) result.push_back(Line::globe);
  return result;
}

CGSize KeyCapLook::size(double textWidth, double textHeight) const {
  const double natural = std::max(0.0, textWidth) + 2 * padding();
  if (small) return {std::max(15.0, natural), std::max(14.0, std::max(0.0, textHeight))};
  return {width ? std::max(0.0, *width) : natural, 30};
}

}  // namespace trelliq
