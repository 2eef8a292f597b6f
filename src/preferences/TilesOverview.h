#pragma once
// The animated panel under the mode picker: one demonstration for app tiles or window
// tiles, both side by side for the hybrid mode, and one sentence on how to use the mode.
// Always 290 points tall. Main thread only.

#include <QWidget>
#include <string>
#include <vector>

#include "preferences/TilesDemo.h"
#include "settings/Settings.h"

namespace trelliq {

class TilesOverview : public QWidget {
 public:
  static constexpr int fixedHeight = 290;

  /// Its demonstrations play at once or wait for `setPlaying(true)` as `start` says.
  explicit TilesOverview(Settings::Tiles style, TilesDemo::Start start = TilesDemo::Start::playing,
                         QWidget* parent = nullptr);

  Settings::Tiles style() const { return style_; }
  static std::string caption(Settings::Tiles style);
  /// The demonstrations, left to right.
  const std::vector<TilesDemo*>& demos() const { return demos_; }
  void setPlaying(bool playing);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Settings::Tiles style_;
  std::vector<TilesDemo*> demos_;
};

}  // namespace trelliq
