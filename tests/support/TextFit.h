#pragma once
// Checks that a window's labels show their whole text: drawn as the window picture draws
// them (which lays every part out), each shown label's text fits its box, on one line
// within its width or, when it wraps, within its height, and its font is sized in pixels
// (a size in points grows with the screen's dots per inch, past the box made for it).

#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QTextDocument>
#include <QWidget>
#include <string>
#include <vector>

namespace trelliq::test {

/// One line per label of `root` that does not fit, naming it by its text.
inline std::vector<std::string> labelsThatDoNotFit(QWidget& root) {
  if (QLayout* layout = root.layout()) layout->activate();
  {
    QImage picture(root.size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&picture);
    root.render(&painter);  // as the window picture does: every pending layout is done
  }
  std::vector<std::string> misfits;
  for (QLabel* label : root.findChildren<QLabel*>()) {
    if (!label->isVisibleTo(&root) || label->text().isEmpty()) continue;
    const std::string name = "\"" + label->text().toStdString() + "\"";
    if (label->font().pixelSize() <= 0) misfits.push_back(name + ": its font is not sized in pixels");
    const QRect box = label->contentsRect().adjusted(std::max(0, label->indent()), 0, 0, 0);
    if (label->textFormat() == Qt::RichText || Qt::mightBeRichText(label->text())) continue;
    if (label->wordWrap()) {
      const int needed = label->heightForWidth(label->width());
      if (needed > label->height()) {
        misfits.push_back(name + ": needs " + std::to_string(needed) + " high, has " + std::to_string(label->height()));
      }
    } else {
      const int needed = label->fontMetrics().horizontalAdvance(label->text());
      if (needed > box.width()) {
        misfits.push_back(name + ": needs " + std::to_string(needed) + " wide, has " + std::to_string(box.width()));
      }
    }
  }
  return misfits;
}

}  // namespace trelliq::test
