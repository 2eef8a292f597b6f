#include "preferences/SwitchingSection.h"

#include "preferences/FormControls.h"
#include "preferences/PreferencesText.h"
#include "ui/KeyCap.h"

namespace trelliq {

SwitchingSection::SwitchingSection(std::function<void()> edited, QWidget* parent) : FormSection("Switching", parent) {
  desktopsPicker_ = form::choicePicker(
      {{"Always", "always"}, {"Only when empty", "whenEmpty"}, {"Only the first when empty", "firstWhenEmpty"}},
      desktops_, nullptr);
  desktopsRow_ = new FormRow("Show desktops", {""}, desktopsPicker_);
  addRow(desktopsRow_);
  namesPicker_ = form::choicePicker({{"When focused", "focused"}, {"Always", "always"}}, names_, nullptr);
  namesRow_ = new FormRow("Show tile names", {""}, namesPicker_);
  addRow(namesRow_);
  instantSpaces_ = new QCheckBox();
  connect(instantSpaces_, &QCheckBox::clicked, this, [this](bool on) { instantSpacesKey_.set(on); });
  addRow(new FormRow("Switch Spaces instantly",
                     {"Removes Mission Control transition animation for faster switching (experimental)"},
                     instantSpaces_));
  appWindows_ = new QCheckBox();
  connect(appWindows_, &QCheckBox::clicked, this, [this](bool on) { appWindowsKey_.set(on); });
  auto* appWindowsRow = new FormRow("Switch between an app's windows with",
                                    {"Opens the switcher with only the windows of the app you're in"}, appWindows_);
  for (const char* key : {"⌥", "`"})
    appWindowsRow->addTitleAccessory(new KeyCap(KeyCapLook{key, {}, {}, false, false, true}));
  addRow(appWindowsRow);

  // Every change shows at once; the announcement of the write comes later.
  for (QComboBox* picker : {desktopsPicker_, namesPicker_}) {
    connect(picker, &QComboBox::activated, this, [edited] { edited(); });
  }
  for (QCheckBox* toggle : {instantSpaces_, appWindows_}) {
    connect(toggle, &QCheckBox::clicked, this, [edited] { edited(); });
  }
}

void SwitchingSection::showStored(const std::string& mode) {
  const std::string desktops = desktops_.get();
  desktopsRow_->setHidden(mode == "windows");
  form::showChoice(*desktopsPicker_, desktops);
  desktopsRow_->setSubtitle({PreferencesText::desktopsCaption(desktops)});
  const std::string names = names_.get();
  form::showChoice(*namesPicker_, names);
  namesRow_->setSubtitle({PreferencesText::namesCaption(names)});
  form::showToggle(*instantSpaces_, instantSpacesKey_.get());
  form::showToggle(*appWindows_, appWindowsKey_.get());
}

}  // namespace trelliq
