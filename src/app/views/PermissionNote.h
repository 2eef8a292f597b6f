#pragma once
// A quiet line of information among the permission rows: an "info.circle" symbol and a
// grey text, lined up with the rows' reasons. Main thread only.

#include <QWidget>
#include <string>

class QLabel;

namespace trelliq {

class PermissionNote : public QWidget {
 public:
  explicit PermissionNote(const std::string& text, QWidget* parent = nullptr);
  QString text() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* text_;
};

}  // namespace trelliq
