#pragma once
// A pop-up button of the program's own windows: a combo box whose menu is the simulated
// Mac's, not Qt's. Opening it shows the platform's menu as a window of the simulated Mac,
// with the chosen entry lit over the button and the others above and below it, as a
// pop-up button's menu opens; the pointer and the keys use it there. Picking an entry
// selects it and emits `activated` and `textActivated`, as Qt's own pop-up does. Qt's
// pop-up, a window of the Linux desktop, never opens. Main thread only.

#include <QComboBox>
#include <memory>

#include "platform/AppKitMenus.h"

namespace trelliq {

class PopUpButton : public QComboBox {
 public:
  /// Item data roles: where an entry's title turns italic (a note after its title, in
  /// characters), and whether it reads as greyed while it stays choosable.
  static constexpr int kItalicFromRole = Qt::UserRole + 100;
  static constexpr int kSecondaryRole = Qt::UserRole + 101;

  explicit PopUpButton(QWidget* parent = nullptr);
  ~PopUpButton() override;

  /// Opens the menu over the button (as a press on it does).
  void showPopup() override;
  /// Closes the menu without a choice.
  void hidePopup() override;
  /// The menu the button opens; open while `menu().isTracking()`.
  const NSMenu& menu() const { return *menu_; }

 protected:
  /// The menu closed, with or without a choice; the button's subclasses follow it here.
  virtual void popupClosed() {}

 private:
  // Tells the button when its menu closes, however it closes.
  struct Closing : NSMenuDelegate {
    explicit Closing(PopUpButton& button) : button(button) {}
    void menuDidClose(NSMenu&) override { button.popupClosed(); }
    PopUpButton& button;
  };

  void fillMenu();
  void pick(int index);

  Closing closing_{*this};
  std::shared_ptr<NSMenu> menu_ = std::make_shared<NSMenu>();
};

}  // namespace trelliq
