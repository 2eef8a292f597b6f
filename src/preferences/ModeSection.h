#pragma once
// The Preferences form's "Switcher mode" section: the mode cards, the overview of the
// chosen mode's demonstrations (cross-faded when the cards change the mode) and the
// button that opens the keyboard shortcuts. Main thread only.

#include <QPointer>
#include <QPushButton>
#include <functional>
#include <string>

#include "preferences/FormRow.h"
#include "preferences/StoredOption.h"
#include "settings/DefaultsKeys.h"
#include "ui/FadingPicture.h"

namespace trelliq {

class TileStylePicker;
class TilesOverview;

class ModeSection : public FormSection {
 public:
  /// `edited` is called after a click on a card has written the mode; the form then shows
  /// the stored options again.
  explicit ModeSection(std::function<void()> edited, QWidget* parent = nullptr);

  /// Shows the stored mode: the cards, and a new overview when the mode changed since the
  /// last call (playing its demonstrations when `playing`). Answers the stored string.
  std::string showStored(bool playing);
  /// Starts or stops the overview's demonstrations.
  void setPlaying(bool playing);

  TileStylePicker& tilePicker() const { return *tilePicker_; }
  TilesOverview& overview() const { return *overview_; }
  /// The picture of the previous mode's overview while it fades out after the picker
  /// changed the mode; null once it is gone.
  QWidget* leavingOverview() const { return leaving_.data(); }
  /// Its opacity now (0 when there is none).
  double leavingOpacity() const;
  QPushButton& shortcutsButton() const { return *shortcutsButton_; }

 private:
  /// Lays a picture of `leaving` over it that fades out while its successor shows.
  void crossFade(QWidget& leaving);

  StoredString tiles_{defaultskey::tiles, registereddefault::tiles};
  std::function<void()> edited_;
  TileStylePicker* tilePicker_ = nullptr;
  QWidget* overviewSlot_ = nullptr;
  TilesOverview* overview_ = nullptr;
  QPointer<ui::FadingPicture> leaving_;
  bool fadeNextMode_ = false;  // the mode changes through the picker: cross-fade it
  std::string overviewFor_;
  QPushButton* shortcutsButton_ = nullptr;
};

}  // namespace trelliq
