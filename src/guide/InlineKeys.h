#pragma once
// The row of key caps joined by plus signs under a demonstration, in a fixed order with
// the modifiers named under their symbols, drawn enlarged. The row keeps its height and
// the enlarged caps paint past it, over the space around it, as the row is drawn by a
// see-through overlay in an ancestor with room for them. Main thread only.

#include <QPointer>
#include <QTransform>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "guide/model/KeyRow.h"
#include "ui/Paint.h"
#include "ui/model/Transition.h"

namespace trelliq {

class InlineKeys : public QWidget {
 public:
  InlineKeys(std::set<std::string> keys, std::set<std::string> held, std::optional<std::string> pressed,
             std::string first = "⌘", QWidget* parent = nullptr);
  ~InlineKeys() override;

  /// Changes which keys are held and pressed; each cap lights or dims over `transition`.
  void setState(std::set<std::string> held, std::optional<std::string> pressed,
                const Transition& transition = Transition::immediate());
  /// How lit cap `index` is drawn now, 0 to 1.
  double litness(std::size_t index) const;
  /// The caps as drawn, in order.
  const std::vector<KeyRow::Item>& items() const { return items_; }

  /// The row's unscaled width: caps and plus signs 8 points apart.
  double contentWidth() const;
  /// The enlarged width, and the row's height of 28 points enlarged (39.2, to the nearest
  /// point), whatever the caps: the caps are taller and paint past the row.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }
  /// How far the enlarged caps and their shadows reach above and below the row.
  int overhang() const;
  /// How many pictures of a single cap, unlit or lit, the rows of this process made: a
  /// cap lighting up is laid from them, not drawn anew on every frame.
  static std::uint64_t capPicturesMade();

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class Spill;
  void rebuild(const Transition& transition);
  /// How lit each cap is drawn now, in order.
  std::vector<double> litnesses() const;
  /// Paints the row with the top left of its box at `origin`: the caps (unless `caps` is
  /// false) and the plus signs within `area` (all of them when it is empty).
  void paintRow(QPainter& painter, QPointF origin, const QRegion& area = {}, bool caps = true) const;
  /// Paints cap `index` alone, lit `lit` (0 to 1), where paintRow would.
  void paintCap(QPainter& painter, QPointF origin, std::size_t index, double lit) const;
  /// From the row's unscaled points to the drawing's, with the top left of its box at `origin`.
  QTransform rowTransform(QPointF origin) const;
  /// The pixels cap `index` and its shadow may cover, with the top left of the row's box at `origin`.
  QRect capArea(std::size_t index, QPointF origin) const;
  /// Puts the spill over the row, in the nearest ancestor with room for the overhang, and
  /// watches the ancestors' moves.
  void placeSpill();
  std::set<std::string> keys_;
  std::set<std::string> held_;
  std::optional<std::string> pressed_;
  std::string first_;
  std::vector<KeyRow::Item> items_;
  std::vector<ui::Tween> lit_;
  /// Where the row is drawn once it has a parent; without one it draws in its own box.
  QPointer<QWidget> spill_;
  std::vector<QPointer<QWidget>> watched_;
};

}  // namespace trelliq
