// What the ghost asks of the controller, and the haze of the preview's glass. The ghost
// and the backdrops themselves are `Ghost`. Main thread only.

#include <algorithm>

#include "platform/Foundation.h"
#include "settings/Settings.h"
#include "switcher/Switcher.h"

namespace trelliq {

Ghost::Hooks Switcher::ghostHooks() {
  // The ghost lives inside this controller and asks only while it runs.
  Ghost::Hooks hooks;
  hooks.showing = [this] { return active && shown && Settings::showInPlace(); };
  hooks.changingFullScreen = [this] { return fullScreen_.pending().has_value(); };
  return hooks;
}

void Switcher::updateHaze() {
  const double tint = UserDefaults::standard().doubleForKey("NSGlassTintAmount");
  if (!GlassPane::usesGlassVariant()) {
    hazeStrength = 0;
  } else if (tint <= 0) {
    hazeStrength = clearEndHaze;
  } else {
    hazeStrength = (1 - std::min(tint, 1.0)) * clearEndHaze;
  }
  model.haze.set(hazeStrength);
  preview_.setHaze(hazeStrength);
}

}  // namespace trelliq
