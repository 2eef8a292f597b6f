#pragma once
// The drawn content of one display's panel, set as the panel window's content. It lays
// the model out for its display at every announced change and whenever the "names"
// option changes, replaces the panel geometry's tile frames and content rectangle with
// what the layout reports, animates to the new tree with the change's animation, and
// shows a real text field where the tree has a name field: bound to the model's name
// draft, Return submitting and Escape leaving through the hooks. The pointer bridge, once
// attached, lies over everything. Main thread only.

#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/AppKitWorkspace.h"
#include "platform/OwnWindowSurface.h"
#include "switcher/PanelViews.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/model/PanelGeometry.h"
#include "switcher/model/SwitcherModel.h"
#include "switcher/views/NameLineEdit.h"
#include "switcher/views/PointerBridge.h"
#include "switcher/views/SceneAnimator.h"
#include "switcher/views/SystemFont.h"

namespace trelliq::views {

/// Turns the model into one panel's scene (the real layout in the program).
using PanelLayoutFunction = std::function<scene::PanelScene(const scene::PanelLayoutInput&)>;

class DisplayPanelView : public QWidget, public PanelView, public platform::DamageReportingView {
 public:
  /// Subscribes to `model` and draws display `index` in `panel`, whose content it becomes.
  /// Model, geometry and panel must outlive the view.
  DisplayPanelView(SwitcherModel& model, int index, PanelGeometry& geometry, NSWindow& panel,
                   PanelView::NameFieldHooks hooks, PanelLayoutFunction layout);
  ~DisplayPanelView() override;

  void setShown(bool shown) override;
  void focusNameField() override;

  /// Lays the pointer bridge of `mouse` over the content (replacing an earlier one).
  void attachPointer(const MouseView& mouse);

  bool isShown() const { return shown_; }
  /// The text field while a name is edited here, else null.
  NameLineEdit* nameField() const;
  PointerBridge* pointerBridge() const { return bridge_; }
  const SceneAnimator& animator() const { return animator_; }
  /// What has to be drawn again since the last call (the surface's next frame), in the
  /// view's coordinates; empties it.
  QRegion takeDamage() override;

  /// Lays out again and animates with `animation`; the model's changes call it.
  void rebuild(const std::optional<Animation>& animation);

  /// Where the panel may ink until what moves has come to rest: the tree marked when the
  /// last change began and the one it moves to, their shadows and a margin for a
  /// settle's overshoot; nothing while the panel is not shown.
  QRect drawnArea() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void placeNameField(const scene::Node& root);
  static bool readNamesOption();
  /// Animates with `animation` to `root` (the tree just laid out or patched) and marks
  /// what it changes for drawing.
  void showTree(scene::Node root, const std::optional<Animation>& animation);
  /// Marks for drawing what the animator's new target changes, and where the panel may
  /// ink until it comes to rest.
  void markTreeChanged();
  /// Puts the pictures that replaced ones this panel's tiles already draw into its tiles
  /// and its tree in place of the old ones, letting go of those, without laying the panel
  /// out again (a picture changes no frame). False, changing nothing, when a window drawn
  /// here gained or lost its picture: its placeholder and its picture are different nodes.
  bool swapPictures();
  /// Tells the model how large this panel draws each window's picture, from the tree's
  /// `pictured` nodes (see `scene::PanelScene`).
  void reportPictures(const std::vector<std::pair<std::uint32_t, CGSize>>& pictured);
  /// Marks what changed since the last mark for drawing again.
  void markChanged();
  /// Whether a change of `field` can alter this panel's tree: a step or a picture on
  /// another display, or a picture of a window no tile here draws, cannot.
  bool touches(ModelField field) const;
  /// Keeps the slices of the model that `touches` compares, as the last layout saw them.
  void rememberInputs();
  void namesOptionMayHaveChanged();
  QString helpAt(QPointF point) const;

  SwitcherModel& model_;
  const int index_;
  PanelGeometry& geometry_;
  NSWindow& panel_;
  PanelView::NameFieldHooks hooks_;
  PanelLayoutFunction layout_;
  FontMeasure measure_;
  SceneAnimator animator_;
  scene::ScreenTileMemo screenTiles_;
  ObserverToken token_ = 0;
  NSNotificationToken defaultsWatch_;
  bool namesAlways_ = false;
  GlassLook glass_;
  bool shown_ = false;
  CGRect frame_;                   // the panel's frame, read when it is shown or the snapshot changes
  NameLineEdit* field_ = nullptr;  // a child, made on first use and hidden when not editing
  QPointer<PointerBridge> bridge_;
  struct Inputs {
    std::optional<std::string> selection;
    std::optional<int> windowPick;
    std::vector<std::pair<std::uint32_t, const CGImage*>> thumbnails;
    std::vector<std::pair<std::int64_t, const CGImage*>> wallpapers;
  };
  Inputs seen_;
  QRegion dirty_;
  std::shared_ptr<const scene::Node> marked_;  // the tree as it showed when last marked
  QRectF reach_;                               // where the tree marked at the last change and the tree it moves to ink
};

}  // namespace trelliq::views
