#include "guide/GuidePaint.h"

#include <QImage>
#include <QPainterPath>

namespace trelliq::guide {

QColor primary(double opacity) { return QColor::fromRgbF(0, 0, 0, static_cast<float>(0.85 * opacity)); }
QColor secondary() { return QColor::fromRgbF(0, 0, 0, 0.5f); }
QColor accent() { return QColor(0, 122, 255); }
QColor separator() { return QColor::fromRgbF(0, 0, 0, 0.1f); }
QColor controlBackground() { return QColor(255, 255, 255); }
QColor windowBackground() { return QColor(236, 236, 236); }

void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& color) {
  painter.save();
  painter.setPen(Qt::NoPen);
  painter.setBrush(color);
  painter.drawRoundedRect(rect, radius, radius);
  painter.restore();
}

QLabel* styledLabel(const QString& text, double points, QFont::Weight weight, const QColor& color, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setPointSizeF(points);
  font.setWeight(weight);
  label->setFont(font);
  setTextColor(label, color);
  return label;
}

void setTextColor(QLabel* label, const QColor& color) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
}

QLinearGradient sampleWallpaper(const QRectF& rect) {
  QLinearGradient wash(rect.topLeft(), rect.bottomRight());
  wash.setColorAt(0, QColor::fromRgbF(0.2f, 0.45f, 0.9f));
  wash.setColorAt(1, QColor::fromRgbF(0.55f, 0.8f, 1.0f));
  return wash;
}

void fillSampleWallpaper(QPainter& painter, const QRectF& rect, double radius, double opacity) {
  painter.save();
  painter.setOpacity(painter.opacity() * opacity);
  painter.setPen(Qt::NoPen);
  painter.setBrush(sampleWallpaper(rect));
  painter.drawRoundedRect(rect, radius, radius);
  painter.restore();
}

void strokeRoundedInside(QPainter& painter, const QRectF& rect, double radius, const QColor& color, double width) {
  painter.save();
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(color, width));
  const double h = width / 2;
  painter.drawRoundedRect(rect.adjusted(h, h, -h, -h), std::max(0.0, radius - h), std::max(0.0, radius - h));
  painter.restore();
}

void fillRaised(QPainter& painter, const QRectF& rect, double radius, const QColor& color, bool flat) {
  if (!flat) fillRounded(painter, rect.translated(0, 0.5), radius, QColor::fromRgbF(0, 0, 0, 0.25f));
  fillRounded(painter, rect, radius, color);
}

void drawImage(QPainter& painter, const QRectF& rect, const CGImageRef& image, double opacity) {
  if (!image || image->width() == 0 || image->height() == 0) return;
  painter.save();
  painter.setOpacity(painter.opacity() * opacity);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(rect, image->qimage());
  painter.restore();
}

bool drawSymbol(QPainter& painter, const std::string& name, const QRectF& r, const QColor& color) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  bool known = true;
  if (name == "app.fill") {
    const double inset = r.width() * 0.1;
    fillRounded(painter, r.adjusted(inset, inset, -inset, -inset), r.width() * 0.22, color);
  } else if (name == "globe") {
    painter.setPen(QPen(color, std::max(0.6, r.width() / 12)));
    painter.setBrush(Qt::NoBrush);
    const QRectF c = r.adjusted(1, 1, -1, -1);
    painter.drawEllipse(c);
    painter.drawEllipse(QRectF(c.center().x() - c.width() / 4, c.top(), c.width() / 2, c.height()));
    painter.drawLine(QPointF(c.left(), c.center().y()), QPointF(c.right(), c.center().y()));
  } else if (name == "arrow.right") {
    painter.setPen(QPen(color, std::max(1.0, r.height() / 9), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const double y = r.center().y();
    painter.drawLine(QPointF(r.left() + 1, y), QPointF(r.right() - 1, y));
    painter.drawLine(QPointF(r.right() - 1 - r.height() / 3, y - r.height() / 3), QPointF(r.right() - 1, y));
    painter.drawLine(QPointF(r.right() - 1 - r.height() / 3, y + r.height() / 3), QPointF(r.right() - 1, y));
  } else if (name == "cursorarrow") {
    QPainterPath arrow;
    const double s = r.height();
    const QPointF o = r.topLeft();
    arrow.moveTo(o);
    arrow.lineTo(o + QPointF(0, s * 0.85));
    arrow.lineTo(o + QPointF(s * 0.24, s * 0.64));
    arrow.lineTo(o + QPointF(s * 0.4, s));
    arrow.lineTo(o + QPointF(s * 0.52, s * 0.94));
    arrow.lineTo(o + QPointF(s * 0.37, s * 0.6));
    arrow.lineTo(o + QPointF(s * 0.62, s * 0.6));
    arrow.closeSubpath();
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(color);
    painter.drawPath(arrow);
  } else {
    known = false;
  }
  painter.restore();
  return known;
}

CGImageRef symbolImage(const std::string& name, int side) {
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  bool known = false;
  {
    QPainter painter(&image);
    known = drawSymbol(painter, name, QRectF(0, 0, side, side), QColor(128, 128, 128));
  }
  if (!known) return nullptr;
  return std::make_shared<const CGImage>(image);
}

}  // namespace trelliq::guide

#include "platform/Clock.h"

namespace trelliq::guide {

void Tween::set(double target, const Transition& transition, QWidget* widget) {
  if (target == to_) return;  // a move under way to the same place keeps its own curve
  from_ = value();
  to_ = target;
  start_ = platform::clock().monotonicSeconds();
  transition_ = transition;
  widget_ = widget;
  if (widget) widget->update();
}

double Tween::value() const {
  const double p = transition_.progress(platform::clock().monotonicSeconds() - start_);
  if (p < 1 && widget_) {
    platform::mainQueue().asyncAfter(1.0 / 60, [w = widget_] {
      if (w) w->update();
    });
  }
  return from_ + (to_ - from_) * p;
}

}  // namespace trelliq::guide
