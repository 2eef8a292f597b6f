#pragma once
// The seam between the switcher controller and whatever draws its windows. The controller
// keeps the state of every picture surface (ghost, washes, veils, destinations, the
// preview's glass, haze, picture and badge) in plain `Layer` values and hands each display
// panel a `MouseView` and, when a view library is installed, a `PanelView`. Without one
// (the controller's tests) the windows are still real windows of the window server and
// the layers still hold what they would show; tests report tile and content frames into
// `PanelGeometry` where a view would. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/AppKitWindows.h"
#include "platform/Geometry.h"
#include "platform/Image.h"
#include "switcher/model/GlassLook.h"
#include "switcher/model/Weight.h"

namespace trelliq {

class PanelGeometry;
class SwitcherModel;

/// One picture surface of a window's content: a layer-backed subview as the controller
/// sets it up, property for property as the platform's layer has them. A view that
/// mirrors it sets the change callback and redraws when called.
class Layer {
 public:
  /// How the contents fill the frame.
  enum class Gravity { resize, resizeAspect };
  /// The system surface the layer stands for, drawn under its background and contents:
  /// none, the glass of a pane, or the haze under it (whose strength is the layer's alpha).
  enum class Material { none, glass, haze };

  Layer() = default;
  explicit Layer(Gravity gravity) : gravity_(gravity) {}
  explicit Layer(Material material) : material_(material) {}
  Layer(const Layer&) = delete;
  Layer& operator=(const Layer&) = delete;

  /// In the content's coordinates (bottom-left origin).
  const CGRect& frame() const { return frame_; }
  /// `animation` > 0 asks the mirroring view to move there over that many seconds; the
  /// value stored here is the end frame at once.
  void setFrame(const CGRect& frame, double animation = 0) {
    frame_ = frame;
    animation_ = animation;
    changed();
  }
  /// The duration asked by the last `setFrame` (0: at once).
  double frameAnimation() const { return animation_; }

  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden, changed(); }
  double alpha() const { return alpha_; }
  void setAlpha(double alpha) { alpha_ = alpha, changed(); }
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius) { cornerRadius_ = radius, changed(); }
  /// The picture shown; null shows nothing.
  const CGImageRef& contents() const { return contents_; }
  void setContents(CGImageRef contents) { contents_ = std::move(contents), changed(); }
  /// Whether every picture set leaves no pixel clear: shown whole over the layers under it,
  /// it hides them, and they need not be drawn.
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque, changed(); }
  /// 0xAARRGGBB fill behind the contents; 0 is clear.
  std::uint32_t background() const { return background_; }
  void setBackground(std::uint32_t argb) { background_ = argb, changed(); }
  Gravity gravity() const { return gravity_; }
  Material material() const { return material_; }
  /// The glass's style and private variant (meaningful for the glass material only).
  const GlassLook& glassLook() const { return glassLook_; }
  void setGlassLook(GlassLook look) { glassLook_ = look, changed(); }
  /// The layer it sits in: its frame is then in that layer's coordinates (bottom-left
  /// origin) and it moves with it. Null: the content's coordinates. Not owned.
  const Layer* superlayer() const { return superlayer_; }
  void setSuperlayer(const Layer* layer) { superlayer_ = layer, changed(); }
  /// A system symbol drawn white in the middle of the layer, `size` points tall; an empty
  /// name draws none.
  struct Symbol {
    std::string name;
    double size = 0;
    scene::Weight weight = scene::Weight::regular;
  };
  const Symbol& symbol() const { return symbol_; }
  void setSymbol(Symbol symbol) { symbol_ = std::move(symbol), changed(); }
  /// What assistive technology reads for the layer; empty for nothing.
  const std::string& accessibilityDescription() const { return accessibilityDescription_; }
  void setAccessibilityDescription(std::string text) { accessibilityDescription_ = std::move(text), changed(); }

  /// `changed` is called after every change, with the layer; null calls nothing. One
  /// callback at a time: a new one replaces the last.
  void setOnChange(std::function<void(const Layer&)> changed) { onChange_ = std::move(changed); }
  /// Whether a change callback is set, that is whether a view mirrors the layer.
  bool isMirrored() const { return static_cast<bool>(onChange_); }

 private:
  void changed() {
    if (onChange_) onChange_(*this);
  }
  std::function<void(const Layer&)> onChange_;
  CGRect frame_;
  double animation_ = 0;
  bool hidden_ = false;
  double alpha_ = 1;
  double cornerRadius_ = 0;
  CGImageRef contents_;
  bool opaque_ = false;
  std::uint32_t background_ = 0;
  Gravity gravity_ = Gravity::resize;
  Material material_ = Material::none;
  GlassLook glassLook_;
  const Layer* superlayer_ = nullptr;
  Symbol symbol_;
  std::string accessibilityDescription_;
};

/// The transparent view over a display panel's content that turns pointer events into
/// calls on the controller. Points are in its own coordinates (bottom-left origin, the
/// panel's full size). A button press is swallowed; a release reports `onClick`.
struct MouseView {
  /// The panel it covers; its bounds follow the panel's frame.
  const NSWindow* host = nullptr;
  CGRect bounds() const {
    if (!host) return CGRect();
    const CGRect f = host->frame();
    return CGRect(0, 0, f.width(), f.height());
  }
  std::function<void(CGPoint)> onMove;
  std::function<void(CGPoint)> onClick;
  /// True where the event must reach the view beneath (the name field being edited).
  std::function<bool(CGPoint)> passesThrough;
};

/// The drawn content of one display's panel (the panel view). It draws the model for its
/// display, reports frames into its `PanelGeometry` and shows the name field while the
/// model's `renaming` names one of its tiles.
class PanelView {
 public:
  /// What the name field calls: on submit, and on Escape.
  struct NameFieldHooks {
    std::function<void()> submit;
    std::function<void()> escape;
  };
  virtual ~PanelView() = default;
  /// The panel was ordered in (true) or out (false).
  virtual void setShown(bool shown) = 0;
  /// Renaming began on this display: give the name field the keyboard focus.
  virtual void focusNameField() = 0;
};

/// The view library's entry points. The views issue installs one at start-up; nothing is
/// installed in the controller's own tests.
class PanelViews {
 public:
  virtual ~PanelViews() = default;

  /// Builds the view of display `index`'s panel inside `panel` (below the mouse view).
  virtual std::unique_ptr<PanelView> makeDisplayPanelView(SwitcherModel& model, int index, PanelGeometry& geometry,
                                                          NSWindow& panel, PanelView::NameFieldHooks hooks) = 0;
  /// Puts `layers` (bottom to top) into `window`'s content and mirrors their changes.
  virtual void host(NSWindow& window, const std::vector<Layer*>& layers) = 0;
  /// Lays `mouse` over the content of display panel `panel` (above its panel view), so
  /// that the pointer over the panel reaches it. `mouse` outlives the panel's view.
  virtual void hostPointer(NSWindow& panel, MouseView& mouse) {}

  /// The installed library, null when none is. Main thread.
  static PanelViews* installed() { return slot(); }
  /// Installs `views` (null removes it); the caller keeps ownership.
  static void install(PanelViews* views) { slot() = views; }

 private:
  static PanelViews*& slot() {
    static PanelViews* views = nullptr;
    return views;
  }
};

}  // namespace trelliq
