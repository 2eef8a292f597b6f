#include "preferences/TriggersSection.h"

#include <QVBoxLayout>

#include "preferences/FormControls.h"
#include "preferences/GesturePopUp.h"
#include "preferences/HotCornerPicker.h"
#include "preferences/PreferencesText.h"
#include "ui/Paint.h"

namespace trelliq {

TriggersSection::TriggersSection(std::function<void()> edited, QWidget* parent)
    : FormSection("Gestures and hot corners", parent) {
  gesturePopUp_ = new GesturePopUp(gesture_);
  gestureRow_ = new FormRow("Open and close with gesture", {""}, gesturePopUp_);
  addRow(gestureRow_);
  gestureInUseSlot_ = new QWidget();
  new QVBoxLayout(gestureInUseSlot_);
  gestureInUseSlot_->layout()->setContentsMargins(10, 0, 10, 6);
  addRow(gestureInUseSlot_);
  hotCornerPicker_ = new HotCornerPicker(hotCorner_);
  hotCornerRow_ = new FormRow("Open the switcher by moving the pointer into a corner", {"", ""}, hotCornerPicker_);
  addRow(hotCornerRow_);
  dockNote_ = form::note(nullptr);
  addRow(dockNote_);
  // Every change shows at once; the announcement of the write comes later.
  connect(static_cast<QComboBox*>(gesturePopUp_), &QComboBox::activated, this, [edited] { edited(); });
  hotCornerPicker_->setOnChange(edited);
}

void TriggersSection::showStored() {
  const std::string gesture = gesture_.get();
  gestureRow_->setSubtitle({PreferencesText::gestureSubtitle(gesture)});
  gesturePopUp_->select();
  const auto chosen = Settings::Gesture::fromRaw(gesture);
  if (!chosen || !gestureInUse_ || gestureInUse_->gesture() != *chosen) {
    delete gestureInUse_;
    gestureInUse_ = nullptr;
    if (chosen) {
      gestureInUse_ = new GestureInUse(*chosen, gestureInUseSlot_);
      gestureInUseSlot_->layout()->addWidget(gestureInUse_);
    }
  }
  recheckGestureInUse();

  const auto corners = Settings::HotCorner::set(hotCorner_.get());
  hotCornerPicker_->refresh();
  hotCornerRow_->setSubtitle({PreferencesText::hotCornerHint(corners), PreferencesText::hotCornerState(corners)});
  QLabel& state = hotCornerRow_->line(1);
  state.setFont(ui::systemFont(12, QFont::DemiBold));
  state.setContentsMargins(0, 2, 0, 0);
  ui::setTextColor(&state, corners.empty() ? ui::secondary() : ui::accent());
  const auto dock = PreferencesText::dockCornerNote(corners);
  if (dock) form::setNote(*dockNote_, *dock);
  dockNote_->setHidden(!dock);
}

bool TriggersSection::recheckGestureInUse() {
  const bool shown = !gestureInUseSlot_->isHidden();
  if (gestureInUse_) gestureInUse_->refresh();
  // The slot takes room only while there is a warning in it, not as an empty strip.
  gestureInUseSlot_->setHidden(!gestureInUse_ || !gestureInUse_->warns());
  return shown == gestureInUseSlot_->isHidden();
}

std::string TriggersSection::dockNote() const {
  if (dockNote_->isHidden()) return {};
  return form::noteText(*dockNote_).text().toStdString();
}

}  // namespace trelliq
