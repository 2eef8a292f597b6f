#pragma once
// One row of the guide's topic list: the title in semibold over the short summary, on
// the accent colour when selected. The whole row is clickable. Main thread only.

#include <QAbstractButton>
#include <string>

#include "ui/Paint.h"

namespace trelliq {

class TopicRow : public QAbstractButton {
 public:
  static constexpr int rowWidth = 230;
  /// Room left and right of the text.
  static constexpr int padding = 12;
  /// The body size in semibold for the title, the callout size for the line.
  static QFont titleFont();
  static QFont lineFont();

  TopicRow(std::string title, std::string line, QWidget* parent = nullptr);

  const std::string& title() const { return title_; }
  const std::string& line() const { return line_; }
  bool isSelected() const { return selected_; }
  /// The row's look follows over `transition`: the accent plate fades in or out.
  void setSelected(bool selected, const Transition& transition = Transition::immediate());
  /// How strongly the row is drawn selected now, 0 to 1.
  double selectedLook() const { return look_.value(); }

  /// The row's width and the height its title and line take there, each wrapped as needed.
  QSize sizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::string title_;
  std::string line_;
  bool selected_ = false;
  ui::Tween look_;
};

}  // namespace trelliq
