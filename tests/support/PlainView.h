#pragma once
// A content view of one colour, 100 × 100 points: what a test's own window draws when
// only whether and when it draws matters. Main thread.

#include <QColor>
#include <QPainter>
#include <QWidget>

class PlainView : public QWidget {
 public:
  PlainView() { resize(100, 100); }
  QColor color = QColor(255, 0, 0);  // set it and update() to draw anew

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), color); }
};
