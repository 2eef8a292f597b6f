#pragma once
// A small picture of a screen with a round target on each corner: clicking a target turns
// that corner on or off, any number at once, and the chosen set is written at once in its
// stored form. While a corner is chosen a miniature switcher shows in the middle. Main
// thread only.

#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <set>
#include <utility>

#include "preferences/StoredOption.h"
#include "settings/Settings.h"
#include "ui/Paint.h"

namespace trelliq {

class HotCornerPicker : public QWidget {
 public:
  using Corner = Settings::HotCorner;
  /// The drawn screen, in points.
  static constexpr double width = 168;
  static constexpr double height = 105;
  /// Radius of a corner target.
  static constexpr double reach = 26;

  explicit HotCornerPicker(StoredString selection, QWidget* parent = nullptr);

  /// `call` runs after a click has written the selection.
  void setOnChange(std::function<void()> call) { onChange_ = std::move(call); }

  /// The chosen corners, read afresh from the stored string.
  std::set<Corner> picked() const;
  /// A click on the corner's target: toggles it and writes the canonical stored form.
  void click(Corner corner);
  /// The target under a point of the widget; nothing outside every target or the screen.
  std::optional<Corner> cornerAt(QPointF point) const;
  std::optional<Corner> hovered() const { return hovered_; }
  /// The pointer entered (`inside`) or left the corner's target.
  void hover(Corner corner, bool inside);
  /// Re-reads the stored string and animates the change of look (another writer changed it).
  void refresh();

  /// The white fill opacity of a target as drawn now.
  double targetOpacity(Corner corner) const;
  /// How far the miniature switcher has come in: 0 absent, 1 fully shown.
  double switcherPresence() const { return switcher_.value(); }
  static std::string toolTip(Corner corner, bool chosen);
  static std::string accessibilityLabel(Corner corner);
  /// The corner's target as assistive software finds it: a button labelled "Hot corner:
  /// <title>", selected while the corner is chosen.
  QWidget& target(Corner corner) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  std::function<void()> onChange_;
  QRectF screenRect() const;
  QPointF cornerPoint(Corner corner) const;
  void paintSwitcher(QPainter& painter) const;
  void paintTarget(QPainter& painter, Corner corner) const;

  StoredString selection_;
  std::optional<Corner> hovered_;
  ui::Tween switcher_;
  std::array<ui::Tween, 4> chosen_;
  std::array<QWidget*, 4> targets_{};
};

}  // namespace trelliq
