#include "switcher/views/DisplayPanelView.h"

#include <QPainter>
#include <QTransform>
#include <cmath>
#include <utility>

#include "settings/Settings.h"
#include "switcher/views/ScenePainter.h"

namespace trelliq::views {

namespace {

using scene::Node;

// Calls `visit(node, transform)` for every node in drawing order, with the transform from
// the node's own coordinates to the root's parent's, as the painter applies it.
template <class Visit>
void walk(const Node& node, const QTransform& parent, Visit&& visit) {
  QTransform local;
  local.translate(node.frame.origin.x, node.frame.origin.y);
  if (node.scale != 1) {
    const double ax = node.anchor.x * node.frame.size.width, ay = node.anchor.y * node.frame.size.height;
    local.translate(ax, ay);
    local.scale(node.scale, node.scale);
    local.translate(-ax, -ay);
  }
  const QTransform t = local * parent;
  visit(node, t);
  for (const Node& child : node.children) walk(child, t, visit);
}

QRectF boundsOf(const Node& node) { return QRectF(0, 0, node.frame.size.width, node.frame.size.height); }

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
  animator_.onFrame = [this] { update(); };
  // A panel that is ordered out follows the model only when it is shown again: opening a
  // session changes the model many times before the panels show.
  token_ = model_.subscribe([this](const ModelChange& change) {
    if (shown_) rebuild(change.animation);
  });
  panel_.setContentView(this);
  rebuild(std::nullopt);
}

DisplayPanelView::~DisplayPanelView() {
  model_.unsubscribe(token_);
  if (field_ && panel_.firstResponder() == field_) panel_.makeFirstResponder(nullptr);
  if (panel_.contentView() == this) panel_.setContentView(nullptr);
}

void DisplayPanelView::setShown(bool shown) {
  shown_ = shown;
  // The panel was framed to its display just before it was ordered in.
  if (shown) rebuild(std::nullopt);
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
  bridge_->helpAt = [this](QPointF p) { return helpAt(p); };
  bridge_->show();
}

void DisplayPanelView::rebuild(const std::optional<Animation>& animation) {
  const CGRect frame = panel_.frame();
  const QSize size(static_cast<int>(std::lround(frame.width())), static_cast<int>(std::lround(frame.height())));
  if (this->size() != size) {
    resize(size);
    // A widget that is not on screen gets its resize event only when shown, so the bridge
    // is fitted here too.
    if (bridge_) bridge_->setGeometry(rect());
  }
  // The option is read at every rebuild, so a change shows at the next one.
  const bool namesAlways = Settings::defaults().stringForKey("names") == std::optional<std::string>("always");
  scene::PanelScene built = layout_({model_, index_, CGSize{frame.width(), frame.height()}, namesAlways, measure_});
  geometry_.tiles = built.frames;
  geometry_.setContent(built.content);
  placeNameField(built.root);
  animator_.show(std::move(built.root), animation);
  update();
}

void DisplayPanelView::placeNameField(const Node& root) {
  const scene::NameField* found = nullptr;
  QRectF rect;
  double scale = 1;
  walk(root, QTransform(), [&](const Node& node, const QTransform& t) {
    if (found) return;
    if (const auto* field = std::get_if<scene::NameField>(&node.content)) {
      found = field;
      rect = t.mapRect(boundsOf(node));
      scale = std::sqrt(std::abs(t.determinant()));
    }
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
    field_->onSubmit = [this] {
      if (hooks_.submit) hooks_.submit();
    };
    field_->onEscape = [this] {
      if (hooks_.escape) hooks_.escape();
    };
    field_->onEdited = [this](const std::string& text) { model_.nameDraft.set(text); };
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
  walk(animator_.target(), QTransform(), [&](const Node& node, const QTransform& t) {
    if (!node.help.empty() && t.mapRect(boundsOf(node)).contains(point)) help = QString::fromStdString(node.help);
  });
  return help;
}

void DisplayPanelView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  ScenePainter::paint(painter, animator_.displayed());
}

void DisplayPanelView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (bridge_) bridge_->setGeometry(rect());
}

}  // namespace trelliq::views
