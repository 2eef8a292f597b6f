#pragma once
// A still drawing of one switcher mode at a chosen scale: a row of app tiles for app
// tiles, two desktops with their windows for every other mode. Lengths scale; the divider
// and the window borders keep their hairline widths. Main thread only.

#include <QWidget>
#include <array>
#include <vector>

#include "platform/Geometry.h"
#include "platform/Image.h"
#include "settings/Settings.h"

namespace trelliq {

class TileStylePicture : public QWidget {
 public:
  struct Window {
    int icon = 0;
    CGRect frame;  // fractions of the desktop's width and height
  };
  using Layout = std::array<Window, 2>;

  explicit TileStylePicture(Settings::Tiles style, double scale = 1, QWidget* parent = nullptr);

  Settings::Tiles style() const { return style_; }
  double scale() const { return scale_; }
  /// The sample app icons, copied once from the guide's demo icons (Mail, Safari, Notes, Calendar).
  static const std::vector<CGImageRef>& icons();
  static const std::array<Layout, 2>& layouts();

  /// The drawing's size at `scale`.
  static QSizeF pictureSize(Settings::Tiles style, double scale);
  /// Paints the drawing with its top left corner at `origin`.
  static void paint(QPainter& painter, QPointF origin, Settings::Tiles style, double scale);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Settings::Tiles style_;
  double scale_;
};

}  // namespace trelliq
