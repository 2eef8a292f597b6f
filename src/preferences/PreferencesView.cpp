#include "preferences/PreferencesView.h"

#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Permission.h"
#include "platform/AppKit.h"
#include "preferences/FormRow.h"
#include "preferences/GeneralSection.h"
#include "preferences/ModeSection.h"
#include "preferences/PermissionsSection.h"
#include "preferences/PreviewsSection.h"
#include "preferences/SwitchingSection.h"
#include "preferences/TriggersSection.h"
#include "ui/LayoutFit.h"
#include "ui/Paint.h"
#include "ui/WhileShown.h"

namespace trelliq {

PreferencesView::PreferencesView(QWidget* parent) : QWidget(parent) {
  // The body text size for every control and label that sets none of its own.
  setFont(ui::systemFont(13));
  accessibility_ = Permission::accessibility.isGranted();
  screenRecording_ = Permission::screenRecording.isGranted();
  build();
  // Its window ordered out, however it went, stops the demonstrations and the checks.
  whileShown_ = std::make_unique<ui::WhileShown>(*this, [this] { setShowing(false); }, [this] { setShowing(true); });
  auto& centre = NSNotificationCenter::defaultCenter();
  std::weak_ptr<bool> alive = alive_;
  observers_.push_back(centre.addObserver(NSUserDefaultsDidChangeNotification, nullptr, &platform::mainQueue(),
                                          [this, alive](const NSNotification&) {
                                            if (alive.lock()) reload();
                                          }));
  observers_.push_back(centre.addObserver(NSWindowDidBecomeKeyNotification, nullptr, &platform::mainQueue(),
                                          [this, alive](const NSNotification&) {
                                            if (alive.lock()) general_->loginItemMayHaveChanged();
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
  auto add = [&](FormSection* section) {
    column->addWidget(section);
    sections_.push_back(section);
    return section;
  };
  // A change the user makes shows at once, in every section it affects; the announcement
  // of the write comes later.
  const auto edited = [this] { reload(); };

  mode_ = new ModeSection(edited, form_);
  add(mode_);
  FormSection* permissions = add(new FormSection("Permissions", form_));
  permissions_ = new PermissionsSection(accessibility_, screenRecording_, needsRestart_);
  permissions->addRow(permissions_);
  general_ = new GeneralSection([this] { updateHeight(); }, form_);
  add(general_);
  switching_ = new SwitchingSection(edited, form_);
  add(switching_);
  previews_ = new PreviewsSection(needsRestart_, edited, form_);
  add(previews_);
  triggers_ = new TriggersSection(edited, form_);
  add(triggers_);

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
  const std::string tiles = mode_->showStored(isShowing());
  general_->showLoginItem();
  switching_->showStored(tiles);
  showPermissions();
  triggers_->showStored();
  updateHeight();
}

void PreferencesView::showPermissions() {
  permissions_->setFindings(accessibility_, screenRecording_, needsRestart_);
  previews_->showFindings(screenRecording_, needsRestart_, switching_->instantSpaces());
}

void PreferencesView::setShowing(bool showing) {
  mode_->setPlaying(showing);
  if (!showing) {
    if (!refresh_.isValid()) return;
    refresh_.invalidate();
    // The wait for the next refresh ends with the window, and the refresh it led to still
    // runs: what changed in the last second is seen. A probe under way is no wait; its
    // answer still comes.
    if (!probing_) refreshPermissions();
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
  // The user may turn macOS's own use of the chosen gesture on or off meanwhile.
  if (triggers_->recheckGestureInUse()) updateHeight();
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

FormSection& PreferencesView::section(const std::string& title) const {
  for (FormSection* s : sections_) {
    if (s->title() == title) return *s;
  }
  return *sections_.front();
}

int PreferencesView::heightCap() {
  if (const auto screen = NSScreen::main()) return static_cast<int>(screen->visibleFrame().height()) - 60;
  return 740;
}

int PreferencesView::scrollHeight() const { return scroll_->maximumHeight(); }

void PreferencesView::updateHeight() {
  // Measured at the form's one width: the plain size hint guesses a wider form for its
  // wrapped labels and would squash every row.
  const int formHeight = ui::fittedHeight(*form_, formWidth);
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
  if (size() != before && onSizeChange_) onSizeChange_();
}

}  // namespace trelliq
