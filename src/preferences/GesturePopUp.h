#pragma once
// The gesture choice of the Preferences form: a pop-up of none and the two double taps,
// whose open menu greys a gesture macOS already uses and names what uses it, while the
// closed pop-up shows only the bare title. Picking writes the stored string at once.
// Main thread only.

#include <QLabel>
#include <QPushButton>
#include <optional>

#include "ownwindows/views/PopUpButton.h"
#include "preferences/StoredOption.h"
#include "settings/Settings.h"

namespace trelliq {

class GesturePopUp : public PopUpButton {
 public:
  explicit GesturePopUp(StoredString selection, QWidget* parent = nullptr);

  /// Rebuilds the items, with the in-use notes as macOS has them now, and reselects.
  void fill();
  /// Selects the item whose value is the stored string; none when no item has it.
  void select();
  /// The user picks the item at `index` (as from the open menu).
  void choose(int index);
  /// The menu opens: notes are recomputed and kept while it shows. / It closed.
  void menuWillOpen();
  void menuDidClose();
  bool isOpen() const { return open_; }

  /// The text an item shows now.
  std::string text(int index) const;
  /// The stored value of an item ("" for None); nothing for the separator.
  std::optional<std::string> value(int index) const;

  /// The width every gesture pop-up asks for: its longest bare gesture title.
  static int fit();
  /// The form's text size, which the pop-up is measured in.
  static constexpr double kFontSize = 13;
  /// Where the item's italic in-use note starts in its text; nothing without a note.
  std::optional<int> noteStart(int index) const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }
  void showPopup() override;

 protected:
  void popupClosed() override { menuDidClose(); }

 private:
  /// Gives the selected gesture item its bare title (not while the menu shows).
  void plain();
  static QString title(Settings::Gesture gesture, bool withNote);
  StoredString selection_;
  bool open_ = false;
};

/// The warning under the pop-up while macOS itself uses the chosen gesture, with a button
/// that opens the System Settings pane where it can be turned off. Empty otherwise.
class GestureInUse : public QWidget {
 public:
  explicit GestureInUse(Settings::Gesture gesture, QWidget* parent = nullptr);

  /// Asks macOS again and shows or hides the warning.
  void refresh();
  Settings::Gesture gesture() const { return gesture_; }
  /// Whether there is a warning to show.
  bool warns() const { return use_.has_value(); }
  std::string text() const;
  QPushButton& button() const { return *button_; }

 private:
  Settings::Gesture gesture_;
  std::optional<Settings::Gesture::MacOSUse> use_;
  QLabel* label_ = nullptr;
  QPushButton* button_ = nullptr;
};

}  // namespace trelliq
