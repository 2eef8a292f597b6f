// Facts of a desk that only a scenario file can state, read back the way the program
// reads them: through the platform's calls and the workspace outline of "--dump".

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/AppKitWorkspace.h"
#include "platform/CGWindow.h"
#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"
#include "platform/sim/Scenario.h"
#include "selftest/DumpMode.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "workspace/DesktopFrames.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {
namespace {

using Lines = std::vector<std::string>;

constexpr const char* kDesk = R"json({
  "displays": [{"id": 1, "uuid": "SCREEN-1", "name": "Built-in", "frame": [0, 0, 1440, 900]}],
  "permissions": {"screenCapture": true, "accessibility": true},
  "spaces": [{"display": 1, "current": 11, "spaces": [{"id": 11, "uuid": "S11"}]}],
  "unmatchedDisplays": [{"uuid": "GONE-2", "current": 91, "spaces": [{"id": 90}, {"id": 91, "uuid": "S91"}]}],
  "apps": [
    {"pid": 500, "name": "Notes", "focusedWindow": 52, "launchedAgo": 60},
    {"pid": 501, "name": "Mute", "launchedAgo": 50,
     "accessibilityErrors": {"AXFocusedWindow": "cannotComplete", "AXMainWindow": "cannotComplete",
                             "_AXUIElementGetWindow": "failure"}},
    {"pid": 502, "name": "Gone", "terminated": true},
    {"pid": 503, "name": "Timeless", "launchedAgo": null}
  ],
  "frontmost": 500,
  "frontmostRaisesWindow": false,
  "windows": [
    {"number": 51, "app": 500, "title": "Front", "frame": [10, 20, 400, 300], "spaces": [11]},
    {"number": 52, "app": 500, "title": "Draft", "accessibilityTitle": "Draft \u2014 edited",
     "frame": [30, 40, 500, 400], "spaces": [11]},
    {"app": 500, "title": "Floating", "listed": false, "frame": [50, 60, 200, 100], "spaces": [11]},
    {"number": 53, "app": 501, "emptyName": true, "frame": [70, 80, 300, 200], "spaces": [11]}
  ]
})json";

class ScenarioFacts : public ::testing::Test {
 protected:
  ScenarioFacts() {
    DesktopFrames::reset();
    const auto problem = sim::loadScenarioText(scene_.world, kDesk, "facts.json");
    EXPECT_FALSE(problem) << *problem;
  }
  ~ScenarioFacts() override { DesktopFrames::reset(); }

  // The window list's entry for a number.
  static const platform::PlistDictionary* entry(const platform::PlistArray& list, std::uint32_t number) {
    for (const platform::PlistValue& v : list) {
      const platform::PlistDictionary* d = v.asDictionary();
      const platform::PlistValue* n = v.find(kCGWindowNumber);
      if (d && n && n->asInteger() == static_cast<std::int64_t>(number)) return d;
    }
    return nullptr;
  }

  static std::optional<std::uint32_t> windowOf(const AXUIElementRef& element) {
    auto* getWindow = platform::symbolAs<AXUIElementGetWindow_t>(
        platform::dlopen(kApplicationServicesPath, platform::RTLD_NOW_), "_AXUIElementGetWindow");
    std::uint32_t number = 0;
    if (!getWindow || getWindow(element, &number) != kAXErrorSuccess) return std::nullopt;
    return number;
  }

  Scene scene_;
};

TEST_F(ScenarioFacts, WindowNamesTitlesOrderAndTheFocusedWindowAreAsWritten) {
  const auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionAll, kCGNullWindowID);
  ASSERT_TRUE(list);
  // The frontmost app did not raise its focused window: the listed order stands.
  std::vector<std::int64_t> order;
  for (const platform::PlistValue& v : *list) {
    const platform::PlistValue* pid = v.find(kCGWindowOwnerPID);
    if (pid && (pid->asInteger() == 500 || pid->asInteger() == 501)) order.push_back(*v.find(kCGWindowNumber)->asInteger());
  }
  EXPECT_EQ(order, (std::vector<std::int64_t>{51, 52, 53})) << "the accessibility-only window has no entry";
  // A present but empty name, a missing one and the server's own name beside another title.
  ASSERT_TRUE(entry(*list, 53) && entry(*list, 52));
  ASSERT_TRUE(entry(*list, 53)->count(kCGWindowName));
  EXPECT_EQ(*entry(*list, 53)->at(kCGWindowName).asString(), "");
  EXPECT_EQ(*entry(*list, 52)->at(kCGWindowName).asString(), "Draft");

  AXValue focused;
  ASSERT_EQ(AXUIElementCopyAttributeValue(AXUIElementCreateApplication(500), kAXFocusedWindowAttribute, &focused),
            kAXErrorSuccess);
  ASSERT_TRUE(focused.asElement());
  EXPECT_EQ(windowOf(focused.asElement()), 52u) << "given by the file, not the front window";
  AXValue title;
  ASSERT_EQ(AXUIElementCopyAttributeValue(focused.asElement(), kAXTitleAttribute, &title), kAXErrorSuccess);
  EXPECT_EQ(*title.asString(), "Draft \xe2\x80\x94 edited");
}

TEST_F(ScenarioFacts, FailingReadsAnEndedAppAMissingLaunchDateAndAStrayDisplay) {
  // Per app and per attribute; the window list still shows the app's window.
  const AXUIElementRef mute = AXUIElementCreateApplication(501);
  AXValue value;
  EXPECT_EQ(AXUIElementCopyAttributeValue(mute, kAXFocusedWindowAttribute, &value), kAXErrorCannotComplete);
  EXPECT_EQ(AXUIElementCopyAttributeValue(mute, kAXMainWindowAttribute, &value), kAXErrorCannotComplete);
  ASSERT_EQ(AXUIElementCopyAttributeValue(mute, kAXWindowsAttribute, &value), kAXErrorSuccess);
  const auto elements = value.asElementArray();
  ASSERT_TRUE(elements && elements->size() == 1u);
  EXPECT_EQ(windowOf(elements->front()), std::nullopt);
  EXPECT_EQ(AXUIElementCopyAttributeValue(AXUIElementCreateApplication(500), kAXMainWindowAttribute, &value),
            kAXErrorSuccess)
      << "another app answers";

  std::optional<NSRunningApplication> gone, timeless;
  for (const NSRunningApplication& app : NSWorkspace::shared().runningApplications()) {
    if (app.processIdentifier() == 502) gone = app;
    if (app.processIdentifier() == 503) timeless = app;
  }
  ASSERT_TRUE(gone && timeless);
  EXPECT_TRUE(gone->isTerminated());
  EXPECT_FALSE(timeless->isTerminated());
  EXPECT_EQ(timeless->launchDate(), std::nullopt);
  EXPECT_TRUE(gone->launchDate());

  auto* managed = platform::symbolAs<SLSCopyManagedDisplaySpaces_t>(
      platform::dlopen(kSkyLightPath, platform::RTLD_NOW_), "SLSCopyManagedDisplaySpaces");
  ASSERT_TRUE(managed);
  const auto displays = managed(sim::WindowServer::kConnectionID);
  ASSERT_TRUE(displays);
  ASSERT_EQ(displays->size(), 2u);
  const platform::PlistValue& stray = (*displays)[1];
  EXPECT_EQ(*stray.find("Display Identifier")->asString(), "GONE-2");
  EXPECT_EQ(stray.find("Spaces")->asArray()->size(), 2u);
  EXPECT_EQ(*stray.find("Current Space")->find("uuid")->asString(), "S91");
}

TEST_F(ScenarioFacts, TheSnapshotKeepsTheAccessibilityOnlyWindowLastWithoutNumberOrBounds) {
  // App tiles (no screen tiles) show each app's windows in the snapshot's order.
  const Lines lines = DumpMode::lines(Workspace::load(Settings::desktops(), false), 0, false);
  const auto at = std::find(lines.begin(), lines.end(), "    Notes (0:11:500), last #1");
  ASSERT_NE(at, lines.end()) << ::testing::PrintToString(lines);
  ASSERT_GE(lines.end() - at, 4);
  EXPECT_EQ(at[1], "      51 'Front' 10,20 400x300");
  EXPECT_EQ(at[2], "      52 'Draft \xe2\x80\x94 edited' 30,40 500x400");
  EXPECT_EQ(at[3], "      ? 'Floating' ");
}

}  // namespace
}  // namespace trelliq
