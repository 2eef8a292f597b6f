#include "guide/InlineKeys.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>
#include <vector>

#include "platform/Keeper.h"
#include "ui/KeyCap.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

QFont plusFont() { return ui::systemFont(15); }  // the title-3 text style

// How far a cap's shadow reaches below it, both edges counted (unscaled points).
constexpr double kCapShadow = 1;

// Measured once: a row asks for it at every paint, for every cap's place.
double plusWidth() {
  static const double width = QFontMetricsF(plusFont()).horizontalAdvance("+");
  return width;
}

std::uint64_t capPictures = 0;

}  // namespace

std::uint64_t InlineKeys::capPicturesMade() { return capPictures; }

// The row drawn over the row's box grown by its overhang, in an ancestor: it takes no
// pointer events and draws nothing but the caps. At rest, the row is drawn from a picture
// kept for each way it is lit: being see-through, the spill is drawn again whenever
// anything beneath it is, and the caps would be drawn anew for each of those frames.
class InlineKeys::Spill : public QWidget {
 public:
  Spill(const InlineKeys& row, QWidget* host) : QWidget(host), row_(row) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }

  /// The top left of the row's box in the spill.
  QPointF origin() const { return {0, static_cast<double>(row_.overhang())}; }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    const std::vector<double> lit = row_.litnesses();
    const bool atRest = std::all_of(lit.begin(), lit.end(), [](double v) { return v == 0 || v == 1; });
    // A kept picture is laid pixel for pixel: only where the spill's pixels are whole ones.
    const QTransform device = painter.deviceTransform();
    const double scale = device.m11();
    const bool whole = device.type() <= QTransform::TxScale && scale == device.m22() && scale >= 1 &&
                       scale == std::floor(scale) && device.dx() == std::floor(device.dx()) &&
                       device.dy() == std::floor(device.dy());
    if (!whole) {
      row_.paintRow(painter, origin(), event->region());  // only the caps that moved, mid-move
      return;
    }
    if (!atRest) {
      paintMoving(painter, lit, scale, event->region());
      return;
    }
    painter.drawImage(QPointF(0, 0), kept(lit, scale));
  }

  bool event(QEvent* event) override {
    // Out of sight, the pictures go; the first paint once shown makes them again.
    if (event->type() == QEvent::Hide) {
      pictures_.reset();
      caps_.reset();
      mixing_ = QImage();
    }
    return QWidget::event(event);
  }

 private:
  // How lit each cap is, the scale, the appearance and the spill's size.
  using Look = std::tuple<std::vector<double>, double, bool, int, int>;

  const QImage& kept(const std::vector<double>& lit, double scale) {
    // The row's demonstrations go between two or three ways of lighting it.
    if (!pictures_) pictures_.emplace(platform::KeeperBudget{.count = 4});
    return pictures_->get(Look{lit, scale, ui::isDark(), width(), height()}, [&] {
      QImage image(size() * static_cast<int>(scale), QImage::Format_ARGB32_Premultiplied);
      image.setDevicePixelRatio(scale);
      image.fill(Qt::transparent);
      QPainter painter(&image);
      row_.paintRow(painter, origin());
      return image;
    });
  }

  /// Mid-move, each cap in `area` from the pictures of it unlit and lit, made once per
  /// size: a cap part of the way is the two laid on together in that proportion, as its
  /// colours, ink and shadow all go from one to the other evenly.
  void paintMoving(QPainter& painter, const std::vector<double>& lit, double scale, const QRegion& area) {
    row_.paintRow(painter, origin(), area, false);  // the plus signs there
    for (std::size_t i = 0; i < lit.size(); ++i) {
      const QRect box = row_.capArea(i, origin());
      if (!area.intersects(box)) continue;
      const double t = lit[i];
      if (t == 0 || t == 1) {
        painter.drawImage(box.topLeft(), cap(i, t == 1, scale, box));
        continue;
      }
      const QImage unlit = cap(i, false, scale, box);  // shared, as the next may push it out
      mix(unlit, cap(i, true, scale, box), t);
      painter.drawImage(box.topLeft(), mixing_);
    }
  }

  /// `from` and `to` (premultiplied, of one size) mixed pixel by pixel in proportion `t`
  /// into `mixing_`, kept from frame to frame: what adding them at 1 - t and t makes,
  /// without a painter's set-up and two blends of every pixel for each cap at each frame.
  void mix(const QImage& from, const QImage& to, double t) {
    if (mixing_.size() != from.size() || mixing_.format() != QImage::Format_ARGB32_Premultiplied)
      mixing_ = QImage(from.size(), QImage::Format_ARGB32_Premultiplied);
    mixing_.setDevicePixelRatio(from.devicePixelRatio());
    const auto w = static_cast<quint32>(std::lround(std::clamp(t, 0.0, 1.0) * 256)), v = 256 - w;
    const int width = from.width(), height = from.height();
    constexpr quint32 kTwo = 0xff00ffu, kHalf = 0x800080u;  // two channels; a half, rounding each
    for (int y = 0; y < height; ++y) {
      const auto* a = reinterpret_cast<const quint32*>(from.constScanLine(y));
      const auto* b = reinterpret_cast<const quint32*>(to.constScanLine(y));
      auto* out = reinterpret_cast<quint32*>(mixing_.scanLine(y));
      for (int x = 0; x < width; ++x) {
        // Two channels at a time, each in a lane of 16 bits that the sums never overflow.
        const quint32 rb = (((a[x] & kTwo) * v + (b[x] & kTwo) * w + kHalf) >> 8) & kTwo;
        const quint32 ag = (((a[x] >> 8) & kTwo) * v + ((b[x] >> 8) & kTwo) * w + kHalf) & ~kTwo;
        out[x] = rb | ag;
      }
    }
  }

  // The cap's place, whether it is lit, the scale and the appearance.
  using CapLook = std::tuple<std::size_t, bool, double, bool, int, int, int, int>;

  const QImage& cap(std::size_t index, bool lit, double scale, const QRect& box) {
    if (!caps_) caps_.emplace(platform::KeeperBudget{.count = 12});
    return caps_->get(CapLook{index, lit, scale, ui::isDark(), box.x(), box.y(), box.width(), box.height()}, [&] {
      ++capPictures;
      QImage image(box.size() * static_cast<int>(scale), QImage::Format_ARGB32_Premultiplied);
      image.setDevicePixelRatio(scale);
      image.fill(Qt::transparent);
      QPainter painter(&image);
      painter.translate(-box.topLeft());
      row_.paintCap(painter, origin(), index, lit ? 1 : 0);
      return image;
    });
  }

  const InlineKeys& row_;
  std::optional<platform::Keeper<Look, QImage>> pictures_;
  std::optional<platform::Keeper<CapLook, QImage>> caps_;
  QImage mixing_;  // a cap part of the way, mixed from its two pictures
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
}

void InlineKeys::rebuild(const Transition& transition) {
  items_ = KeyRow::items(keys_, held_, pressed_, first_);
  // The keys never change, so the caps keep their places: each lights or dims in place,
  // and only the caps that change are drawn again.
  lit_.resize(items_.size(), ui::Tween(0));
  const bool moves = transition.curve != Transition::Curve::none && transition.duration > 0;
  QWidget* drawn = spill_ ? spill_.data() : this;
  const QPointF origin = spill_ ? static_cast<Spill*>(spill_.data())->origin() : QPointF();
  QRegion changed;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const double target = items_[i].cap.lit() ? 1 : 0;
    if (!moves) {
      if (lit_[i].target() == target && lit_[i].value() == target) continue;
      lit_[i] = ui::Tween(target);
    } else {
      if (lit_[i].target() == target) continue;  // a move under way keeps its own curve
      lit_[i].set(target, transition, nullptr);
    }
    changed += capArea(i, origin);
  }
  if (!changed.isEmpty()) ui::animateFor(drawn, moves ? transition.duration : 0, changed);
}

QTransform InlineKeys::rowTransform(QPointF origin) const {
  QTransform t;
  t.translate(origin.x() + width() / 2.0, origin.y() + height() / 2.0);
  t.scale(KeyRow::scale, KeyRow::scale);
  t.translate(-contentWidth() / 2, -KeyRow::height / KeyRow::scale / 2);
  return t;
}

QRect InlineKeys::capArea(std::size_t index, QPointF origin) const {
  const double unscaledHeight = KeyRow::height / KeyRow::scale;
  double x = 0;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const KeyRow::Item& item = items_[i];
    if (item.plusBefore) x += plusWidth() + KeyRow::spacing;
    const QSizeF cap = KeyCap::capSize(item.cap);
    if (i == index) {
      const QRectF box(x, (unscaledHeight - cap.height()) / 2, cap.width(), cap.height());
      // With the shadow, and a pixel for the smoothing.
      return rowTransform(origin)
          .mapRect(box.adjusted(-kCapShadow, -kCapShadow, kCapShadow, kCapShadow))
          .toAlignedRect()
          .adjusted(-1, -1, 1, 1);
    }
    x += cap.width() + KeyRow::spacing;
  }
  return {};
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
  if (spill_) return;  // the caps are drawn there, past the row's box
  QPainter painter(this);
  paintRow(painter, {0, 0});
}

void InlineKeys::paintRow(QPainter& painter, QPointF origin, const QRegion& area, bool caps) const {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const double unscaledHeight = KeyRow::height / KeyRow::scale;
  // Enlarged about the row's centre.
  const QTransform row = rowTransform(origin);
  painter.setTransform(row, true);
  double x = 0;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const KeyRow::Item& item = items_[i];
    if (item.plusBefore) {
      const QRectF plus(x, 0, plusWidth(), unscaledHeight);
      if (area.isEmpty() || area.intersects(row.mapRect(plus).toAlignedRect().adjusted(-1, -1, 1, 1))) {
        painter.setFont(plusFont());
        painter.setPen(ui::secondary());
        painter.drawText(plus, Qt::AlignCenter, "+");
      }
      x += plusWidth() + KeyRow::spacing;
    }
    const QSizeF cap = KeyCap::capSize(item.cap);
    if (caps && (area.isEmpty() || area.intersects(capArea(i, origin))))
      KeyCap::paint(painter, {x, (unscaledHeight - cap.height()) / 2}, item.cap, litness(i));
    x += cap.width() + KeyRow::spacing;
  }
  painter.restore();
}

void InlineKeys::paintCap(QPainter& painter, QPointF origin, std::size_t index, double lit) const {
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const double unscaledHeight = KeyRow::height / KeyRow::scale;
  painter.setTransform(rowTransform(origin), true);
  double x = 0;
  for (std::size_t i = 0; i < items_.size() && i <= index; ++i) {
    const KeyRow::Item& item = items_[i];
    if (item.plusBefore) x += plusWidth() + KeyRow::spacing;
    const QSizeF cap = KeyCap::capSize(item.cap);
    if (i == index) KeyCap::paint(painter, {x, (unscaledHeight - cap.height()) / 2}, item.cap, lit);
    x += cap.width() + KeyRow::spacing;
  }
}

}  // namespace trelliq
