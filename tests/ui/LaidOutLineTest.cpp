// A line shaped once lands on the very pixels QPainter::drawText gives it, wherever its
// box falls between pixels and at any scale.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "support/WidgetsApp.h"
#include "ui/Paint.h"

TEST(LaidOutLine, DrawsCentredAsDrawTextDoes) {
  trelliq::test::ensureWidgets();
  const QFont font = trelliq::ui::systemFont(11, QFont::DemiBold);
  const trelliq::ui::LaidOutLine line("Calendar", font);
  for (const double scale : {1.0, 2.0}) {
    for (int step = 0; step < 10; ++step) {
      const QRectF box(10 + 0.1 * step, 10.45 - 0.1 * step, 60, 14);
      QImage plain(200, 100, QImage::Format_ARGB32_Premultiplied);
      plain.fill(Qt::transparent);
      QImage laid = plain.copy();
      for (QImage* image : {&plain, &laid}) {
        QPainter p(image);
        p.scale(scale, scale);
        p.setFont(font);
        p.setPen(QColor(20, 20, 20, 150));
        if (image == &plain) p.drawText(box, Qt::AlignCenter, "Calendar");
        else line.drawCentred(p, box);
      }
      EXPECT_EQ(laid, plain) << "scale " << scale << ", box at " << box.x() << "," << box.y();
    }
  }
}
