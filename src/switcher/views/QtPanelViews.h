#pragma once
// The switcher's view library on Qt widgets: the display panels' views, the picture
// windows' layer mirrors and the pointer bridges, and the install step the program runs
// at start. Main thread only.

#include <QPointer>
#include <map>
#include <memory>

#include "switcher/PanelViews.h"
#include "switcher/views/DisplayPanelView.h"
#include "switcher/views/LayerHostView.h"

namespace trelliq::views {

class QtPanelViews : public PanelViews {
 public:
  /// `layout` turns the model into a panel's scene (tests hand in their own).
  explicit QtPanelViews(PanelLayoutFunction layout);
  ~QtPanelViews() override;

  std::unique_ptr<PanelView> makeDisplayPanelView(SwitcherModel& model, int index, PanelGeometry& geometry,
                                                  NSWindow& panel, PanelView::NameFieldHooks hooks) override;
  /// Replaces whatever mirror `window` had with one of `layers`; the layers must outlive
  /// these views or be hosted again.
  void host(NSWindow& window, const std::vector<Layer*>& layers) override;
  /// Lays the bridge of `mouse` over the display panel view in `panel`; nothing when the
  /// panel's content is not one of ours.
  void hostPointer(NSWindow& panel, MouseView& mouse) override;

  /// The mirror set up for `window`, null when none is.
  LayerHostView* hostOf(const NSWindow& window) const;

 private:
  PanelLayoutFunction layout_;
  std::map<const NSWindow*, std::unique_ptr<LayerHostView>> hosts_;
};

/// Makes the program's view library (with the real layout) and installs it for the life
/// of the process; later calls do nothing. Call on the main thread before the switcher
/// makes its panels.
void installPanelViews();

}  // namespace trelliq::views
