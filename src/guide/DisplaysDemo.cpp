#include "guide/DisplaysDemo.h"

#include <QPainterPath>
#include <QVBoxLayout>
#include <cmath>

#include "guide/InlineKeys.h"
#include "switcher/model/Metrics.h"
#include "ui/DemoIcons.h"

namespace trelliq {

namespace {
// How much the medium weight thickens the symbol's outline, in points.
constexpr double kPointerRim = 0.8;
}  // namespace

/// The two displays and the pointer, enlarged by `scale`.
class DisplaysDemo::Picture : public QWidget {
 public:
  explicit Picture(DisplaysDemo& demo) : QWidget(&demo), demo_(demo) {
    const double w = 2 * screenWidth + screenGap;
    setFixedSize(static_cast<int>(std::ceil(w * scale)), static_cast<int>(std::ceil(screenHeight * scale)));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = 2 * screenWidth + screenGap;
    p.translate(width() / 2.0, height() / 2.0);
    p.scale(scale, scale);
    p.translate(-w / 2, -screenHeight / 2);
    const auto& top = DemoIcons::top();
    const auto& bottom = DemoIcons::bottom();
    const std::array<std::array<CGImageRef, 3>, 2> icons{{{top[0], top[1], bottom[0]}, {top[2], top[3], bottom[1]}}};
    const Step& step = steps()[static_cast<std::size_t>(demo_.player().index())];
    for (int d = 0; d < 2; ++d) {
      const QRectF screen(d * (screenWidth + screenGap), 0, screenWidth, screenHeight);
      ui::fillRounded(p, screen, 6, ui::primary(0.05));
      ui::strokeRoundedInside(p, screen, 6, ui::separator(), 1);
      // The display's little switcher panel.
      const QSizeF panel(3 * 28 + 2 * 2 + 2 * 5, 28 + 2 * 5);
      p.save();
      p.translate(screen.center());
      p.scale(demo_.displayScale(d), demo_.displayScale(d));
      p.setOpacity(demo_.displayOpacity(d));
      const QRectF plate(QPointF(-panel.width() / 2, -panel.height() / 2), panel);
      ui::fillRounded(p, plate, 10, ui::primary(0.08));
      for (int i = 0; i < 3; ++i) {
        const QRectF item(plate.left() + 5 + i * 30, plate.top() + 5, 28, 28);
        if (const double lit = demo_.displayHighlight(d); i == 0 && lit > 0) {
          ui::fillRounded(p, item, 6, ui::primary(0.2 * lit));
        }
        ui::drawImage(p, item.adjusted(3, 3, -3, -3), icons[static_cast<std::size_t>(d)][static_cast<std::size_t>(i)]);
      }
      p.restore();
    }
    // The pointer symbol at medium weight: its outline thickened by a rim, filled in one go
    // so the rim and the body do not double up where the style is not opaque.
    const QPainterPath body = ui::pointerArrow(QRectF(pointerAt(step), QSizeF(15, 15)));
    QPainterPathStroker rim;
    rim.setWidth(kPointerRim);
    rim.setJoinStyle(Qt::RoundJoin);
    const QPainterPath pointer = body.united(rim.createStroke(body)).simplified();
    ui::paintShadow(p, pointer, 0.4, 1, QPointF(0, 0.5));
    p.fillPath(pointer, ui::primary());
  }

 private:
  DisplaysDemo& demo_;
};

const std::array<DisplaysDemo::Step, 2>& DisplaysDemo::steps() {
  static const std::array<Step, 2> list{Step{0, 0, true}, Step{1, 0, true}};
  return list;
}

QPointF DisplaysDemo::pointerAt(const Step& step) { return {98 + (screenWidth + screenGap) * step.pointer, 62}; }

DisplaysDemo::DisplaysDemo(int index, bool keyDown, QWidget* parent, bool playing) : PlayingDemo(parent) {
  player_ = std::make_unique<DemoPlayer>(
      2, [](int i) { return steps()[static_cast<std::size_t>(i)].fn; }, DemoPlayer::displaysTiming, index, keyDown);
  const Step& step = steps()[static_cast<std::size_t>(player_->index())];
  for (int d = 0; d < 2; ++d) {
    const bool steered = step.steered == d;
    scales_[static_cast<std::size_t>(d)] = ui::Tween(steered ? 1 : Metrics::unfocusedScale);
    opacities_[static_cast<std::size_t>(d)] = ui::Tween(steered ? 1 : Metrics::unfocusedOpacity);
    highlights_[static_cast<std::size_t>(d)] = ui::Tween(steered ? 1 : 0);
  }
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(16);
  layout->setContentsMargins(0, 0, 0, 0);
  picture_ = new Picture(*this);
  layout->addWidget(picture_, 0, Qt::AlignHCenter);
  keys_ = new InlineKeys({"⌘", "fn"}, {"⌘"},
                         player_->keyDown() && step.fn ? std::optional<std::string>("fn") : std::nullopt, "⌘", this);
  layout->addWidget(keys_, 0, Qt::AlignHCenter);
  player_->onChange = [this](const Transition& t) { showFrame(t); };
  if (playing) player_->start();
}

DisplaysDemo::~DisplaysDemo() { player_->onChange = nullptr; }

void DisplaysDemo::showFrame(const Transition& transition) {
  const Step& step = steps()[static_cast<std::size_t>(player_->index())];
  for (int d = 0; d < 2; ++d) {
    const bool steered = step.steered == d;
    scales_[static_cast<std::size_t>(d)].set(steered ? 1 : Metrics::unfocusedScale, transition, picture_);
    opacities_[static_cast<std::size_t>(d)].set(steered ? 1 : Metrics::unfocusedOpacity, transition, picture_);
    highlights_[static_cast<std::size_t>(d)].set(steered ? 1 : 0, transition, picture_);
  }
  keys_->setState({"⌘"}, player_->keyDown() && step.fn ? std::optional<std::string>("fn") : std::nullopt, transition);
  picture_->update();
}

}  // namespace trelliq
