#pragma once
// One panel per display, made on demand and never removed: the window, the geometry its
// view reports, the mouse view over it and the panel view that draws the model. It frames
// and orders the panels for the snapshot's displays and answers where their content lies.
// What a pointer or the name field does is the owner's, through the hooks. Main thread only.

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Geometry.h"
#include "switcher/PanelViews.h"
#include "switcher/SwitcherPanel.h"
#include "switcher/model/OpenState.h"
#include "switcher/model/PanelGeometry.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {

/// One display's panel. Members are heap-held so views and callbacks may keep pointers to them.
struct DisplayPanel {
  std::unique_ptr<SwitcherPanel> window;
  std::unique_ptr<PanelGeometry> geometry;
  std::unique_ptr<MouseView> mouse;
  /// Null while no view library is installed.
  std::unique_ptr<PanelView> view;
};

class DisplayPanels {
 public:
  /// What the panels report to their owner.
  struct Hooks {
    /// A panel's content moved or changed size.
    std::function<void()> contentChanged;
    /// The mouse view of `display` reports a move or a release (its own coordinates).
    std::function<void(CGPoint point, const MouseView& view, int display, bool click)> pointer;
    /// The name field of a panel was submitted or escaped.
    PanelView::NameFieldHooks nameField;
  };

  DisplayPanels(SwitcherModel& model, Hooks hooks);
  DisplayPanels(const DisplayPanels&) = delete;
  DisplayPanels& operator=(const DisplayPanels&) = delete;

  /// Display `index`'s panel, making lower ones first; throws `std::out_of_range` for a
  /// negative index. The reference stays valid.
  DisplayPanel& panel(int index);
  /// The panels made so far, by display index.
  std::size_t count() const { return panels.size(); }
  /// Throws `std::out_of_range` past `count`.
  const DisplayPanel& at(std::size_t index) const { return panels.at(index); }
  std::deque<DisplayPanel>::const_iterator begin() const { return panels.begin(); }
  std::deque<DisplayPanel>::const_iterator end() const { return panels.end(); }

  /// Frames and orders in the panels of the snapshot's displays, the rest out, and keeps
  /// them and `preview` on top (`preview` floats above them again when it is visible).
  void showPanels(NSWindow& preview);
  /// Orders every panel out.
  void hide();
  /// The panel content of `display` in screen coordinates; none before it is reported.
  std::optional<CGRect> contentFrame(int display) const;
  /// One click target per display of the snapshot whose content is known.
  std::vector<ClickTarget> clickTargets() const;
  /// Every panel's `takesKeys`.
  void setTakesKeys(bool takesKeys);

 private:
  DisplayPanel makePanel(int index);

  SwitcherModel& model_;
  Hooks hooks_;
  std::deque<DisplayPanel> panels;
};

}  // namespace trelliq
