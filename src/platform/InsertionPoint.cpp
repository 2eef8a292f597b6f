#include "platform/InsertionPoint.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <algorithm>
#include <cmath>

#include "platform/Clock.h"

namespace platform {

namespace {

constexpr const char* kObjectName = "platform.insertionPoint";

/// A style under which a line edit draws no caret of its own: it asks for the caret's
/// width as it paints.
class NoCaretStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    return metric == PM_TextCursorWidth ? 0 : QProxyStyle::pixelMetric(metric, option, widget);
  }
};

QStyle* noCaretStyle() {
  static QPointer<QStyle> style;
  if (!style) {
    style = new NoCaretStyle;
    style->setParent(qApp);  // goes with the application that made it
  }
  return style;
}

class InsertionPoint : public QObject {
 public:
  explicit InsertionPoint(QLineEdit& field) : QObject(&field), field_(field) {
    setObjectName(kObjectName);
    if (field.style() != noCaretStyle()) field.setStyle(noCaretStyle());
    field.installEventFilter(this);
    connect(&field, &QLineEdit::cursorPositionChanged, this, &InsertionPoint::wake);
    connect(&field, &QLineEdit::selectionChanged, this, &InsertionPoint::wake);
    connect(&field, &QLineEdit::textChanged, this, &InsertionPoint::wake);
    wake();
  }
  ~InsertionPoint() override { blink_.cancel(); }

  bool eventFilter(QObject* object, QEvent* event) override {
    if (object != &field_) return false;
    switch (event->type()) {
      case QEvent::Paint:
        // The field paints itself first; the bar goes over its text.
        static_cast<QObject&>(field_).event(event);
        if (on_ && !field_.hasSelectedText()) {
          QPainter painter(&field_);
          scale_ = std::max(painter.deviceTransform().m11(), 0.01);
          painter.fillRect(bar(), field_.palette().color(QPalette::Text));
        }
        return true;
      case QEvent::Show:
        wake();
        return false;
      case QEvent::Hide:
        blink_.cancel();
        return false;
      default:
        return false;
    }
  }

 private:
  /// Solid from now, and blinking again a blink's time later.
  void wake() {
    on_ = true;
    field_.update();
    schedule();
  }
  void schedule() {
    blink_.cancel();
    if (!field_.isVisible() || field_.hasSelectedText()) return;
    QPointer<InsertionPoint> self(this);
    blink_ = mainQueue().asyncAfter(kInsertionPointBlink, [self] {
      if (self) self->toggle();
    });
  }
  void toggle() {
    on_ = !on_;
    field_.update(bar().toAlignedRect());
    schedule();
  }
  /// Where the bar lies: Qt reports the caret's place as a rectangle some pixels wide
  /// centred half a pixel left of the insertion point, one pixel taller than the line. The
  /// bar stands on whole device pixels, a point wide but never under two of them: a bar of
  /// one pixel falls between the samples when the window's picture is shown smaller than
  /// its pixels (a display drawn below a pixel per point), and the caret would be lost.
  QRectF bar() const {
    const QRectF around = field_.inputMethodQuery(Qt::ImCursorRectangle).toRectF();
    const double left = std::round((around.center().x() + 0.5) * scale_);
    const double wide = std::max(2.0, std::round(scale_));
    return {left / scale_, around.top(), wide / scale_, std::max(1.0, around.height() - 1)};
  }

  QLineEdit& field_;
  bool on_ = true;
  double scale_ = 1;  // device pixels per point of the last paint
  WorkItem blink_;
};

InsertionPoint* insertionPointOf(QWidget* field) {
  // Only this file names its objects so.
  return field ? static_cast<InsertionPoint*>(field->findChild<QObject*>(kObjectName, Qt::FindDirectChildrenOnly))
               : nullptr;
}

}  // namespace

void showInsertionPoint(QWidget* field) {
  auto* edit = qobject_cast<QLineEdit*>(field);
  if (!edit || insertionPointOf(edit)) return;
  new InsertionPoint(*edit);
}

void removeInsertionPoint(QWidget* field) {
  InsertionPoint* point = insertionPointOf(field);
  if (!point) return;
  delete point;
  field->update();
}

}  // namespace platform
