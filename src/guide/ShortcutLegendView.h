#pragma once
// The reference card at the bottom of the Keyboard Shortcuts window: for one switcher mode,
// each group's header (title, "· with", the held modifier's small cap, "held") and its
// entries two to a row, keys in a fixed-width column and the description beside them. The
// groups are chosen again each time the legend is laid out and drawn as they were then, so
// the ⌥` setting, which the legend does not watch, shows the next time the guide lays it
// out for a reason of its own. Main thread only.

#include <QWidget>

#include "guide/model/ShortcutLegend.h"

namespace trelliq {

class ShortcutLegendView : public QWidget {
 public:
  explicit ShortcutLegendView(Settings::Tiles mode, QWidget* parent = nullptr);

  Settings::Tiles mode() const { return mode_; }
  void setMode(Settings::Tiles mode);

  /// The callout size the headers and descriptions are set in.
  static QFont textFont(bool semibold = false);
  /// The width a description has beside its keys when the legend is `width` wide.
  static double textRoom(double width);
  /// The height the groups need at a given width.
  static double heightFor(const std::vector<ShortcutLegend::Group>& groups);
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Settings::Tiles mode_;
  // The groups of the last layout, which the paint draws: a paint between two layouts
  // never draws more rows than the height it was given.
  mutable std::vector<ShortcutLegend::Group> groups_;
};

}  // namespace trelliq
