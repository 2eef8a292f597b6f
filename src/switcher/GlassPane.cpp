#include "switcher/GlassPane.h"

#include "switcher/SwitcherTiming.h"
#include "switcher/model/GlassLook.h"

namespace trelliq {

GlassPane::GlassPane() { glass_->setGlassLook(GlassLook::ofPane(usesGlassVariant())); }

bool GlassPane::usesGlassVariant() { return GlassLook::systemOffersVariant(); }

void GlassPane::setRadius(double radius) {
  glass_->setCornerRadius(radius);
  haze_->setCornerRadius(radius);
}

void GlassPane::place(const std::optional<CGRect>& rect, double radius, Motion motion) {
  glass_->setHidden(!rect);
  haze_->setHidden(!rect);
  if (!rect) return;
  setRadius(radius);
  const double animation = motion == Motion::animated ? SwitcherTiming::paneMove : 0;
  glass_->setFrame(*rect, animation);
  haze_->setFrame(*rect, animation);
}

}  // namespace trelliq
