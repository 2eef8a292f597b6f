#include "preferences/PreviewsSection.h"

#include <QHBoxLayout>

#include "preferences/FormControls.h"
#include "preferences/PermissionsSection.h"
#include "preferences/PreferencesText.h"

namespace trelliq {

PreviewsSection::PreviewsSection(bool needsRestart, std::function<void()> edited, QWidget* parent)
    : FormSection("Previews", parent) {
  warning_ = new ScreenRecordingWarning(needsRestart);
  header().addWidget(warning_);
  previewPicker_ = form::choicePicker(
      {{"No preview", "none"}, {"Thumbnail", "thumbnail"}, {"Full screen", "fullScreen"}}, preview_, nullptr);
  previewRow_ = new FormRow("Live window preview", {""}, previewPicker_);
  addRow(previewRow_);
  recommendation_ = form::note(nullptr);
  form::setNote(*recommendation_, "We recommend turning on Switch Spaces Instantly for a better experience");
  addRow(recommendation_);
  // The choice shows at once; the announcement of the write comes later.
  connect(previewPicker_, &QComboBox::activated, this, [edited] { edited(); });
}

void PreviewsSection::showFindings(bool screenRecording, bool needsRestart, bool instantSpaces) {
  warning_->setNeedsRestart(needsRestart);
  warning_->setHidden(screenRecording);
  const std::string preview = preview_.get();
  // Without screen recording the picker shows "No preview" and writes nothing.
  form::showChoice(*previewPicker_, screenRecording ? preview : "none");
  previewPicker_->setEnabled(screenRecording);
  previewRow_->setSubtitle({PreferencesText::previewCaption(preview, screenRecording)});
  recommendation_->setHidden(!PreferencesText::recommendsInstantSpaces(preview, instantSpaces, screenRecording));
}

}  // namespace trelliq
