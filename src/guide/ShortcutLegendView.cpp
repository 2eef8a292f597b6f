#include "guide/ShortcutLegendView.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "ui/KeyCap.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

constexpr double kGroupGap = 18;
constexpr double kPartsGap = 10;
constexpr double kHeaderHeight = 18;
constexpr double kColumnGap = 18;
constexpr double kRowGap = 10;
constexpr double kCellGap = 10;

QFont callout(bool semibold = false) { return ShortcutLegendView::textFont(semibold); }

void paintKey(QPainter& p, const QRectF& r, const std::string& key) {
  ui::fillRaised(p, r, 5, ui::controlBackground());
  ui::strokeRoundedInside(p, r, 5, ui::separator(), 1);
  p.setFont(ui::systemFont(ShortcutLegend::keyFontSize(key), QFont::Medium));
  p.setPen(ui::primary());
  p.drawText(r, Qt::AlignCenter, QString::fromStdString(key));
}

void paintCell(QPainter& p, QPointF at, double width, const ShortcutLegend::Entry& e) {
  const double size = ShortcutLegend::keySize;
  double x = at.x();
  for (std::size_t i = 0; i < e.keys.size(); ++i) {
    if (i > 0 && !e.between.empty()) {
      p.setFont(callout());
      p.setPen(ui::secondary());
      p.drawText(QRectF(x, at.y(), 8, size), Qt::AlignCenter, QString::fromStdString(e.between));
      x += 8 + 4;
    }
    paintKey(p, QRectF(x, at.y(), size, size), e.keys[i]);
    x += size + 4;
  }
  p.setFont(callout());
  p.setPen(ui::secondary());
  const double textX = at.x() + ShortcutLegend::keysWidth + kCellGap;
  p.drawText(QRectF(textX, at.y(), std::max(0.0, at.x() + width - textX), size), Qt::AlignVCenter | Qt::AlignLeft,
             QString::fromStdString(e.text));
}

double paintHeader(QPainter& p, QPointF at, const ShortcutLegend::Group& g) {
  double x = at.x();
  auto text = [&](const std::string& s, const QFont& font, const QColor& color) {
    const double w = QFontMetricsF(font).horizontalAdvance(QString::fromStdString(s));
    p.setFont(font);
    p.setPen(color);
    p.drawText(QRectF(x, at.y(), w + 1, kHeaderHeight), Qt::AlignVCenter | Qt::AlignLeft, QString::fromStdString(s));
    x += w + 4;
  };
  text(g.title, callout(true), ui::primary());
  text("· with", callout(), ui::secondary());
  const KeyCapLook cap{.key = g.hold, .small = true};
  const QSizeF capSize = KeyCap::capSize(cap);
  KeyCap::paint(p, {x, at.y() + (kHeaderHeight - capSize.height()) / 2}, cap);
  x += capSize.width() + 4;
  text("held", callout(), ui::secondary());
  return kHeaderHeight;
}

}  // namespace

QFont ShortcutLegendView::textFont(bool semibold) {
  return ui::systemFont(12, semibold ? QFont::DemiBold : QFont::Normal);
}

double ShortcutLegendView::textRoom(double width) {
  const double column = (width - kColumnGap) / ShortcutLegend::columns;
  return column - ShortcutLegend::keysWidth - kCellGap;
}

ShortcutLegendView::ShortcutLegendView(Settings::Tiles mode, QWidget* parent)
    : QWidget(parent), mode_(mode), groups_(ShortcutLegend::groups(mode)) {
  QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void ShortcutLegendView::setMode(Settings::Tiles mode) {
  if (mode == mode_) return;
  mode_ = mode;
  updateGeometry();
  update();
}

double ShortcutLegendView::heightFor(const std::vector<ShortcutLegend::Group>& groups) {
  double h = 0;
  for (const ShortcutLegend::Group& g : groups) {
    if (h > 0) h += kGroupGap;
    const auto rows = static_cast<double>(ShortcutLegend::rows(g.entries).size());
    h += kHeaderHeight + kPartsGap + rows * ShortcutLegend::keySize + std::max(0.0, rows - 1) * kRowGap;
  }
  return h;
}

int ShortcutLegendView::heightForWidth(int) const {
  groups_ = ShortcutLegend::groups(mode_);
  return static_cast<int>(std::ceil(heightFor(groups_)));
}

QSize ShortcutLegendView::sizeHint() const { return {704, heightForWidth(704)}; }

void ShortcutLegendView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const double column = (width() - kColumnGap) / ShortcutLegend::columns;
  double y = 0;
  for (const ShortcutLegend::Group& g : groups_) {
    y += paintHeader(p, {0, y}, g) + kPartsGap;
    for (const auto& row : ShortcutLegend::rows(g.entries)) {
      for (std::size_t c = 0; c < row.size(); ++c) paintCell(p, {c * (column + kColumnGap), y}, column, row[c]);
      y += ShortcutLegend::keySize + kRowGap;
    }
    y += kGroupGap - kRowGap;
  }
}

}  // namespace trelliq
