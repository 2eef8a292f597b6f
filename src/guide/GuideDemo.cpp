#include "guide/GuideDemo.h"

#include <QVBoxLayout>

#include "guide/InlineKeys.h"
#include "guide/MiniSwitcher.h"
#include "guide/MiniTrackpad.h"

namespace trelliq {
namespace {

std::set<std::string> heldWith(const Demo& demo, const Demo::Step& step) {
  std::set<std::string> held = step.held;
  held.insert(demo.hold);  // the script's modifier is held throughout
  return held;
}

}  // namespace

GuideDemo::GuideDemo(Demo demo, int index, bool keyDown, QWidget* parent, bool playing)
    : PlayingDemo(parent), demo_(std::move(demo)) {
  if (demo_.steps.empty()) demo_.steps.push_back({});  // a script always has a frame to show
  const auto frames = static_cast<int>(demo_.steps.size());
  player_ = std::make_unique<DemoPlayer>(
      frames, [this](int i) { return demo_.steps[static_cast<std::size_t>(i)].tap.has_value(); },
      DemoPlayer::scriptTiming, index, keyDown);
  const Demo::Step& step = demo_.steps[static_cast<std::size_t>(player_->index())];
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(16);
  layout->setContentsMargins(0, 0, 0, 0);
  miniature_ = new MiniSwitcher(demo_, step, this);
  layout->addWidget(miniature_, 0, Qt::AlignHCenter);
  if (demo_.trackpad) {
    trackpad_ = new MiniTrackpad(step.move, player_->index(), this);
    layout->addWidget(trackpad_, 0, Qt::AlignHCenter);
  } else {
    keys_ = new InlineKeys(demo_.keys, heldWith(demo_, step), player_->keyDown() ? step.tap : std::nullopt, demo_.hold,
                           this);
    layout->addWidget(keys_, 0, Qt::AlignHCenter);
  }
  player_->onChange = [this](const Transition& t) { showFrame(t); };
  if (playing) player_->start();
}

GuideDemo::~GuideDemo() { player_->onChange = nullptr; }

void GuideDemo::showFrame(const Transition& transition) {
  const Demo::Step& step = demo_.steps[static_cast<std::size_t>(player_->index())];
  miniature_->setStep(step, transition);
  if (trackpad_) trackpad_->setStep(step.move, player_->index());
  if (keys_) keys_->setState(heldWith(demo_, step), player_->keyDown() ? step.tap : std::nullopt, transition);
}

void GuideDemo::stopped() {
  if (trackpad_) trackpad_->stop();
}

}  // namespace trelliq
