#pragma once
// The Preferences form's "Switching" section: which desktops get a stop, when tile names
// show, instant Space switching and the key for an app's windows. Main thread only.

#include <QCheckBox>
#include <QComboBox>
#include <functional>
#include <string>

#include "preferences/FormRow.h"
#include "preferences/StoredOption.h"
#include "settings/DefaultsKeys.h"

namespace trelliq {

class SwitchingSection : public FormSection {
 public:
  /// `edited` is called after the user changed a control and its key was written.
  explicit SwitchingSection(std::function<void()> edited, QWidget* parent = nullptr);

  /// Shows the stored options; the desktops row hides for the mode stored as `mode`
  /// when that is window tiles, which have no desktop stops.
  void showStored(const std::string& mode);
  /// The stored "instantSpaces" choice, read afresh.
  bool instantSpaces() const { return instantSpacesKey_.get(); }

  FormRow& desktopsRow() const { return *desktopsRow_; }
  QComboBox& desktopsPicker() const { return *desktopsPicker_; }
  FormRow& namesRow() const { return *namesRow_; }
  QComboBox& namesPicker() const { return *namesPicker_; }
  QCheckBox& instantSpacesToggle() const { return *instantSpaces_; }
  QCheckBox& appWindowsToggle() const { return *appWindows_; }

 private:
  StoredString desktops_{defaultskey::desktops, registereddefault::desktops};
  StoredString names_{defaultskey::names, registereddefault::names};
  StoredBool instantSpacesKey_{defaultskey::instantSpaces, registereddefault::instantSpaces};
  StoredBool appWindowsKey_{defaultskey::appWindows, registereddefault::appWindows};
  FormRow* desktopsRow_ = nullptr;
  QComboBox* desktopsPicker_ = nullptr;
  FormRow* namesRow_ = nullptr;
  QComboBox* namesPicker_ = nullptr;
  QCheckBox* instantSpaces_ = nullptr;
  QCheckBox* appWindows_ = nullptr;
};

}  // namespace trelliq
