#include "switcher/PreviewPanel.h"

#include <algorithm>
#include <cmath>

#include "settings/Settings.h"
#include "switcher/PanelWindowSetup.h"
#include "switcher/model/Metrics.h"
#include "workspace/Private.h"

namespace trelliq {

using panelwindow::black;
using panelwindow::configure;
using panelwindow::contentBounds;
using panelwindow::host;

PreviewPanel::PreviewPanel(SwitcherModel& model) : model_(model) {}

SwitcherPanel& PreviewPanel::window() {
  if (!previewPanel) {
    previewPanel = std::make_unique<SwitcherPanel>(CGRect(), panelwindow::style, NSBackingStoreType::buffered, false);
    configure(*previewPanel, panelwindow::panelLevel, false);
    previewPanel->setIgnoresMouseEvents(true);
    GlassPane& glassPane = pane();
    host(*previewPanel, {&glassPane.haze(), &glassPane.glass(), &picture(), &badge()});
  }
  return *previewPanel;
}

GlassPane& PreviewPanel::pane() {
  if (!previewPane) previewPane = std::make_unique<GlassPane>();
  return *previewPane;
}

Layer& PreviewPanel::picture() {
  if (!previewPicture) {
    previewPicture = std::make_unique<Layer>(Layer::Gravity::resizeAspect);
    previewPicture->setCornerRadius(10);
  }
  return *previewPicture;
}

Layer& PreviewPanel::badge() {
  if (!fullScreenBadge) {
    fullScreenBadge = std::make_unique<Layer>();
    fullScreenBadge->setFrame(CGRect(0, 0, 22, 22));
    fullScreenBadge->setBackground(black(0.55));
    fullScreenBadge->setCornerRadius(6);
    fullScreenBadge->setSymbol({"arrow.up.left.and.arrow.down.right", 10, scene::Weight::bold});
    fullScreenBadge->setAccessibilityDescription("Full screen");
    // It sits in the picture's lower right, in the picture's coordinates.
    fullScreenBadge->setSuperlayer(&picture());
  }
  return *fullScreenBadge;
}

void PreviewPanel::place(const std::optional<CGRect>& content) {
  SwitcherPanel& preview = window();
  if (!content) {
    preview.orderOut(nullptr);
    model_.pictureKeeping().setDrawn(site, {});
    return;
  }
  const CGSize size = Metrics::previewWindow();
  const CGRect frame(std::round(content->midX() - size.width / 2),
                     content->maxY() + Metrics::previewGap - Metrics::margin, size.width, size.height);
  if (!(preview.frame() == frame)) preview.setFrame(frame, true);
  if (!preview.isVisible()) {
    const bool numbered = preview.windowNumber() > 0;
    preview.orderFrontRegardless();
    // The panel gets its number only now; the overlay Space needs that number.
    if (!numbered) Private::keepOnTop({&preview});
  }
  placePreviewGlass();
}

void PreviewPanel::hide() {
  if (previewPanel) previewPanel->orderOut(nullptr);
  model_.pictureKeeping().setDrawn(site, {});
}

std::optional<CGRect> PreviewPanel::glassOnScreen() const {
  if (!previewPanel || !previewPanel->isVisible() || !previewPane || previewPane->glass().isHidden())
    return std::nullopt;
  const CGRect glass = previewPane->glass().frame();
  const CGPoint origin = previewPanel->frame().origin;
  return CGRect(glass.minX() + origin.x, glass.minY() + origin.y, glass.width(), glass.height());
}

void PreviewPanel::setHaze(double strength) { pane().haze().setAlpha(strength); }

std::optional<std::pair<CGImageRef, bool>> PreviewPanel::previewImage(const SwitcherModel& model) {
  if (const WindowInfo* target = model.focusedTarget(); target && target->windowID) {
    const auto& thumbnails = model.thumbnails();
    const auto found = thumbnails.find(*target->windowID);
    if (found == thumbnails.end() || !found->second) return std::nullopt;
    return std::pair{found->second, target->fullScreen};
  }
  const int focused = model.focused();
  if (!model.landsOnDesktop(focused)) return std::nullopt;
  const Cluster* cluster = model.selectedCluster(focused);
  if (!cluster) return std::nullopt;
  const auto& wallpapers = model.wallpapers();
  const auto found = wallpapers.find(cluster->space);
  if (found == wallpapers.end() || !found->second) return std::nullopt;
  return std::pair{found->second, false};
}

CGSize PreviewPanel::pictureSize(CGSize picture) {
  if (picture.width <= 0 || picture.height <= 0) return {};
  const double scale = std::min(Metrics::previewBox.width / picture.width, Metrics::previewBox.height / picture.height);
  return {std::round(picture.width * scale), std::round(picture.height * scale)};
}

void PreviewPanel::placePreviewGlass() {
  GlassPane& glassPane = pane();
  Layer& shown = picture();
  const bool thumbnails = Settings::showThumbnails();
  const auto found = thumbnails ? previewImage(model_) : std::nullopt;
  reportPreviewPicture(thumbnails, found ? found->first : CGImageRef());
  if (!found || found->first->width() <= 0 || found->first->height() <= 0) {
    shown.setHidden(true);
    glassPane.place(std::nullopt, cornerRadius, GlassPane::Motion::instant);
    return;
  }
  const CGRect bounds = contentBounds(window());
  const auto [w, h] =
      pictureSize({static_cast<double>(found->first->width()), static_cast<double>(found->first->height())});
  const CGRect glass(std::round((bounds.width() - w) / 2 - Metrics::previewPadding), Metrics::margin,
                     w + 2 * Metrics::previewPadding, h + 2 * Metrics::previewPadding);
  glassPane.place(glass, cornerRadius, GlassPane::Motion::instant);
  shown.setFrame(glass.insetBy(Metrics::previewPadding, Metrics::previewPadding));
  shown.setContents(found->first);
  shown.setHidden(false);
  Layer& fullScreen = badge();
  fullScreen.setFrame(CGRect(w - 22 - 6, 6, 22, 22));
  fullScreen.setHidden(!found->second);
}

void PreviewPanel::reportPreviewPicture(bool thumbnails, const CGImageRef& image) {
  const WindowInfo* target = model_.focusedTarget();
  const DisplayGroup* display = model_.display(model_.focused());
  PictureKeeping::Sizes drawn;
  if (thumbnails && target && target->windowID && display) {
    // Drawn at the picture's proportions, or the window's until a picture is there.
    CGSize size = image ? CGSize{static_cast<double>(image->width()), static_cast<double>(image->height())}
                        : (target->bounds ? target->bounds->size : CGSize{});
    size = pictureSize(size);
    const double scale = display->screen.backingScaleFactor();
    if (size.width > 0) drawn[*target->windowID] = {size.width * scale, size.height * scale};
  }
  model_.pictureKeeping().setDrawn(site, std::move(drawn));
}

}  // namespace trelliq
