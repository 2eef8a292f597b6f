#pragma once
// One row of the guide's topic list: the title in semibold over the short summary, on
// the accent colour when selected. The whole row is clickable. Main thread only.

#include <QAbstractButton>
#include <string>

namespace trelliq {

class TopicRow : public QAbstractButton {
 public:
  static constexpr int rowWidth = 230;

  TopicRow(std::string title, std::string line, QWidget* parent = nullptr);

  const std::string& title() const { return title_; }
  const std::string& line() const { return line_; }
  bool isSelected() const { return selected_; }
  void setSelected(bool selected);

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
};

}  // namespace trelliq
