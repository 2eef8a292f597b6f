#include "platform/sim/DisplayPicture.h"

#include <QColor>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

namespace sim {

namespace {

QColor mix(QColor a, QColor b, double t) {
  return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                          static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                          static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

QColor lightEnd(std::uint32_t rgb) { return mix(QColor::fromRgb(rgb), Qt::white, 0.35); }
QColor darkEnd(std::uint32_t rgb) { return mix(QColor::fromRgb(rgb), Qt::black, 0.45); }

/// The diagonal gradient from `from` at the top-left corner to `to` at the bottom-right
/// of `image`, written where `region` says from a table of the colours along the
/// diagonal: a display-sized gradient fill through a painter costs several times as much.
constexpr int kSteps = 1024;
using Diagonal = std::array<QRgb, kSteps>;

/// The colours along the diagonal from `from` to `to`, made once per pair: a frame that
/// paints a few pixels of the desktop would otherwise spend most of its time on them.
std::shared_ptr<const Diagonal> diagonal(QColor from, QColor to) {
  static std::mutex mutex;
  static std::map<std::pair<quint64, quint64>, std::shared_ptr<const Diagonal>> kept;
  const std::pair<quint64, quint64> key{from.rgba64(), to.rgba64()};
  std::lock_guard lock(mutex);
  if (auto it = kept.find(key); it != kept.end()) return it->second;
  auto table = std::make_shared<Diagonal>();
  for (int i = 0; i < kSteps; ++i) (*table)[i] = mix(from, to, i / static_cast<double>(kSteps - 1)).rgb();
  if (kept.size() >= 16) kept.clear();  // a desktop colour or two per display
  return kept.emplace(key, std::move(table)).first->second;
}

void fillDiagonal(QImage& image, const QRegion& region, QColor from, QColor to) {
  const std::shared_ptr<const Diagonal> colours = diagonal(from, to);
  const Diagonal& table = *colours;
  const int w = image.width(), h = image.height();
  // How far along the diagonal a pixel's centre lies, (x·w + y·h) / (w² + h²), in table
  // steps with 16 bits of fraction.
  const double unit = (kSteps - 1) * 65536.0 / (static_cast<double>(w) * w + static_cast<double>(h) * h);
  const auto dx = static_cast<std::int64_t>(std::llround(w * unit));
  for (const QRect& part : region.intersected(image.rect())) {
    for (int y = part.top(); y <= part.bottom(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
      // From the row's start, so a pixel has one colour whichever part it is painted in.
      std::int64_t t = std::llround((0.5 * w + (y + 0.5) * h) * unit) + 32768 + part.left() * dx;
      // `t` only grows: up to where it could pass the table's end, no clamp is needed.
      const std::int64_t last = (static_cast<std::int64_t>(kSteps) << 16) - 1;
      const int free = t > last ? part.left() : static_cast<int>(std::min<std::int64_t>(
                                                   part.right() + 1, part.left() + (last - t) / std::max<std::int64_t>(dx, 1)));
      int x = part.left();
      for (; x < free; ++x, t += dx) row[x] = table[t >> 16];
      for (; x <= part.right(); ++x, t += dx) row[x] = table[std::clamp<std::int64_t>(t >> 16, 0, kSteps - 1)];
    }
  }
}

/// A label as the desktop shows it, white over a soft shadow `shadow` pixels down and
/// right, on a clear picture of its own width; kept by text, size and weight, because
/// glyphs this large are drawn as outlines every time. Null when text cannot be drawn.
QImage labelPicture(const std::string& text, const QFont& font, double line, double shadow) {
  using Key = std::tuple<std::string, int, bool, int, int>;
  static std::mutex mutex;
  static std::map<Key, QImage> kept;
  const Key key{text, font.pixelSize(), font.bold(), static_cast<int>(std::lround(line * 16)),
                static_cast<int>(std::lround(shadow * 16))};
  std::lock_guard lock(mutex);
  if (auto it = kept.find(key); it != kept.end()) return it->second;
  if (!canDrawText()) return QImage();
  const double advance = QFontMetricsF(font).horizontalAdvance(QString::fromStdString(text));
  const int pad = static_cast<int>(std::ceil(shadow)) + 2;
  QImage picture(static_cast<int>(std::ceil(advance)) + 2 * pad, static_cast<int>(std::ceil(line + shadow)),
                 QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::transparent);
  {
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF box(0, 0, picture.width(), line);
    drawLabel(painter, text, box.translated(shadow, shadow), font, 0x6E000000, Qt::AlignCenter);
    drawLabel(painter, text, box, font, 0xFFFFFFFF, Qt::AlignCenter);
  }
  if (kept.size() >= 32) kept.clear();  // displays are few: this holds them all
  return kept.emplace(key, std::move(picture)).first->second;
}

}  // namespace

namespace {
std::atomic<std::uint64_t> labelsLaid{0};
}  // namespace

std::uint64_t labelsLaidOut() { return labelsLaid.load(); }

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
  // Laying text out costs far more than drawing it: none where nothing would show.
  if (painter.hasClipping() && !painter.clipBoundingRect().intersects(box)) return;
  ++labelsLaid;
  const QFontMetricsF metrics(font);
  const QString shown = metrics.elidedText(QString::fromStdString(text), Qt::ElideRight, box.width());
  painter.save();
  painter.setFont(font);
  painter.setPen(QColor::fromRgba(argb));
  painter.drawText(box, flags | Qt::TextSingleLine, shown);
  painter.restore();
}

std::uint32_t desktopCentreColor(std::uint32_t rgb) { return mix(lightEnd(rgb), darkEnd(rgb), 0.5).rgb(); }

void paintDisplayPicture(QImage& image, const Display& display, const QRegion& region, const QRegion& within) {
  fillDiagonal(image, region, lightEnd(display.desktopColor), darkEnd(display.desktopColor));

  // The name and the number, centred, in the upper third so the centre keeps the plain gradient.
  const std::string name = display.screen.localizedName.empty() ? "Display" : display.screen.localizedName;
  const std::string number = "Display " + std::to_string(display.screen.displayID);
  const double size = std::clamp(image.height() / 14.0, 1.0, image.width() / 12.0);
  const double line = size * 1.35;
  double y = image.height() / 4.0 - line;
  const double shadow = std::max(1.0, size / 18);
  if (!region.intersects(QRectF(0, y, image.width(), 2 * line + shadow).toAlignedRect())) return;
  QPainter painter(&image);
  painter.setClipRegion(within);
  for (const auto& [text, bold] : {std::pair{name, true}, std::pair{number, false}}) {
    const QFont font = systemFont(size, bold);
    const QImage label = labelPicture(text, font, line, shadow);
    if (!label.isNull() && label.width() <= image.width()) {
      painter.drawImage(QPoint(static_cast<int>(std::lround((image.width() - label.width()) / 2.0)),
                               static_cast<int>(std::lround(y))),
                        label);
    } else {
      // Wider than the display: elided where it stands.
      painter.setRenderHint(QPainter::TextAntialiasing);
      const QRectF box(0, y, image.width(), line);
      drawLabel(painter, text, box.translated(shadow, shadow), font, 0x6E000000, Qt::AlignCenter);
      drawLabel(painter, text, box, font, 0xFFFFFFFF, Qt::AlignCenter);
    }
    y += line;
  }
}

QImage composeDisplayPicture(const Display& display, int width, int height) {
  QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32);
  paintDisplayPicture(image, display, QRegion(image.rect()));
  return image;
}

}  // namespace sim
