#pragma once
// The name field's editor: a borderless, centred line edit that is also a responder of
// the simulated window system, so keys routed to the panel (typing, Delete, arrows,
// Return, Escape) and the edit actions (cut:, copy:, paste:, selectAll:) reach it the
// same way Qt's own key events do. Return and Escape are told to its listener; text the
// user changes is reported to it too, text set by the program is not. Main thread.

#include <QLineEdit>
#include <functional>
#include <string>

#include "platform/AppKitWindows.h"

namespace trelliq::views {

class NameLineEdit : public QLineEdit, public NSResponder {
 public:
  explicit NameLineEdit(QWidget* parent = nullptr);

  /// What the field tells its owner: Return, Escape, and each edit the user makes.
  struct Listener {
    std::function<void()> submit;
    std::function<void()> escape;
    std::function<void(const std::string&)> edited;
  };
  /// Replaces what is told of the field's keys and edits.
  void setListener(Listener listener) { listener_ = std::move(listener); }

  /// Shows `text` without reporting it as an edit; an equal text leaves the cursor alone.
  void showText(const std::string& text);

  bool acceptsFirstResponder() const override { return true; }
  bool respondsToAction(const SEL& action) const override;
  void performAction(const SEL& action, NSResponder* sender) override;
  void keyDown(const NSEvent& event) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  Listener listener_;
  bool showing_ = false;
};

}  // namespace trelliq::views
