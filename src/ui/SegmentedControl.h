#pragma once
// A segmented control that picks one of its segments, drawn as the platform draws one: a
// rounded track holding the segments' labels, the chosen segment on a raised plate of its
// own (white in the light appearance, a light grey in the dark one) and thin separators
// between the others. Each segment is a checkable button, so it is clicked and asked like
// one; the control checks the one clicked. Main thread.

#include <QPushButton>
#include <QString>
#include <QWidget>
#include <vector>

namespace trelliq::ui {

class SegmentedControl : public QWidget {
 public:
  explicit SegmentedControl(const std::vector<QString>& labels, QWidget* parent = nullptr);

  /// The segments, left to right.
  const std::vector<QPushButton*>& segments() const { return segments_; }
  /// Checks the segment labelled `label` (none when no label matches).
  void choose(const QString& label);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<QPushButton*> segments_;
};

}  // namespace trelliq::ui
