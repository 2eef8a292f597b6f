#include "guide/TopicRow.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/Paint.h"

namespace trelliq {
namespace {

constexpr double kPadX = TopicRow::padding;
constexpr double kPadY = 8;
constexpr double kGap = 2;
constexpr int kWrap = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

// The height `text` takes wrapped at `width`; at least one line.
double wrappedHeight(const QFont& font, double width, const std::string& text) {
  const QFontMetricsF metrics(font);
  const QRectF box = metrics.boundingRect(QRectF(0, 0, width, 1e6), kWrap, QString::fromStdString(text));
  return std::max(metrics.height(), box.height());
}

}  // namespace

QFont TopicRow::titleFont() { return ui::systemFont(13, QFont::DemiBold); }

QFont TopicRow::lineFont() { return ui::systemFont(12); }

TopicRow::TopicRow(std::string title, std::string line, QWidget* parent)
    : QAbstractButton(parent), title_(std::move(title)), line_(std::move(line)) {
  setText(QString::fromStdString(title_));
  setFixedWidth(rowWidth);
  setCursor(Qt::PointingHandCursor);
}

void TopicRow::setSelected(bool selected, const Transition& transition) {
  if (selected == selected_) return;
  selected_ = selected;
  if (transition.curve == Transition::Curve::none || transition.duration <= 0) {
    look_ = ui::Tween(selected ? 1 : 0);
  } else {
    look_.set(selected ? 1 : 0, transition, this);
  }
  update();
}

QSize TopicRow::sizeHint() const { return {rowWidth, heightForWidth(rowWidth)}; }

int TopicRow::heightForWidth(int width) const {
  // A title or line too long for the row wraps and the row grows, rather than cutting it.
  const double text = width - 2 * kPadX;
  const double h = wrappedHeight(titleFont(), text, title_) + kGap + wrappedHeight(lineFont(), text, line_) + 2 * kPadY;
  return static_cast<int>(std::ceil(h));
}

void TopicRow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const double look = look_.value();
  const auto mix = [look](const QColor& a, const QColor& b) {
    const auto m = [look](float x, float y) { return static_cast<float>(x + (y - x) * look); };
    return QColor::fromRgbF(m(a.redF(), b.redF()), m(a.greenF(), b.greenF()), m(a.blueF(), b.blueF()),
                            m(a.alphaF(), b.alphaF()));
  };
  if (look > 0) {
    QColor plate = ui::accent();
    plate.setAlphaF(static_cast<float>(look));
    ui::fillRounded(p, QRectF(rect()), 10, plate);
  }
  const QRectF text = QRectF(rect()).adjusted(kPadX, kPadY, -kPadX, -kPadY);
  const double titleH = wrappedHeight(titleFont(), text.width(), title_);
  p.setFont(titleFont());
  p.setPen(mix(ui::primary(), QColor(Qt::white)));
  p.drawText(QRectF(text.left(), text.top(), text.width(), titleH), kWrap, QString::fromStdString(title_));
  p.setFont(lineFont());
  p.setPen(mix(ui::secondary(), QColor::fromRgbF(1, 1, 1, 0.85f)));
  p.drawText(QRectF(text.left(), text.top() + titleH + kGap, text.width(), text.height() - titleH - kGap), kWrap,
             QString::fromStdString(line_));
}

}  // namespace trelliq
