#include "guide/InlineKeys.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "ui/KeyCap.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

QFont plusFont() { return ui::systemFont(15); }  // the title-3 text style

// How far a cap's shadow reaches below it, both edges counted (unscaled points).
constexpr double kCapShadow = 1;

double plusWidth() { return QFontMetricsF(plusFont()).horizontalAdvance("+"); }

}  // namespace

// The row drawn over the row's box grown by its overhang, in an ancestor: it takes no
// pointer events and draws nothing but the caps. It keeps how lit it drew each cap, so the
// row asks it to draw again only when that changed: being see-through, every paint of it
// repaints the row beneath, which must not ask again.
class InlineKeys::Spill : public QWidget {
 public:
  Spill(const InlineKeys& row, QWidget* host) : QWidget(host), row_(row) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }

  /// Asks for a paint when the caps are lit otherwise than it last drew them.
  void follow() {
    if (row_.litnesses() != drawn_) update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    row_.paintRow(painter, {0, static_cast<double>(row_.overhang())});
    drawn_ = row_.litnesses();
  }

 private:
  const InlineKeys& row_;
  std::vector<double> drawn_;
};

InlineKeys::InlineKeys(std::set<std::string> keys, std::set<std::string> held, std::optional<std::string> pressed,
                       std::string first, QWidget* parent)
    : QWidget(parent),
      keys_(std::move(keys)),
      held_(std::move(held)),
      pressed_(std::move(pressed)),
      first_(std::move(first)) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  rebuild(Transition::immediate());
}

InlineKeys::~InlineKeys() {
  for (const QPointer<QWidget>& w : watched_) {
    if (w) w->removeEventFilter(this);
  }
  delete spill_.data();
}

void InlineKeys::setState(std::set<std::string> held, std::optional<std::string> pressed,
                          const Transition& transition) {
  if (held == held_ && pressed == pressed_) return;
  held_ = std::move(held);
  pressed_ = std::move(pressed);
  rebuild(transition);
  update();
}

void InlineKeys::rebuild(const Transition& transition) {
  items_ = KeyRow::items(keys_, held_, pressed_, first_);
  // The keys never change, so the caps keep their places: each lights or dims in place.
  lit_.resize(items_.size(), ui::Tween(0));
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const double target = items_[i].cap.lit() ? 1 : 0;
    if (transition.curve == Transition::Curve::none || transition.duration <= 0) {
      lit_[i] = ui::Tween(target);
    } else {
      lit_[i].set(target, transition, this);
    }
  }
}

double InlineKeys::litness(std::size_t index) const { return index < lit_.size() ? lit_[index].value() : 0; }

std::vector<double> InlineKeys::litnesses() const {
  std::vector<double> all;
  all.reserve(items_.size());
  for (std::size_t i = 0; i < items_.size(); ++i) all.push_back(litness(i));
  return all;
}

double InlineKeys::contentWidth() const {
  double width = 0;
  for (const KeyRow::Item& item : items_) {
    if (item.plusBefore) width += plusWidth() + KeyRow::spacing;
    width += KeyCap::capSize(item.cap).width();
    width += KeyRow::spacing;
  }
  return items_.empty() ? 0 : width - KeyRow::spacing;
}

QSize InlineKeys::sizeHint() const {
  return {static_cast<int>(std::ceil(contentWidth() * KeyRow::scale)), static_cast<int>(std::lround(KeyRow::height))};
}

int InlineKeys::overhang() const {
  double drawn = 0;
  for (const KeyRow::Item& item : items_) {
    drawn = std::max(drawn, (KeyCap::capSize(item.cap).height() + kCapShadow) * KeyRow::scale);
  }
  // Centred on the row: half the excess on each side, and a pixel for the smoothing.
  return std::max(0, static_cast<int>(std::ceil((drawn - height()) / 2)) + 1);
}

bool InlineKeys::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ParentChange:
      placeSpill();
      break;
    default:
      break;
  }
  return handled;
}

bool InlineKeys::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
      placeSpill();
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void InlineKeys::placeSpill() {
  // Every ancestor's move moves the row within the host.
  for (const QPointer<QWidget>& w : watched_) {
    if (w) w->removeEventFilter(this);
  }
  watched_.clear();
  const int reach = overhang();
  const QRect grown = rect().adjusted(0, -reach, 0, reach);
  QWidget* host = nullptr;
  for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
    host = w;
    if (w->rect().contains(QRect(mapTo(w, grown.topLeft()), grown.size()))) break;
    w->installEventFilter(this);
    watched_.emplace_back(w);
  }
  if (!host) {
    delete spill_.data();
    update();
    return;
  }
  if (!spill_ || spill_->parentWidget() != host) {
    delete spill_.data();
    spill_ = new Spill(*this, host);
  }
  // A new place or showing repaints it by itself.
  spill_->setGeometry(QRect(mapTo(host, grown.topLeft()), grown.size()));
  spill_->setVisible(isVisibleTo(host));
  spill_->raise();
}

void InlineKeys::paintEvent(QPaintEvent*) {
  if (spill_) {
    static_cast<Spill*>(spill_.data())->follow();  // the caps are drawn there, past the row's box
    return;
  }
  QPainter painter(this);
  paintRow(painter, {0, 0});
}

void InlineKeys::paintRow(QPainter& painter, QPointF origin) const {
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const double unscaledHeight = KeyRow::height / KeyRow::scale;
  // Enlarged about the row's centre.
  painter.translate(origin.x() + width() / 2.0, origin.y() + height() / 2.0);
  painter.scale(KeyRow::scale, KeyRow::scale);
  painter.translate(-contentWidth() / 2, -unscaledHeight / 2);
  double x = 0;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const KeyRow::Item& item = items_[i];
    if (item.plusBefore) {
      painter.setFont(plusFont());
      painter.setPen(ui::secondary());
      painter.drawText(QRectF(x, 0, plusWidth(), unscaledHeight), Qt::AlignCenter, "+");
      x += plusWidth() + KeyRow::spacing;
    }
    const QSizeF cap = KeyCap::capSize(item.cap);
    KeyCap::paint(painter, {x, (unscaledHeight - cap.height()) / 2}, item.cap, litness(i));
    x += cap.width() + KeyRow::spacing;
  }
}

}  // namespace trelliq
