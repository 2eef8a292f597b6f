#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "ServedDesk.h"
#include "platform/Accessibility.h"
#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"

namespace {

using Desk = ServedDesk;

AXUIElementGetWindow_t* getWindowFunction() {
  return platform::symbolAs<AXUIElementGetWindow_t>(platform::dlopen(kApplicationServicesPath, platform::RTLD_NOW_),
                                                    "_AXUIElementGetWindow");
}

AXUIElementCreateWithRemoteToken_t* remoteTokenFunction() {
  return platform::symbolAs<AXUIElementCreateWithRemoteToken_t>(
      platform::dlopen(kApplicationServicesPath, platform::RTLD_NOW_), "_AXUIElementCreateWithRemoteToken");
}

std::optional<std::uint32_t> windowOf(const AXUIElementRef& element) {
  std::uint32_t number = 0;
  if (getWindowFunction()(element, &number) != kAXErrorSuccess) return std::nullopt;
  return number;
}

platform::PlistData token(std::int32_t pid, std::uint64_t element, std::uint32_t magic = 0x636F636F) {
  platform::PlistData t(20, 0);
  for (int i = 0; i < 4; ++i) t[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(pid) >> (8 * i));
  for (int i = 0; i < 4; ++i) t[8 + i] = static_cast<std::uint8_t>(magic >> (8 * i));
  for (int i = 0; i < 8; ++i) t[12 + i] = static_cast<std::uint8_t>(element >> (8 * i));
  return t;
}

AXValue read(const AXUIElementRef& element, const std::string& attribute, AXError expected = kAXErrorSuccess) {
  AXValue value;
  EXPECT_EQ(AXUIElementCopyAttributeValue(element, attribute, &value), expected) << attribute;
  return value;
}

std::vector<std::uint32_t> listedWindows(std::int32_t pid) {
  std::vector<std::uint32_t> numbers;
  const auto elements = read(AXUIElementCreateApplication(pid), kAXWindowsAttribute).asElementArray();
  EXPECT_TRUE(elements);
  for (const auto& e : elements.value_or(std::vector<AXUIElementRef>{})) numbers.push_back(windowOf(e).value_or(0));
  return numbers;
}

// ---- Reading ------------------------------------------------------------------------------

class AccessibilityReadTest : public ::testing::TestWithParam<Served> {};
class AccessibilityEffectTest : public ::testing::TestWithParam<Served> {};
TRELLIQ_SERVED_BOTH_WAYS(AccessibilityReadTest);
TRELLIQ_SERVED_BOTH_WAYS(AccessibilityEffectTest);

TEST_P(AccessibilityReadTest, AppListsItsWindowsOnEverySpaceButNotThoseWithoutElements) {
  Desk desk{GetParam()};
  const auto pid = desk.addApp("Jotter");
  const auto a = desk.addWindow(pid, "A", Desk::kLeft);
  const auto b = desk.addWindow(pid, "B", Desk::kRight);
  const auto c = desk.addWindow(pid, "C", Desk::kLeft);
  const auto m = desk.addWindow(pid, "M", Desk::kRight);
  desk.server.setMinimized(m, true);
  sim::Window unreported;
  unreported.pid = pid;
  unreported.bounds = CGRect(0, 0, 300, 300);
  unreported.spaces = {Desk::kLeft};
  unreported.accessible = false;
  desk.server.addWindow(unreported);

  auto listed = listedWindows(pid);
  EXPECT_EQ(std::set<std::uint32_t>(listed.begin(), listed.end()), (std::set<std::uint32_t>{a, b, c, m}));
  // Front to back: the later window is in front.
  EXPECT_LT(std::find(listed.begin(), listed.end(), c), std::find(listed.begin(), listed.end(), a));

  // What shows does not change what the app lists.
  desk.server.switchSpace(Desk::kRight, sim::SwitchStyle::instant);
  listed = listedWindows(pid);
  EXPECT_EQ(std::set<std::uint32_t>(listed.begin(), listed.end()), (std::set<std::uint32_t>{a, b, c, m}));
}

TEST_P(AccessibilityReadTest, WindowAttributesFollowTheDesk) {
  Desk desk{GetParam()};
  const auto pid = desk.addApp("Mailer");
  const auto w = desk.addWindow(pid, "Inbox", Desk::kLeft, CGRect(40, 60, 800, 500));
  const auto element = desk.elementOf(w);

  EXPECT_EQ(read(element, kAXRoleAttribute), AXValue("AXWindow"));
  EXPECT_EQ(read(element, kAXSubroleAttribute), AXValue(kAXStandardWindowSubrole));
  EXPECT_EQ(read(element, kAXTitleAttribute), AXValue("Inbox"));
  EXPECT_EQ(read(element, kAXPositionAttribute), AXValue(CGPoint{40, 60}));
  EXPECT_EQ(read(element, kAXSizeAttribute), AXValue(CGSize{800, 500}));
  EXPECT_EQ(read(element, kAXMinimizedAttribute), AXValue(false));
  EXPECT_EQ(read(element, kAXFullScreenAttribute), AXValue(false));

  desk.server.setWindowTitle(w, "Inbox — 3 unread");
  desk.server.moveWindow(w, {10, 20});
  desk.server.setMinimized(w, true);
  EXPECT_EQ(read(element, kAXTitleAttribute), AXValue("Inbox — 3 unread"));
  EXPECT_EQ(read(element, kAXPositionAttribute), AXValue(CGPoint{10, 20}));
  EXPECT_EQ(read(element, kAXMinimizedAttribute), AXValue(true));

  const auto close = read(element, kAXCloseButtonAttribute).asElement();
  ASSERT_TRUE(close);
  EXPECT_EQ(read(close, kAXSubroleAttribute), AXValue("AXCloseButton"));
  EXPECT_EQ(windowOf(close), std::nullopt);

  // Only the close button presses, and it closes the window.
  EXPECT_EQ(AXUIElementPerformAction(element, kAXPressAction), kAXErrorActionUnsupported);
  ASSERT_EQ(AXUIElementPerformAction(close, kAXPressAction), kAXErrorSuccess);
  desk.scene.clock.advance(1.0);
  EXPECT_FALSE(desk.server.window(w));
  EXPECT_EQ(AXUIElementPerformAction(close, kAXPressAction), kAXErrorInvalidUIElement);
}

TEST_P(AccessibilityReadTest, FocusedAndMainWindowsOfAnApp) {
  Desk desk{GetParam()};
  const auto pid = desk.addApp("Writer");
  const auto app = AXUIElementCreateApplication(pid);
  read(app, kAXFocusedWindowAttribute, kAXErrorNoValue);

  const auto first = desk.addWindow(pid, "One", Desk::kLeft);
  const auto second = desk.addWindow(pid, "Two", Desk::kLeft);
  desk.server.raiseWindow(first);
  EXPECT_EQ(windowOf(read(app, kAXFocusedWindowAttribute).asElement()), first);

  desk.server.raiseWindow(second);
  EXPECT_EQ(windowOf(read(app, kAXFocusedWindowAttribute).asElement()), second);
  EXPECT_EQ(windowOf(read(app, kAXMainWindowAttribute).asElement()), second);
  EXPECT_EQ(read(desk.elementOf(second), kAXMainAttribute), AXValue(true));
  EXPECT_EQ(read(desk.elementOf(first), kAXMainAttribute), AXValue(false));

  // A sheet-like dialog takes the focus but never becomes the main window.
  sim::Window dialog;
  dialog.pid = pid;
  dialog.subrole = "AXDialog";
  dialog.bounds = CGRect(200, 200, 300, 200);
  dialog.spaces = {Desk::kLeft};
  const auto d = desk.server.addWindow(dialog);
  desk.server.raiseWindow(d);
  EXPECT_EQ(windowOf(read(app, kAXFocusedWindowAttribute).asElement()), d);
  EXPECT_EQ(windowOf(read(app, kAXMainWindowAttribute).asElement()), second);

  for (auto n : {first, second, d}) desk.server.setMinimized(n, true);
  read(app, kAXFocusedWindowAttribute, kAXErrorNoValue);
  read(app, kAXMainWindowAttribute, kAXErrorNoValue);
}

TEST_P(AccessibilityReadTest, ElementsThatAreGoneOrUnknown) {
  Desk desk{GetParam()};
  const auto pid = desk.addApp("Viewer");
  const auto w = desk.addWindow(pid, "photo.png", Desk::kLeft);
  const auto element = desk.elementOf(w);

  read(element, "AXNoSuchThing", kAXErrorAttributeUnsupported);
  AXValue untouched("kept");
  EXPECT_EQ(AXUIElementCopyAttributeValue(element, kAXTitleAttribute, nullptr), kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementCopyAttributeValue(nullptr, kAXTitleAttribute, &untouched), kAXErrorIllegalArgument);

  desk.server.removeWindow(w);
  EXPECT_EQ(AXUIElementCopyAttributeValue(element, kAXTitleAttribute, &untouched), kAXErrorInvalidUIElement);
  EXPECT_EQ(untouched, AXValue("kept"));

  desk.server.terminate(pid);
  read(AXUIElementCreateApplication(pid), kAXWindowsAttribute, kAXErrorInvalidUIElement);
  read(AXUIElementCreateApplication(99999), kAXWindowsAttribute, kAXErrorInvalidUIElement);
}

// ---- Changing the desk --------------------------------------------------------------------

TEST_P(AccessibilityEffectTest, MinimizingOrdersTheWindowOutAndBackIn) {
  Desk desk{GetParam()};
  const auto pid = desk.addApp("Jotter");
  const auto w = desk.addWindow(pid, "Todo", Desk::kLeft);
  const auto element = desk.elementOf(w);

  ASSERT_EQ(AXUIElementSetAttributeValue(element, kAXMinimizedAttribute, true), kAXErrorSuccess);
  desk.scene.clock.advance(1.0);
  EXPECT_TRUE(desk.server.window(w)->minimized);
  EXPECT_FALSE(desk.server.isOnScreen(w));
  EXPECT_EQ(read(element, kAXMinimizedAttribute), AXValue(true));

  ASSERT_EQ(AXUIElementSetAttributeValue(element, kAXMinimizedAttribute, false), kAXErrorSuccess);
  desk.scene.clock.advance(1.0);
  EXPECT_FALSE(desk.server.window(w)->minimized);
  EXPECT_TRUE(desk.server.isOnScreen(w));
}

TEST_P(AccessibilityEffectTest, FullScreenMovesIntoItsOwnSpaceAndBack) {
  Desk desk{GetParam()};
  const auto pid = desk.addApp("Slides");
  const auto w = desk.addWindow(pid, "Slides", Desk::kLeft);
  const auto element = desk.elementOf(w);

  ASSERT_EQ(AXUIElementSetAttributeValue(element, kAXFullScreenAttribute, true), kAXErrorSuccess);
  desk.scene.clock.advance(3.0);
  const auto spaces = desk.server.spacesOfWindow(w);
  ASSERT_EQ(spaces.size(), 1u);
  const auto fullScreenSpace = desk.server.space(spaces[0]);
  ASSERT_TRUE(fullScreenSpace);
  EXPECT_EQ(fullScreenSpace->type, sim::kSpaceTypeFullScreen);
  EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), spaces[0]);
  EXPECT_EQ(read(element, kAXFullScreenAttribute), AXValue(true));
  // Asking again for what already is changes nothing.
  EXPECT_EQ(AXUIElementSetAttributeValue(element, kAXFullScreenAttribute, true), kAXErrorSuccess);

  ASSERT_EQ(AXUIElementSetAttributeValue(element, kAXFullScreenAttribute, false), kAXErrorSuccess);
  desk.scene.clock.advance(3.0);
  EXPECT_EQ(desk.server.spacesOfWindow(w), (std::vector<std::uint64_t>{Desk::kLeft}));
  EXPECT_FALSE(desk.server.space(spaces[0]));
}

TEST_P(AccessibilityEffectTest, RaisingMovingAndActivating) {
  Desk desk{GetParam()};
  const auto pid = desk.addApp("Files");
  const auto other = desk.addApp("Browser");
  const auto a = desk.addWindow(pid, "A", Desk::kLeft);
  const auto b = desk.addWindow(pid, "B", Desk::kLeft);
  desk.addWindow(other, "Start Page", Desk::kLeft);

  ASSERT_EQ(AXUIElementPerformAction(desk.elementOf(a), kAXRaiseAction), kAXErrorSuccess);
  desk.scene.clock.advance(1.0);
  EXPECT_EQ(desk.server.windowsOf(pid).front().number, a);
  ASSERT_EQ(AXUIElementSetAttributeValue(desk.elementOf(b), kAXMainAttribute, true), kAXErrorSuccess);
  desk.scene.clock.advance(1.0);
  EXPECT_EQ(desk.server.app(pid)->focusedWindow, b);

  ASSERT_EQ(AXUIElementSetAttributeValue(desk.elementOf(a), kAXPositionAttribute, CGPoint{5, 30}), kAXErrorSuccess);
  ASSERT_EQ(AXUIElementSetAttributeValue(desk.elementOf(a), kAXSizeAttribute, CGSize{320, 240}), kAXErrorSuccess);
  desk.scene.clock.advance(1.0);
  EXPECT_EQ(desk.server.window(a)->bounds, CGRect(5, 30, 320, 240));

  ASSERT_EQ(AXUIElementSetAttributeValue(AXUIElementCreateApplication(other), kAXFrontmostAttribute, true),
            kAXErrorSuccess);
  desk.scene.clock.advance(1.0);
  EXPECT_EQ(desk.server.frontmost(), other);
  EXPECT_EQ(read(AXUIElementCreateApplication(other), kAXFrontmostAttribute), AXValue(true));
  EXPECT_EQ(read(AXUIElementCreateApplication(pid), kAXFrontmostAttribute), AXValue(false));

  const auto requests = desk.ax->requests(desk.elementOf(a)->identity());
  EXPECT_EQ(requests, (std::vector<std::string>{"AXRaise", "AXPosition=(5, 30)", "AXSize=320×240"}));
}

TEST_P(AccessibilityEffectTest, RefusalsAndWrongValues) {
  Desk desk{GetParam()};
  const auto pid = desk.addApp("Sheets");
  const auto w = desk.addWindow(pid, "Budget", Desk::kLeft);
  const auto element = desk.elementOf(w);

  desk.server.setFailure(sim::Reaction::fullScreen, sim::Failure::refuse);
  EXPECT_NE(AXUIElementSetAttributeValue(element, kAXFullScreenAttribute, true), kAXErrorSuccess);
  desk.scene.clock.advance(3.0);
  EXPECT_FALSE(desk.server.window(w)->fullScreen);

  desk.ax->setError(pid, kAXMinimizedAttribute, kAXErrorCannotComplete);
  EXPECT_EQ(AXUIElementSetAttributeValue(element, kAXMinimizedAttribute, true), kAXErrorCannotComplete);
  desk.ax->setError(pid, kAXMinimizedAttribute, std::nullopt);

  EXPECT_EQ(AXUIElementSetAttributeValue(element, kAXMinimizedAttribute, "yes"), kAXErrorAttributeUnsupported);
  EXPECT_EQ(AXUIElementSetAttributeValue(element, kAXTitleAttribute, "Renamed"), kAXErrorAttributeUnsupported);
  EXPECT_EQ(AXUIElementSetAttributeValue(element, kAXSizeAttribute, CGSize{-1, 10}), kAXErrorAttributeUnsupported);
  EXPECT_EQ(AXUIElementPerformAction(AXUIElementCreateApplication(pid), kAXRaiseAction), kAXErrorActionUnsupported);
  desk.scene.clock.advance(1.0);
  EXPECT_FALSE(desk.server.window(w)->minimized);
  EXPECT_EQ(desk.server.window(w)->title, "Budget");
}

// ---- Observers ----------------------------------------------------------------------------

struct Heard {
  std::uint32_t window = 0;  // 0: the app element
  std::string notification;
  void* refcon = nullptr;
  bool onRunLoop = false;
  friend bool operator==(const Heard&, const Heard&) = default;
};

struct Listener {
  std::vector<Heard> heard;
  AXObserverRef observer;

  Listener(Desk& desk, std::int32_t pid, platform::Executor* runLoop) {
    auto callback = [this, runLoop](AXObserverRef, AXUIElementRef element, const std::string& name, void* refcon) {
      std::uint32_t number = 0;
      getWindowFunction()(element, &number);
      heard.push_back({number, name, refcon, runLoop && runLoop->isCurrent()});
    };
    EXPECT_EQ(AXObserverCreate(pid, callback, &observer), kAXErrorSuccess);
  }
};

TEST(AccessibilityObserverTest, NotificationsRunOnTheSourcesRunLoopWithTheirRefcon) {
  Desk desk;
  const auto pid = desk.addApp("Jotter");
  const auto a = desk.addWindow(pid, "A", Desk::kLeft);
  const auto b = desk.addWindow(pid, "B", Desk::kLeft);
  platform::Executor& runLoop = desk.scene.clock.queue("observers");
  Listener listener(desk, pid, &runLoop);
  int tag = 0;
  const auto app = AXUIElementCreateApplication(pid);
  ASSERT_EQ(AXObserverAddNotification(listener.observer, app, kAXFocusedWindowChangedNotification, &tag),
            kAXErrorSuccess);

  // Nothing is heard while the source is on no run loop.
  desk.server.raiseWindow(b);
  desk.scene.clock.runUntilIdle();
  EXPECT_TRUE(listener.heard.empty());

  CFRunLoopAddSource(&runLoop, AXObserverGetRunLoopSource(listener.observer), kCFRunLoopCommonModes);
  desk.server.raiseWindow(a);
  EXPECT_TRUE(listener.heard.empty()) << "delivered on the caller's thread";
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(listener.heard, (std::vector<Heard>{{a, kAXFocusedWindowChangedNotification, &tag, true}}));

  // Taken off again: silent.
  // A hung app posts nothing.
  desk.ax->setHung(pid, true);
  desk.server.raiseWindow(b);
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(listener.heard.size(), 1u);
  desk.ax->setHung(pid, false);

  // Taken off again: silent.
  CFRunLoopRemoveSource(&runLoop, AXObserverGetRunLoopSource(listener.observer), kCFRunLoopCommonModes);
  desk.server.raiseWindow(a);
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(listener.heard.size(), 1u);
}

TEST(AccessibilityObserverTest, WindowLifeAndMinimizingAreReported) {
  Desk desk;
  const auto pid = desk.addApp("Jotter");
  const auto w = desk.addWindow(pid, "A", Desk::kLeft);
  Listener listener(desk, pid, CFRunLoopGetMain());
  CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(listener.observer), kCFRunLoopCommonModes);
  const auto app = AXUIElementCreateApplication(pid);
  for (const char* name :
       {kAXWindowMiniaturizedNotification, kAXWindowDeminiaturizedNotification, kAXWindowCreatedNotification}) {
    ASSERT_EQ(AXObserverAddNotification(listener.observer, app, name, nullptr), kAXErrorSuccess);
  }
  ASSERT_EQ(AXObserverAddNotification(listener.observer, desk.elementOf(w), kAXUIElementDestroyedNotification, nullptr),
            kAXErrorSuccess);

  AXUIElementSetAttributeValue(desk.elementOf(w), kAXMinimizedAttribute, true);
  desk.scene.clock.advance(1.0);
  AXUIElementSetAttributeValue(desk.elementOf(w), kAXMinimizedAttribute, false);
  desk.scene.clock.advance(1.0);
  const auto created = desk.addWindow(pid, "B", Desk::kRight);
  desk.server.removeWindow(w);
  desk.scene.clock.runUntilIdle();

  std::vector<std::pair<std::uint32_t, std::string>> got;
  for (const Heard& h : listener.heard) got.emplace_back(h.window, h.notification);
  // The destroyed window can no longer be asked its number.
  EXPECT_EQ(got, (std::vector<std::pair<std::uint32_t, std::string>>{{w, kAXWindowMiniaturizedNotification},
                                                                     {w, kAXWindowDeminiaturizedNotification},
                                                                     {created, kAXWindowCreatedNotification},
                                                                     {0, kAXUIElementDestroyedNotification}}));
}

TEST(AccessibilityObserverTest, RegistrationRules) {
  Desk desk;
  const auto pid = desk.addApp("Jotter");
  const auto other = desk.addApp("Mailer");
  const auto w = desk.addWindow(pid, "A", Desk::kLeft);
  const auto app = AXUIElementCreateApplication(pid);
  AXObserverRef observer;
  auto callback = [](AXObserverRef, AXUIElementRef, const std::string&, void*) {};

  EXPECT_EQ(AXObserverCreate(pid, nullptr, &observer), kAXErrorIllegalArgument);
  EXPECT_EQ(AXObserverCreate(99999, callback, &observer), kAXErrorFailure);
  EXPECT_FALSE(observer);
  ASSERT_EQ(AXObserverCreate(pid, callback, &observer), kAXErrorSuccess);

  EXPECT_EQ(AXObserverAddNotification(observer, app, kAXFocusedWindowChangedNotification, nullptr), kAXErrorSuccess);
  EXPECT_EQ(AXObserverAddNotification(observer, app, kAXFocusedWindowChangedNotification, nullptr),
            kAXErrorNotificationAlreadyRegistered);
  EXPECT_EQ(AXObserverAddNotification(observer, app, "AXNoSuchNotification", nullptr), kAXErrorNotificationUnsupported);
  EXPECT_EQ(AXObserverAddNotification(observer, AXUIElementCreateApplication(other),
                                      kAXFocusedWindowChangedNotification, nullptr),
            kAXErrorIllegalArgument);
  EXPECT_EQ(AXObserverAddNotification(nullptr, app, kAXFocusedWindowChangedNotification, nullptr),
            kAXErrorInvalidUIElementObserver);
  EXPECT_EQ(AXObserverAddNotification(observer, desk.elementOf(w), kAXUIElementDestroyedNotification, nullptr),
            kAXErrorSuccess);
  EXPECT_EQ(desk.ax->registrations(pid).size(), 2u);

  EXPECT_EQ(AXObserverRemoveNotification(observer, app, kAXFocusedWindowChangedNotification), kAXErrorSuccess);
  EXPECT_EQ(AXObserverRemoveNotification(observer, app, kAXFocusedWindowChangedNotification),
            kAXErrorNotificationNotRegistered);

  // Dropping the last handle takes every registration with it.
  observer.reset();
  EXPECT_TRUE(desk.ax->registrations(pid).empty());
}

// ---- Apps that do not answer, and trust ---------------------------------------------------

TEST(AccessibilityTimeoutTest, HungAppAnswersAfterTheTimeoutWithoutTakingTestTime) {
  Desk desk;
  const auto pid = desk.addApp("Spinner");
  const auto w = desk.addWindow(pid, "Busy", Desk::kLeft);
  desk.ax->setHung(pid, true);
  const std::uint64_t before = desk.scene.clock.monotonicNanos();

  const auto app = AXUIElementCreateApplication(pid);
  AXUIElementSetMessagingTimeout(app, 0.25f);
  read(app, kAXWindowsAttribute, kAXErrorCannotComplete);
  const auto element = desk.elementOf(w);
  AXUIElementSetMessagingTimeout(element, 0.05f);
  std::uint32_t number = 0;
  EXPECT_EQ(getWindowFunction()(element, &number), kAXErrorCannotComplete);
  // A fresh handle has the default timeout; the handles do not share theirs.
  read(AXUIElementCreateApplication(pid), kAXTitleAttribute, kAXErrorCannotComplete);
  EXPECT_EQ(AXUIElementSetMessagingTimeout(app, -1.0f), kAXErrorIllegalArgument);

  const auto waits = desk.ax->waits();
  ASSERT_EQ(waits.size(), 3u);
  EXPECT_NEAR(waits[0].seconds, 0.25, 1e-6);
  EXPECT_NEAR(waits[1].seconds, 0.05, 1e-6);
  EXPECT_EQ(waits[2].seconds, kAXDefaultMessagingTimeout);
  EXPECT_NEAR(desk.ax->waitedSeconds(), 6.3, 1e-6);
  EXPECT_EQ(desk.scene.clock.monotonicNanos(), before);

  desk.ax->setHung(pid, false);
  EXPECT_EQ(listedWindows(pid), (std::vector<std::uint32_t>{w}));
}

TEST(AccessibilityTimeoutTest, TimeoutsCanBeSpentOnTheVirtualClock) {
  Desk desk;
  const auto pid = desk.addApp("Spinner");
  desk.ax->setHung(pid, true);
  desk.ax->setTimeoutsElapseClock(true);
  bool timerRan = false;
  desk.scene.clock.main().asyncAfter(0.1, [&] { timerRan = true; });
  const std::uint64_t before = desk.scene.clock.monotonicNanos();

  const auto app = AXUIElementCreateApplication(pid);
  AXUIElementSetMessagingTimeout(app, 0.25f);
  read(app, kAXFocusedWindowAttribute, kAXErrorCannotComplete);
  EXPECT_NEAR(static_cast<double>(desk.scene.clock.monotonicNanos() - before) / 1e9, 0.25, 1e-6);
  EXPECT_FALSE(timerRan) << "the caller was blocked meanwhile";
  desk.scene.clock.runUntilIdle();
  EXPECT_TRUE(timerRan);
}

TEST(AccessibilityTrustTest, UntrustedProcessIsRefusedEverything) {
  Desk desk;
  const auto pid = desk.addApp("Jotter");
  const auto w = desk.addWindow(pid, "A", Desk::kLeft);
  const auto element = desk.elementOf(w);
  desk.scene.world.setAccessibilityTrusted(false);

  read(element, kAXTitleAttribute, kAXErrorAPIDisabled);
  EXPECT_EQ(AXUIElementSetAttributeValue(element, kAXMinimizedAttribute, true), kAXErrorAPIDisabled);
  EXPECT_EQ(AXUIElementPerformAction(element, kAXRaiseAction), kAXErrorAPIDisabled);
  std::uint32_t number = 0;
  EXPECT_EQ(getWindowFunction()(element, &number), kAXErrorAPIDisabled);
  EXPECT_FALSE(remoteTokenFunction()(token(pid, desk.server.window(w)->axElement)));
  AXObserverRef observer;
  EXPECT_EQ(AXObserverCreate(
                pid, [](AXObserverRef, AXUIElementRef, const std::string&, void*) {}, &observer),
            kAXErrorAPIDisabled);
  desk.scene.clock.advance(1.0);
  EXPECT_FALSE(desk.server.window(w)->minimized);
}

// ---- Private functions --------------------------------------------------------------------

TEST(AccessibilityPrivateTest, RemoteTokenReachesAWindowOnAnotherSpace) {
  Desk desk;
  const auto pid = desk.addApp("Jotter");
  desk.addWindow(pid, "Here", Desk::kLeft);
  const auto there = desk.addWindow(pid, "There", Desk::kRight);
  const std::uint64_t id = desk.server.window(there)->axElement;
  ASSERT_NE(id, 0u);

  const auto element = remoteTokenFunction()(token(pid, id));
  ASSERT_TRUE(element);
  EXPECT_EQ(element->identity(), (AXElementID{pid, id}));
  EXPECT_EQ(windowOf(element), there);
  EXPECT_EQ(read(element, kAXTitleAttribute), AXValue("There"));

  const auto calls = desk.server.privateCalls("_AXUIElementCreateWithRemoteToken");
  ASSERT_EQ(calls.size(), 1u);
  ASSERT_EQ(calls[0].arguments.size(), 1u);
  EXPECT_EQ(*calls[0].arguments[0].asData(), token(pid, id));
}

TEST(AccessibilityPrivateTest, TokensThatNameNothing) {
  Desk desk;
  const auto pid = desk.addApp("Jotter");
  const auto w = desk.addWindow(pid, "A", Desk::kLeft);
  const std::uint64_t id = desk.server.window(w)->axElement;
  auto create = remoteTokenFunction();

  EXPECT_FALSE(create(token(pid, id, 0x636F636E)));
  auto shortToken = token(pid, id);
  shortToken.pop_back();
  EXPECT_FALSE(create(shortToken));
  auto padded = token(pid, id);
  padded[5] = 1;
  EXPECT_FALSE(create(padded));
  EXPECT_FALSE(create(token(pid, id + 100)));
  EXPECT_FALSE(create(token(99999, id)));
  // Id 0 names the application itself, which has no window number.
  const auto app = create(token(pid, 0));
  ASSERT_TRUE(app);
  EXPECT_EQ(windowOf(app), std::nullopt);
  EXPECT_EQ(desk.server.privateCalls("_AXUIElementCreateWithRemoteToken").size(), 6u);
}

// ---- Values -------------------------------------------------------------------------------

TEST(AXValueTest, ReadersAnswerOnlyForTheirType) {
  const AXValue whole(3.0), fraction(2.5), number(std::int64_t{7});
  EXPECT_EQ(whole.asInteger(), 3);
  EXPECT_EQ(fraction.asInteger(), std::nullopt);
  EXPECT_EQ(number.asDouble(), 7.0);
  EXPECT_EQ(AXValue(true).asInteger(), std::nullopt);
  EXPECT_EQ(AXValue("x").asBool(), std::nullopt);

  const AXValue elements(std::vector<AXValue>{AXElementID{1, 2}, AXElementID{1, 3}});
  ASSERT_TRUE(elements.asElementArray());
  EXPECT_EQ(elements.asElementArray()->at(1)->identity(), (AXElementID{1, 3}));
  EXPECT_FALSE(AXValue(std::vector<AXValue>{AXElementID{1, 2}, AXValue("x")}).asElementArray());
  EXPECT_EQ(elements, AXValue(std::vector<AXValue>{AXElementID{1, 2}, AXElementID{1, 3}}));
  EXPECT_FALSE(elements == AXValue(std::vector<AXValue>{AXElementID{1, 2}}));
  EXPECT_EQ(AXValue(AXUIElementRef()), AXValue());
}

}  // namespace
