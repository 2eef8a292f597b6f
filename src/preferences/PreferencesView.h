#pragma once
// The content of the Preferences window: a form of six sections (switcher mode,
// permissions, general, switching, previews, gestures and hot corners) in a scroll view
// exactly as tall as the form while it fits on the screen. Every control writes its
// defaults key the moment the user changes it, and the form shows changes made elsewhere
// as they are announced. While showing, the permission findings are refreshed once a
// second on the installed clock. Main thread only.

#include <QCheckBox>
#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "guide/FadingPicture.h"
#include "platform/AppKitWorkspace.h"
#include "platform/Clock.h"
#include "preferences/StoredOption.h"

namespace trelliq {

class FormRow;
class FormSection;
class GestureInUse;
class GesturePopUp;
class HotCornerPicker;
class PermissionsSection;
class ScreenRecordingWarning;
class TileStylePicker;
class TilesOverview;

class PreferencesView : public QWidget {
 public:
  static constexpr int formWidth = 600;

  /// Reads the login item and both permissions once, then builds the form.
  explicit PreferencesView(QWidget* parent = nullptr);
  ~PreferencesView() override;

  /// Called after the view took a new size to fit the form (rows shown or hidden, another
  /// mode's overview, wrapped captions); the window follows it.
  std::function<void()> onSizeChange;

  /// The window shows (the refresh and the demonstrations run) or closed (they stop).
  void setShowing(bool showing);
  bool isShowing() const { return refresh_.isValid(); }
  /// One refresh of the permission findings; probes for a needed restart until one is known.
  void refreshPermissions();
  /// Shows the stored options again (another writer changed them).
  void reload();
  /// The user switched "Open at login": registers or removes the item when that changes
  /// anything, then shows what the service reports.
  void setLaunchAtLogin(bool on);
  /// A window of the program became key: the login item is read again.
  void loginItemMayHaveChanged();

  bool launchAtLogin() const { return launchAtLogin_; }
  bool needsApproval() const { return needsApproval_; }
  bool accessibility() const { return accessibility_; }
  bool screenRecording() const { return screenRecording_; }
  bool needsRestart() const { return needsRestart_; }

  /// The form's sections in order.
  const std::vector<FormSection*>& sections() const { return sections_; }
  FormSection& section(const std::string& title) const;
  /// The scroll view's height: the form's, capped at the main screen's visible height less 60
  /// (740 without a main screen).
  int scrollHeight() const;
  static int heightCap();

  // The controls, for the window's owner and for tests.
  TileStylePicker& tilePicker() const { return *tilePicker_; }
  TilesOverview& overview() const { return *overview_; }
  /// The picture of the previous mode's overview while it fades out after the picker
  /// changed the mode; null once it is gone.
  QWidget* leavingOverview() const { return leaving_.data(); }
  /// Its opacity now (0 when there is none).
  double leavingOpacity() const;
  QPushButton& shortcutsButton() const { return *shortcutsButton_; }
  PermissionsSection& permissions() const { return *permissions_; }
  QCheckBox& loginToggle() const { return *loginToggle_; }
  FormRow& loginRow() const { return *loginRow_; }
  QPushButton& loginItemsButton() const { return *loginItemsButton_; }
  FormRow& desktopsRow() const { return *desktopsRow_; }
  QComboBox& desktopsPicker() const { return *desktopsPicker_; }
  FormRow& namesRow() const { return *namesRow_; }
  QComboBox& namesPicker() const { return *namesPicker_; }
  QCheckBox& instantSpacesToggle() const { return *instantSpaces_; }
  QCheckBox& appWindowsToggle() const { return *appWindows_; }
  ScreenRecordingWarning& screenRecordingWarning() const { return *warning_; }
  FormRow& previewRow() const { return *previewRow_; }
  QComboBox& previewPicker() const { return *previewPicker_; }
  QWidget& recommendation() const { return *recommendation_; }
  FormRow& gestureRow() const { return *gestureRow_; }
  GesturePopUp& gesturePopUp() const { return *gesturePopUp_; }
  /// Null while no gesture is chosen.
  GestureInUse* gestureInUse() const { return gestureInUse_; }
  FormRow& hotCornerRow() const { return *hotCornerRow_; }
  HotCornerPicker& hotCornerPicker() const { return *hotCornerPicker_; }
  /// The note on corners the Dock uses too; its text, "" while hidden.
  std::string dockNote() const;

 private:
  void build();
  void readLoginItem();
  void showPermissions();
  void updateHeight();
  /// Lays a picture of `leaving` over it that fades out while its successor shows.
  void crossFade(QWidget& leaving);

  StoredString preview_{"preview", "thumbnail"};
  StoredBool instantSpacesKey_{"instantSpaces", true};
  StoredString desktops_{"desktops", "always"};
  StoredString tiles_{"tiles", "apps"};
  StoredString names_{"names", "focused"};
  StoredString hotCorner_{"hotCorner", ""};
  StoredString gesture_{"gesture", ""};
  StoredBool appWindowsKey_{"appWindows", true};

  bool launchAtLogin_ = false;
  bool needsApproval_ = false;
  bool accessibility_ = false;
  bool screenRecording_ = false;
  bool needsRestart_ = false;
  bool probing_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  platform::Timer refresh_;
  std::vector<NSNotificationToken> observers_;

  QScrollArea* scroll_ = nullptr;
  QWidget* form_ = nullptr;
  std::vector<FormSection*> sections_;
  TileStylePicker* tilePicker_ = nullptr;
  QWidget* overviewSlot_ = nullptr;
  TilesOverview* overview_ = nullptr;
  QPointer<guide::FadingPicture> leaving_;
  bool fadeNextMode_ = false;  // the mode changes through the picker: cross-fade it
  std::string overviewFor_;
  QPushButton* shortcutsButton_ = nullptr;
  PermissionsSection* permissions_ = nullptr;
  FormRow* loginRow_ = nullptr;
  QCheckBox* loginToggle_ = nullptr;
  QPushButton* loginItemsButton_ = nullptr;
  FormRow* desktopsRow_ = nullptr;
  QComboBox* desktopsPicker_ = nullptr;
  FormRow* namesRow_ = nullptr;
  QComboBox* namesPicker_ = nullptr;
  QCheckBox* instantSpaces_ = nullptr;
  QCheckBox* appWindows_ = nullptr;
  ScreenRecordingWarning* warning_ = nullptr;
  FormRow* previewRow_ = nullptr;
  QComboBox* previewPicker_ = nullptr;
  QWidget* recommendation_ = nullptr;
  FormRow* gestureRow_ = nullptr;
  GesturePopUp* gesturePopUp_ = nullptr;
  QWidget* gestureInUseSlot_ = nullptr;
  GestureInUse* gestureInUse_ = nullptr;
  FormRow* hotCornerRow_ = nullptr;
  HotCornerPicker* hotCornerPicker_ = nullptr;
  QWidget* dockNote_ = nullptr;
};

}  // namespace trelliq
