#include "guide/MiniTrackpad.h"

namespace trelliq {

MiniTrackpad::MiniTrackpad(std::optional<TrackpadMove> move, int step, QWidget* parent) : QWidget(parent), step_(step) {
  setFixedSize(sizeHint());
  player_.onChange = [this](const Transition& t) { changed(t); };
  player_.play(move);
}

void MiniTrackpad::setStep(std::optional<TrackpadMove> move, int step) {
  if (step == step_) return;
  step_ = step;
  player_.play(move);
}

void MiniTrackpad::changed(const Transition& t) {
  const TrackpadPlayer::State& s = player_.state();
  if (s.touching != (dotsOpacity_.target() > 0)) dotsOpacity_.set(s.touching ? 0.9 : 0, t, this);
  if (s.offset.width != dx_.target()) dx_.set(s.offset.width, t, this);
  if (s.offset.height != dy_.target()) dy_.set(s.offset.height, t, this);
  if ((s.pressed ? 0.96 : 1.0) != padScale_.target()) padScale_.set(s.pressed ? 0.96 : 1, t, this);
  // The tweens ask for their own frames; only the count of dots changes without one.
  if (s.fingers != fingers_) update();
  fingers_ = s.fingers;
}

void MiniTrackpad::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF pad(shadowRoom, 0, padWidth, padHeight);
  const double s = padScale_.value();
  p.translate(pad.center());
  p.scale(s, s);
  p.translate(-pad.center());
  ui::fillRaised(p, pad, 9, ui::controlBackground());
  const int fingers = std::max(0, player_.state().fingers);
  const double row = fingers * 11 + std::max(0, fingers - 1) * 5;
  const double opacity = dotsOpacity_.value();
  if (opacity > 0) {
    p.save();
    p.setOpacity(opacity);
    p.setPen(Qt::NoPen);
    p.setBrush(ui::accent());
    const QPointF start = pad.center() + QPointF(dx_.value() - row / 2, dy_.value() - 5.5);
    for (int i = 0; i < fingers; ++i) p.drawEllipse(QRectF(start + QPointF(i * 16, 0), QSizeF(11, 11)));
    p.restore();
  }
  ui::strokeRoundedInside(p, pad, 9, ui::separator(), 1);
}

}  // namespace trelliq
