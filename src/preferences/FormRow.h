#pragma once
// The pieces of the grouped Preferences form: a section (a header over a rounded group of
// rows) and a labelled row (two or three lines of label on the leading side, its control
// on the trailing side). Main thread only.

#include <QLabel>
#include <QWidget>
#include <string>
#include <vector>

class QHBoxLayout;
class QVBoxLayout;

namespace trelliq {

class FormRow : public QWidget {
 public:
  /// The sizes of the title and of the lines under it, those of the permission rows too, so
  /// that text keeps one size down the whole form.
  static constexpr double kTitleSize = 13;
  static constexpr double kSubtitleSize = 11;

  /// `control` may be null (a row of text only); the row takes ownership.
  FormRow(const std::string& title, const std::vector<std::string>& subtitle, QWidget* control,
          QWidget* parent = nullptr);

  std::string title() const;
  /// The lines under the title, top to bottom.
  std::vector<std::string> subtitle() const;
  void setSubtitle(const std::vector<std::string>& lines);
  /// Widgets following the title on its line (key caps).
  void addTitleAccessory(QWidget* widget);
  QLabel& line(std::size_t index) const { return *lines_.at(index); }
  QWidget* control() const { return control_; }

 private:
  QLabel* title_ = nullptr;
  QHBoxLayout* titleLine_ = nullptr;
  QVBoxLayout* label_ = nullptr;
  std::vector<QLabel*> lines_;
  QWidget* control_ = nullptr;
};

class FormSection : public QWidget {
 public:
  explicit FormSection(const std::string& title, QWidget* parent = nullptr);

  std::string title() const { return title_; }
  /// The header line; widgets may be added after the title.
  QHBoxLayout& header() const { return *header_; }
  /// Appends a row (any widget) to the group.
  void addRow(QWidget* row);
  /// Every row in order, hidden ones included.
  const std::vector<QWidget*>& rows() const { return rows_; }
  /// The rows not hidden, in order.
  std::vector<QWidget*> shownRows() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::string title_;
  QHBoxLayout* header_ = nullptr;
  QWidget* group_ = nullptr;
  QVBoxLayout* groupLayout_ = nullptr;
  std::vector<QWidget*> rows_;
};

}  // namespace trelliq
