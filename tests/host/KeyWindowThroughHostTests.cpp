// The program's key window as a program attached to a real host sees it: closing the key
// window leaves the program's next ordinary window key (drawn key by the host, and the
// next ⌘W reaches it), not its status item's window in front of it.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>

#include "HostProcess.h"
#include "platform/AppKitMenus.h"
#include "platform/AppKitWindows.h"
#include "platform/RealClock.h"
#include "platform/SystemPort.h"
#include "platform/WindowFrame.h"
#include "platform/WindowServerPort.h"
#include "support/WidgetsApp.h"

namespace {

constexpr CGKeyCode kW = 13;

/// A window ⌘W closes, as the program's own windows do.
class ClosedByCommandW : public NSWindow {
 public:
  using NSWindow::NSWindow;
  bool performKeyEquivalent(const NSEvent& event) override {
    if (event.charactersIgnoringModifiers() != "w") return NSWindow::performKeyEquivalent(event);
    performClose(this);
    return true;
  }
};

/// Waits for `done` while the main queue runs.
template <typename Done>
bool served(Done done) {
  return eventually([&] {
    QCoreApplication::processEvents();
    return done();
  });
}

/// Whether the host draws `window` as the key window: its close button in colour.
bool drawnKey(host::RemoteMac& mac, const NSWindow& window) {
  const CGRect f = window.frame();
  const CGImageRef picture = mac.windowServer->captureWindowPicture(
      static_cast<std::uint32_t>(window.windowNumber()), static_cast<int>(f.width()), static_cast<int>(f.height()));
  if (!picture) return false;
  const CGPoint c = platform::titleButtonCentre(platform::TitleButton::close);
  const QRgb p = picture->pixel(static_cast<int>(c.x), static_cast<int>(platform::kTitleBarHeight / 2));
  return qRed(p) > 200 && qGreen(p) < 140;
}

void pressCommandW(host::RemoteMac& mac) {
  for (const CGEvent& e :
       {keyEvent(kCGEventFlagsChanged, kCommand, kCGEventFlagMaskCommand),
        keyEvent(kCGEventKeyDown, kW, kCGEventFlagMaskCommand), keyEvent(kCGEventKeyUp, kW, kCGEventFlagMaskCommand),
        keyEvent(kCGEventFlagsChanged, kCommand, 0)})
    mac.windowServer->postEvent(kCGHIDEventTap, e);
}

}  // namespace

TEST(KeyWindowThroughHost, ClosingTheKeyWindowLeavesTheProgramsNextWindowKey) {
  trelliq::test::ensureWidgets();
  AttachedHost stage;
  ASSERT_NO_FATAL_FAILURE(stage.start());
  host::RemoteMac& mac = *stage.mac;
  platform::RealClock clock;
  platform::installClock(&clock);
  platform::installSystem(mac.system.get());
  platform::installWindowServer(mac.windowServer.get());
  NSApp().finishLaunching();
  const auto item = NSStatusBar::systemStatusBar().statusItemWithLength(NSVariableStatusItemLength);
  item->button()->setTitle("Q");
  {
    const NSWindowStyleMask titled = NSWindowStyleMaskTitled | NSWindowStyleMaskClosable;
    ClosedByCommandW behind(CGRect(200, 200, 300, 200), titled, NSBackingStoreType::buffered, false);
    ClosedByCommandW front(CGRect(300, 250, 300, 200), titled, NSBackingStoreType::buffered, false);
    NSApp().activate();
    behind.makeKeyAndOrderFront(nullptr);
    front.makeKeyAndOrderFront(nullptr);
    ASSERT_TRUE(served([&] { return NSApp().isActive() && drawnKey(mac, front); }));

    pressCommandW(mac);
    ASSERT_TRUE(served([&] { return !front.isVisible(); })) << "⌘W did not close the key window";
    EXPECT_TRUE(behind.isKeyWindow());
    EXPECT_TRUE(served([&] { return drawnKey(mac, behind); })) << "the window left is not drawn key";
    pressCommandW(mac);
    EXPECT_TRUE(served([&] { return !behind.isVisible(); })) << "the second ⌘W reached no window";
  }
  NSStatusBar::systemStatusBar().removeStatusItem(item);
  platform::installWindowServer(nullptr);
  platform::installSystem(nullptr);
  clock.shutdown();
  platform::installClock(nullptr);
}
