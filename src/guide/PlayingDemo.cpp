#include "guide/PlayingDemo.h"

namespace trelliq {

void PlayingDemo::setPlaying(bool playing) {
  if (playing) {
    player_->start();
    return;
  }
  if (!player_->isRunning()) return;
  player_->stop();
  showFrame(Transition::immediate());
  stopped();
}

}  // namespace trelliq
