#include "app/views/MenuSwitcherModeView.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <cmath>

#include "ui/Paint.h"

namespace trelliq {

namespace {

constexpr double appSide = 10;
constexpr double appGap = 3;
constexpr double appRadius = 3;
constexpr QSizeF screenSize{28, 20};
constexpr double screenRadius = 3;
constexpr double screenLine = 1.2;
constexpr QSizeF windowSize{12, 8};
constexpr double windowInset = 4;
constexpr double windowRadius = 1.5;
constexpr double glyphGap = 5;  // between the two halves of the hybrid picture

constexpr double tilePadding = 8;
constexpr double glyphHeight = 22;
constexpr double titleGap = 5;
constexpr double tileRadius = 8;
constexpr double tileBorder = 1.5;

QFont pointFont(int points, QFont::Weight weight) {
  QFont f;
  f.setPixelSize(points);  // the painter works in points
  f.setWeight(weight);
  return f;
}

double appsWidth(int count) { return count <= 0 ? 0 : count * appSide + (count - 1) * appGap; }

// `count` filled squares in a row, their left edge at `left`, centred on `midY`.
void drawApps(QPainter& painter, int count, double left, double midY, const QColor& color) {
  for (int i = 0; i < count; ++i) {
    const QRectF square(left + i * (appSide + appGap), midY - appSide / 2, appSide, appSide);
    ui::fillRounded(painter, square, appRadius, color);
  }
}

// A display outline with a solid window top left and a fainter one bottom right.
void drawScreen(QPainter& painter, double left, double midY, const QColor& color) {
  const QRectF frame(QPointF(left, midY - screenSize.height() / 2), screenSize);
  ui::strokeRoundedInside(painter, frame, screenRadius, color, screenLine);
  ui::fillRounded(painter, QRectF(frame.topLeft() + QPointF(windowInset, windowInset), windowSize), windowRadius,
                  color);
  QColor faint = color;
  faint.setAlphaF(color.alphaF() * 0.5f);
  const QPointF bottomRight = frame.bottomRight() - QPointF(windowInset, windowInset);
  ui::fillRounded(painter, QRectF(bottomRight - QPointF(windowSize.width(), windowSize.height()), windowSize),
                  windowRadius, faint);
}

QRectF qrect(const CGRect& r) { return QRectF(r.minX(), r.minY(), r.width(), r.height()); }

void paintOption(QPainter& painter, const MenuSwitcherMode::Option& option, const QRectF& tile) {
  const bool selected = MenuSwitcherMode::isSelected(option.style);
  const QColor foreground = selected ? ui::accent() : ui::primary();
  QColor fill = selected ? ui::accent() : ui::primary(0.05);
  if (selected) fill.setAlphaF(0.15f);
  ui::fillRounded(painter, tile, tileRadius, fill);
  if (selected) ui::strokeRoundedInside(painter, tile, tileRadius, ui::accent(), tileBorder);

  const QRectF glyph(tile.left(), tile.top() + tilePadding, tile.width(), glyphHeight);
  drawMenuModeGlyph(painter, option.style, glyph, foreground);

  const QFont titleFont = pointFont(11, QFont::Medium);
  const QRectF titleRect(tile.left(), glyph.bottom() + titleGap, tile.width(),
                         tile.bottom() - tilePadding - glyph.bottom() - titleGap);
  painter.setFont(titleFont);
  painter.setPen(foreground);
  const QString title =
      QFontMetricsF(titleFont).elidedText(QString::fromUtf8(option.title), Qt::ElideRight, titleRect.width());
  painter.drawText(titleRect, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, title);
}

}  // namespace

void drawMenuModeGlyph(QPainter& painter, Settings::Tiles::Case style, const QRectF& rect, const QColor& color) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const double midY = rect.center().y();
  switch (style) {
    case Settings::Tiles::Case::apps:
      drawApps(painter, 3, rect.center().x() - appsWidth(3) / 2, midY, color);
      break;
    case Settings::Tiles::Case::windows:
      drawScreen(painter, rect.center().x() - screenSize.width() / 2, midY, color);
      break;
    case Settings::Tiles::Case::both: {
      const double left = rect.center().x() - (appsWidth(2) + glyphGap + screenSize.width()) / 2;
      drawApps(painter, 2, left, midY, color);
      drawScreen(painter, left + appsWidth(2) + glyphGap, midY, color);
      break;
    }
  }
  painter.restore();
}

MenuSwitcherModeView::MenuSwitcherModeView(std::shared_ptr<MenuSwitcherMode> logic, QWidget* parent)
    : QWidget(parent), logic_(std::move(logic)) {
  const CGSize size = logic_->fittingSize();
  setFixedSize(static_cast<int>(std::ceil(size.width)), static_cast<int>(std::ceil(size.height)));
}

void MenuSwitcherModeView::paint(QPainter& painter) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const QFont headingFont = pointFont(12, QFont::DemiBold);
  painter.setFont(headingFont);
  painter.setPen(ui::secondary());
  const QRectF heading(MenuSwitcherMode::horizontalPadding, MenuSwitcherMode::topPadding,
                       MenuSwitcherMode::width - 2 * MenuSwitcherMode::horizontalPadding,
                       MenuSwitcherMode::headingHeight);
  painter.drawText(heading, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   QString::fromUtf8(MenuSwitcherMode::heading));
  for (std::size_t i = 0; i < MenuSwitcherMode::options.size(); ++i) {
    paintOption(painter, MenuSwitcherMode::options[i], qrect(MenuSwitcherMode::optionFrame(i)));
  }
  painter.restore();
}

CGImageRef MenuSwitcherModeView::renderPicture(double scale) {
  if (!(scale >= 0.1)) scale = 1;
  const CGSize size = MenuSwitcherMode().fittingSize();
  QImage image(static_cast<int>(std::ceil(size.width * scale)), static_cast<int>(std::ceil(size.height * scale)),
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.scale(scale, scale);
  paint(painter);
  painter.end();
  return std::make_shared<const CGImage>(image);
}

QSize MenuSwitcherModeView::sizeHint() const { return size(); }

void MenuSwitcherModeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paint(painter);
}

void MenuSwitcherModeView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPointF at = event->position();
  logic_->click(CGPoint{at.x(), at.y()});
  // The stored value may have changed: show the new highlight at once.
  update();
}

void installMenuSwitcherModePainter() {
  MenuSwitcherMode::painter() = [](const MenuSwitcherMode&, double scale) {
    return MenuSwitcherModeView::renderPicture(scale);
  };
}

}  // namespace trelliq
