#pragma once
// The switcher-mode picker at the top of the status menu: "Switcher mode" over three
// option tiles (app tiles, window tiles, both). It reads and writes the "tiles" default
// directly, so its highlight follows the stored value also when another window changes
// it, and a stored value that is none of the three highlights nothing. Main thread.

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "platform/AppKitMenus.h"
#include "settings/Settings.h"
#include "settings/DefaultsKeys.h"

namespace trelliq {

class MenuSwitcherMode : public NSMenuItemView {
 public:
  static constexpr const char* key = defaultskey::tiles;
  static constexpr const char* heading = "Switcher mode";
  static constexpr double width = 300;
  static constexpr double horizontalPadding = 14;
  static constexpr double topPadding = 4;
  static constexpr double bottomPadding = 2;
  static constexpr double spacing = 6;
  static constexpr double headingHeight = 15;
  /// Glyph 22, gap 5, one line of text 13, vertical padding 8 on either side.
  static constexpr double optionHeight = 8 + 22 + 5 + 13 + 8;

  struct Option {
    Settings::Tiles::Case style;
    const char* title;
  };
  static constexpr std::array<Option, 3> options{{{Settings::Tiles::Case::apps, "App tiles"},
                                                  {Settings::Tiles::Case::windows, "Window tiles"},
                                                  {Settings::Tiles::Case::both, "Hybrid"}}};

  /// `picked` runs after every pick (the status menu closes itself there).
  explicit MenuSwitcherMode(std::function<void()> picked = {});

  /// Whether `style`'s raw value is what "tiles" holds now.
  static bool isSelected(Settings::Tiles::Case style);
  /// The selected option's title, nothing when the stored value is none of the three.
  static std::optional<std::string> selectedTitle();
  /// Writes `style`'s raw value to "tiles", then calls `picked`.
  void pick(Settings::Tiles::Case style);

  /// The option tile under `point` (view coordinates, top-left origin); nothing between
  /// or outside the tiles.
  static std::optional<Settings::Tiles::Case> optionAt(CGPoint point);
  /// The frame of the option tile at `index` (0 to 2) in view coordinates.
  static CGRect optionFrame(std::size_t index);

  /// Draws the picker as it stands now into a picture of `scale` pixels per point; the
  /// view library installs it at start, so this logic stays free of drawing code.
  using Painter = CGImageRef (*)(const MenuSwitcherMode& view, double scale);
  static Painter& painter() {
    static Painter installed = nullptr;
    return installed;
  }
  /// The picker's picture at `scale`, from the installed painter; null when none is installed.
  CGImageRef picture(double scale = 1) const { return painter() ? painter()(*this, scale) : nullptr; }

  CGSize fittingSize() const override;
  /// A click on a tile picks it; elsewhere nothing happens.
  void click(CGPoint point) override;

 private:
  std::function<void()> picked_;
};

}  // namespace trelliq
