#include "switcher/views/DisplayPanelView.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "settings/DefaultsKeys.h"
#include "settings/Settings.h"
#include "switcher/layout/TileParts.h"
#include "switcher/views/ScenePainter.h"

namespace trelliq::views {

namespace {

using scene::Node;

// Where a node lies in the root's parent's coordinates: a node only moves and scales
// evenly about its anchor, so a scale and an offset say it (a full transform per node was
// most of a walk over a panel's thousands of nodes).
struct Placed {
  double scale = 1, x = 0, y = 0;
  QRectF bounds(const Node& node) const {
    return QRectF(x, y, node.frame.size.width * scale, node.frame.size.height * scale);
  }
};

// Calls `visit(node, placed)` for every node in drawing order, placed as the painter
// places it, until `visit` answers true.
template <class Visit>
bool walk(const Node& node, const Placed& parent, Visit&& visit) {
  Placed p = parent;
  const double ax = node.anchor.x * node.frame.size.width, ay = node.anchor.y * node.frame.size.height;
  // The node's own point (u, v) lies at origin + anchor + (u, v − anchor) × scale in its
  // parent's coordinates.
  const double ox = node.frame.origin.x + ax * (1 - node.scale), oy = node.frame.origin.y + ay * (1 - node.scale);
  p.x = parent.x + ox * parent.scale, p.y = parent.y + oy * parent.scale;
  p.scale = parent.scale * node.scale;
  if (visit(node, p)) return true;
  for (const Node& child : node.children) {
    if (walk(child, p, visit)) return true;
  }
  return false;
}

template <class Key, class Value>
std::optional<Value> entry(const std::map<Key, Value>& map, const Key& key) {
  const auto found = map.find(key);
  return found == map.end() ? std::nullopt : std::optional<Value>(found->second);
}

template <class Key>
const CGImage* pictureOf(const std::map<Key, CGImageRef>& pictures, const Key& key) {
  const auto found = pictures.find(key);
  return found == pictures.end() ? nullptr : found->second.get();
}

template <class Key>
bool anyChanged(const std::vector<std::pair<Key, const CGImage*>>& seen, const std::map<Key, CGImageRef>& now) {
  for (const auto& [key, picture] : seen) {
    if (pictureOf(now, key) != picture) return true;
  }
  return false;
}

}  // namespace

DisplayPanelView::DisplayPanelView(SwitcherModel& model, int index, PanelGeometry& geometry, NSWindow& panel,
                                   PanelView::NameFieldHooks hooks, PanelLayoutFunction layout)
    : model_(model),
      index_(index),
      geometry_(geometry),
      panel_(panel),
      hooks_(std::move(hooks)),
      layout_(std::move(layout)) {
  setAttribute(Qt::WA_TranslucentBackground);
  animator_.setOnFrame([this] { markChanged(); });
  // A panel that is ordered out follows the model only when it is shown again: opening a
  // session changes the model many times before the panels show.
  token_ = model_.subscribe([this](const ModelChange& change) {
    if (!shown_ || !touches(change.field)) return;
    // The panel is framed to its display when it is ordered in; a new snapshot may come
    // with new displays.
    if (change.field == ModelField::workspace) frame_ = panel_.frame();
    if (change.field == ModelField::thumbnails && swapPictures()) return;
    rebuild(change.animation);
  });
  // The option is kept here and followed through the change notification, so a change
  // shows at once and a rebuild never goes to the defaults for it.
  namesAlways_ = readNamesOption();
  // The plates are a fresh pane's glass; the window server composes its style behind them.
  glass_ = GlassLook::ofPane(GlassLook::systemOffersVariant());
  panel_.setGlassStyle(glass_.style);
  QPointer<DisplayPanelView> self(this);
  defaultsWatch_ = NSNotificationCenter::defaultCenter().addObserver(
      NSUserDefaultsDidChangeNotification, nullptr, &platform::mainQueue(), [self](const NSNotification&) {
        if (self) self->namesOptionMayHaveChanged();
      });
  panel_.setContentView(this);
  frame_ = panel_.frame();
  rebuild(std::nullopt);
}

DisplayPanelView::~DisplayPanelView() {
  NSNotificationCenter::defaultCenter().removeObserver(defaultsWatch_);
  model_.unsubscribe(token_);
  if (field_ && panel_.firstResponder() == field_) panel_.makeFirstResponder(nullptr);
  if (panel_.contentView() == this) panel_.setContentView(nullptr);
}

bool DisplayPanelView::readNamesOption() {
  return Settings::defaults().stringForKey(defaultskey::names) == std::optional<std::string>("always");
}

void DisplayPanelView::namesOptionMayHaveChanged() {
  const bool always = readNamesOption();
  if (always == namesAlways_) return;
  namesAlways_ = always;
  if (shown_) rebuild(std::nullopt);
}

void DisplayPanelView::setShown(bool shown) {
  // Ordered out, the panel draws nothing: what it published goes, so ordering it in again
  // never shows the last session's panel for a frame.
  if (shown_ && !shown) update();
  shown_ = shown;
  if (!shown) model_.pictureKeeping().setDrawn(index_, {});
  // The panel was framed to its display just before it was ordered in.
  if (shown) {
    namesAlways_ = readNamesOption();
    // What the panel showed before it was ordered out is not kept: all of it is drawn anew.
    marked_.reset();
    frame_ = panel_.frame();
    rebuild(std::nullopt);
  }
}

void DisplayPanelView::focusNameField() {
  NameLineEdit* field = nameField();
  if (!field) return;
  field->setFocus(Qt::OtherFocusReason);
  panel_.makeFirstResponder(field);
}

NameLineEdit* DisplayPanelView::nameField() const { return field_ && !field_->isHidden() ? field_ : nullptr; }

void DisplayPanelView::attachPointer(const MouseView& mouse) {
  delete bridge_.data();
  bridge_ = new PointerBridge(mouse, this);
  bridge_->setHelpAt([this](QPointF p) { return helpAt(p); });
  bridge_->show();
}

void DisplayPanelView::rebuild(const std::optional<Animation>& animation) {
  const CGRect& frame = frame_;
  const QSize size(static_cast<int>(std::lround(frame.width())), static_cast<int>(std::lround(frame.height())));
  // Never sized to nothing (a panel laid out before it is framed to its display): a view
  // shown with no size is unmapped, and shown again when it grows, which draws the first
  // session's panel whole a second time.
  if (this->size() != size && !size.isEmpty()) {
    resize(size);
    // A widget that is not on screen gets its resize event only when shown, so the bridge
    // is fitted here too.
    if (bridge_) bridge_->setGeometry(rect());
  }
  scene::PanelScene built =
      layout_({model_, index_, CGSize{frame.width(), frame.height()}, namesAlways_, measure_, glass_, &screenTiles_});
  rememberInputs();
  if (shown_) reportPictures(built.pictured);
  geometry_.tiles = built.frames;
  geometry_.setContent(built.content);
  placeNameField(built.root);
  showTree(std::move(built.root), animation);
}

void DisplayPanelView::showTree(scene::Node root, const std::optional<Animation>& animation) {
  animator_.show(std::move(root), animation);
  markTreeChanged();
}

void DisplayPanelView::markTreeChanged() {
  // What moves now goes from the tree on the surface to the new one: between them, so
  // where either inks bounds every frame until the next change.
  reach_ = ScenePainter::extent(animator_.target());
  if (marked_) reach_ |= ScenePainter::extent(*marked_);
  markChanged();
}

bool DisplayPanelView::swapPictures() {
  scene::ScreenTileMemo::PictureSwap swap;
  // Tiles this panel draws changed pictures, yet none it kept (a layout that made them
  // elsewhere): laid out anew.
  if (!screenTiles_.swapPictures(model_.thumbnails(), swap) || !swap.windows) return false;
  if (!swap.renewed.empty()) {
    std::optional<Node> tree = swap.in(animator_.target());
    // A tile the tree does not hold as it was kept: laid out anew, from the tiles as swapped.
    if (!tree) return false;
    animator_.replace(std::move(*tree));
    markTreeChanged();
  }
  rememberInputs();
  return true;
}

bool DisplayPanelView::touches(ModelField field) const {
  switch (field) {
    case ModelField::selection:
      return entry(model_.selection(), index_) != seen_.selection;
    case ModelField::windowPick:
      return entry(model_.windowPick(), index_) != seen_.windowPick;
    case ModelField::thumbnails:
      return anyChanged(seen_.thumbnails, model_.thumbnails());
    case ModelField::wallpapers:
      return anyChanged(seen_.wallpapers, model_.wallpapers());
    default:
      return true;
  }
}

void DisplayPanelView::rememberInputs() {
  // A panel reads only its own display's entries of the steering maps, the pictures of the
  // windows its screen tiles draw and the wallpapers of its desktop and screen tiles.
  seen_.selection = entry(model_.selection(), index_);
  seen_.windowPick = entry(model_.windowPick(), index_);
  seen_.thumbnails.clear();
  seen_.wallpapers.clear();
  const DisplayGroup* display = model_.display(index_);
  if (!display) return;
  for (const SpaceGroup& group : display->spaces) {
    for (const Cluster& c : group.clusters) {
      if (c.screen) {
        for (const WindowInfo& w : c.windows) {
          if (w.windowID) seen_.thumbnails.emplace_back(*w.windowID, pictureOf(model_.thumbnails(), *w.windowID));
        }
      }
      if (c.screen || c.isDesktop()) seen_.wallpapers.emplace_back(c.space, pictureOf(model_.wallpapers(), c.space));
    }
  }
}

void DisplayPanelView::reportPictures(const std::vector<std::pair<std::uint32_t, CGSize>>& pictured) {
  const DisplayGroup* display = model_.display(index_);
  const double scale = display ? display->screen.backingScaleFactor() : 1;
  PictureKeeping::Sizes sizes;
  for (const auto& [window, drawn] : pictured) {
    CGSize& size = sizes[window];
    size = {std::max(size.width, drawn.width * scale), std::max(size.height, drawn.height * scale)};
  }
  model_.pictureKeeping().setDrawn(index_, std::move(sizes));
}

void DisplayPanelView::markChanged() {
  // Only where the tree now draws differently from the tree last marked: the rest of the
  // display, and of the panel, stays as it was drawn.
  std::shared_ptr<const scene::Node> now =
      animator_.isAnimating() ? std::make_shared<const scene::Node>(animator_.displayed()) : animator_.sharedTarget();
  std::vector<QRectF> areas;
  ScenePainter::damage(marked_.get(), now.get(), areas);
  marked_ = std::move(now);
  if (areas.empty()) return;
  QRegion region;
  if (areas.size() > 24) {
    QRectF all;
    for (const QRectF& r : areas) all |= r;
    areas = {all};
  }
  for (const QRectF& r : areas) region += r.toAlignedRect().adjusted(-2, -2, 2, 2) & rect();
  if (region.isEmpty()) return;
  dirty_ += region;
  // The surface showing the panel draws what it is told of; Qt's own paint pass over the
  // same region, asked for as well, would draw it all a second time.
  if (damaged) {
    damaged();
  } else {
    update(region);
  }
}

QRect DisplayPanelView::drawnArea() const {
  if (!shown_) return {};
  // A settle overshoots its rest by a little; the name field is a child of its own.
  constexpr int kMargin = 16;
  QRectF area = reach_;
  if (field_ && !field_->isHidden()) area |= QRectF(field_->geometry());
  if (area.isEmpty()) return {};
  return area.toAlignedRect().adjusted(-kMargin, -kMargin, kMargin, kMargin) & rect();
}

QRegion DisplayPanelView::takeDamage() { return std::exchange(dirty_, QRegion()); }

void DisplayPanelView::placeNameField(const Node& root) {
  const scene::NameField* found = nullptr;
  QRectF rect;
  double scale = 1;
  walk(root, Placed(), [&](const Node& node, const Placed& p) {
    found = std::get_if<scene::NameField>(&node.content);
    if (!found) return false;
    rect = p.bounds(node);
    scale = p.scale;
    return true;
  });
  if (!found) {
    if (field_ && !field_->isHidden()) {
      if (panel_.firstResponder() == field_) panel_.makeFirstResponder(nullptr);
      field_->hide();
    }
    return;
  }
  if (!field_) {
    field_ = new NameLineEdit(this);
    field_->setListener({.submit =
                             [this] {
                               if (hooks_.submit) hooks_.submit();
                             },
                         .escape =
                             [this] {
                               if (hooks_.escape) hooks_.escape();
                             },
                         .edited = [this](const std::string& text) { model_.nameDraft.set(text); }});
  }
  field_->setFont(systemFont(found->size * scale, found->weight));
  field_->setPlaceholderText(QString::fromStdString(found->placeholder));
  field_->showText(found->text);
  field_->setGeometry(rect.toAlignedRect());
  field_->show();
  // The bridge stays on top of the field.
  if (bridge_) bridge_->raise();
}

QString DisplayPanelView::helpAt(QPointF point) const {
  QString help;
  walk(animator_.target(), Placed(), [&](const Node& node, const Placed& p) {
    if (!node.help.empty() && p.bounds(node).contains(point)) help = QString::fromStdString(node.help);
    return false;
  });
  return help;
}

void DisplayPanelView::paintEvent(QPaintEvent*) {
  // Between being ordered in and shown the panel still holds the tree of its last
  // showing (or of its making, laid out for no display): it draws nothing until shown.
  if (!shown_) return;
  QPainter painter(this);
  // The tree last marked is what shows until the next frame marks another: the window's
  // surface keeps the pixels of earlier frames wherever the marks left them alone, so
  // whatever is drawn must be that tree, however much later the drawing comes.
  if (marked_) {
    ScenePainter::paint(painter, *marked_);
  } else if (animator_.isAnimating()) {
    ScenePainter::paint(painter, animator_.displayed());
  } else {
    ScenePainter::paint(painter, animator_.target());
  }
}

void DisplayPanelView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (bridge_) bridge_->setGeometry(rect());
}

}  // namespace trelliq::views
