#include "app/views/PermissionsView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppDelegate.h"
#include "app/Permission.h"
#include "app/views/PermissionNote.h"
#include "app/views/PermissionRow.h"
#include "app/views/PreviewDemo.h"
#include "app/views/Symbol.h"
#include "guide/GuideWindow.h"
#include "platform/AppKitWindows.h"
#include "platform/CoreGraphics.h"
#include "ui/LayoutFit.h"
#include "ui/Paint.h"

namespace trelliq {

namespace {

QLabel* label(const QString& text, double pointSize, QFont::Weight weight, const QColor& color, QWidget* parent) {
  return ui::styledLabel(text, pointSize, weight, color, parent);
}

// The application's own icon at the head of the window, scaled to fill its box; the
// generic application symbol while the program has none.
class AppIcon : public QWidget {
 public:
  explicit AppIcon(QWidget* parent) : QWidget(parent) {
    setFixedSize(PermissionsView::iconSide, PermissionsView::iconSide);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const CGImageRef icon = NSApp().applicationIconImage();
    if (icon && icon->width() > 0 && icon->height() > 0) {
      ui::drawImage(p, QRectF(rect()), icon);
    } else {
      ui::drawSymbol(p, "app.fill", QRectF(rect()), ui::secondary());
    }
  }
};

}  // namespace

PermissionsView::PermissionsView(int demoIndex, QWidget* parent)
    : QWidget(parent),
      accessibility_(Permission::accessibility.isGranted()),
      screenRecording_(Permission::screenRecording.isGranted()) {
  setFixedWidth(fixedWidth);
  setFont(ui::systemFont(13));  // the body size for the buttons and every unsized label
  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(28, 28, 28, 28);
  stack->setSpacing(18);

  auto* header = new QVBoxLayout();
  header->setSpacing(8);
  header->addWidget(new AppIcon(this), 0, Qt::AlignHCenter);
  header->addWidget(label("Welcome to Trelliq", 17, QFont::DemiBold, ui::primary(), this), 0, Qt::AlignHCenter);
  auto* intro = label("Here's what Trelliq needs from macOS.", 13, QFont::Normal, ui::secondary(), this);
  intro->setWordWrap(true);
  intro->setAlignment(Qt::AlignHCenter);
  header->addWidget(intro);
  stack->addLayout(header);

  accessibilityRow_ = new PermissionRow(
      Permission::accessibility, accessibility_, "accessibility", "Accessibility", true,
      "Lets Trelliq take over \u2318\u21e5 and bring any window forward, on any Space or display. Trelliq can't work "
      "without it.",
      false, nullptr, this);
  stack->addWidget(accessibilityRow_);
  demo_ = new PreviewDemo(demoIndex);
  screenRecordingRow_ = new PermissionRow(
      Permission::screenRecording, screenRecording_, "rectangle.dashed.badge.record", "Screen Recording", false,
      "Only for previews: see the window you're about to switch to before you let go. Trelliq works without it, "
      "just with no previews.",
      needsRestart_, demo_, this);
  stack->addWidget(screenRecordingRow_);
  note_ = new PermissionNote(
      "macOS will ask once more to confirm, screen recording is required to capture the preview shown in Live "
      "Preview.",
      this);
  stack->addWidget(note_);

  footer_ = new QWidget(this);
  auto* footer = new QHBoxLayout(footer_);
  footer->setContentsMargins(0, 0, 0, 0);
  lock_ = label("Allow Accessibility to continue", 12, QFont::Normal, ui::secondary(), footer_);
  auto* lockSymbol = new SymbolView("lock.fill", ui::secondary(), 12, 14, lock_);
  lockSymbol->move(0, 2);
  lock_->setIndent(18);
  footer->addWidget(lock_);
  footer->addStretch(1);
  howItWorks_ = new QPushButton("How It Works", footer_);
  howItWorks_->setAutoDefault(false);
  getStarted_ = new QPushButton("Get Started", footer_);
  getStarted_->setDefault(true);
  footer->addWidget(howItWorks_);
  footer->addWidget(getStarted_);
  stack->addWidget(footer_);
  QObject::connect(howItWorks_, &QPushButton::clicked, this, [this] { showGuide(); });
  QObject::connect(getStarted_, &QPushButton::clicked, this, [this] { start(); });
  apply();
  // Its window ordered out, however it went, stops the checks and the demonstration.
  whileShown_ = std::make_unique<ui::WhileShown>(*this, [this] { disappear(); }, [this] { appear(); });
}

PermissionsView::~PermissionsView() { next_.cancel(); }

void PermissionsView::apply() {
  accessibilityRow_->setState(accessibility_, false);
  screenRecordingRow_->setState(screenRecording_ || needsRestart_, needsRestart_);
  note_->setHidden(!(screenRecording_ || needsRestart_));
  footer_->setEnabled(accessibility_);
  lock_->setHidden(accessibility_);
  // Tall enough for every wrapped reason at the window's one width. A check that found what
  // the last one did (once a second while the window shows) changed nothing to measure.
  const auto shown = std::tuple(accessibility_, screenRecording_ || needsRestart_, needsRestart_, isVisible());
  if (fittedFor_ == shown) return;
  fittedFor_ = shown;
  const int before = fittedHeight_;
  fittedHeight_ = ui::fittedHeight(*this, fixedWidth);
  setFixedHeight(fittedHeight_);
  if (before != 0 && before != fittedHeight_ && onHeightChanged_) onHeightChanged_();
}

void PermissionsView::appear() {
  if (polling_) return;
  polling_ = true;
  demo_->start();
  schedule();
}

void PermissionsView::disappear() {
  const bool cutShort = waiting_;
  polling_ = false;
  waiting_ = false;
  next_.cancel();
  demo_->stop();
  // A wait the close ends is no failure: its pass still runs, once, and is the last.
  if (cutShort) poll();
}

void PermissionsView::schedule() {
  QPointer<PermissionsView> self(this);
  waiting_ = true;
  next_ = platform::mainQueue().asyncAfter(pollInterval, [self] {
    if (!self) return;
    self->waiting_ = false;
    self->poll([self] {
      // The next pass waits for this one's answer; a window closed meanwhile stops here.
      if (self && self->polling_) self->schedule();
    });
  });
}

void PermissionsView::poll(std::function<void()> done) {
  const bool granted = Permission::accessibility.isGranted();
  if (granted != accessibility_) {
    accessibility_ = granted;
    if (granted && onAccessibilityGranted_) onAccessibilityGranted_();
  }
  screenRecording_ = CGPreflightScreenCaptureAccess();
  if (screenRecording_) Permission::confirmScreenCapture();
  apply();
  if (needsRestart_) {
    if (done) done();
    return;
  }
  QPointer<PermissionsView> self(this);
  Permission::screenRecordingAllowedSinceLaunch([self, done = std::move(done)](bool since) {
    if (self) {
      self->needsRestart_ = since;
      self->apply();
    }
    if (done) done();
  });
}

void PermissionsView::showGuide() {
  if (!footer_->isEnabled()) return;
  if (onClose_) onClose_();
  if (openGuide_) {
    openGuide_();
  } else {
    GuideWindow::shared().show();
  }
}

void PermissionsView::start() {
  if (!footer_->isEnabled()) return;
  const bool restart = needsRestart_;  // read first: closing may end this view's checks
  if (onClose_) onClose_();
  if (restart) AppDelegate::restart();
}

void PermissionsView::keyDown(const NSEvent& event) {
  if (event.characters() == "\r" || event.keyCode() == 36 || event.keyCode() == 76) {
    start();
    return;
  }
  NSResponder::keyDown(event);
}

}  // namespace trelliq
