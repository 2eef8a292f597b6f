#pragma once
// The small trackpad picture that plays a demonstration frame's gesture with finger dots,
// in place of the key row of keyboard demonstrations. A new frame number plays the frame's
// gesture again from its beginning. Main thread only.

#include <QWidget>
#include <optional>

#include "guide/model/TrackpadPlayer.h"
#include "ui/Paint.h"

namespace trelliq {

class MiniTrackpad : public QWidget {
 public:
  static constexpr double padWidth = 104;
  static constexpr double padHeight = 66;

  MiniTrackpad(std::optional<TrackpadMove> move, int step, QWidget* parent = nullptr);

  /// Shows frame `step` with its gesture; plays it when the frame number changed.
  void setStep(std::optional<TrackpadMove> move, int step);
  const TrackpadPlayer& player() const { return player_; }
  /// Ends the gesture under way at once (its window went out of sight).
  void stop() { player_.stop(); }

  /// Room beside and below the pad for its soft shadow, which a widget would cut off.
  static constexpr double shadowRoom = 2;

  QSize sizeHint() const override {
    return {static_cast<int>(padWidth + 2 * shadowRoom), static_cast<int>(padHeight + shadowRoom)};
  }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void changed(const Transition& transition);
  int step_;
  TrackpadPlayer player_;
  ui::Tween dotsOpacity_;
  ui::Tween dx_;
  ui::Tween dy_;
  ui::Tween padScale_{1};
  int fingers_ = -1;  // as last drawn
};

}  // namespace trelliq
