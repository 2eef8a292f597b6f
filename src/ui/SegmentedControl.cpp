#include "ui/SegmentedControl.h"

#include <QHBoxLayout>
#include <QPainter>
#include <cmath>

#include "platform/AppKitAppearance.h"
#include "ui/Paint.h"

namespace trelliq::ui {

namespace {

// Points: the track's inset around the plates, a segment's padding beside its label, the
// control's height and corner radius, the label's size.
constexpr int kInset = 2, kPadding = 12, kHeight = 24;
constexpr double kRadius = 6, kLabel = 13;

bool dark() { return NSAppearance::current().isDark(); }

/// One segment: its label, over a raised plate when chosen. The track is the control's.
class Segment : public QPushButton {
 public:
  Segment(const QString& label, QWidget* parent) : QPushButton(label, parent) {
    setCheckable(true);
    setAutoDefault(false);
    setFont(systemFont(kLabel));
    setAttribute(Qt::WA_TranslucentBackground);
  }
  QSize sizeHint() const override {
    return {static_cast<int>(std::ceil(fontMetrics().horizontalAdvance(text()))) + 2 * kPadding, kHeight - 2 * kInset};
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isChecked()) fillRaised(painter, QRectF(rect()), kRadius - kInset, dark() ? QColor(108, 108, 112) : Qt::white);
    painter.setPen(primary(isEnabled() ? 1 : 0.4));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
  }
};

}  // namespace

SegmentedControl::SegmentedControl(const std::vector<QString>& labels, QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(kInset, kInset, kInset, kInset);
  row->setSpacing(0);
  for (const QString& label : labels) {
    auto* segment = new Segment(label, this);
    connect(segment, &QPushButton::clicked, this, [this, label] { choose(label); });
    // The separators beside the chosen plate go and come with it.
    connect(segment, &QPushButton::toggled, this, [this] { update(); });
    row->addWidget(segment);
    segments_.push_back(segment);
  }
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SegmentedControl::choose(const QString& label) {
  for (QPushButton* s : segments_) s->setChecked(s->text() == label);
}

void SegmentedControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  fillRounded(painter, QRectF(rect()), kRadius, dark() ? QColor(255, 255, 255, 26) : QColor(0, 0, 0, 18));
  // A separator between two segments neither of which is chosen.
  for (std::size_t i = 1; i < segments_.size(); ++i) {
    if (segments_[i - 1]->isChecked() || segments_[i]->isChecked()) continue;
    const double x = segments_[i]->geometry().left();
    painter.fillRect(QRectF(x - 0.5, kInset + 4, 1, height() - 2 * (kInset + 4)), separator());
  }
}

}  // namespace trelliq::ui
