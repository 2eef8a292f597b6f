#pragma once
// One keyboard key drawn as a small raised cap: its symbol, optionally a word under it and
// for "fn" a globe, in a normal or a small size, lit in the accent colour while held or
// pressed. The one key picture of the program (guide header, demo rows, legend headers,
// preferences). Main thread only.

#include <QWidget>
#include <cstdint>

#include "ui/model/KeyCapLook.h"

namespace trelliq {

class KeyCap : public QWidget {
 public:
  explicit KeyCap(KeyCapLook look, QWidget* parent = nullptr);

  const KeyCapLook& look() const { return look_; }
  /// Changes what the cap shows and repaints it.
  void setLook(KeyCapLook look);

  /// The cap's size: measured text, padding and the fixed sizes of its kind.
  static QSizeF capSize(const KeyCapLook& look);
  /// Paints a cap with its top left corner at `origin`.
  static void paint(QPainter& painter, QPointF origin, const KeyCapLook& look);
  /// As above, `lit` (0 to 1) of the way from the plain look to the lit one, whatever the
  /// cap's own `held` and `pressed` say: a cap going down or up passes through these.
  static void paint(QPainter& painter, QPointF origin, const KeyCapLook& look, double lit);

  /// How many caps this process has painted: the dearest part of a row of them. Main thread.
  static std::uint64_t paints();

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  KeyCapLook look_;
};

}  // namespace trelliq
