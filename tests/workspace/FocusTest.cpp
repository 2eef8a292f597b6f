// Bringing windows forward: the window server's focus, elements made from remote tokens,
// and every way `activate` raises a window or an app.

#include <gtest/gtest.h>

#include <array>

#include "WindowServerScenes.h"
#include "platform/AppKitWindows.h"
#include "platform/sim/AccessibilityServer.h"
#include "workspace/Focus.h"
#include "workspace/Minimized.h"
#include "workspace/Private.h"
#include "workspace/Recency.h"

namespace trelliq {
namespace {

using platform::PlistData;
using platform::PlistValue;
using Requests = std::vector<std::string>;

/// Runs a check just before the window server's front-process call, then makes the call.
struct FrontProcessSpy {
  static inline std::function<void()> check;
  static inline SLPSSetFrontProcessWithOptions_t* original = nullptr;
  static std::int32_t call(ProcessSerialNumber* psn, std::uint32_t window, std::uint32_t options) {
    if (check) check();
    return original(psn, window, options);
  }
  static void install(Scene& scene, std::function<void()> spy) {
    original = reinterpret_cast<SLPSSetFrontProcessWithOptions_t*>(
        scene.world.symbol(kSkyLightPath, "_SLPSSetFrontProcessWithOptions"));
    check = std::move(spy);
    scene.world.addFunction<SLPSSetFrontProcessWithOptions_t>(kSkyLightPath, "_SLPSSetFrontProcessWithOptions", &call);
  }
};

/// A remote-token look-up that takes 10 ms of the clock and finds nothing.
struct SlowTokens {
  static inline platform::VirtualClock* clock = nullptr;
  static inline int tries = 0;
  static AXUIElementRef create(const PlistData&) {
    ++tries;
    clock->elapse(0.01);
    return nullptr;
  }
};

class Focusing : public ::testing::Test {
 protected:
  void SetUp() override { prepare(); }
  void TearDown() override { FrontProcessSpy::check = nullptr; }
  void prepare() {
    scenes::twoDisplays(scene);
    scene.world.setAccessibilityTrusted(true);
    other = scenes::addApp(scene, "Mail");
    scenes::addWindow(scene, {.pid = other, .title = "Inbox", .spaces = {12}});
    pid = scenes::addApp(scene, "Notes");
    number = scenes::addWindow(scene, {.pid = pid, .title = "Shopping", .spaces = {12}});
    scene.windowServer.makeFrontmost(other);
    scene.clock.advance(1);
    scene.windowServer.clearPrivateCalls();
  }

  sim::AccessibilityServer& ax() { return *sim::AccessibilityServer::active(); }
  AXElementID elementOf(std::uint32_t window) { return {pid, scene.windowServer.window(window)->axElement}; }
  AppInfo app(std::int32_t which) { return AppInfo(*NSRunningApplication::withProcessIdentifier(which)); }
  WindowInfo info(std::uint32_t window, bool element, bool minimized = false) {
    return WindowInfo(pid, window, element ? AXUIElementMake(elementOf(window)) : nullptr, std::nullopt, minimized,
                      false, std::nullopt);
  }
  std::vector<PlistData> tokens() {
    std::vector<PlistData> result;
    for (const auto& call : scene.windowServer.privateCalls("_AXUIElementCreateWithRemoteToken")) {
      result.push_back(*call.arguments.at(0).asData());
    }
    return result;
  }
  bool publicActivationAsked() {
    const auto asked = ax().requests({pid, kAXApplicationElementID});
    return std::find(asked.begin(), asked.end(), "AXFrontmost=true") != asked.end();
  }

  Scene scene;
  std::int32_t other = 0, pid = 0;
  std::uint32_t number = 0;
};

TEST_F(Focusing, FocusRecordsAreByteForByteTheSameButForTheirCounter) {
  ASSERT_TRUE(Private::focus(pid, 0x0A0B0C0D));
  const auto front = scene.windowServer.privateCalls("_SLPSSetFrontProcessWithOptions");
  ASSERT_EQ(front.size(), 1u);
  EXPECT_EQ(front[0].arguments[1], PlistValue(0x0A0B0C0D));
  EXPECT_EQ(front[0].arguments[2], PlistValue(0x200));
  const auto posted = scene.windowServer.privateCalls("SLPSPostEventRecordTo");
  ASSERT_EQ(posted.size(), 2u);
  std::array<std::uint8_t, 0xF8> expected{};
  expected[0x04] = 0xF8;
  for (int i = 0x20; i <= 0x2F; ++i) expected[i] = 0xFF;
  expected[0x3A] = 0x10;
  expected[0x3C] = 0x0D, expected[0x3D] = 0x0C, expected[0x3E] = 0x0B, expected[0x3F] = 0x0A;
  for (int sent = 0; sent < 2; ++sent) {
    expected[0x08] = static_cast<std::uint8_t>(sent + 1);
    EXPECT_EQ(posted[sent].arguments[0], front[0].arguments[0]);
    EXPECT_EQ(*posted[sent].arguments[1].asData(), PlistData(expected.begin(), expected.end())) << sent;
  }

  ASSERT_TRUE(Private::focus(pid, number));
  scene.clock.advance(1);
  EXPECT_EQ(scene.windowServer.frontmost(), pid);
  EXPECT_EQ(scene.windowServer.app(pid)->focusedWindow, number);
}

TEST_F(Focusing, FocusFailsWithoutAProcessAFunctionOrTheServersConsent) {
  EXPECT_FALSE(Private::focus(9999, number));
  scene.windowServer.setFailure(sim::Reaction::frontProcess, sim::Failure::refuse);
  EXPECT_FALSE(Private::focus(pid, number));
  EXPECT_TRUE(scene.windowServer.privateCalls("SLPSPostEventRecordTo").empty());
  for (const auto& [library, symbol] :
       std::vector<std::pair<const char*, const char*>>{{kSkyLightPath, "_SLPSSetFrontProcessWithOptions"},
                                                        {kSkyLightPath, "SLPSPostEventRecordTo"},
                                                        {kApplicationServicesPath, "GetProcessForPID"}}) {
    scene.restart();
    prepare();
    scene.world.removeSymbol(library, symbol);
    EXPECT_FALSE(Private::focus(pid, number)) << symbol;
    EXPECT_TRUE(scene.windowServer.privateCalls("SLPSPostEventRecordTo").empty());
  }
}

TEST_F(Focusing, AnElementIsFoundByScanningThenFromTheCache) {
  const std::uint64_t element = elementOf(number).element;
  AXUIElementRef found = Private::axElement(pid, number);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->identity(), elementOf(number));
  EXPECT_FLOAT_EQ(found->messagingTimeout(), 0.05f);
  const auto scanned = tokens();
  ASSERT_EQ(scanned.size(), element + 1);  // ids 0 … element
  PlistData expected(20, 0);
  expected[0] = static_cast<std::uint8_t>(pid), expected[1] = static_cast<std::uint8_t>(pid >> 8);
  expected[8] = 0x6F, expected[9] = 0x63, expected[10] = 0x6F, expected[11] = 0x63;
  expected[12] = static_cast<std::uint8_t>(element);
  EXPECT_EQ(scanned.back(), expected);

  ASSERT_TRUE(Private::axElement(pid, number));
  EXPECT_EQ(tokens().size(), scanned.size() + 1);  // one try

  scene.windowServer.updateWindow(number, [](sim::Window& w) { w.axElement = 40; });
  EXPECT_EQ(Private::axElement(pid, number)->identity().element, 40u);  // a stale id leads to a new scan
  EXPECT_EQ(Private::cachedElementID(number), 40u);
}

TEST_F(Focusing, TheScanStopsAfterTwoThousandIdsOrOneSecond) {
  const std::uint32_t far = scenes::addWindow(scene, {.pid = pid, .spaces = {12}});
  const std::uint32_t edge = scenes::addWindow(scene, {.pid = pid, .spaces = {12}});
  scene.windowServer.updateWindow(far, [](sim::Window& w) { w.axElement = 2000; });
  scene.windowServer.updateWindow(edge, [](sim::Window& w) { w.axElement = 1999; });
  scene.windowServer.clearPrivateCalls();
  EXPECT_FALSE(Private::axElement(pid, far));
  EXPECT_EQ(tokens().size(), 2000u);
  EXPECT_EQ(Private::axElement(pid, edge)->identity().element, 1999u);

  SlowTokens::clock = &scene.clock;
  SlowTokens::tries = 0;
  scene.restart();
  prepare();
  scene.world.addFunction<AXUIElementCreateWithRemoteToken_t>(kApplicationServicesPath,
                                                              "_AXUIElementCreateWithRemoteToken", &SlowTokens::create);
  const double start = scene.clock.monotonicSeconds();
  EXPECT_FALSE(Private::axElement(pid, number));
  EXPECT_NEAR(SlowTokens::tries, 100, 1);
  EXPECT_LE(scene.clock.monotonicSeconds() - start, 1.02);
}

TEST_F(Focusing, MissingTokenOrWindowNumberFunctionsFindNothing) {
  scene.world.removeSymbol(kApplicationServicesPath, "_AXUIElementCreateWithRemoteToken");
  EXPECT_FALSE(Private::axElement(pid, number));
  scene.restart();
  prepare();
  scene.world.removeSymbol(kApplicationServicesPath, "_AXUIElementGetWindow");
  EXPECT_FALSE(Private::axElement(pid, number));
  EXPECT_FALSE(Private::windowID(AXUIElementMake(elementOf(number))));
  EXPECT_FALSE(focusedWindowID(pid));
}

TEST_F(Focusing, TheFocusedWindowElseTheMainWindowAndAttributeReads) {
  scene.windowServer.raiseWindow(number);
  EXPECT_EQ(focusedWindowID(pid), number);
  ax().setError(pid, kAXFocusedWindowAttribute, kAXErrorCannotComplete);
  EXPECT_EQ(focusedWindowID(pid), number);  // through "AXMainWindow"
  ax().setError(pid, kAXMainWindowAttribute, kAXErrorCannotComplete);
  EXPECT_FALSE(focusedWindowID(pid));

  AXUIElementRef element = AXUIElementMake(elementOf(number));
  EXPECT_EQ(*axAttr(element, kAXTitleAttribute)->asString(), "Shopping");
  EXPECT_FALSE(axAttr(element, "AXNoSuchThing"));
  EXPECT_FALSE(axAttr(nullptr, kAXTitleAttribute));

  ax().setHung(pid, true);
  ax().clearWaits();
  EXPECT_FALSE(focusedWindowID(pid));
  EXPECT_NEAR(ax().waitedSeconds(), 0.5, 1e-6);  // a quarter second per question
}

TEST_F(Focusing, AKnownElementWhoseFocusWorksIsRaisedWithoutThePublicActivation) {
  // The focus answers yes but does nothing, so only a public activation could bring Notes forward.
  scene.windowServer.setFailure(sim::Reaction::frontProcess, sim::Failure::ignore);
  activate(app(pid), info(number, true));
  scene.clock.advance(1);
  EXPECT_EQ(ax().requests(elementOf(number)), (Requests{"AXMain=true", "AXRaise"}));
  EXPECT_FALSE(publicActivationAsked());
  EXPECT_EQ(scene.windowServer.frontmost(), other);
}

TEST_F(Focusing, AFailedFocusFallsBackToThePublicActivationAfterRaising) {
  const std::uint32_t unreported = scenes::addWindow(scene, {.pid = pid, .spaces = {12}, .accessible = false});
  scene.windowServer.setFailure(sim::Reaction::frontProcess, sim::Failure::refuse);
  activate(app(pid), info(unreported, false));  // no element can be found
  scene.clock.advance(1);
  EXPECT_TRUE(publicActivationAsked());
  EXPECT_EQ(scene.windowServer.frontmost(), pid);

  scene.windowServer.makeFrontmost(other);
  ax().clearCalls();
  activate(app(pid), info(number, false));  // the element comes from a remote token
  scene.clock.advance(1);
  EXPECT_EQ(ax().requests(elementOf(number)), (Requests{"AXMain=true", "AXRaise"}));
  EXPECT_TRUE(publicActivationAsked());
}

TEST_F(Focusing, AMinimizedWindowIsRestoredBeforeItIsFocused) {
  scene.windowServer.setMinimized(number, true);
  Requests beforeFocus;
  FrontProcessSpy::install(scene, [&] { beforeFocus = ax().requests(elementOf(number)); });
  activate(app(pid), info(number, true, true));
  EXPECT_EQ(beforeFocus, (Requests{"AXMinimized=false"}));
  EXPECT_EQ(ax().requests(elementOf(number)), (Requests{"AXMinimized=false", "AXMain=true", "AXRaise"}));
  scene.clock.advance(1);
  EXPECT_FALSE(scene.windowServer.window(number)->minimized);

  // Without an element of its own, the one remembered at minimizing is used: no scan.
  scene.windowServer.setMinimized(number, true);
  Minimized::changed(AXUIElementMake(elementOf(number)), true);
  ax().clearCalls();
  activate(app(pid), info(number, false, true));
  EXPECT_TRUE(tokens().empty());
  EXPECT_EQ(ax().requests(elementOf(number)).front(), "AXMinimized=false");
}

TEST_F(Focusing, TheWindowIsRecordedFirstAndAHiddenAppIsShown) {
  std::uint64_t stampAtFocus = 0;
  FrontProcessSpy::install(scene, [&] { stampAtFocus = Recency::shared().stamp(number); });
  scene.windowServer.setHidden(pid, true);
  activate(app(pid), info(number, true));
  scene.clock.advance(1);
  EXPECT_GT(stampAtFocus, 0u);
  EXPECT_EQ(Recency::shared().latest()->window, number);
  EXPECT_FALSE(scene.windowServer.app(pid)->hidden);
  EXPECT_EQ(scene.windowServer.frontmost(), pid);
}

TEST_F(Focusing, WithoutAWindowTheAppIsOpenedByItsBundleIfItHasOne) {
  sim::App bare;
  bare.name = "Helper";
  const std::int32_t helper = scene.windowServer.addApp(bare);
  scenes::addWindow(scene, {.pid = helper, .spaces = {12}});
  scene.windowServer.makeFrontmost(other);
  activate(app(helper), std::nullopt);
  scene.clock.advance(2);
  EXPECT_EQ(scene.windowServer.frontmost(), other);

  activate(app(pid), std::nullopt);
  scene.clock.advance(2);
  EXPECT_EQ(scene.windowServer.frontmost(), pid);
  EXPECT_FALSE(Recency::shared().latest());
}

TEST_F(Focusing, TheProgramsOwnWindowIsRestoredFocusedAndMadeKey) {
  NSWindow own(CGRect(100, 100, 400, 300), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  own.orderFront(nullptr);
  own.miniaturize(nullptr);
  scene.clock.advance(1);
  const auto ownNumber = static_cast<std::uint32_t>(own.windowNumber());
  const std::int32_t ownPID = NSProcessInfo::processInfo().processIdentifier();
  const AppInfo self(NSRunningApplication::current());

  activate(self, WindowInfo(ownPID, ownNumber, nullptr, std::nullopt, true, false, std::nullopt));
  scene.clock.advance(1);
  EXPECT_FALSE(own.isMiniaturized());
  EXPECT_TRUE(own.isKeyWindow());
  EXPECT_EQ(scene.windowServer.privateCalls("GetProcessForPID").at(0).arguments[0], PlistValue(ownPID));
  EXPECT_TRUE(tokens().empty());

  scene.windowServer.clearPrivateCalls();
  activate(self, WindowInfo(ownPID, 31337, nullptr, std::nullopt, false, false, std::nullopt));
  EXPECT_TRUE(scene.windowServer.privateCalls("GetProcessForPID").empty());
  EXPECT_GT(Recency::shared().stamp(31337), 0u);  // recorded all the same
}

}  // namespace
}  // namespace trelliq
