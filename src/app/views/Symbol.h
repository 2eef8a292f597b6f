#pragma once
// The few system symbols the shell's windows draw (status marks, notices, the permission
// icons), painted as simple shapes in the light appearance's colours. Main thread only.

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QWidget>
#include <string>

namespace trelliq {

/// Colours of the shell's windows beyond the guide's adaptive styles.
namespace shellColors {
QColor green();
QColor yellow();
QColor red();
QColor blue();
QColor teal();
}  // namespace shellColors

/// Draws the symbol `name` to fit `rect` in `color`; an unknown name draws a plain
/// rounded square, so a row never loses its icon.
void drawShellSymbol(QPainter& painter, const std::string& name, const QRectF& rect, const QColor& color);

/// One symbol in a fixed box, drawn centred at `pointSize`.
class SymbolView : public QWidget {
 public:
  SymbolView(std::string name, QColor color, int pointSize, int boxWidth, QWidget* parent = nullptr);
  const std::string& name() const { return name_; }
  void set(std::string name, QColor color);
  QColor color() const { return color_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::string name_;
  QColor color_;
  int pointSize_;
};

}  // namespace trelliq
