#include "switcher/model/GlassLook.h"

#include "platform/AppKitWindows.h"
#include "workspace/OncePerSystem.h"

namespace trelliq {

bool GlassLook::systemOffersVariant() {
  static auto& answer = *new OncePerSystem<bool>([] { return NSGlassEffectView().respondsToSelector("set_variant:"); });
  return answer.get();
}

}  // namespace trelliq
