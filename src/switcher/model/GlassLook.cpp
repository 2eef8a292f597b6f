#include "switcher/model/GlassLook.h"

#include "platform/AppKitWindows.h"
#include "platform/OncePerSystem.h"

namespace trelliq {

bool GlassLook::systemOffersVariant() {
  static auto& answer =
      *new platform::OncePerSystem<bool>([] { return NSGlassEffectView().respondsToSelector("set_variant:"); });
  return answer.get();
}

}  // namespace trelliq
