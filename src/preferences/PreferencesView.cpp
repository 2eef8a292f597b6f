#include "preferences/PreferencesView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Permission.h"
#include "app/views/Symbol.h"
#include "guide/FadingPicture.h"
#include "guide/GuidePaint.h"
#include "guide/GuideWindow.h"
#include "guide/KeyCap.h"
#include "guide/LayoutFit.h"
#include "platform/AppKit.h"
#include "platform/ServiceManagement.h"
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

// A note under a row: the info symbol, drawn like the other symbols (the fonts may lack
// the character), beside wrapped text in the callout size and the secondary colour.
QWidget* note(QWidget* parent) {
  auto* widget = new QWidget(parent);
  widget->setObjectName("note");
  auto* row = new QHBoxLayout(widget);
  row->setContentsMargins(10, 4, 10, 4);
  row->setSpacing(5);
  row->addWidget(new SymbolView("info.circle", guide::secondary(), 12, 14, widget), 0, Qt::AlignTop);
  auto* label = new QLabel(widget);
  label->setObjectName("text");
  label->setWordWrap(true);
  label->setFont(guide::systemFont(12));
  guide::setTextColor(label, guide::secondary());
  row->addWidget(label, 1);
  return widget;
}

// A change of mode with the picker cross-fades the overviews over this curve.
constexpr Transition kModeFade = Transition::easeOut(0.15);

QLabel& noteText(const QWidget& widget) { return *widget.findChild<QLabel*>("text"); }

void setNote(QWidget& widget, const std::string& text) { noteText(widget).setText(QString::fromStdString(text)); }

}  // namespace

PreferencesView::PreferencesView(QWidget* parent) : QWidget(parent) {
  // The body text size for every control and label that sets none of its own.
  setFont(guide::systemFont(13));
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

void PreferencesView::crossFade(QWidget& leaving) {
  delete leaving_.data();
  leaving_ = guide::FadingPicture::over(leaving, kModeFade);
}

double PreferencesView::leavingOpacity() const { return leaving_ ? leaving_->opacity() : 0; }

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
  connect(loginItemsButton_, &QPushButton::clicked, this, [] { SMAppService::openSystemSettingsLoginItems(); });
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
  tilePicker_->onChange = [this] {
    fadeNextMode_ = true;
    reload();
    fadeNextMode_ = false;
  };
  hotCornerPicker_->onChange = [this] { reload(); };

  scroll_ = new QScrollArea(this);
  scroll_->setWidget(form_);
  scroll_->setWidgetResizable(false);
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
    // The overview belongs to the stored string: a new mode gets new demonstrations. A
    // change made with the picker cross-fades from the old overview to the new one.
    if (overview_ && fadeNextMode_) crossFade(*overview_);
    delete overview_;
    const auto style = Settings::Tiles::fromRaw(tiles).value_or(Settings::Tiles::apps);
    overview_ = new TilesOverview(style, overviewSlot_);
    overviewSlot_->layout()->addWidget(overview_);
    if (leaving_) leaving_->raise();
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
  QLabel& state = hotCornerRow_->line(1);
  state.setFont(guide::systemFont(12, QFont::DemiBold));
  state.setContentsMargins(0, 2, 0, 0);
  guide::setTextColor(&state, corners.empty() ? guide::secondary() : guide::accent());
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
  return noteText(*dockNote_).text().toStdString();
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
  // A scrolling form keeps its full width beside the bar instead of sliding under it. The
  // bar is shown or hidden here, not left to the scroll view: the view is drawn without ever
  // being shown on screen, so it would go on deciding by a size it had before this one.
  const bool scrolls = formHeight > height;
  scroll_->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  const int bar = scrolls ? scroll_->verticalScrollBar()->sizeHint().width() : 0;
  scroll_->setFixedWidth(formWidth + bar);
  const QSize before = size();
  adjustSize();
  if (size() != before && onSizeChange) onSizeChange();
}

}  // namespace trelliq
