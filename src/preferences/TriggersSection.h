#pragma once
// The Preferences form's "Gestures and hot corners" section: the gesture pop-up with the
// warning while macOS uses the chosen gesture itself, the hot-corner picker with its state
// line, and the note on corners the Dock uses too. Main thread only.

#include <functional>
#include <string>

#include "preferences/FormRow.h"
#include "preferences/StoredOption.h"
#include "settings/DefaultsKeys.h"

namespace trelliq {

class GestureInUse;
class GesturePopUp;
class HotCornerPicker;

class TriggersSection : public FormSection {
 public:
  /// `edited` is called after the user picked a gesture or corners and the key was written.
  explicit TriggersSection(std::function<void()> edited, QWidget* parent = nullptr);

  /// Shows the stored gesture and corners.
  void showStored();
  /// Asks macOS again whether it uses the chosen gesture itself, and shows the warning
  /// only then. Answers whether the section's height changed.
  bool recheckGestureInUse();

  FormRow& gestureRow() const { return *gestureRow_; }
  GesturePopUp& gesturePopUp() const { return *gesturePopUp_; }
  /// Null while no gesture is chosen.
  GestureInUse* gestureInUse() const { return gestureInUse_; }
  FormRow& hotCornerRow() const { return *hotCornerRow_; }
  HotCornerPicker& hotCornerPicker() const { return *hotCornerPicker_; }
  /// The note on corners the Dock uses too; its text, "" while hidden.
  std::string dockNote() const;

 private:
  StoredString hotCorner_{defaultskey::hotCorner, registereddefault::hotCorner};
  StoredString gesture_{defaultskey::gesture, registereddefault::gesture};
  FormRow* gestureRow_ = nullptr;
  GesturePopUp* gesturePopUp_ = nullptr;
  QWidget* gestureInUseSlot_ = nullptr;
  GestureInUse* gestureInUse_ = nullptr;
  FormRow* hotCornerRow_ = nullptr;
  HotCornerPicker* hotCornerPicker_ = nullptr;
  QWidget* dockNote_ = nullptr;
};

}  // namespace trelliq
