// The switcher's display panels with their pointer handling and the click targets the
// tap reads, the floating preview above the steered panel, and the panels' self-check.
// The ghost and the backdrops are in SwitcherGhost.cpp. Main thread only.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/AppKitWorkspace.h"
#include "platform/CGWindow.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/PanelWindowSetup.h"
#include "switcher/Switcher.h"
#include "switcher/model/Metrics.h"
#include "workspace/Private.h"

namespace trelliq {

using panelwindow::black;
using panelwindow::configure;
using panelwindow::contentBounds;
using panelwindow::host;

namespace {

std::string truncated(double value) {
  if (!std::isfinite(value)) return "0";
  return std::to_string(static_cast<long long>(std::trunc(value)));
}

const char* yesNo(bool value) { return value ? "true" : "false"; }

// The windows above `panel` that overlap `glass` (top-left coordinates), described as
// "Owner #number layer n x,y wxh"; the preview panel never counts.
std::vector<std::string> coveringWindows(std::int64_t panel, const CGRect& glass, std::int64_t preview) {
  std::vector<std::string> found;
  const auto above = CGWindowListCopyWindowInfo(
      kCGWindowListOptionOnScreenOnly | kCGWindowListOptionOnScreenAboveWindow, static_cast<CGWindowID>(panel));
  if (!above) return found;
  for (const platform::PlistValue& entry : *above) {
    const platform::PlistDictionary* info = entry.asDictionary();
    if (!info) continue;
    const platform::PlistDictionary* boundsEntry = platform::dictionaryEntry(*info, kCGWindowBounds);
    CGRect bounds;
    if (!boundsEntry || !CGRectMakeWithDictionaryRepresentation(*boundsEntry, &bounds)) continue;
    if (!bounds.intersects(glass)) continue;
    if (const platform::PlistValue* alpha = entry.find(kCGWindowAlpha); alpha && alpha->isNumber()) {
      if (alpha->asDouble().value_or(0) <= 0) continue;
    }
    const auto number = platform::integerEntry(*info, kCGWindowNumber);
    if (number && *number == preview) continue;
    const auto owner = platform::stringEntry(*info, kCGWindowOwnerName);
    const auto layer = platform::integerEntry(*info, kCGWindowLayer);
    found.push_back((owner ? Diagnostics::escapeForeign(*owner) : std::string("?")) + " #" +
                    (number ? std::to_string(*number) : std::string("?")) + " layer " +
                    (layer ? std::to_string(*layer) : std::string("?")) + " " + truncated(bounds.origin.x) + "," +
                    truncated(bounds.origin.y) + " " + truncated(bounds.size.width) + "x" +
                    truncated(bounds.size.height));
  }
  return found;
}

}  // namespace

// ======================================================================================
// Panes
// ======================================================================================

Switcher::Pane::Pane() { glass->setGlassLook(GlassLook::ofPane(usesGlassVariant())); }

void Switcher::Pane::setRadius(double radius) {
  glass->setCornerRadius(radius);
  haze->setCornerRadius(radius);
}

void Switcher::Pane::place(const std::optional<CGRect>& rect, double radius, bool animated) {
  glass->setHidden(!rect);
  haze->setHidden(!rect);
  if (!rect) return;
  setRadius(radius);
  const double animation = animated ? SwitcherTiming::paneMove : 0;
  glass->setFrame(*rect, animation);
  haze->setFrame(*rect, animation);
}

// ======================================================================================
// Panels, hit testing and click targets
// ======================================================================================

Switcher::DisplayPanel& Switcher::panel(int index) {
  if (index < 0) throw std::out_of_range("Switcher::panel: negative display index");
  while (panels.size() <= static_cast<std::size_t>(index)) panels.push_back(makePanel(static_cast<int>(panels.size())));
  return panels[static_cast<std::size_t>(index)];
}

Switcher::DisplayPanel Switcher::makePanel(int index) {
  DisplayPanel made;
  made.window = std::make_unique<SwitcherPanel>(CGRect(), panelStyle, NSBackingStoreType::buffered, false);
  configure(*made.window, panelLevel, false);
  made.window->setAcceptsMouseMovedEvents(true);

  made.geometry = std::make_unique<PanelGeometry>();
  made.geometry->onContentChange = [weak = weak()] {
    if (auto self = weak.lock()) self->placePreview();
  };

  made.mouse = std::make_unique<MouseView>();
  MouseView* mouse = made.mouse.get();
  mouse->host = made.window.get();
  // The mouse view lives as long as the controller, so the weak controller guards both.
  mouse->onMove = [weak = weak(), mouse, index](CGPoint p) {
    if (auto self = weak.lock()) self->pointer(p, *mouse, index, false);
  };
  mouse->onClick = [weak = weak(), mouse, index](CGPoint p) {
    if (auto self = weak.lock()) self->pointer(p, *mouse, index, true);
  };
  // Only the field of the name being edited gets the pointer itself.
  mouse->passesThrough = [weak = weak(), mouse, index](CGPoint p) {
    auto self = weak.lock();
    if (!self) return false;
    const auto& renaming = self->model.renaming();
    if (!renaming || static_cast<std::size_t>(index) >= self->panels.size()) return false;
    const CGRect* field = self->panels[static_cast<std::size_t>(index)].geometry->tiles.find(TileID::name(*renaming));
    return field && field->contains(CGPoint{p.x, mouse->bounds().height() - p.y});
  };

  if (PanelViews* views = PanelViews::installed()) {
    PanelView::NameFieldHooks hooks;
    hooks.submit = [weak = weak()] {
      if (auto self = weak.lock()) self->finishRenaming(true, true);
    };
    hooks.escape = [weak = weak()] {
      if (auto self = weak.lock()) self->finishRenaming(false, false);
    };
    made.view = views->makeDisplayPanelView(model, index, *made.geometry, *made.window, std::move(hooks));
    views->hostPointer(*made.window, *mouse);
  }
  return made;
}

void Switcher::showPanels() {
  const std::vector<DisplayGroup>& displays = model.workspace().displays;
  std::vector<NSWindow*> inUse;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    DisplayPanel& p = panel(static_cast<int>(i));
    const CGRect frame = displays[i].screen.frame();
    if (!(p.window->frame() == frame)) p.window->setFrame(frame, false);
    p.window->orderFrontRegardless();
    if (p.view) p.view->setShown(true);
    inUse.push_back(p.window.get());
  }
  for (std::size_t i = displays.size(); i < panels.size(); ++i) {
    panels[i].window->orderOut(nullptr);
    if (panels[i].view) panels[i].view->setShown(false);
  }
  // A panel's view may place the preview while it is shown: the panels ordered after it
  // would then cover its part on their displays, so it floats above them all again.
  SwitcherPanel& preview = previewPanel();
  if (preview.isVisible()) preview.orderFrontRegardless();
  inUse.push_back(&preview);
  Private::keepOnTop(inUse);
}

void Switcher::pointer(CGPoint point, const MouseView& view, int display, bool click) {
  if (!active || display < 0 || static_cast<std::size_t>(display) >= panels.size()) return;
  // Right after a name was submitted the panel is about to close.
  if (model.justNamed()) return;
  if (model.renaming()) {
    if (click) finishRenaming(true, false);
    return;
  }
  const CGPoint q{point.x, view.bounds().height() - point.y};
  const std::optional<TileID> best = panels[static_cast<std::size_t>(display)].geometry->hitTest(q);

  std::optional<std::string> label;
  if (best && (best->kind() == TileID::Kind::name || best->kind() == TileID::Kind::resetName)) {
    label = best->clusterID();
  }
  if (model.hoveredName() != label) model.hoveredName.set(label);

  if (label) {
    model.selectName(*label, display);
    if (!click) return;
    if (best->kind() == TileID::Kind::resetName) {
      resetName(*label);
    } else {
      startRenaming(*label, display);
    }
    return;
  }
  if (!best) return;
  model.select(*best, display);
  if (click) commit();
}

std::optional<CGRect> Switcher::contentFrame(int display) const {
  if (display < 0 || static_cast<std::size_t>(display) >= panels.size()) return std::nullopt;
  const DisplayGroup* group = model.display(display);
  if (!group) return std::nullopt;
  const CGRect& c = panels[static_cast<std::size_t>(display)].geometry->content();
  if (c.isNull()) return std::nullopt;
  const CGRect s = group->screen.frame();
  return CGRect(s.minX() + c.minX(), s.maxY() - c.maxY(), c.width(), c.height());
}

void Switcher::updateClickTargets() {
  if (!active || !shown) {
    setClickTargets({});
    return;
  }
  std::vector<ClickTarget> targets;
  const int count = static_cast<int>(model.workspace().displays.size());
  for (int i = 0; i < count; ++i) {
    if (const auto frame = contentFrame(i)) targets.push_back({*frame, true});
  }
  // A click on the preview's glass does nothing.
  if (previewPanel_ && previewPanel_->isVisible() && previewPane_ && !previewPane_->glass->isHidden()) {
    const CGRect glass = previewPane_->glass->frame();
    const CGPoint origin = previewPanel_->frame().origin;
    targets.push_back({CGRect(glass.minX() + origin.x, glass.minY() + origin.y, glass.width(), glass.height()), false});
  }
  setClickTargets(std::move(targets));
}

void Switcher::setPanelsTakeKeys(bool takesKeys) {
  for (DisplayPanel& p : panels) p.window->setTakesKeys(takesKeys);
}

// ======================================================================================
// Preview panel
// ======================================================================================

SwitcherPanel& Switcher::previewPanel() {
  if (!previewPanel_) {
    previewPanel_ = std::make_unique<SwitcherPanel>(CGRect(), panelStyle, NSBackingStoreType::buffered, false);
    configure(*previewPanel_, panelLevel, false);
    previewPanel_->setIgnoresMouseEvents(true);
    Pane& pane = previewPane();
    host(*previewPanel_, {pane.haze.get(), pane.glass.get(), &previewPicture(), &fullScreenBadge()});
  }
  return *previewPanel_;
}

Switcher::Pane& Switcher::previewPane() {
  if (!previewPane_) previewPane_ = std::make_unique<Pane>();
  return *previewPane_;
}

Layer& Switcher::previewPicture() {
  if (!previewPicture_) {
    previewPicture_ = std::make_unique<Layer>(Layer::Gravity::resizeAspect);
    previewPicture_->setCornerRadius(10);
  }
  return *previewPicture_;
}

Layer& Switcher::fullScreenBadge() {
  if (!fullScreenBadge_) {
    fullScreenBadge_ = std::make_unique<Layer>();
    fullScreenBadge_->setFrame(CGRect(0, 0, 22, 22));
    fullScreenBadge_->setBackground(black(0.55));
    fullScreenBadge_->setCornerRadius(6);
    fullScreenBadge_->setSymbol("arrow.up.left.and.arrow.down.right", 10, scene::Weight::bold);
    fullScreenBadge_->setAccessibilityDescription("Full screen");
    // It sits in the picture's lower right, in the picture's coordinates.
    fullScreenBadge_->setSuperlayer(&previewPicture());
  }
  return *fullScreenBadge_;
}

bool Switcher::usesGlassVariant() { return GlassLook::systemOffersVariant(); }

CGSize Switcher::previewPictureSize(CGSize picture) {
  if (picture.width <= 0 || picture.height <= 0) return {};
  const double scale = std::min(Metrics::previewBox.width / picture.width, Metrics::previewBox.height / picture.height);
  return {std::round(picture.width * scale), std::round(picture.height * scale)};
}

void Switcher::reportPreviewPicture(bool thumbnails, const CGImageRef& image) {
  const WindowInfo* target = model.focusedTarget();
  const DisplayGroup* display = model.display(model.focused());
  PictureKeeping::Sizes drawn;
  if (thumbnails && target && target->windowID && display) {
    // Drawn at the picture's proportions, or the window's until a picture is there.
    CGSize size = image ? CGSize{static_cast<double>(image->width()), static_cast<double>(image->height())}
                        : (target->bounds ? target->bounds->size : CGSize{});
    size = previewPictureSize(size);
    const double scale = display->screen.backingScaleFactor();
    if (size.width > 0) drawn[*target->windowID] = {size.width * scale, size.height * scale};
  }
  model.pictureKeeping.setDrawn(previewSite, std::move(drawn));
}

std::optional<std::pair<CGImageRef, bool>> Switcher::previewImage() const {
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

void Switcher::placePreview() {
  SwitcherPanel& preview = previewPanel();
  const std::optional<CGRect> content =
      active && shown && Settings::showThumbnails() ? contentFrame(model.focused()) : std::nullopt;
  if (!content) {
    preview.orderOut(nullptr);
    model.pictureKeeping.setDrawn(previewSite, {});
    updateClickTargets();
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
  updateClickTargets();
}

void Switcher::placePreviewGlass() {
  Pane& pane = previewPane();
  Layer& picture = previewPicture();
  const bool thumbnails = Settings::showThumbnails();
  const auto image = thumbnails ? previewImage() : std::nullopt;
  reportPreviewPicture(thumbnails, image ? image->first : CGImageRef());
  if (!image || image->first->width() <= 0 || image->first->height() <= 0) {
    picture.setHidden(true);
    pane.place(std::nullopt, previewCornerRadius, false);
    return;
  }
  const CGRect bounds = contentBounds(previewPanel());
  const auto [w, h] = previewPictureSize({static_cast<double>(image->first->width()),
                                           static_cast<double>(image->first->height())});
  const CGRect glass(std::round((bounds.width() - w) / 2 - Metrics::previewPadding), Metrics::margin,
                     w + 2 * Metrics::previewPadding, h + 2 * Metrics::previewPadding);
  pane.place(glass, previewCornerRadius, false);
  picture.setFrame(glass.insetBy(Metrics::previewPadding, Metrics::previewPadding));
  picture.setContents(image->first);
  picture.setHidden(false);
  Layer& badge = fullScreenBadge();
  badge.setFrame(CGRect(w - 22 - 6, 6, 22, 22));
  badge.setHidden(!image->second);
}

// ======================================================================================
// Panel self-check
// ======================================================================================

void Switcher::checkPanels() {
  if (!active) return;
  const std::vector<NSScreen> screens = NSScreen::screens();
  if (screens.empty()) return;
  const double top = screens.front().frame().maxY();

  std::set<std::int64_t> onScreen;
  if (const auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly, kCGNullWindowID)) {
    for (const platform::PlistValue& entry : *list) {
      const platform::PlistDictionary* info = entry.asDictionary();
      if (!info) continue;
      if (const auto number = platform::integerEntry(*info, kCGWindowNumber)) onScreen.insert(*number);
    }
  }

  const Workspace& workspace = model.workspace();
  const std::int64_t preview = previewPanel().windowNumber();
  bool problem = false;
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < workspace.displays.size() && i < panels.size(); ++i) {
    const DisplayGroup& group = workspace.displays[i];
    const SwitcherPanel& window = *panels[i].window;
    const std::int64_t number = window.windowNumber();
    const std::optional<CGRect> glass = contentFrame(static_cast<int>(i));

    std::vector<std::string> above;
    if (glass) above = coveringWindows(number, platform::flipRect(*glass, top), preview);

    const bool visible = window.isVisible();
    const bool listed = onScreen.count(number) > 0;
    const bool unoccluded = (window.occlusionState() & NSWindowOcclusionStateVisible) != 0;
    const bool ok = visible && listed && unoccluded && glass && window.frame() == group.screen.frame();
    if (!ok) problem = true;

    std::string line =
        std::string("  ") + (ok ? "ok" : "PROBLEM") + " " + Diagnostics::escapeForeign(group.screen.localizedName());
    if (static_cast<int>(i) == model.focused()) line += " (steered)";
    line += ": panel #" + std::to_string(number);
    line +=
        std::string(" visible=") + yesNo(visible) + " onScreen=" + yesNo(listed) + " unoccluded=" + yesNo(unoccluded);
    line += std::string(" activeSpace=") + yesNo(window.isOnActiveSpace());
    line += " spaces=" + spaceList(Private::spaces(static_cast<std::uint32_t>(std::max<std::int64_t>(number, 0))));
    line += " frame=" + platform::describe(window.frame()) + " screen=" + platform::describe(group.screen.frame());
    line += " glass=" + (glass ? platform::describe(*glass) : std::string("none"));
    line += " alpha=" + platform::describe(window.alphaValue());
    line += " clusters=" + std::to_string(group.clusters().size());
    if (!above.empty()) {
      line += " above it: ";
      for (std::size_t k = 0; k < above.size(); ++k) line += (k ? "; " : "") + above[k];
    }
    lines.push_back(std::move(line));
  }

  const std::size_t displays = workspace.displays.size();
  if (panels.size() < displays || screens.size() != displays) {
    lines.push_back("  PROBLEM " + std::to_string(displays) + " displays loaded, " + std::to_string(screens.size()) +
                    " screens, " + std::to_string(panels.size()) + " panels");
    problem = true;
  }

  const std::optional<std::string> shot = Diagnostics::screenshot();
  std::string entry = "opened";
  if (problem) entry += " WITH A MISSING PANEL";
  entry += ": ";
  if (shot) entry += "screenshot " + *shot + ", ";
  entry += "showing " + spaceList(currentSpacesSorted()) + ", front ";
  const auto front = NSWorkspace::shared().frontmostApplication();
  // Names come from other programs: escaped, so they cannot start a forged line.
  entry += front && front->localizedName() ? Diagnostics::escapeForeign(*front->localizedName()) : std::string("?");
  for (const std::string& line : lines) entry += "\n" + line;
  Diagnostics::log(entry);
}

}  // namespace trelliq
