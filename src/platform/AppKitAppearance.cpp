#include "platform/AppKitAppearance.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>
#include <mutex>
#include <optional>

#include "platform/AppKitControls.h"
#include "platform/Clock.h"
#include "platform/CoreFoundation.h"
#include "platform/FoundationProcesses.h"
#include "platform/OncePerSystem.h"
#include "platform/SystemPort.h"

namespace platform {

bool isDarkInterfaceStyle(const std::optional<PlistValue>& value) {
  const std::string* text = value ? value->asString() : nullptr;
  return text && *text == "Dark";
}

namespace {

// The dark system colours: window and control backgrounds, label text and its secondary
// shade, the accent for selections.
QPalette darkPalette() {
  QPalette p;
  const QColor window(30, 30, 30), base(40, 40, 40), text(255, 255, 255, 217), dim(255, 255, 255, 64);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, QColor(50, 50, 50));
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, QColor(72, 72, 74));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::Light, QColor(90, 90, 92));
  p.setColor(QPalette::Midlight, QColor(70, 70, 72));
  p.setColor(QPalette::Mid, QColor(50, 50, 52));
  p.setColor(QPalette::Dark, QColor(20, 20, 20));
  p.setColor(QPalette::Shadow, Qt::black);
  p.setColor(QPalette::Highlight, QColor(0, 122, 255));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::PlaceholderText, dim);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, dim);
  return p;
}

// The application's palette as it was before the first dark one: the light appearance's.
QPalette& lightPalette() {
  static QPalette light = QApplication::palette();
  return light;
}

// Whether the application's palette is the dark one now.
bool& paletteDark() {
  static bool dark = false;
  return dark;
}

void setPalette(bool dark) {
  (void)lightPalette();  // kept before it is first replaced
  if (dark == paletteDark()) return;
  paletteDark() = dark;
  QApplication::setPalette(dark ? darkPalette() : lightPalette());
  // Qt tells the widgets there are only once its event loop has been entered; the
  // program's loop may be the platform's own.
  for (QWidget* widget : QApplication::allWidgets()) {
    QEvent changed(QEvent::ApplicationPaletteChange);
    QCoreApplication::sendEvent(widget, &changed);
  }
}

void appearanceChanged() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  NSAppearance::reread();
  setPalette(NSAppearance::current().isDark());
  // What the windows draw themselves takes the appearance's colours as it is drawn: all of
  // it is drawn again, once.
  for (QWidget* window : QApplication::topLevelWidgets()) window->update();
}

}  // namespace

void applyAppearancePalette() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  installControlStyle();  // before the palettes, which a new style may reset
  // Once per system: the first window of the program starts following its appearance.
  static SystemStamp followed;
  static std::optional<NSDistributedNotificationToken> note;
  if (followed.isCurrent()) return;
  followed = SystemStamp::now();
  if (note) NSDistributedNotificationCenter::defaultCenter().removeObserver(*note);
  note = NSDistributedNotificationCenter::defaultCenter().addObserver(kAppearanceChangedNotification, mainQueue(),
                                                                      [](const std::string&) { appearanceChanged(); });
  setPalette(NSAppearance::current().isDark());
}

}  // namespace platform

namespace {

struct Cached {
  std::mutex mutex;
  platform::SystemStamp system;  // the system the value was read from
  double readAt = 0;
  bool dark = false;
  bool refreshing = false;
};

Cached& cached() {
  static auto* state = new Cached;  // drawing threads may ask until the process ends
  return *state;
}

bool readDark() {
  return platform::isDarkInterfaceStyle(CFPreferencesCopyAppValue("AppleInterfaceStyle", kCFPreferencesAnyApplication));
}

}  // namespace

void NSAppearance::reread() {
  if (!platform::hasSystem()) return;
  const bool dark = readDark();
  Cached& c = cached();
  std::lock_guard lock(c.mutex);
  c.system = platform::SystemStamp::now();
  c.readAt = platform::clock().monotonicSeconds();
  c.dark = dark;
}

NSAppearance NSAppearance::current() {
  if (!platform::hasSystem()) return NSAppearance(NSAppearanceNameAqua);
  Cached& c = cached();
  const platform::SystemStamp system = platform::SystemStamp::now();
  const double now = platform::clock().monotonicSeconds();
  std::unique_lock lock(c.mutex);
  if (c.system != system) {
    // The first look at a system reads at once; later ones never wait: a drawing asks
    // here, and a drawing may be under way inside a call to the system.
    lock.unlock();
    const bool dark = readDark();
    lock.lock();
    c.system = system;
    c.readAt = now;
    c.dark = dark;
    c.refreshing = false;
  } else if (now - c.readAt >= 1 && !c.refreshing) {
    c.refreshing = true;
    platform::clock().queue("appearance").async([system] {
      const bool dark = readDark();
      Cached& c = cached();
      std::lock_guard lock(c.mutex);
      c.refreshing = false;
      if (c.system != system) return;
      c.dark = dark;
      c.readAt = platform::clock().monotonicSeconds();
    });
  }
  return NSAppearance(c.dark ? NSAppearanceNameDarkAqua : NSAppearanceNameAqua);
}
