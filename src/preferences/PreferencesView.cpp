#include "preferences/PreferencesView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Permission.h"
#include "guide/GuideWindow.h"
#include "guide/KeyCap.h"
#include "guide/LayoutFit.h"
#include "platform/AppKit.h"
#include "preferences/FormRow.h"
#include "preferences/GesturePopUp.h"
#include "preferences/HotCornerPicker.h"
#include "preferences/PermissionsSection.h"
#include "preferences/PreferencesText.h"
#include "preferences/TileStylePicker.h"
#include "preferences/TilesOverview.h"
#include "settings/LaunchAtLogin.h"

namespace trelliq {
namespace {

struct Option {
  const char* title;
  const char* tag;
};

QComboBox* choicePicker(std::initializer_list<Option> options, const StoredString& stored, QWidget* parent) {
  auto* picker = new QComboBox(parent);
  for (const Option& o : options) picker->addItem(o.title, QString(o.tag));
  // `activated` comes from the user only, so showing a value never writes it back.
  QObject::connect(picker, &QComboBox::activated, picker, [picker, stored](int index) {
    if (index >= 0) stored.set(picker->itemData(index).toString().toStdString());
  });
  return picker;
}

// Selects the option whose tag is `value`; none when no option has it.
void showChoice(QComboBox& picker, const std::string& value) {
  const QSignalBlocker quiet(&picker);
  picker.setCurrentIndex(picker.findData(QString::fromStdString(value)));
}

void showToggle(QCheckBox& toggle, bool on) {
  const QSignalBlocker quiet(&toggle);
  toggle.setChecked(on);
}

QWidget* note(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setWordWrap(true);
  label->setStyleSheet("color: rgba(0,0,0,128); padding: 4px 10px;");
  return label;
}

void setNote(QWidget& widget, const std::string& text) {
  static_cast<QLabel&>(widget).setText(QString::fromStdString("ⓘ " + text));
}

}  // namespace

PreferencesView::PreferencesView(QWidget* parent) : QWidget(parent) {
  readLoginItem();
  accessibility_ = Permission::accessibility.isGranted();
  screenRecording_ = Permission::screenRecording.isGranted();
  build();
  auto& centre = NSNotificationCenter::defaultCenter();
  std::weak_ptr<bool> alive = alive_;
  observers_.push_back(centre.addObserver(NSUserDefaultsDidChangeNotification, nullptr, &platform::mainQueue(),
                                          [this, alive](const NSNotification&) {
                                            if (alive.lock()) reload();
                                          }));
  observers_.push_back(centre.addObserver(NSWindowDidBecomeKeyNotification, nullptr, &platform::mainQueue(),
                                          [this, alive](const NSNotification&) {
                                            if (alive.lock()) loginItemMayHaveChanged();
                                          }));
}

PreferencesView::~PreferencesView() {
  alive_.reset();
  refresh_.invalidate();
  for (const auto& token : observers_) NSNotificationCenter::defaultCenter().removeObserver(token);
}

void PreferencesView::build() {
  form_ = new QWidget();
  form_->setFixedWidth(formWidth);
  auto* column = new QVBoxLayout(form_);
  column->setContentsMargins(20, 20, 20, 20);
  column->setSpacing(18);
  auto section = [&](const std::string& title) {
    auto* s = new FormSection(title, form_);
    column->addWidget(s);
    sections_.push_back(s);
    return s;
  };

  // Switcher mode.
  FormSection* mode = section("Switcher mode");
  tilePicker_ = new TileStylePicker(tiles_);
  tilePicker_->setContentsMargins(10, 0, 10, 0);  // inset like the rows below it
  mode->addRow(tilePicker_);
  overviewSlot_ = new QWidget();
  new QVBoxLayout(overviewSlot_);
  overviewSlot_->layout()->setContentsMargins(10, 0, 10, 0);
  mode->addRow(overviewSlot_);
  shortcutsButton_ = new QPushButton("Show Shortcuts");
  connect(shortcutsButton_, &QPushButton::clicked, this, [] { GuideWindow::shared().show(); });
  mode->addRow(new FormRow("Keyboard shortcuts", {"See every key and what it does"}, shortcutsButton_));

  // Permissions.
  FormSection* permissions = section("Permissions");
  permissions_ = new PermissionsSection(accessibility_, screenRecording_, needsRestart_);
  permissions->addRow(permissions_);

  // General.
  FormSection* general = section("General");
  loginToggle_ = new QCheckBox();
  connect(loginToggle_, &QCheckBox::clicked, this, [this](bool on) { setLaunchAtLogin(on); });
  loginRow_ = new FormRow("Open at login", {PreferencesText::loginSubtitle(needsApproval_)}, loginToggle_);
  general->addRow(loginRow_);
  loginItemsButton_ = new QPushButton("Open Login Items Settings…");
  connect(loginItemsButton_, &QPushButton::clicked, this, [] { NSWorkspace::shared().open(loginItemsSettings); });
  auto* buttonRow = new QWidget();
  auto* buttonLine = new QHBoxLayout(buttonRow);
  buttonLine->setContentsMargins(10, 0, 10, 6);
  buttonLine->addWidget(loginItemsButton_, 0, Qt::AlignLeft);
  general->addRow(buttonRow);

  // Switching.
  FormSection* switching = section("Switching");
  desktopsPicker_ = choicePicker(
      {{"Always", "always"}, {"Only when empty", "whenEmpty"}, {"Only the first when empty", "firstWhenEmpty"}},
      desktops_, nullptr);
  desktopsRow_ = new FormRow("Show desktops", {""}, desktopsPicker_);
  switching->addRow(desktopsRow_);
  namesPicker_ = choicePicker({{"When focused", "focused"}, {"Always", "always"}}, names_, nullptr);
  namesRow_ = new FormRow("Show tile names", {""}, namesPicker_);
  switching->addRow(namesRow_);
  instantSpaces_ = new QCheckBox();
  connect(instantSpaces_, &QCheckBox::clicked, this, [this](bool on) { instantSpacesKey_.set(on); });
  switching->addRow(new FormRow("Switch Spaces instantly",
                                {"Removes Mission Control transition animation for faster switching (experimental)"},
                                instantSpaces_));
  appWindows_ = new QCheckBox();
  connect(appWindows_, &QCheckBox::clicked, this, [this](bool on) { appWindowsKey_.set(on); });
  auto* appWindowsRow = new FormRow("Switch between an app's windows with",
                                    {"Opens the switcher with only the windows of the app you're in"}, appWindows_);
  for (const char* key : {"⌥", "`"}) appWindowsRow->addTitleAccessory(new KeyCap(KeyCapSpec{key, {}, {}, false, false, true}));
  switching->addRow(appWindowsRow);

  // Previews.
  FormSection* previews = section("Previews");
  warning_ = new ScreenRecordingWarning(needsRestart_);
  previews->header().addWidget(warning_);
  previewPicker_ = choicePicker({{"No preview", "none"}, {"Thumbnail", "thumbnail"}, {"Full screen", "fullScreen"}},
                                preview_, nullptr);
  previewRow_ = new FormRow("Live window preview", {""}, previewPicker_);
  previews->addRow(previewRow_);
  recommendation_ = note(nullptr);
  setNote(*recommendation_, "We recommend turning on Switch Spaces Instantly for a better experience");
  previews->addRow(recommendation_);

  // Gestures and hot corners.
  FormSection* triggers = section("Gestures and hot corners");
  gesturePopUp_ = new GesturePopUp(gesture_);
  gestureRow_ = new FormRow("Open and close with gesture", {""}, gesturePopUp_);
  triggers->addRow(gestureRow_);
  gestureInUseSlot_ = new QWidget();
  new QVBoxLayout(gestureInUseSlot_);
  gestureInUseSlot_->layout()->setContentsMargins(10, 0, 10, 6);
  triggers->addRow(gestureInUseSlot_);
  hotCornerPicker_ = new HotCornerPicker(hotCorner_);
  hotCornerRow_ = new FormRow("Open the switcher by moving the pointer into a corner", {"", ""}, hotCornerPicker_);
  triggers->addRow(hotCornerRow_);
  dockNote_ = note(nullptr);
  triggers->addRow(dockNote_);

  // Every change shows at once; the announcement of the write comes later.
  for (QComboBox* picker : {desktopsPicker_, namesPicker_, previewPicker_, static_cast<QComboBox*>(gesturePopUp_)}) {
    connect(picker, &QComboBox::activated, this, [this] { reload(); });
  }
  for (QCheckBox* toggle : {instantSpaces_, appWindows_}) connect(toggle, &QCheckBox::clicked, this, [this] { reload(); });
  tilePicker_->onChange = [this] { reload(); };
  hotCornerPicker_->onChange = [this] { reload(); };

  scroll_ = new QScrollArea(this);
  scroll_->setWidget(form_);
  scroll_->setWidgetResizable(false);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setFrameShape(QFrame::NoFrame);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(scroll_);
  reload();
}

void PreferencesView::reload() {
  const std::string tiles = tiles_.get();
  tilePicker_->refresh();
  if (!overview_ || tiles != overviewFor_) {
    // The overview belongs to the stored string: a new mode gets new demonstrations.
    delete overview_;
    const auto style = Settings::Tiles::fromRaw(tiles).value_or(Settings::Tiles::apps);
    overview_ = new TilesOverview(style, overviewSlot_);
    overviewSlot_->layout()->addWidget(overview_);
    overview_->setPlaying(isShowing());
    overviewFor_ = tiles;
  }

  showToggle(*loginToggle_, launchAtLogin_);
  loginRow_->setSubtitle({PreferencesText::loginSubtitle(needsApproval_)});
  loginItemsButton_->parentWidget()->setHidden(!needsApproval_);

  const std::string desktops = desktops_.get();
  desktopsRow_->setHidden(tiles == "windows");
  showChoice(*desktopsPicker_, desktops);
  desktopsRow_->setSubtitle({PreferencesText::desktopsCaption(desktops)});
  const std::string names = names_.get();
  showChoice(*namesPicker_, names);
  namesRow_->setSubtitle({PreferencesText::namesCaption(names)});
  showToggle(*instantSpaces_, instantSpacesKey_.get());
  showToggle(*appWindows_, appWindowsKey_.get());

  showPermissions();

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
  } else {
    gestureInUse_->refresh();
  }
  gestureInUseSlot_->setHidden(!gestureInUse_);

  const auto corners = Settings::HotCorner::set(hotCorner_.get());
  hotCornerPicker_->refresh();
  hotCornerRow_->setSubtitle({PreferencesText::hotCornerHint(corners), PreferencesText::hotCornerState(corners)});
  hotCornerRow_->line(1).setStyleSheet(corners.empty() ? "color: rgba(0,0,0,128); font-weight: 600; padding-top: 2px;"
                                                       : "color: #007aff; font-weight: 600; padding-top: 2px;");
  const auto dock = PreferencesText::dockCornerNote(corners);
  if (dock) setNote(*dockNote_, *dock);
  dockNote_->setHidden(!dock);
  updateHeight();
}

void PreferencesView::showPermissions() {
  permissions_->setFindings(accessibility_, screenRecording_, needsRestart_);
  warning_->setNeedsRestart(needsRestart_);
  warning_->setHidden(screenRecording_);
  const std::string preview = preview_.get();
  // Without screen recording the picker shows "No preview" and writes nothing.
  showChoice(*previewPicker_, screenRecording_ ? preview : "none");
  previewPicker_->setEnabled(screenRecording_);
  previewRow_->setSubtitle({PreferencesText::previewCaption(preview, screenRecording_)});
  recommendation_->setHidden(
      !PreferencesText::recommendsInstantSpaces(preview, instantSpacesKey_.get(), screenRecording_));
}

void PreferencesView::setShowing(bool showing) {
  if (overview_) overview_->setPlaying(showing);
  if (!showing) {
    refresh_.invalidate();
    return;
  }
  if (refresh_.isValid()) return;
  // The first refresh comes a second after the window shows.
  refresh_ = platform::clock().scheduleTimer(platform::mainQueue(), 1.0, true, [this] { refreshPermissions(); });
}

void PreferencesView::refreshPermissions() {
  accessibility_ = Permission::accessibility.isGranted();
  screenRecording_ = Permission::screenRecording.isGranted();
  showPermissions();
  // One probe at a time; once a restart is known to be needed, never again.
  if (needsRestart_ || probing_) return;
  probing_ = true;
  std::weak_ptr<bool> alive = alive_;
  Permission::screenRecordingAllowedSinceLaunch([this, alive](bool restart) {
    if (!alive.lock()) return;
    probing_ = false;
    if (restart && !needsRestart_) {
      needsRestart_ = true;
      showPermissions();
    }
  });
}

void PreferencesView::readLoginItem() {
  needsApproval_ = LaunchAtLogin::needsApproval();
  launchAtLogin_ = LaunchAtLogin::isOn() || needsApproval_;
}

void PreferencesView::setLaunchAtLogin(bool on) {
  if (on != (LaunchAtLogin::isOn() || LaunchAtLogin::needsApproval())) LaunchAtLogin::set(on);
  loginItemMayHaveChanged();
}

void PreferencesView::loginItemMayHaveChanged() {
  readLoginItem();
  showToggle(*loginToggle_, launchAtLogin_);
  loginRow_->setSubtitle({PreferencesText::loginSubtitle(needsApproval_)});
  loginItemsButton_->parentWidget()->setHidden(!needsApproval_);
  updateHeight();
}

FormSection& PreferencesView::section(const std::string& title) const {
  for (FormSection* s : sections_) {
    if (s->title() == title) return *s;
  }
  return *sections_.front();
}

std::string PreferencesView::dockNote() const {
  if (dockNote_->isHidden()) return {};
  return static_cast<QLabel*>(dockNote_)->text().toStdString().substr(std::string("ⓘ ").size());
}

int PreferencesView::heightCap() {
  if (const auto screen = NSScreen::main()) return static_cast<int>(screen->visibleFrame().height()) - 60;
  return 740;
}

int PreferencesView::scrollHeight() const { return scroll_->maximumHeight(); }

void PreferencesView::updateHeight() {
  // Measured at the form's one width: the plain size hint guesses a wider form for its
  // wrapped labels and would squash every row.
  const int formHeight = guide::fittedHeight(*form_, formWidth);
  form_->setFixedHeight(formHeight);
  const int height = std::min(formHeight, heightCap());
  scroll_->setFixedHeight(height);
  // A scrolling form keeps its full width beside the bar instead of sliding under it.
  const int bar = formHeight > height ? scroll_->verticalScrollBar()->sizeHint().width() : 0;
  scroll_->setFixedWidth(formWidth + bar);
  adjustSize();
}

}  // namespace trelliq
