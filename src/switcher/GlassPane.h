#pragma once
// A glass surface over a haze layer, always placed together: the preview's backing. The
// glass takes the regular style with the pane's variant where the system offers the
// variant, else the clear style. Main thread only.

#include <memory>
#include <optional>

#include "platform/Geometry.h"
#include "switcher/PanelViews.h"

namespace trelliq {

class GlassPane {
 public:
  /// Whether a new place shows at once or moves there over `SwitcherTiming::paneMove`.
  enum class Motion { instant, animated };

  GlassPane();
  /// Whether a fresh system glass view answers "set_variant:"; asked once per installed
  /// system. Any thread.
  static bool usesGlassVariant();
  GlassPane(const GlassPane&) = delete;
  GlassPane& operator=(const GlassPane&) = delete;

  Layer& glass() { return *glass_; }
  const Layer& glass() const { return *glass_; }
  /// The haze under the glass; its alpha is the haze's strength.
  Layer& haze() { return *haze_; }
  const Layer& haze() const { return *haze_; }
  /// Both layers' corner radius.
  void setRadius(double radius);
  /// No rect: hides both. Otherwise shows both, sets the radius and the frame.
  void place(const std::optional<CGRect>& rect, double radius, Motion motion);

 private:
  std::unique_ptr<Layer> glass_ = std::make_unique<Layer>(Layer::Material::glass);
  std::unique_ptr<Layer> haze_ = std::make_unique<Layer>(Layer::Material::haze);
};

}  // namespace trelliq
