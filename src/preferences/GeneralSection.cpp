#include "preferences/GeneralSection.h"

#include <QHBoxLayout>

#include "platform/ServiceManagement.h"
#include "preferences/FormControls.h"
#include "preferences/PreferencesText.h"
#include "settings/LaunchAtLogin.h"

namespace trelliq {

GeneralSection::GeneralSection(std::function<void()> loginItemShown, QWidget* parent)
    : FormSection("General", parent), loginItemShown_(std::move(loginItemShown)) {
  readLoginItem();
  loginToggle_ = new QCheckBox();
  connect(loginToggle_, &QCheckBox::clicked, this, [this](bool on) { setLaunchAtLogin(on); });
  loginRow_ = new FormRow("Open at login", {PreferencesText::loginSubtitle(needsApproval_)}, loginToggle_);
  addRow(loginRow_);
  loginItemsButton_ = new QPushButton("Open Login Items Settings…");
  connect(loginItemsButton_, &QPushButton::clicked, this, [] { SMAppService::openSystemSettingsLoginItems(); });
  auto* buttonRow = new QWidget();
  auto* buttonLine = new QHBoxLayout(buttonRow);
  buttonLine->setContentsMargins(10, 0, 10, 6);
  buttonLine->addWidget(loginItemsButton_, 0, Qt::AlignLeft);
  addRow(buttonRow);
}

void GeneralSection::readLoginItem() {
  needsApproval_ = LaunchAtLogin::needsApproval();
  launchAtLogin_ = LaunchAtLogin::isOn() || needsApproval_;
}

void GeneralSection::setLaunchAtLogin(bool on) {
  if (on != (LaunchAtLogin::isOn() || LaunchAtLogin::needsApproval())) LaunchAtLogin::set(on);
  loginItemMayHaveChanged();
}

void GeneralSection::loginItemMayHaveChanged() {
  readLoginItem();
  showLoginItem();
  if (loginItemShown_) loginItemShown_();
}

void GeneralSection::showLoginItem() {
  form::showToggle(*loginToggle_, launchAtLogin_);
  loginRow_->setSubtitle({PreferencesText::loginSubtitle(needsApproval_)});
  loginItemsButton_->parentWidget()->setHidden(!needsApproval_);
}

}  // namespace trelliq
