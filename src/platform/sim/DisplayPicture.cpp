#include "platform/sim/DisplayPicture.h"

#include <QColor>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <string>

namespace sim {

namespace {

QColor mix(QColor a, QColor b, double t) {
  return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                          static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                          static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

QColor lightEnd(std::uint32_t rgb) { return mix(QColor::fromRgb(rgb), Qt::white, 0.35); }
QColor darkEnd(std::uint32_t rgb) { return mix(QColor::fromRgb(rgb), Qt::black, 0.45); }

}  // namespace

bool canDrawText() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

QFont systemFont(double pixelSize, bool bold) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
  font.setBold(bold);
  font.setStyleStrategy(QFont::PreferAntialias);
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

void drawLabel(QPainter& painter, const std::string& text, const QRectF& box, const QFont& font, std::uint32_t argb,
               int flags) {
  if (text.empty() || box.width() < 1 || box.height() < 1 || !canDrawText()) return;
  const QFontMetricsF metrics(font);
  const QString shown = metrics.elidedText(QString::fromStdString(text), Qt::ElideRight, box.width());
  painter.save();
  painter.setFont(font);
  painter.setPen(QColor::fromRgba(argb));
  painter.drawText(box, flags | Qt::TextSingleLine, shown);
  painter.restore();
}

std::uint32_t desktopCentreColor(std::uint32_t rgb) { return mix(lightEnd(rgb), darkEnd(rgb), 0.5).rgb(); }

QImage composeDisplayPicture(const Display& display, int width, int height) {
  QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient gradient(0, 0, image.width(), image.height());
  gradient.setColorAt(0, lightEnd(display.desktopColor));
  gradient.setColorAt(1, darkEnd(display.desktopColor));
  painter.fillRect(image.rect(), gradient);

  // The name and the number, centred, in the upper third so the centre keeps the plain gradient.
  const std::string name = display.screen.localizedName.empty() ? "Display" : display.screen.localizedName;
  const std::string number = "Display " + std::to_string(display.screen.displayID);
  const double size = std::clamp(image.height() / 14.0, 1.0, image.width() / 12.0);
  const double line = size * 1.35;
  double y = image.height() / 4.0 - line;
  const double shadow = std::max(1.0, size / 18);
  for (const auto& [text, bold] : {std::pair{name, true}, std::pair{number, false}}) {
    const QFont font = systemFont(size, bold);
    const QRectF box(0, y, image.width(), line);
    drawLabel(painter, text, box.translated(shadow, shadow), font, 0x6E000000, Qt::AlignCenter);
    drawLabel(painter, text, box, font, 0xFFFFFFFF, Qt::AlignCenter);
    y += line;
  }
  painter.end();
  return image;
}

}  // namespace sim
