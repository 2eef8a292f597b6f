#pragma once
// The floating preview above the steered display's panel: the selected window's picture
// (or the selected desktop's) on a glass pane, with a badge for a full-screen window. It
// is made on first use and kept for the process. Main thread only.

#include <memory>
#include <optional>
#include <utility>

#include "platform/Geometry.h"
#include "platform/Image.h"
#include "switcher/GlassPane.h"
#include "switcher/PanelViews.h"
#include "switcher/SwitcherPanel.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {

class PreviewPanel {
 public:
  /// Where the preview reports the picture it draws (the display panels use their index).
  static constexpr int site = -1;
  static constexpr double cornerRadius = 18;

  /// Reads the selection and the pictures of `model`, and reports to it what it draws.
  explicit PreviewPanel(SwitcherModel& model);
  PreviewPanel(const PreviewPanel&) = delete;
  PreviewPanel& operator=(const PreviewPanel&) = delete;

  // Made on first use (the window makes the others), kept for the process.
  SwitcherPanel& window();
  GlassPane& pane();
  Layer& picture();
  Layer& badge();

  /// Shows or moves the preview above `content` (screen coordinates) and sizes the glass
  /// to the picture; no content orders it out and reports that it draws nothing.
  void place(const std::optional<CGRect>& content);
  /// Orders it out (when made) and reports that it draws nothing.
  void hide();
  /// The glass in screen coordinates while the preview is visible; none otherwise.
  std::optional<CGRect> glassOnScreen() const;
  /// The haze's strength under the glass.
  void setHaze(double strength);

  /// The picture to show and whether it is a full-screen window; none without one.
  static std::optional<std::pair<CGImageRef, bool>> previewImage(const SwitcherModel& model);
  /// The size in points the preview draws a picture of `picture`'s proportions at.
  static CGSize pictureSize(CGSize picture);

 private:
  /// Sizes the glass and the picture to `image`, or hides them.
  void placePreviewGlass();
  /// Tells the model which window's picture the preview draws now, and how large.
  void reportPreviewPicture(bool thumbnails, const CGImageRef& image);

  SwitcherModel& model_;
  std::unique_ptr<SwitcherPanel> previewPanel;
  std::unique_ptr<GlassPane> previewPane;
  std::unique_ptr<Layer> previewPicture;
  std::unique_ptr<Layer> fullScreenBadge;
};

}  // namespace trelliq
