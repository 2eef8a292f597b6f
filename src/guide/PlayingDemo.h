#pragma once
// What the guide's demonstrations share: a view that plays its frames on a DemoPlayer, and
// that stops while its window is out of sight and plays on from there once it is back.
// Main thread only.

#include <QWidget>
#include <memory>

#include "guide/model/DemoPlayer.h"

namespace trelliq {

class PlayingDemo : public QWidget {
 public:
  explicit PlayingDemo(QWidget* parent = nullptr) : QWidget(parent) {}

  const DemoPlayer& player() const { return *player_; }
  /// Plays on from the frame shown, or stops: the step under way then ends at once, shown
  /// with the key up, and nothing moves until it plays again.
  void setPlaying(bool playing);
  bool isPlaying() const { return player_ && player_->isRunning(); }

 protected:
  /// Shows the player's frame and key over `transition`.
  virtual void showFrame(const Transition& transition) = 0;
  /// After a stop: whatever moves on a clock of its own stops as well.
  virtual void stopped() {}

  std::unique_ptr<DemoPlayer> player_;
};

}  // namespace trelliq
