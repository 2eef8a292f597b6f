#pragma once
// The switcher-mode choice of the Preferences form: three cards side by side (app tiles,
// window tiles, hybrid), each with a picture of its mode, a round mark with its title and
// a caption; a click anywhere on a card writes that mode at once, and the cards' marks,
// fills, borders and the hybrid card's role rows follow it over 0.15 s, easing out. A
// stored value that names no mode selects no card and is kept until the user clicks.
// Main thread only.

#include <QLabel>
#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/model/Transition.h"
#include "preferences/StoredOption.h"
#include "settings/Settings.h"
#include "ui/Paint.h"

namespace trelliq {

class SymbolView;

/// A key symbol on a small raised plate, at least 30 × 24 points with its side padding.
class KeyLabel : public QWidget {
 public:
  explicit KeyLabel(std::string key, QWidget* parent = nullptr);
  const std::string& key() const { return key_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::string key_;
};

class TileStyleCard;

class TileStylePicker : public QWidget {
 public:
  /// How a click's change is shown.
  static constexpr Transition selectionChange = Transition::easeOut(0.15);

  explicit TileStylePicker(StoredString selection, QWidget* parent = nullptr);

  /// `call` runs after a click has written the selection.
  void setOnChange(std::function<void()> call) { onChange_ = std::move(call); }

  /// A click on the card of `style` (also the selected one: the value is written again).
  void click(Settings::Tiles style);
  /// Re-reads the stored value and redraws the cards, over `transition`.
  void refresh(const Transition& transition = Transition::immediate());
  /// The card of a mode: selected look, its caption or role rows.
  TileStyleCard& card(Settings::Tiles style) const { return *cards_[static_cast<std::size_t>(style)]; }

 private:
  std::function<void()> onChange_;
  StoredString selection_;
  std::array<TileStyleCard*, 3> cards_{};
};

class TileStyleCard : public QWidget {
 public:
  TileStyleCard(Settings::Tiles style, std::function<void()> onClick, QWidget* parent = nullptr);

  Settings::Tiles style() const { return style_; }
  bool isSelected() const { return selected_; }
  /// Selects or deselects the card; the look follows over `transition`.
  void setSelected(bool selected, const Transition& transition = Transition::immediate());
  std::string title() const;
  /// The round mark beside the title: a check in a disc while selected, else a ring.
  const SymbolView& mark() const { return *mark_; }
  /// The caption shown now; empty while the hybrid card shows its role rows instead.
  std::string caption() const;
  /// The hybrid card's role rows while shown: "PRIMARY App tiles ⌘ ⇥" style summaries.
  std::vector<std::string> roles() const;
  /// How selected the card is drawn now: 0 unselected, 1 selected, between while it changes.
  double selectedness() const { return selection_.value(); }
  /// The fill opacity and border width of the card as drawn now.
  double fillOpacity() const { return 0.02 + 0.04 * selectedness(); }
  double borderWidth() const { return 1 + selectedness(); }
  /// The opacity of the hybrid card's role rows as drawn now (0 for the other cards).
  double rolesOpacity() const { return roles_ ? selectedness() : 0; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  class Mark;
  Settings::Tiles style_;
  std::function<void()> onClick_;
  bool selected_ = false;
  ui::Tween selection_;
  SymbolView* mark_ = nullptr;
  QLabel* caption_ = nullptr;
  QWidget* roles_ = nullptr;
};

}  // namespace trelliq
