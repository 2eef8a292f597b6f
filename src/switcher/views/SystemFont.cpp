#include "switcher/views/SystemFont.h"

#include <QFontMetricsF>
#include <QString>
#include <cmath>

namespace trelliq::views {

QFont systemFont(double size, scene::Weight weight) {
  QFont font;
  // Pixel sizes keep a point a pixel whatever the screen's dots per inch.
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
  switch (weight) {
    case scene::Weight::regular:
      font.setWeight(QFont::Normal);
      break;
    case scene::Weight::medium:
      font.setWeight(QFont::Medium);
      break;
    case scene::Weight::semibold:
      font.setWeight(QFont::DemiBold);
      break;
    case scene::Weight::bold:
      font.setWeight(QFont::Bold);
      break;
  }
  return font;
}

CGSize FontMeasure::size(const std::string& text, double pointSize, scene::Weight weight) const {
  const QFontMetricsF metrics(systemFont(pointSize, weight));
  return {std::ceil(metrics.horizontalAdvance(QString::fromStdString(text))), std::ceil(metrics.height())};
}

}  // namespace trelliq::views
