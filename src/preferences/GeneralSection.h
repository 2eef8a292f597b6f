#pragma once
// The Preferences form's "General" section: "Open at login" with what the login item
// service reports, and the button to the Login Items settings while the item waits for
// the user's approval there. Main thread only.

#include <QCheckBox>
#include <QPushButton>
#include <functional>

#include "preferences/FormRow.h"

namespace trelliq {

class GeneralSection : public FormSection {
 public:
  /// Reads the login item once. `loginItemShown` is called whenever the section has read
  /// the login item again and shows it (its rows may have changed height).
  explicit GeneralSection(std::function<void()> loginItemShown, QWidget* parent = nullptr);

  /// The user switched "Open at login": registers or removes the item when that changes
  /// anything, then shows what the service reports.
  void setLaunchAtLogin(bool on);
  /// A window of the program became key: the login item is read again and shown.
  void loginItemMayHaveChanged();
  /// Shows the login item as last read.
  void showLoginItem();

  bool launchAtLogin() const { return launchAtLogin_; }
  bool needsApproval() const { return needsApproval_; }
  QCheckBox& loginToggle() const { return *loginToggle_; }
  FormRow& loginRow() const { return *loginRow_; }
  QPushButton& loginItemsButton() const { return *loginItemsButton_; }

 private:
  void readLoginItem();

  std::function<void()> loginItemShown_;
  bool launchAtLogin_ = false;
  bool needsApproval_ = false;
  FormRow* loginRow_ = nullptr;
  QCheckBox* loginToggle_ = nullptr;
  QPushButton* loginItemsButton_ = nullptr;
};

}  // namespace trelliq
