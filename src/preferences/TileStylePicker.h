#pragma once
// The switcher-mode choice of the Preferences form: three cards side by side (app tiles,
// window tiles, hybrid), each with a picture of its mode, a round mark with its title and
// a caption; a click anywhere on a card writes that mode at once. A stored value that
// names no mode selects no card and is kept until the user clicks. Main thread only.

#include <QLabel>
#include <QWidget>
#include <array>
#include <functional>
#include <vector>
#include <string>

#include "preferences/StoredOption.h"
#include "settings/Settings.h"

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
  explicit TileStylePicker(StoredString selection, QWidget* parent = nullptr);

  /// Called after a click has written the selection.
  std::function<void()> onChange;

  /// A click on the card of `style` (also the selected one: the value is written again).
  void click(Settings::Tiles style);
  /// Re-reads the stored value and redraws the cards.
  void refresh();
  /// The card of a mode: selected look, its caption or role rows.
  TileStyleCard& card(Settings::Tiles style) const { return *cards_[static_cast<std::size_t>(style)]; }

 private:
  StoredString selection_;
  std::array<TileStyleCard*, 3> cards_{};
};

class TileStyleCard : public QWidget {
 public:
  TileStyleCard(Settings::Tiles style, std::function<void()> onClick, QWidget* parent = nullptr);

  Settings::Tiles style() const { return style_; }
  bool isSelected() const { return selected_; }
  void setSelected(bool selected);
  std::string title() const;
  /// The round mark beside the title: a check in a disc while selected, else a ring.
  const SymbolView& mark() const { return *mark_; }
  /// The caption shown now; empty while the hybrid card shows its role rows instead.
  std::string caption() const;
  /// The hybrid card's role rows while shown: "PRIMARY App tiles ⌘ ⇥" style summaries.
  std::vector<std::string> roles() const;
  /// The fill opacity and border of the card as drawn.
  double fillOpacity() const { return selected_ ? 0.06 : 0.02; }
  double borderWidth() const { return selected_ ? 2 : 1; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  Settings::Tiles style_;
  std::function<void()> onClick_;
  bool selected_ = false;
  SymbolView* mark_ = nullptr;
  QLabel* caption_ = nullptr;
  QWidget* roles_ = nullptr;
};

}  // namespace trelliq
