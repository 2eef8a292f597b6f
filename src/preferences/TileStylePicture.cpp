#include "preferences/TileStylePicture.h"

#include <QLinearGradient>
#include <QPainter>
#include <cmath>

#include "ui/DemoIcons.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

bool drawsApps(Settings::Tiles style) { return style == Settings::Tiles::apps; }

// Sizes before scaling.
constexpr double kTile = 30 + 2 * 5;
constexpr double kDeskW = 68;
constexpr double kDeskH = 42;
constexpr double kDesk = 5;  // padding around a desktop

void appTile(QPainter& painter, QPointF at, int icon, bool selected, double s) {
  const QRectF tile(at, QSizeF(kTile * s, kTile * s));
  if (selected) ui::fillRounded(painter, tile, 9 * s, QColor::fromRgbF(0, 0, 0, 0.35f));
  ui::drawImage(painter, tile.adjusted(5 * s, 5 * s, -5 * s, -5 * s),
                TileStylePicture::icons()[static_cast<std::size_t>(icon)]);
}

void desktop(QPainter& painter, QPointF at, const TileStylePicture::Layout& layout, bool selected, double s) {
  const double w = kDeskW * s;
  const double h = kDeskH * s;
  const QRectF outer(at, QSizeF(w + 2 * kDesk * s, h + 6 * s + 2 * kDesk * s));
  if (selected) ui::fillRounded(painter, outer, 9 * s, QColor::fromRgbF(0, 0, 0, 0.35f));
  const QPointF o = at + QPointF(kDesk * s, kDesk * s);
  const QRectF wall(o.x() + 0.1 * w, o.y() + 0.1 * h, 0.8 * w, 0.8 * h);
  ui::fillSampleWallpaper(painter, wall, 4 * s, 0.7);
  for (const auto& window : layout) {
    const CGRect& f = window.frame;
    const QRectF card(o.x() + w * f.minX(), o.y() + h * f.minY(), w * f.width(), h * f.height());
    QPainterPath outline;
    outline.addRoundedRect(card, 2 * s, 2 * s);
    ui::paintShadow(painter, outline, 0.25, s, QPointF(0, 0.5 * s));
    ui::fillRounded(painter, card, 2 * s, ui::windowBackground());
    ui::strokeRoundedInside(painter, card, 2 * s, ui::separator(), 0.5);
    const double icon = 12 * s;
    // Aligned to the card's bottom edge, then 5 down: it hangs out below the card.
    const QRectF iconRect(card.center().x() - icon / 2, card.bottom() - icon + 5 * s, icon, icon);
    ui::drawImage(painter, iconRect, TileStylePicture::icons()[static_cast<std::size_t>(window.icon)]);
  }
}

}  // namespace

TileStylePicture::TileStylePicture(Settings::Tiles style, double scale, QWidget* parent)
    : QWidget(parent), style_(style), scale_(scale) {}

const std::vector<CGImageRef>& TileStylePicture::icons() {
  static const std::vector<CGImageRef> copy = DemoIcons::top();
  return copy;
}

const std::array<TileStylePicture::Layout, 2>& TileStylePicture::layouts() {
  static const std::array<Layout, 2> desk{
      Layout{Window{0, CGRect(0.04, 0.10, 0.55, 0.62)}, Window{1, CGRect(0.42, 0.30, 0.55, 0.60)}},
      Layout{Window{2, CGRect(0.10, 0.16, 0.50, 0.66)}, Window{3, CGRect(0.50, 0.08, 0.46, 0.50)}}};
  return desk;
}

QSizeF TileStylePicture::pictureSize(Settings::Tiles style, double s) {
  if (drawsApps(style)) return QSizeF(4 * kTile * s + 4 * 8 * s + 1 + 16 * s, kTile * s + 16 * s);
  const double desk = (kDeskW + 2 * kDesk) * s;
  return QSizeF(2 * desk + 2 * 8 * s + 1 + 16 * s, (kDeskH + 6 + 2 * kDesk) * s + 16 * s);
}

void TileStylePicture::paint(QPainter& painter, QPointF origin, Settings::Tiles style, double s) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const QSizeF size = pictureSize(style, s);
  ui::fillRounded(painter, QRectF(origin, size), 16 * s, ui::primary(0.08));
  const double inner = size.height() - 16 * s;
  double x = origin.x() + 8 * s;
  const double top = origin.y() + 8 * s;
  auto divider = [&] {
    painter.fillRect(QRectF(x, top + (inner - 32 * s) / 2, 1, 32 * s), ui::primary(0.15));
    x += 1 + 8 * s;
  };
  if (drawsApps(style)) {
    for (int i = 0; i < 4; ++i) {
      if (i == 2) divider();
      appTile(painter, QPointF(x, top), i, i == 0, s);
      x += kTile * s + 8 * s;
    }
  } else {
    desktop(painter, QPointF(x, top), layouts()[0], true, s);
    x += (kDeskW + 2 * kDesk) * s + 8 * s;
    divider();
    desktop(painter, QPointF(x, top), layouts()[1], false, s);
  }
  painter.restore();
}

QSize TileStylePicture::sizeHint() const {
  const QSizeF size = pictureSize(style_, scale_);
  return QSize(static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height())));
}

void TileStylePicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QSizeF size = pictureSize(style_, scale_);
  paint(painter, QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), style_, scale_);
}

}  // namespace trelliq
