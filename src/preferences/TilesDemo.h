#pragma once
// An animated miniature of the switcher playing ⌘⇥ in a loop: the modifier held, ⇥
// pressed about once a second, and the highlight stepping through four sample apps on two
// desktops, as app tiles or as desktop tiles with their windows, over the row of keys.
// Self-contained: reads no option, changes nothing outside itself. Main thread only.

#include <QWidget>
#include <array>
#include <memory>
#include <string>

#include "guide/model/DemoPlayer.h"
#include "guide/model/SampleDesktops.h"

namespace trelliq {

class InlineKeys;

class TilesDemo : public QWidget {
 public:
  enum class Kind { apps, windows };

  /// Measures that shrink in the compact size (two demos side by side).
  struct Sizes {
    double spacing, height, appIcon, tileW, tileH, windowIcon, sidePadding, bottomPadding, radius, dividerPadding;
  };
  static const Sizes& sizes(bool compact);
  /// 1.0 s at rest, then the next step with ⇥ down for 0.22 s: a 1.22 s cycle. The step
  /// and ⇥ going down show over 0.15 s, ⇥ coming up over 0.12 s, both easing out.
  static constexpr DemoTiming timing{1.0, 0.22, Transition::easeOut(0.15), Transition::easeOut(0.12)};
  static constexpr int steps = 4;
  static constexpr std::array<const char*, 4> names{"Mail", "Safari", "Notes", "Calendar"};

  /// Whether a new demo plays at once or waits for `setPlaying(true)`: one made while its
  /// window is out of sight waits, so that it shows its first step when it comes on screen.
  enum class Start { playing, still };
  /// Starts at step 0 with ⇥ up.
  TilesDemo(Kind kind, std::string hold, std::string title, bool compact, Start start = Start::playing,
            QWidget* parent = nullptr);
  ~TilesDemo() override;

  Kind kind() const { return kind_; }
  const std::string& hold() const { return hold_; }
  const std::string& title() const { return title_; }
  bool compact() const { return compact_; }
  /// The highlighted app, 0 to 3.
  int step() const { return player_->index(); }
  bool keyDown() const { return player_->keyDown(); }
  InlineKeys& keys() const { return *keys_; }
  /// Starts or ends the loop (the window showing or closing); ending leaves ⇥ up and takes
  /// the step the wait under way still owed. A demo that never played stays at step 0.
  void setPlaying(bool playing);
  bool isPlaying() const { return player_->isRunning(); }

  /// The desktop shown current and its front window (an index into its two windows).
  static int currentDesktop(int step) { return step / 2; }
  static int frontWindow(int step) { return step % 2; }

  /// As drawn now, 0 to 1: how far app `app` is shown picked (its tile's highlight among
  /// app tiles, and its name label), and how far window `window` of desktop `desktop` is
  /// drawn as the front one (enlarged 1.08 times, opaque, with the accent border).
  double shown(int app) const;
  double front(int desktop, int window) const;

 private:
  class Miniature;
  void changed(const Transition& transition);
  Kind kind_;
  std::string hold_;
  std::string title_;
  bool compact_;
  std::unique_ptr<DemoPlayer> player_;
  Miniature* miniature_ = nullptr;
  InlineKeys* keys_ = nullptr;
};

}  // namespace trelliq
