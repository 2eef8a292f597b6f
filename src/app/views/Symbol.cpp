#include "app/views/Symbol.h"

#include <QPainterPath>

#include "ui/Paint.h"

namespace trelliq {

namespace shellColors {
QColor green() { return QColor(52, 199, 89); }
QColor yellow() { return QColor(255, 204, 0); }
QColor red() { return QColor(255, 59, 48); }
QColor blue() { return QColor(0, 122, 255); }
QColor teal() { return QColor(48, 176, 199); }
}  // namespace shellColors

namespace {

QRectF square(const QRectF& rect) {
  const double side = std::min(rect.width(), rect.height());
  return QRectF(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
}

// A filled disc with a mark cut out of it in white.
void disc(QPainter& p, const QRectF& r, const QColor& color) {
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  p.drawEllipse(r);
  p.setPen(QPen(Qt::white, r.width() * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
}

}  // namespace

void drawShellSymbol(QPainter& p, const std::string& name, const QRectF& rect, const QColor& color) {
  const QRectF r = square(rect);
  const double w = r.width();
  const auto at = [&](double x, double y) { return QPointF(r.left() + x * w, r.top() + y * w); };
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  if (name == "checkmark.circle.fill") {
    disc(p, r, color);
    p.drawPolyline(QPolygonF({at(0.28, 0.52), at(0.44, 0.68), at(0.72, 0.36)}));
  } else if (name == "xmark.circle.fill") {
    disc(p, r, color);
    p.drawLine(at(0.34, 0.34), at(0.66, 0.66));
    p.drawLine(at(0.66, 0.34), at(0.34, 0.66));
  } else if (name == "circle") {
    p.setPen(QPen(color, w * 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(r.adjusted(w * 0.06, w * 0.06, -w * 0.06, -w * 0.06));
  } else if (name == "info.circle") {
    p.setPen(QPen(color, w * 0.08));
    p.drawEllipse(r.adjusted(w * 0.05, w * 0.05, -w * 0.05, -w * 0.05));
    p.drawLine(at(0.5, 0.45), at(0.5, 0.74));
    p.setBrush(color);
    p.drawEllipse(QRectF(at(0.45, 0.25), QSizeF(w * 0.1, w * 0.1)));
  } else if (name == "exclamationmark.triangle.fill") {
    QPainterPath path;
    path.moveTo(at(0.5, 0.06));
    path.lineTo(at(0.96, 0.9));
    path.lineTo(at(0.04, 0.9));
    path.closeSubpath();
    p.fillPath(path, color);
    p.setPen(QPen(Qt::black, w * 0.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(at(0.5, 0.36), at(0.5, 0.6));
    p.drawPoint(at(0.5, 0.76));
  } else if (name == "lock.fill") {
    p.setPen(QPen(color, w * 0.1));
    p.drawArc(QRectF(at(0.3, 0.1), QSizeF(w * 0.4, w * 0.5)), 0, 180 * 16);
    ui::fillRounded(p, QRectF(at(0.18, 0.42), QSizeF(w * 0.64, w * 0.5)), w * 0.08, color);
  } else if (name == "accessibility") {
    p.setPen(QPen(color, w * 0.08));
    p.drawEllipse(r.adjusted(w * 0.04, w * 0.04, -w * 0.04, -w * 0.04));
    p.setBrush(color);
    p.drawEllipse(QRectF(at(0.43, 0.18), QSizeF(w * 0.14, w * 0.14)));
    p.drawLine(at(0.26, 0.4), at(0.74, 0.4));
    p.drawLine(at(0.5, 0.4), at(0.5, 0.6));
    p.drawLine(at(0.5, 0.6), at(0.36, 0.8));
    p.drawLine(at(0.5, 0.6), at(0.64, 0.8));
  } else if (name == "rectangle.dashed.badge.record") {
    p.setPen(QPen(color, w * 0.07, Qt::DashLine));
    p.drawRoundedRect(QRectF(at(0.04, 0.16), QSizeF(w * 0.78, w * 0.6)), w * 0.08, w * 0.08);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(at(0.6, 0.56), QSizeF(w * 0.36, w * 0.36)));
  } else if (!ui::drawSymbol(p, name, r, color)) {
    ui::fillRounded(p, r.adjusted(w * 0.1, w * 0.1, -w * 0.1, -w * 0.1), w * 0.2, color);
  }
  p.restore();
}

SymbolView::SymbolView(std::string name, QColor color, int pointSize, int boxWidth, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), color_(color), pointSize_(pointSize) {
  setFixedSize(boxWidth, pointSize + 4);
}

void SymbolView::set(std::string name, QColor color) {
  name_ = std::move(name);
  color_ = color;
  update();
}

void SymbolView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRectF box(0, 0, width(), height());
  const QRectF glyph(box.center().x() - pointSize_ / 2.0, box.center().y() - pointSize_ / 2.0, pointSize_, pointSize_);
  drawShellSymbol(painter, name_, glyph, color_);
}

}  // namespace trelliq
