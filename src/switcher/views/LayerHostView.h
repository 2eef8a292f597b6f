#pragma once
// The content of one of the switcher's picture windows (preview, ghost, backdrops): it
// mirrors the window's `Layer`s, bottom to top, each drawn at its frame (the layer's
// coordinates have their origin at the bottom left of the window's content) with its
// alpha, corner radius, background fill and contents; hidden layers draw nothing. A frame
// set with an animation moves there over that time. A window whose layers all cover it
// whole with plain fills and pictures of fewer pixels than its display's (the backdrops'
// wash, veil and composed Space) is kept at those pictures' density, down to half a pixel
// per point: the window server scales it up as it composes, as it does a layer's
// contents. Layers under an opaque one shown whole are not drawn. Main thread only.

#include <QWidget>
#include <memory>
#include <vector>

#include "platform/OwnWindowSurface.h"
#include "switcher/PanelViews.h"
#include "switcher/views/SceneAnimator.h"

namespace trelliq::views {

class LayerHostView : public QWidget, public platform::DensityLimitedView {
 public:
  /// Becomes `window`'s content and follows every change of `layers`; the window and the
  /// layers must outlive the view, which stops following them when destroyed.
  LayerHostView(NSWindow& window, std::vector<Layer*> layers);
  ~LayerHostView() override;

  /// Where each layer shows now, in the widget's coordinates (top-left origin), and its
  /// alpha now (0 when hidden): the animated values.
  std::vector<std::pair<QRectF, double>> placed() const;

  std::optional<double> neededScale() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void follow(const std::optional<Animation>& animation);
  /// The first layer drawn: the topmost one shown whole over the window and opaque (the
  /// ones under it are hidden by it), or the bottom one.
  std::size_t lowestShown() const;

  NSWindow& window_;
  std::vector<Layer*> layers_;
  SceneAnimator animator_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace trelliq::views
