#include "ui/KeyCap.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <tuple>

#include "platform/Keeper.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

// The label's 6.5 points are drawn as they are, not rounded up to 7.
ui::TextFont font(double points, QFont::Weight weight) { return ui::textFont(points, weight); }

struct Line {
  KeyCapLook::Line kind;
  ui::TextFont font;
  QString text;
  QSizeF size;
};

std::vector<Line> measure(const KeyCapLook& look) {
  std::vector<Line> lines;
  for (KeyCapLook::Line kind : look.lines()) {
    Line line{kind, {}, {}, {}};
    switch (kind) {
      case KeyCapLook::Line::key:
        line.font = font(look.keyFontSize(), QFont::Medium);
        line.text = QString::fromStdString(look.key);
        break;
      case KeyCapLook::Line::label:
        line.font = font(KeyCapLook::labelFontSize, QFont::Normal);
        line.text = QString::fromStdString(look.label.value_or(""));
        break;
      case KeyCapLook::Line::globe:
        line.font = font(KeyCapLook::globeFontSize, QFont::Normal);
        break;
    }
    const QSizeF text = line.font.measure(line.text);
    line.size = kind == KeyCapLook::Line::globe ? QSizeF(text.height() * 0.8, text.height() * 0.8) : text;
    lines.push_back(line);
  }
  return lines;
}

// A row of caps asks for its lines at every paint and every layout; measuring text is the
// dearest part of that, and what it measures depends only on these.
const std::vector<Line>& measured(const KeyCapLook& look) {
  using Key = std::tuple<std::string, std::optional<std::string>, bool>;
  static auto& kept = *new platform::Keeper<Key, std::vector<Line>>({.count = 64});
  return kept.get(Key{look.key, look.label, look.small}, [&] { return measure(look); });
}

std::uint64_t painted = 0;

}  // namespace

std::uint64_t KeyCap::paints() { return painted; }

KeyCap::KeyCap(KeyCapLook look, QWidget* parent) : QWidget(parent), look_(std::move(look)) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KeyCap::setLook(KeyCapLook look) {
  if (look == look_) return;
  const bool resized = capSize(look) != capSize(look_);
  look_ = std::move(look);
  if (resized) updateGeometry();
  update();
}

QSizeF KeyCap::capSize(const KeyCapLook& look) {
  double width = 0;
  double height = 0;
  for (const Line& line : measured(look)) {
    width = std::max(width, line.size.width());
    height += line.size.height();
  }
  const CGSize s = look.size(std::ceil(width), std::ceil(height));
  return {s.width, s.height};
}

void KeyCap::paint(QPainter& painter, QPointF origin, const KeyCapLook& look) {
  paint(painter, origin, look, look.lit() ? 1 : 0);
}

void KeyCap::paint(QPainter& painter, QPointF origin, const KeyCapLook& look, double lit) {
  ++painted;
  lit = std::clamp(lit, 0.0, 1.0);
  const auto mix = [lit](const QColor& a, const QColor& b) {
    const auto m = [lit](float x, float y) { return static_cast<float>(x + (y - x) * lit); };
    return QColor::fromRgbF(m(a.redF(), b.redF()), m(a.greenF(), b.greenF()), m(a.blueF(), b.blueF()),
                            m(a.alphaF(), b.alphaF()));
  };
  const QRectF rect(origin, capSize(look));
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  // The shadow goes as the cap lights up.
  ui::fillRaised(painter, rect, look.cornerRadius(), mix(ui::controlBackground(), ui::accent()), 0.25 * (1 - lit), 0.5,
                 ui::lookAt(lit));
  ui::strokeRoundedInside(painter, rect, look.cornerRadius(), ui::separator(), 1);
  const QColor ink = mix(ui::primary(), QColor(Qt::white));
  const std::vector<Line> lines = measured(look);  // a copy: painting may measure again
  double total = 0;
  for (const Line& line : lines) total += line.size.height();
  double y = rect.center().y() - total / 2;
  for (const Line& line : lines) {
    const QRectF box(rect.left(), y, rect.width(), line.size.height());
    QColor color = ink;
    if (line.kind != KeyCapLook::Line::key) color.setAlphaF(color.alphaF() * 0.7f);
    if (line.kind == KeyCapLook::Line::globe) {
      ui::drawSymbol(painter, "globe",
                     QRectF(box.center() - QPointF(line.size.width() / 2, line.size.height() / 2), line.size), color);
    } else {
      painter.setPen(color);
      line.font.draw(painter, box, Qt::AlignCenter, line.text);
    }
    y += line.size.height();
  }
  painter.restore();
}

QSize KeyCap::sizeHint() const { return capSize(look_).toSize(); }

void KeyCap::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paint(painter, {0, 0}, look_);
}

}  // namespace trelliq
