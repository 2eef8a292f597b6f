#include "platform/AppKitControls.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>

#include "platform/AppKitAppearance.h"

namespace platform {

namespace {

bool dark() { return NSAppearance::current().isDark(); }

/// Draws the controls the system draws otherwise than Qt's own style does.
class ControlStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element == PE_IndicatorCheckBox) return drawCheckBox(*option, *painter);
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    const bool isDefault = button && (button->features & QStyleOptionButton::DefaultButton) &&
                           !(button->features & QStyleOptionButton::Flat);
    if (isDefault && element == CE_PushButtonBevel) return drawDefaultBevel(*button, *painter);
    if (isDefault && element == CE_PushButtonLabel) {
      QStyleOptionButton white = *button;
      white.palette.setColor(QPalette::ButtonText, Qt::white);
      return QProxyStyle::drawControl(element, &white, painter, widget);
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }

 private:
  static void drawDefaultBevel(const QStyleOptionButton& button, QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (!(button.state & State_Enabled)) painter.setOpacity(0.5);
    const QColor fill = button.state & State_Sunken ? controlAccentColor().darker(120) : controlAccentColor();
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(button.rect).adjusted(1, 1, -1, -1), 5, 5);
    painter.restore();
  }

  // A rounded square, filled with the accent under a white check (a dash when mixed) when
  // on, a bordered empty one when off.
  static void drawCheckBox(const QStyleOption& option, QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (!(option.state & State_Enabled)) painter.setOpacity(0.5);
    const QRectF box = QRectF(option.rect).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = box.width() / 4;
    const bool on = option.state & State_On, mixed = option.state & State_NoChange;
    if (on || mixed) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(option.state & State_Sunken ? controlAccentColor().darker(120) : controlAccentColor());
      painter.drawRoundedRect(box, radius, radius);
      QPen mark(Qt::white, box.width() / 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
      painter.setPen(mark);
      painter.setBrush(Qt::NoBrush);
      const auto at = [&box](double x, double y) { return box.topLeft() + QPointF(x * box.width(), y * box.height()); };
      if (mixed && !on) {
        painter.drawLine(at(0.28, 0.5), at(0.72, 0.5));
      } else {
        QPainterPath check(at(0.26, 0.52));
        check.lineTo(at(0.43, 0.7));
        check.lineTo(at(0.75, 0.3));
        painter.drawPath(check);
      }
    } else {
      const bool night = dark();
      painter.setPen(QPen(night ? QColor(255, 255, 255, 100) : QColor(0, 0, 0, 90), 1));
      painter.setBrush(night ? QColor(255, 255, 255, 36) : QColor(Qt::white));
      painter.drawRoundedRect(box, radius, radius);
    }
    painter.restore();
  }
};

}  // namespace

QColor controlAccentColor() { return {0, 122, 255}; }

void installControlStyle() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  if (dynamic_cast<ControlStyle*>(QApplication::style())) return;
  // The proxy keeps a copy of the style in use as its base; the application deletes the one
  // it had.
  QApplication::setStyle(new ControlStyle(QStyleFactory::create(QApplication::style()->name())));
}

}  // namespace platform
