#pragma once
// The name field's editor: a borderless, centred line edit that is also a responder of
// the simulated window system, so keys routed to the panel (typing, Delete, arrows,
// Return, Escape) and the edit actions (cut:, copy:, paste:, selectAll:) reach it the
// same way Qt's own key events do. Return calls `onSubmit`, Escape `onEscape`; text the
// user changes is reported through `onEdited`, text set by the program is not. Main thread.

#include <QLineEdit>
#include <functional>
#include <string>

#include "platform/AppKitWindows.h"

namespace trelliq::views {

class NameLineEdit : public QLineEdit, public NSResponder {
 public:
  explicit NameLineEdit(QWidget* parent = nullptr);

  std::function<void()> onSubmit;
  std::function<void()> onEscape;
  std::function<void(const std::string&)> onEdited;

  /// Shows `text` without reporting it as an edit; an equal text leaves the cursor alone.
  void showText(const std::string& text);

  bool acceptsFirstResponder() const override { return true; }
  bool respondsToAction(const SEL& action) const override;
  void performAction(const SEL& action, NSResponder* sender) override;
  void keyDown(const NSEvent& event) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool showing_ = false;
};

}  // namespace trelliq::views
