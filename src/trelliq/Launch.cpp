#include "trelliq/Launch.h"

#include <QApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <iostream>

#include "app/AppDelegate.h"
#include "app/views/MenuSwitcherModeView.h"
#include "app/views/PermissionsWindow.h"
#include "platform/AppKitMenus.h"
#include "platform/CoreGraphics.h"
#include "platform/Files.h"
#include "platform/FoundationProcesses.h"
#include "preferences/PreferencesWindow.h"
#include "selftest/Dispatch.h"
#include "settings/Diagnostics.h"
#include "switcher/views/QtPanelViews.h"

namespace trelliq {

namespace {

// The menu-bar icon the bundle ships: three small tiles, as a template (black on clear),
// at two scales.
NSImageRep iconRepresentation(int scale) {
  QImage image(18 * scale, 16 * scale, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::black);
  painter.scale(scale, scale);
  painter.drawRoundedRect(QRectF(1, 3, 7, 10), 1.5, 1.5);
  painter.drawRoundedRect(QRectF(10, 3, 7, 4.5), 1.5, 1.5);
  painter.drawRoundedRect(QRectF(10, 8.5, 7, 4.5), 1.5, 1.5);
  painter.end();
  return NSImageRep{image.width(), image.height(), std::make_shared<const CGImage>(image)};
}

// The application's icon the bundle ships: the menu-bar icon's three tiles, white on a
// blue plate with a soft light from above.
CGImageRef applicationIcon() {
  constexpr int side = 256;
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  const QRectF plate(side * 0.1, side * 0.1, side * 0.8, side * 0.8);
  QLinearGradient wash(plate.topLeft(), plate.bottomLeft());
  wash.setColorAt(0, QColor(64, 156, 255));
  wash.setColorAt(1, QColor(0, 98, 224));
  painter.setBrush(wash);
  painter.drawRoundedRect(plate, side * 0.18, side * 0.18);
  painter.setBrush(Qt::white);
  const double unit = plate.width() / 18;  // the menu-bar glyph's 18-point grid
  const QPointF o = plate.topLeft() + QPointF(0, unit);
  const auto tile = [&](double x, double y, double w, double h) {
    painter.drawRoundedRect(QRectF(o + QPointF(x * unit, y * unit), QSizeF(w * unit, h * unit)), unit, unit);
  };
  tile(3, 3, 5.5, 10);
  tile(9.5, 3, 5.5, 4.5);
  tile(9.5, 8.5, 5.5, 4.5);
  painter.end();
  return std::make_shared<const CGImage>(image);
}

}  // namespace

int launch(const std::vector<std::string>& args) {
  // The switcher draws its panels with the views from the start, self-tests included.
  views::installPanelViews();
  // The bundle's icon, as the system supplies it before any code runs (the windows of the
  // self-test modes show it too).
  NSApp().setApplicationIconImage(applicationIcon());
  // So does the status menu's mode picker.
  installMenuSwitcherModePainter();
  if (int status = dispatchSelfTests(args); status >= 0) return status;
  // A copy of the program asked only whether screen capture is allowed: it answers by
  // its status and does nothing else.
  if (std::find(args.begin(), args.end(), "--screen-recording-check") != args.end()) {
    return CGPreflightScreenCaptureAccess() ? 0 : 1;
  }

  const std::string domain = Bundle::main().bundleIdentifier();
  // The home is anyone's text: a line break or escape sequence in it must not forge a line.
  std::cout << "Trelliq started on the simulated Mac.\n"
            << "  diagnostics log: " << Diagnostics::escapeForeign(Diagnostics::url()) << "\n"
            << "  user defaults:   "
            << Diagnostics::escapeForeign(platform::joinPath(platform::FileManager::homeDirectory(),
                                                             "Library/Preferences/" + domain + ".plist"))
            << std::endl;  // the program keeps running: say it now

  platform::addBundleImage(AppDelegate::iconName, {iconRepresentation(2), iconRepresentation(1)});
  AppDelegate delegate(PermissionsWindow::shared(), PreferencesWindow::shared());
  NSApp().setDelegate(&delegate);
  NSApp().setActivationPolicy(NSApplicationActivationPolicyAccessory);
  NSApp().finishLaunching();
  delegate.applicationDidFinishLaunching(args);
  Diagnostics::log("launched");

  // The program lives in the menu bar: closing its last window does not end it; only
  // quitting does (which exits from inside the loop).
  QApplication::setQuitOnLastWindowClosed(false);
  return QApplication::exec();
}

}  // namespace trelliq

// The font library keeps its configuration cache until exit; a leak-checking build of the
// running program would otherwise fail every normal quit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
