#pragma once
// The look of the switcher-mode picker in the status menu: the heading over three tiles,
// each a small picture of its mode above its title, the stored mode's tile in the accent
// colour. The picker's logic (what is stored, which tile a point hits, where the tiles
// stand) stays in MenuSwitcherMode; this only draws it and hands clicks to it. Main thread.

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QWidget>
#include <memory>

#include "app/MenuSwitcherMode.h"

namespace trelliq {

/// Draws the picture of `style` (three app squares; a display with two windows; two
/// squares beside the display) centred in `rect`, every shape in `color`.
void drawMenuModeGlyph(QPainter& painter, Settings::Tiles::Case style, const QRectF& rect, const QColor& color);

class MenuSwitcherModeView : public QWidget {
 public:
  /// Shows `logic` (which must not be null); a click on the widget goes to its `click`.
  explicit MenuSwitcherModeView(std::shared_ptr<MenuSwitcherMode> logic, QWidget* parent = nullptr);

  /// Paints the whole picker in points with its top left at the painter's origin, the
  /// highlight after the value stored now (none when it is none of the three modes).
  static void paint(QPainter& painter);
  /// The picker on a clear picture of `scale` pixels per point (a scale below a tenth
  /// counts as one).
  static CGImageRef renderPicture(double scale);

  const std::shared_ptr<MenuSwitcherMode>& logic() const { return logic_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::shared_ptr<MenuSwitcherMode> logic_;
};

/// Makes `renderPicture` the painter every picker draws with, for the life of the process.
void installMenuSwitcherModePainter();

}  // namespace trelliq
