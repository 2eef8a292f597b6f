#pragma once
// The content of the Preferences window: a form of six sections (switcher mode,
// permissions, general, switching, previews, gestures and hot corners) in a scroll view
// exactly as tall as the form while it fits on the screen. Every control writes its
// defaults key the moment the user changes it, and the form shows changes made elsewhere
// as they are announced. While showing, the permission findings are refreshed once a
// second on the installed clock. Main thread only.

#include <QScrollArea>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/AppKitWorkspace.h"
#include "platform/Clock.h"
#include "ui/WhileShown.h"

namespace trelliq {

class FormSection;
class GeneralSection;
class ModeSection;
class PermissionsSection;
class PreviewsSection;
class SwitchingSection;
class TriggersSection;

class PreferencesView : public QWidget {
 public:
  static constexpr int formWidth = 600;

  /// Reads both permissions and the login item once, then builds the form.
  explicit PreferencesView(QWidget* parent = nullptr);
  ~PreferencesView() override;

  /// `call` runs after the view took a new size to fit the form (rows shown or hidden, another
  /// mode's overview, wrapped captions); the window follows it.
  void setOnSizeChange(std::function<void()> call) { onSizeChange_ = std::move(call); }

  /// The window shows (the refresh and the demonstrations run) or closed (they stop).
  void setShowing(bool showing);
  bool isShowing() const { return refresh_.isValid(); }
  /// One refresh of the permission findings; probes for a needed restart until one is known.
  void refreshPermissions();
  /// Shows the stored options again (another writer changed them).
  void reload();

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

  // The sections with their controls, for the window's owner and for tests.
  ModeSection& mode() const { return *mode_; }
  PermissionsSection& permissions() const { return *permissions_; }
  GeneralSection& general() const { return *general_; }
  SwitchingSection& switching() const { return *switching_; }
  PreviewsSection& previews() const { return *previews_; }
  TriggersSection& triggers() const { return *triggers_; }

 private:
  std::function<void()> onSizeChange_;
  void build();
  void showPermissions();
  void updateHeight();

  bool accessibility_ = false;
  bool screenRecording_ = false;
  bool needsRestart_ = false;
  bool probing_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  platform::Timer refresh_;
  std::unique_ptr<ui::WhileShown> whileShown_;
  std::vector<NSNotificationToken> observers_;

  QScrollArea* scroll_ = nullptr;
  QWidget* form_ = nullptr;
  std::vector<FormSection*> sections_;
  ModeSection* mode_ = nullptr;
  PermissionsSection* permissions_ = nullptr;
  GeneralSection* general_ = nullptr;
  SwitchingSection* switching_ = nullptr;
  PreviewsSection* previews_ = nullptr;
  TriggersSection* triggers_ = nullptr;
};

}  // namespace trelliq
