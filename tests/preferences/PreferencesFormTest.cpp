// The Preferences window and its form: the sections in order, controls writing their keys
// at once without ever rewriting what they do not recognise, the once-a-second permission
// refresh while the window shows, the login item, and the window made once and reused.

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>

#include "app/Permission.h"
#include "app/views/Symbol.h"
#include "ownwindows/ClosableWindow.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/WindowServer.h"
#include "preferences/FormRow.h"
#include "preferences/GeneralSection.h"
#include "preferences/GesturePopUp.h"
#include "preferences/HotCornerPicker.h"
#include "preferences/ModeSection.h"
#include "preferences/PermissionsSection.h"
#include "preferences/PreferencesView.h"
#include "preferences/PreferencesWindow.h"
#include "preferences/PreviewsSection.h"
#include "preferences/SwitchingSection.h"
#include "preferences/TileStylePicker.h"
#include "preferences/TilesDemo.h"
#include "preferences/TilesOverview.h"
#include "preferences/TriggersSection.h"
#include "support/Scene.h"
#include "support/TextFit.h"
#include "support/WidgetsApp.h"
#include "workspace/Private.h"

namespace trelliq {
namespace {

std::string titleOf(QWidget* row) {
  if (auto* r = dynamic_cast<FormRow*>(row)) return r->title();
  if (dynamic_cast<TileStylePicker*>(row)) return "<mode cards>";
  if (dynamic_cast<PermissionsSection*>(row)) return "<permissions>";
  if (row->objectName() == "note") return "<note>";
  return "<" + std::string(row->findChild<TilesOverview*>() ? "overview" : row->findChild<GestureInUse*>() ? "in use" : "button") + ">";
}

class PreferencesForm : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureWidgets();
    scene.world.setAccessibilityTrusted(true);
    scene.world.setScreenCaptureAllowed(true);
    scene.windowServer.setURLHandler("x-apple.systempreferences", "/System/Applications/System Settings.app");
    Settings::registerDefaults();
  }
  std::optional<std::string> stored(const std::string& key) const { return Settings::defaults().stringForKey(key); }
  void store(const std::string& key, const platform::PlistValue& value) { Settings::defaults().set(key, value); }
  std::vector<std::string> shownRows(const PreferencesView& view, const std::string& section) const {
    std::vector<std::string> titles;
    for (QWidget* row : view.section(section).shownRows()) titles.push_back(titleOf(row));
    return titles;
  }
  Scene scene{Scene::Start::defaultScenario};
};

TEST_F(PreferencesForm, SixSectionsInOrderWithTheirRows) {
  PreferencesView view;
  std::vector<std::string> sections;
  for (const FormSection* s : view.sections()) sections.push_back(s->title());
  EXPECT_EQ(sections, (std::vector<std::string>{"Switcher mode", "Permissions", "General", "Switching", "Previews",
                                                "Gestures and hot corners"}));
  EXPECT_EQ(shownRows(view, "Switcher mode"),
            (std::vector<std::string>{"<mode cards>", "<overview>", "Keyboard shortcuts"}));
  EXPECT_EQ(shownRows(view, "Switching"),
            (std::vector<std::string>{"Show desktops", "Show tile names", "Switch Spaces instantly",
                                      "Switch between an app's windows with"}));
  EXPECT_EQ(shownRows(view, "Gestures and hot corners"),
            (std::vector<std::string>{"Open and close with gesture",
                                      "Open the switcher by moving the pointer into a corner"}));
  EXPECT_EQ(view.triggers().gestureRow().subtitle()[0], "Don't open or close the switcher with a gesture");
  EXPECT_EQ(view.triggers().hotCornerRow().subtitle(),
            (std::vector<std::string>{"Pick one or more corners. Each works on every display", "Off"}));
  EXPECT_FALSE(view.triggers().gestureInUse());
  // Window tiles have no desktop stops to choose.
  store("tiles", "windows");
  view.reload();
  EXPECT_EQ(shownRows(view, "Switching").front(), "Show tile names");
  EXPECT_EQ(view.mode().overview().style(), Settings::Tiles::windows);
  store("tiles", "both");
  scene.clock.runUntilIdle();  // the change is announced
  EXPECT_EQ(shownRows(view, "Switching").front(), "Show desktops");
  EXPECT_EQ(view.mode().overview().demos().size(), 2u);
}

TEST_F(PreferencesForm, EveryControlWritesItsKeyAtOnce) {
  PreferencesView view;
  emit view.switching().desktopsPicker().activated(2);
  EXPECT_EQ(stored("desktops"), "firstWhenEmpty");
  emit view.switching().namesPicker().activated(1);
  EXPECT_EQ(stored("names"), "always");
  emit view.previews().previewPicker().activated(2);
  EXPECT_EQ(stored("preview"), "fullScreen");
  view.switching().instantSpacesToggle().click();
  EXPECT_FALSE(Settings::instantSpaces());
  view.switching().appWindowsToggle().click();
  EXPECT_FALSE(Settings::appWindows());
  view.triggers().gesturePopUp().choose(2);
  EXPECT_EQ(stored("gesture"), "threeFingerDoubleTap");
  view.triggers().hotCornerPicker().click(Settings::HotCorner::topRight);
  EXPECT_EQ(stored("hotCorner"), "topRight");
  scene.clock.runUntilIdle();
  // The captions and lines follow from the announcement.
  EXPECT_EQ(view.switching().desktopsRow().subtitle()[0], "A stop for Desktop 1 while it has no windows");
  EXPECT_EQ(view.switching().namesRow().subtitle()[0], "Always show a tile's name underneath");
  EXPECT_EQ(view.previews().previewRow().subtitle()[0], "The window shown full size, right where it is");
  EXPECT_FALSE(view.previews().recommendation().isHidden());
  EXPECT_EQ(view.triggers().gestureRow().subtitle()[0], "Double tap with three fingers to open or close the switcher");
  ASSERT_TRUE(view.triggers().gestureInUse());
  EXPECT_EQ(view.triggers().hotCornerRow().subtitle()[1], "Top right");
  view.switching().instantSpacesToggle().click();  // back on: the recommendation goes at once
  EXPECT_TRUE(view.previews().recommendation().isHidden());
}

TEST_F(PreferencesForm, ValuesItDoesNotRecogniseAreShownAsTheirFallbackAndNeverRewritten) {
  store("desktops", "sometimes");
  store("names", "never");
  store("preview", "hologram");
  store("tiles", "cards");
  store("gesture", "wink");
  store("instantSpaces", "maybe");
  PreferencesView view;
  EXPECT_EQ(view.switching().desktopsPicker().currentIndex(), -1);
  EXPECT_EQ(view.switching().desktopsRow().subtitle()[0],
            "Every desktop gets a stop, so you can go to the desktop itself");
  EXPECT_EQ(view.switching().namesRow().subtitle()[0], "Only show the selected tile's name underneath it");
  EXPECT_EQ(view.previews().previewRow().subtitle()[0], "A small picture of the window, above the switcher");
  EXPECT_EQ(view.mode().overview().style(), Settings::Tiles::apps);
  view.reload();
  view.triggers().hotCornerPicker().refresh();
  scene.clock.advance(3);
  EXPECT_EQ(stored("desktops"), "sometimes");
  EXPECT_EQ(stored("names"), "never");
  EXPECT_EQ(stored("preview"), "hologram");
  EXPECT_EQ(stored("tiles"), "cards");
  EXPECT_EQ(stored("gesture"), "wink");
  EXPECT_EQ(stored("instantSpaces"), "maybe");
}

TEST_F(PreferencesForm, WithoutScreenRecordingThePreviewPickerShowsNoneAndKeepsTheStoredValue) {
  scene.world.setScreenCaptureAllowed(false);
  store("preview", "fullScreen");
  store("instantSpaces", false);
  PreferencesView view;
  EXPECT_EQ(view.previews().previewPicker().currentText().toStdString(), "No preview");
  EXPECT_FALSE(view.previews().previewPicker().isEnabled());
  EXPECT_EQ(view.previews().previewRow().subtitle()[0], "Just the switcher");
  EXPECT_FALSE(view.previews().screenRecordingWarning().isHidden());
  EXPECT_TRUE(view.previews().recommendation().isHidden());
  EXPECT_EQ(stored("preview"), "fullScreen");
}

TEST_F(PreferencesForm, FindingsRefreshOnceASecondOnlyWhileShowing) {
  scene.world.setAccessibilityTrusted(false);
  PreferencesView view;
  EXPECT_FALSE(view.accessibility());
  scene.world.setAccessibilityTrusted(true);
  scene.clock.advance(5);
  EXPECT_FALSE(view.accessibility()) << "no refresh before the window shows";
  view.setShowing(true);
  scene.clock.advance(0.99);
  EXPECT_FALSE(view.accessibility()) << "the first refresh comes a second later";
  scene.clock.advance(0.02);
  EXPECT_TRUE(view.accessibility());
  scene.world.setAccessibilityTrusted(false);
  scene.clock.advance(1);
  EXPECT_FALSE(view.accessibility());
  view.setShowing(false);
  scene.world.setAccessibilityTrusted(true);
  scene.clock.advance(3);
  EXPECT_FALSE(view.accessibility());
}

TEST_F(PreferencesForm, GrantingScreenRecordingWhileOpenAsksForARestartOnceAndProbesOneAtATime) {
  scene.world.setScreenCaptureAllowed(false);
  Permission::screenRecordingAtLaunch();
  scene.world.processes().holdAll(true);
  PreferencesView view;
  view.setShowing(true);
  scene.clock.advance(4.5);
  // The first probe's child has not answered: no second one is started meanwhile.
  ASSERT_EQ(scene.world.processes().launches().size(), 1u);
  ASSERT_TRUE(scene.world.processes().finish(scene.world.processes().launches()[0].pid, 1));
  scene.clock.runUntilIdle();
  EXPECT_FALSE(view.needsRestart());
  scene.world.processes().holdAll(false);
  scene.world.setScreenCaptureForNewProcesses(true);
  scene.clock.advance(1);
  EXPECT_TRUE(view.needsRestart());
  EXPECT_FALSE(view.screenRecording()) << "this process keeps its answer";
  EXPECT_FALSE(view.previews().previewPicker().isEnabled());
  const auto launches = scene.world.processes().launches().size();
  scene.clock.advance(5);
  EXPECT_EQ(scene.world.processes().launches().size(), launches) << "no probe once a restart is known";
  EXPECT_TRUE(view.needsRestart());
  view.setShowing(false);
}

TEST_F(PreferencesForm, TheLoginToggleEndsShowingWhatTheServiceReports) {
  PreferencesView view;
  EXPECT_FALSE(view.general().launchAtLogin());
  EXPECT_TRUE(view.general().loginItemsButton().parentWidget()->isHidden());
  scene.world.setLoginItemNeedsApproval(true);
  view.general().loginToggle().click();
  EXPECT_TRUE(view.general().launchAtLogin());
  EXPECT_TRUE(view.general().loginToggle().isChecked());
  EXPECT_EQ(view.general().loginRow().subtitle()[0], "Waiting for your OK in System Settings › General › Login Items");
  EXPECT_FALSE(view.general().loginItemsButton().parentWidget()->isHidden());
  view.general().loginItemsButton().click();
  EXPECT_EQ(scene.windowServer.openedURLs().back(), sim::WindowServer::kLoginItemsPane);
  // Approved in System Settings: noticed when a window of the program becomes key.
  scene.world.setLoginItemStatus(platform::LoginItemStatus::enabled);
  ClosableWindow other(CGRect(10, 10, 200, 100), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  other.makeKeyAndOrderFront(nullptr);
  scene.clock.runUntilIdle();
  EXPECT_EQ(view.general().loginRow().subtitle()[0], "Start Trelliq when you log in");
  EXPECT_TRUE(view.general().loginToggle().isChecked());
  // A refused removal leaves it on.
  scene.world.failLoginItemUnregister("not allowed");
  view.general().loginToggle().click();
  EXPECT_TRUE(view.general().loginToggle().isChecked());
  // A refused registration turns it back off.
  scene.world.failLoginItemUnregister(std::nullopt);
  view.general().loginToggle().click();
  EXPECT_FALSE(view.general().loginToggle().isChecked());
  scene.world.failLoginItemRegister("no");
  const int calls = scene.world.callCount("setLoginItem");
  view.general().loginToggle().click();
  EXPECT_FALSE(view.general().loginToggle().isChecked());
  EXPECT_EQ(scene.world.callCount("setLoginItem"), calls + 1);
}

TEST_F(PreferencesForm, EveryTextFitsItsBoxAndRowsShareTheirSizes) {
  store("gesture", platform::PlistValue(std::string("threeFingerDoubleTap")));
  scene.world.writeForeignPreference("com.apple.universalaccess", "closeViewTrackpadGestureZoomEnabled",
                                     platform::PlistValue(true));
  store("hotCorner", platform::PlistValue(std::string("topLeft")));
  scene.world.writeForeignPreference("com.apple.dock", "wvous-tl-corner", platform::PlistValue(2));
  store("preview", platform::PlistValue(std::string("fullScreen")));
  store("instantSpaces", platform::PlistValue(false));
  for (const char* mode : {"apps", "windows", "both"}) {
    store("tiles", platform::PlistValue(std::string(mode)));
    PreferencesView view;
    view.resize(view.sizeHint());
    ASSERT_FALSE(view.previews().recommendation().isHidden());
    ASSERT_FALSE(view.triggers().dockNote().empty());
    EXPECT_EQ(test::labelsThatDoNotFit(view), std::vector<std::string>{}) << mode;
    // The form's rows are set as the permission rows are: 13 for titles, 11 beneath.
    const auto* row = dynamic_cast<FormRow*>(view.section("Switching").shownRows().back());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->line(0).font().pixelSize(), 11);
    for (const QLabel* label : view.section("Permissions").findChildren<QLabel*>()) {
      if (label->text() == "Accessibility") {
        EXPECT_EQ(label->font().pixelSize(), 13);
      }
    }
  }
}

TEST_F(PreferencesForm, TheNotesDrawTheirInfoSymbolRatherThanACharacter) {
  store("hotCorner", platform::PlistValue(std::string("topLeft")));
  scene.world.writeForeignPreference("com.apple.dock", "wvous-tl-corner", platform::PlistValue(2));
  PreferencesView view;
  ASSERT_FALSE(view.triggers().dockNote().empty());
  EXPECT_EQ(view.triggers().dockNote().rfind("macOS has a hot corner of its own", 0), 0u) << "the text alone";
  for (const QLabel* label : view.findChildren<QLabel*>()) {
    EXPECT_EQ(label->text().indexOf(QChar(0x24D8)), -1) << label->text().toStdString();
  }
  int symbols = 0;
  for (const QWidget* child : view.findChildren<QWidget*>()) {
    const auto* symbol = dynamic_cast<const SymbolView*>(child);  // no meta-object of its own
    if (symbol && symbol->name() == "info.circle" && symbol->isVisibleTo(&view)) ++symbols;
  }
  EXPECT_EQ(symbols, 1) << "the Dock's note shows; the recommendation is hidden";
}

TEST_F(PreferencesForm, APickedModeCrossFadesTheOverviews) {
  PreferencesView view;
  view.resize(view.sizeHint());
  test::labelsThatDoNotFit(view);  // laid out and drawn as in the window
  TilesOverview* before = &view.mode().overview();
  EXPECT_EQ(view.mode().leavingOverview(), nullptr);
  view.mode().tilePicker().click(Settings::Tiles::both);
  EXPECT_NE(&view.mode().overview(), before);
  ASSERT_NE(view.mode().leavingOverview(), nullptr);
  EXPECT_EQ(view.mode().leavingOpacity(), 1);
  scene.clock.advance(0.05);
  EXPECT_GT(view.mode().leavingOpacity(), 0);
  EXPECT_LT(view.mode().leavingOpacity(), 2.0 / 3) << "eased out over 0.15 s";
  scene.clock.advance(0.1);
  EXPECT_EQ(view.mode().leavingOverview(), nullptr) << "gone once faded";
  // A mode changed by another writer replaces the overview without a fade.
  store("tiles", platform::PlistValue(std::string("windows")));
  scene.clock.advance(0.01);
  EXPECT_EQ(view.mode().leavingOverview(), nullptr);
}

TEST_F(PreferencesForm, TheLoginToggleLeavesTheServiceAloneWhenItAlreadyAgrees) {
  PreferencesView view;
  ASSERT_FALSE(view.general().loginToggle().isChecked());
  const int calls = scene.world.callCount("setLoginItem");
  // Changed in System Settings behind the form's back: the click asks for what already is.
  scene.world.setLoginItemStatus(platform::LoginItemStatus::enabled);
  view.general().loginToggle().click();
  EXPECT_TRUE(view.general().loginToggle().isChecked());
  EXPECT_EQ(scene.world.callCount("setLoginItem"), calls) << "registered once already";
  scene.world.setLoginItemStatus(platform::LoginItemStatus::notRegistered);
  view.general().loginToggle().click();
  EXPECT_FALSE(view.general().loginToggle().isChecked());
  EXPECT_EQ(scene.world.callCount("setLoginItem"), calls) << "nothing to remove";
  view.general().loginToggle().click();
  EXPECT_TRUE(view.general().loginToggle().isChecked());
  EXPECT_EQ(scene.world.callCount("setLoginItem"), calls + 1) << "a real change registers";
}

TEST_F(PreferencesForm, DockCornersAreNamedInANote) {
  scene.world.writeForeignPreferences("com.apple.dock", {{"wvous-tl-corner", 2}, {"wvous-br-corner", 4}});
  store("hotCorner", "topLeft,topRight,bottomRight");
  PreferencesView view;
  EXPECT_EQ(view.triggers().dockNote(),
            "macOS has a hot corner of its own in the top left and bottom right too (System Settings › Desktop & "
            "Dock › Hot Corners)");
  store("hotCorner", "topRight");
  scene.clock.runUntilIdle();
  EXPECT_EQ(view.triggers().dockNote(), "");
}

TEST_F(PreferencesForm, TheScrollViewIsAsTallAsTheFormUpToTheScreen) {
  PreferencesView view;
  const int cap = PreferencesView::heightCap();
  EXPECT_EQ(cap, static_cast<int>(NSScreen::main()->visibleFrame().height()) - 60);
  EXPECT_LE(view.scrollHeight(), cap);
  EXPECT_GT(view.scrollHeight(), 300);
}

class PreferencesWindows : public PreferencesForm {
 protected:
  PreferencesWindow preferences;
};

TEST_F(PreferencesWindows, MadeOnceCentredAndReusedAfterClosing) {
  EXPECT_FALSE(preferences.isVisible());
  EXPECT_EQ(preferences.window(), nullptr);
  preferences.show();
  scene.clock.advance(0.1);
  NSWindow* window = preferences.window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->title(), "Trelliq Preferences");
  EXPECT_EQ(window->styleMask(), 3u);
  EXPECT_FALSE(window->isReleasedWhenClosed());
  EXPECT_NE(dynamic_cast<ClosableWindow*>(window), nullptr);
  EXPECT_TRUE(preferences.isVisible());
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_NEAR(window->frame().midX(), NSScreen::main()->visibleFrame().midX(), 1);
  PreferencesView* view = preferences.view();
  EXPECT_TRUE(view->isShowing());

  // The user moves it; ⌘W hides it and stops the refresh; show brings back the same one there.
  const CGRect moved(40, 60, window->frame().width(), window->frame().height());
  window->setFrame(moved, true);
  window->performKeyEquivalent(
      NSEvent::keyEvent(NSEventType::keyDown, NSEventModifierFlagCommand, "w", "w", false, 13));
  EXPECT_FALSE(preferences.isVisible());
  EXPECT_FALSE(view->isShowing());
  preferences.show();
  EXPECT_EQ(preferences.window(), window);
  EXPECT_EQ(preferences.view(), view);
  EXPECT_EQ(window->frame(), moved);
  EXPECT_TRUE(preferences.isVisible());
  AppWindow& asShellSees = preferences;
  EXPECT_TRUE(asShellSees.isVisible());
}

// The wait for the next refresh ends with the window; the refresh it led to still runs.
TEST_F(PreferencesWindows, ClosingTheWindowStillMakesTheLastCheckAndNoMore) {
  scene.world.setAccessibilityTrusted(false);
  preferences.show();
  PreferencesView& view = *preferences.view();
  scene.clock.advance(1.5);
  ASSERT_FALSE(view.accessibility());
  scene.world.setAccessibilityTrusted(true);  // granted in System Settings meanwhile
  preferences.window()->performClose(nullptr);
  EXPECT_TRUE(view.accessibility());
  scene.world.setAccessibilityTrusted(false);
  scene.clock.advance(3);
  EXPECT_TRUE(view.accessibility()) << "nothing checks while the window is closed";
}

// A display tall enough for the whole form in every mode, so that nothing is capped.
constexpr const char* kTallDesk = R"json({
  "displays": [{"id": 1, "uuid": "TALL-1", "frame": [0, 0, 1600, 2400], "visibleFrame": [0, 0, 1600, 2375]}],
  "spaces": [{"display": 1, "current": 11, "spaces": [{"id": 11, "uuid": "S11"}]}],
  "apps": [],
  "windows": []
})json";

class TallPreferencesWindows : public PreferencesWindows {
 protected:
  // Whether the window's picture has a scroll bar beside the form: a strip along the right
  // edge, below the title bar, that differs from the form's plain margin to its left.
  static bool scrollBarShows(const NSWindow& window) {
    const CGImageRef picture = Private::capture(static_cast<std::uint32_t>(window.windowNumber()), true);
    if (!picture) return false;
    const QImage& image = picture->qimage();
    const double scale = image.width() / window.frame().width();
    const int y = static_cast<int>((28 + 60) * scale);
    const int margin = static_cast<int>((PreferencesView::formWidth - 6) * scale);
    return image.pixel(image.width() - static_cast<int>(5 * scale), y) != image.pixel(margin, y);
  }
  void SetUp() override {
    const auto problem = sim::loadScenarioText(scene.world, kTallDesk, "tall.json");
    ASSERT_FALSE(problem) << *problem;
    PreferencesWindows::SetUp();
  }
};

TEST_F(TallPreferencesWindows, TheWindowFollowsTheFormAsTheModeChangesAndKeepsItsTopEdge) {
  preferences.show();
  NSWindow* window = preferences.window();
  PreferencesView& view = *preferences.view();
  const CGRect first = window->frame();
  const double titleBar = first.height() - view.height();
  EXPECT_LT(view.scrollHeight(), PreferencesView::heightCap()) << "the whole form fits: nothing scrolls";
  EXPECT_EQ(view.height(), view.scrollHeight());
  EXPECT_FALSE(scrollBarShows(*window)) << "no bar over the form's right edge";

  // Window tiles have no "Show desktops" row, so the form is shorter there; Hybrid brings
  // the row back with its role rows in the card. Each time the window takes the form's
  // height below the same top edge, and its picture is drawn at the view's own size.
  for (const auto mode : {Settings::Tiles::windows, Settings::Tiles::both, Settings::Tiles::apps}) {
    const double before = window->frame().height();
    view.mode().tilePicker().click(mode);
    scene.clock.advance(0.5);  // the overview's cross-fade runs out
    const CGRect now = window->frame();
    const int m = static_cast<int>(mode);
    EXPECT_EQ(view.height(), view.scrollHeight()) << m;
    EXPECT_DOUBLE_EQ(now.height(), view.height() + titleBar) << m;
    EXPECT_DOUBLE_EQ(now.width(), view.width()) << m;
    EXPECT_DOUBLE_EQ(now.maxY(), first.maxY()) << m;
    EXPECT_DOUBLE_EQ(now.minX(), first.minX()) << m;
    if (mode == Settings::Tiles::windows) {
      EXPECT_LT(now.height(), before) << "the desktops row is gone";
    }
    if (mode == Settings::Tiles::both) {
      EXPECT_GT(now.height(), before) << "the desktops row is back";
    }
  }
  EXPECT_EQ(window->frame(), first) << "back in the first mode, the first frame";

  // A change made elsewhere (the status menu's mode picker) moves the window just the same.
  store("tiles", "windows");
  scene.clock.runUntilIdle();
  EXPECT_DOUBLE_EQ(window->frame().height(), view.height() + titleBar);
  EXPECT_LT(window->frame().height(), first.height());
  EXPECT_DOUBLE_EQ(window->frame().maxY(), first.maxY());
}

TEST_F(TallPreferencesWindows, AFormTallerThanTheScreenScrollsAndTheWindowStillFollowsIt) {
  // The form's height in two modes, measured where it fits whole.
  int windowsHeight = 0;
  int appsHeight = 0;
  {
    PreferencesView probe;
    store("tiles", "windows");
    scene.clock.runUntilIdle();
    windowsHeight = probe.scrollHeight();
    store("tiles", "apps");
    scene.clock.runUntilIdle();
    appsHeight = probe.scrollHeight();
  }
  ASSERT_LT(windowsHeight, appsHeight);
  // A display whose cap (its visible height less 60) lies between the two.
  const int visible = (windowsHeight + appsHeight) / 2 + 60;
  const std::string desk = R"({"displays": [{"id": 1, "uuid": "TALL-1", "frame": [0, 0, 1600, 2400],
    "visibleFrame": [0, 0, 1600, )" +
                           std::to_string(visible) + R"(]}]})";
  const auto problem = sim::loadScenarioText(scene.world, desk, "between.json");
  ASSERT_FALSE(problem) << *problem;
  const int cap = PreferencesView::heightCap();
  ASSERT_EQ(cap, visible - 60);

  preferences.show();
  NSWindow* window = preferences.window();
  PreferencesView& view = *preferences.view();
  const CGRect first = window->frame();
  const double titleBar = first.height() - view.height();
  EXPECT_EQ(view.scrollHeight(), cap) << "the form scrolls";
  EXPECT_GT(view.width(), PreferencesView::formWidth) << "with room for the scroll bar beside it";
  EXPECT_TRUE(scrollBarShows(*window));
  EXPECT_EQ(first.width(), view.width());

  // In window-tile mode the form fits: no bar, the window narrower and shorter below the same
  // top-left corner; back in app-tile mode it is capped again.
  view.mode().tilePicker().click(Settings::Tiles::windows);
  CGRect now = window->frame();
  EXPECT_EQ(view.scrollHeight(), windowsHeight);
  EXPECT_EQ(view.width(), PreferencesView::formWidth);
  EXPECT_FALSE(scrollBarShows(*window));
  EXPECT_DOUBLE_EQ(now.height(), windowsHeight + titleBar);
  EXPECT_DOUBLE_EQ(now.width(), PreferencesView::formWidth);
  EXPECT_DOUBLE_EQ(now.maxY(), first.maxY());
  EXPECT_DOUBLE_EQ(now.minX(), first.minX());
  view.mode().tilePicker().click(Settings::Tiles::apps);
  EXPECT_EQ(window->frame(), first);
}

TEST_F(TallPreferencesWindows, TheGestureWarningShowsWhileMacOSUsesTheChosenGestureAndTakesNoRoomOtherwise) {
  // The warning's yellow sign, counted in the window's picture.
  const auto signs = [&] {
    const CGImageRef picture = Private::capture(static_cast<std::uint32_t>(preferences.window()->windowNumber()), true);
    const QImage& image = picture->qimage();
    int yellow = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        yellow += c.red() > 240 && std::abs(c.green() - 204) < 12 && c.blue() < 40;
      }
    }
    return yellow;
  };
  preferences.show();
  PreferencesView& view = *preferences.view();
  TriggersSection& triggers = view.triggers();
  emit triggers.gesturePopUp().activated(2);
  scene.clock.advance(0.1);
  const int bare = view.height();
  EXPECT_EQ(triggers.hotCornerRow().y(), triggers.gestureRow().geometry().bottom() + 1)
      << "macOS uses no gesture: nothing between the pop-up's row and the next";
  EXPECT_EQ(signs(), 0);

  // The user turns Zoom's gesture on in System Settings, then off, with the window open.
  scene.world.writeForeignPreference("com.apple.universalaccess", "closeViewTrackpadGestureZoomEnabled",
                                     platform::PlistValue(true));
  scene.clock.advance(1);
  EXPECT_GT(signs(), 20) << "the warning is drawn";
  EXPECT_GT(view.height(), bare);
  scene.world.writeForeignPreference("com.apple.universalaccess", "closeViewTrackpadGestureZoomEnabled",
                                     platform::PlistValue(false));
  scene.clock.advance(1);
  EXPECT_EQ(signs(), 0);
  EXPECT_EQ(view.height(), bare);
}
}  // namespace
}  // namespace trelliq
