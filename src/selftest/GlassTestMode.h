#pragma once
// "--glass-test": a grid of test panels with glass backgrounds in the configurations the
// command line describes, put up in this process and photographed with every display.
// Main thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Geometry.h"
#include "selftest/Dispatch.h"

class NSWindow;

namespace trelliq {

class GlassTestMode final {
 public:
  GlassTestMode() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// One panel's description: named integers in the order given.
  struct PanelRecipe {
    std::vector<std::pair<std::string, std::int64_t>> items;
    std::optional<std::int64_t> value(const std::string& name) const;
    /// The items as "name=value", sorted as text and joined with blanks.
    std::string label() const;
    friend bool operator==(const PanelRecipe&, const PanelRecipe&) = default;
  };

  /// Descriptions separated by ";" (empty ones dropped), items by ","; an item that is not
  /// exactly one non-empty name, "=" and an integer is dropped, and so is a name already
  /// given in the same description.
  static std::vector<PanelRecipe> parseRecipes(const std::string& text);
  /// `AT`: exactly four decimals separated by "," (x, y, width, height); else nothing.
  static std::optional<CGRect> parseFrame(const char* text);
  /// The frame of panel `index` (0-based) in screen coordinates: four to a row from the
  /// top left of `screen`, or `at` for every panel when given.
  static CGRect frame(std::size_t index, const CGRect& screen, const std::optional<CGRect>& at);

  /// One panel as the mode makes it (not yet ordered in).
  static std::unique_ptr<NSWindow> makePanel(const PanelRecipe& recipe, const CGRect& frame);

  /// Shows one panel per description, lets 1.0 s pass and writes "<dir>/glass-test<suffix>.png"
  /// through the per-display screenshot. Answers 0.
  static int run(const std::string& dir, const std::optional<std::string>& recipes, const std::string& suffix,
                 const std::optional<CGRect>& at);
};

}  // namespace trelliq
