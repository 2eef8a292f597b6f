#pragma once
// The Preferences form's "Previews" section: the live preview choice, usable only with
// screen recording, the header's notice while it is missing, and the recommendation of
// instant Space switching for full-screen previews. Main thread only.

#include <QComboBox>
#include <functional>

#include "preferences/FormRow.h"
#include "preferences/StoredOption.h"
#include "settings/DefaultsKeys.h"

namespace trelliq {

class ScreenRecordingWarning;

class PreviewsSection : public FormSection {
 public:
  /// `edited` is called after the user picked a preview and its key was written.
  PreviewsSection(bool needsRestart, std::function<void()> edited, QWidget* parent = nullptr);

  /// Shows the stored preview as the permission findings allow it; `instantSpaces` is the
  /// stored choice the recommendation depends on.
  void showFindings(bool screenRecording, bool needsRestart, bool instantSpaces);

  ScreenRecordingWarning& screenRecordingWarning() const { return *warning_; }
  FormRow& previewRow() const { return *previewRow_; }
  QComboBox& previewPicker() const { return *previewPicker_; }
  QWidget& recommendation() const { return *recommendation_; }

 private:
  StoredString preview_{defaultskey::preview, registereddefault::preview};
  ScreenRecordingWarning* warning_ = nullptr;
  FormRow* previewRow_ = nullptr;
  QComboBox* previewPicker_ = nullptr;
  QWidget* recommendation_ = nullptr;
};

}  // namespace trelliq
