#include "guide/KeyCap.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "guide/GuidePaint.h"

namespace trelliq {
namespace {

QFont font(double points, QFont::Weight weight) { return guide::systemFont(points, weight); }

struct Line {
  KeyCapSpec::Line kind;
  QFont font;
  QString text;
  QSizeF size;
};

std::vector<Line> measured(const KeyCapSpec& spec) {
  std::vector<Line> lines;
  for (KeyCapSpec::Line kind : spec.lines()) {
    Line line{kind, {}, {}, {}};
    switch (kind) {
      case KeyCapSpec::Line::key:
        line.font = font(spec.keyFontSize(), QFont::Medium);
        line.text = QString::fromStdString(spec.key);
        break;
      case KeyCapSpec::Line::label:
        line.font = font(KeyCapSpec::labelFontSize, QFont::Normal);
        line.text = QString::fromStdString(spec.label.value_or(""));
        break;
      case KeyCapSpec::Line::globe:
        line.font = font(KeyCapSpec::globeFontSize, QFont::Normal);
        break;
    }
    const QFontMetricsF metrics(line.font);
    line.size = kind == KeyCapSpec::Line::globe ? QSizeF(metrics.height() * 0.8, metrics.height() * 0.8)
                                                : QSizeF(metrics.horizontalAdvance(line.text), metrics.height());
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

KeyCap::KeyCap(KeyCapSpec spec, QWidget* parent) : QWidget(parent), spec_(std::move(spec)) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KeyCap::setSpec(KeyCapSpec spec) {
  if (spec == spec_) return;
  const bool resized = capSize(spec) != capSize(spec_);
  spec_ = std::move(spec);
  if (resized) updateGeometry();
  update();
}

QSizeF KeyCap::capSize(const KeyCapSpec& spec) {
  double width = 0;
  double height = 0;
  for (const Line& line : measured(spec)) {
    width = std::max(width, line.size.width());
    height += line.size.height();
  }
  const CGSize s = spec.size(std::ceil(width), std::ceil(height));
  return {s.width, s.height};
}

void KeyCap::paint(QPainter& painter, QPointF origin, const KeyCapSpec& spec) {
  paint(painter, origin, spec, spec.lit() ? 1 : 0);
}

void KeyCap::paint(QPainter& painter, QPointF origin, const KeyCapSpec& spec, double lit) {
  lit = std::clamp(lit, 0.0, 1.0);
  const auto mix = [lit](const QColor& a, const QColor& b) {
    const auto m = [lit](float x, float y) { return static_cast<float>(x + (y - x) * lit); };
    return QColor::fromRgbF(m(a.redF(), b.redF()), m(a.greenF(), b.greenF()), m(a.blueF(), b.blueF()),
                            m(a.alphaF(), b.alphaF()));
  };
  const QRectF rect(origin, capSize(spec));
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  // The shadow goes as the cap lights up.
  if (lit < 1) {
    guide::fillRounded(painter, rect.translated(0, 0.5), spec.cornerRadius(),
                       QColor::fromRgbF(0, 0, 0, static_cast<float>(0.25 * (1 - lit))));
  }
  guide::fillRounded(painter, rect, spec.cornerRadius(), mix(guide::controlBackground(), guide::accent()));
  guide::strokeRoundedInside(painter, rect, spec.cornerRadius(), guide::separator(), 1);
  const QColor ink = mix(guide::primary(), QColor(Qt::white));
  const std::vector<Line> lines = measured(spec);
  double total = 0;
  for (const Line& line : lines) total += line.size.height();
  double y = rect.center().y() - total / 2;
  for (const Line& line : lines) {
    const QRectF box(rect.left(), y, rect.width(), line.size.height());
    QColor color = ink;
    if (line.kind != KeyCapSpec::Line::key) color.setAlphaF(color.alphaF() * 0.7f);
    if (line.kind == KeyCapSpec::Line::globe) {
      guide::drawSymbol(painter, "globe",
                        QRectF(box.center() - QPointF(line.size.width() / 2, line.size.height() / 2), line.size),
                        color);
    } else {
      painter.setFont(line.font);
      painter.setPen(color);
      painter.drawText(box, Qt::AlignCenter, line.text);
    }
    y += line.size.height();
  }
  painter.restore();
}

QSize KeyCap::sizeHint() const { return capSize(spec_).toSize(); }

void KeyCap::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paint(painter, {0, 0}, spec_);
}

}  // namespace trelliq
