// The Keyboard Shortcuts window: made once, reused, brought forward with the keyboard, and
// the guide view's reactions to clicks, keys and settings.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "support/WidgetsApp.h"
#include "guide/DisplaysDemo.h"
#include "guide/GuideDemo.h"
#include "guide/GuideView.h"
#include "guide/GuideWindow.h"
#include "guide/OwnWindow.h"
#include "guide/ShortcutLegendView.h"
#include "guide/TopicRow.h"
#include "platform/Foundation.h"
#include "support/Scene.h"
#include "switcher/ClosableWindow.h"

namespace trelliq {
namespace {

class GuideWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureWidgets();
    Settings::registerDefaults();
  }
  Scene scene{Scene::Start::defaultScenario};
  GuideWindow guide;

  std::int32_t ownPID() const { return NSProcessInfo::processInfo().processIdentifier(); }
  void pressReturn() {
    NSApp().sendEvent(
        NSEvent::keyEvent(NSEventType::keyDown, 0, "\r", "\r", false, 36, guide.window()->windowNumber()));
  }
  bool isInFrontWithTheKeyboard() {
    NSWindow* w = guide.window();
    return w && w->isVisible() && w->isKeyWindow() && scene.windowServer.frontmost() == ownPID() &&
           w->firstResponder() == static_cast<NSResponder*>(guide.view());
  }
};

TEST_F(GuideWindows, TheFirstShowBuildsTheWindowOnTheModesFirstTopicAndBringsItForward) {
  ASSERT_NE(scene.windowServer.frontmost(), ownPID());
  EXPECT_EQ(guide.window(), nullptr);
  guide.show();
  scene.clock.advance(1);
  NSWindow* window = guide.window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->title(), "Keyboard Shortcuts");
  EXPECT_EQ(window->styleMask(), 3u);
  EXPECT_FALSE(window->isReleasedWhenClosed());
  EXPECT_NE(dynamic_cast<ClosableWindow*>(window), nullptr);
  EXPECT_GT(window->windowNumber(), 0);
  EXPECT_TRUE(isInFrontWithTheKeyboard());
  EXPECT_TRUE(NSApp().isActive());
  EXPECT_EQ(guide.view()->state().topic(), "Apps");
  // Centred on the main screen at the view's width.
  const CGRect screen = NSScreen::main()->visibleFrame();
  EXPECT_NEAR(window->frame().midX(), screen.midX(), 1);
  EXPECT_EQ(window->frame().width(), GuideView::fixedWidth);
}

TEST_F(GuideWindows, InWindowsModeTheFirstTopicIsWindows) {
  Settings::defaults().set("tiles", platform::PlistValue(std::string("windows")));
  guide.show();
  EXPECT_EQ(guide.view()->state().topic(), "Windows");
}

TEST_F(GuideWindows, LaterShowsReuseTheWindowAndKeepItsTopic) {
  guide.show("Spaces");
  NSWindow* first = guide.window();
  EXPECT_EQ(guide.view()->state().topic(), "Spaces");
  guide.close();
  EXPECT_FALSE(first->isVisible());
  guide.show("Scrolling");
  scene.clock.advance(1);
  EXPECT_EQ(guide.window(), first);
  EXPECT_EQ(guide.view()->state().topic(), "Spaces");
  EXPECT_TRUE(isInFrontWithTheKeyboard());

  // Already in front: it is made key again after another window took the keyboard.
  ClosableWindow other(CGRect(10, 10, 200, 100), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  other.makeKeyAndOrderFront(nullptr);
  ASSERT_FALSE(first->isKeyWindow());
  guide.show();
  EXPECT_TRUE(first->isKeyWindow());
}

TEST_F(GuideWindows, ReturnPressesDoneAndClosingReturnsTheMenuToTheCurrentMode) {
  guide.show();
  GuideView& view = *guide.view();
  view.pickMode(Settings::Tiles::both);
  view.clickTopic("One desktop");
  ASSERT_EQ(view.modePicker().currentText().toStdString(), "Hybrid");
  pressReturn();
  EXPECT_FALSE(guide.window()->isVisible());
  EXPECT_EQ(view.state().mode(), Settings::Tiles::apps);
  EXPECT_EQ(view.state().topic(), "Apps");
  EXPECT_EQ(view.modePicker().currentText().toStdString(), "App cycling (current mode)");

  // The Done button closes it the same way; ⌘W through the window class too.
  guide.show();
  view.doneButton().click();
  EXPECT_FALSE(guide.window()->isVisible());
  guide.show();
  guide.window()->performKeyEquivalent(
      NSEvent::keyEvent(NSEventType::keyDown, NSEventModifierFlagCommand, "w", "w", false, 13));
  EXPECT_FALSE(guide.window()->isVisible());
}

TEST_F(GuideWindows, AModeChangedElsewhereClearsThePickedModeOnceTheNotificationArrives) {
  guide.show();
  GuideView& view = *guide.view();
  view.pickMode(Settings::Tiles::windows);
  view.clickTopic("Scrolling");
  Settings::defaults().set("tiles", platform::PlistValue(std::string("both")));
  EXPECT_EQ(view.state().mode(), Settings::Tiles::windows);  // not yet: the change arrives on the main queue
  scene.clock.advance(0.1);
  EXPECT_FALSE(view.state().shown());
  EXPECT_EQ(view.state().mode(), Settings::Tiles::both);
  EXPECT_EQ(view.state().topic(), "Apps");
  EXPECT_EQ(view.topicRows().size(), 9u);
  EXPECT_EQ(view.headerTexts().size(), 8u);
}

TEST_F(GuideWindows, BringingForwardAnyOwnWindowGivesItTheKeyboard) {
  ClosableWindow window(CGRect(100, 100, 300, 200), NSWindowStyleMaskTitled | NSWindowStyleMaskClosable,
                        NSBackingStoreType::buffered, false);
  OwnWindow::bringForward(window);
  scene.clock.advance(1);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isKeyWindow());
  EXPECT_EQ(scene.windowServer.frontmost(), ownPID());
  EXPECT_EQ(window.firstResponder(), &window);  // no content view to take it
}

class GuideViews : public GuideWindows {
 protected:
  void SetUp() override {
    GuideWindows::SetUp();
    view = std::make_unique<GuideView>("Apps");
  }
  void TearDown() override { view.reset(); }
  std::unique_ptr<GuideView> view;
};

TEST_F(GuideViews, TopicsVariantsAndDemonstrationsFollowTheClicks) {
  ASSERT_EQ(view->topicRows().size(), 7u);
  EXPECT_TRUE(view->topicRows()[0]->isSelected());
  EXPECT_EQ(view->variantButtons().size(), 2u);
  auto* demo = dynamic_cast<GuideDemo*>(view->demo());
  ASSERT_NE(demo, nullptr);
  scene.clock.advance(0.87 * 2);
  EXPECT_EQ(demo->player().index(), 2);

  view->variantButtons()[1]->click();  // "Backward" starts over from its first frame
  demo = dynamic_cast<GuideDemo*>(view->demo());
  ASSERT_NE(demo, nullptr);
  EXPECT_EQ(demo->player().index(), 0);
  EXPECT_TRUE(demo->demo().keys.count("⇧"));
  EXPECT_TRUE(view->variantButtons()[1]->isChecked());
  EXPECT_EQ(view->caption().text().toStdString(), "Hold ⇧ too to step back left");

  view->topicRows()[1]->click();  // "Spaces": one variant, no picker
  EXPECT_TRUE(view->variantButtons().empty());
  EXPECT_TRUE(view->topicRows()[1]->isSelected());
  EXPECT_FALSE(view->topicRows()[0]->isSelected());

  view->clickTopic("Displays");
  EXPECT_NE(dynamic_cast<DisplaysDemo*>(view->demo()), nullptr);

  view->clickTopic("Scrolling");
  auto* scrolling = dynamic_cast<GuideDemo*>(view->demo());
  ASSERT_NE(scrolling, nullptr);
  EXPECT_EQ(scrolling->keys(), nullptr);
  EXPECT_NE(scrolling->trackpad(), nullptr);
  view->clickVariant("Up and down");
  view->clickTopic("Scrolling");  // the selected row again: back to the first variant
  EXPECT_EQ(view->state().displayedVariant().name, "Sideways");
  EXPECT_TRUE(view->variantButtons()[0]->isChecked());
}

TEST_F(GuideViews, TheModeMenuShowsThePickedModeAndItsTopics) {
  EXPECT_EQ(view->modePicker().count(), 3);
  EXPECT_EQ(view->modePicker().itemText(0).toStdString(), "App cycling (current mode)");
  view->pickMode(Settings::Tiles::windows);
  EXPECT_EQ(view->modePicker().currentIndex(), 1);
  EXPECT_EQ(view->topicRows().size(), 6u);
  EXPECT_EQ(view->topicRows()[0]->title(), "Windows");
  EXPECT_EQ(view->headerTexts(), (std::vector<std::string>{"Hold", "⌘", "press", "⇥", "→", "let go to switch"}));
  EXPECT_EQ(view->legend().mode(), Settings::Tiles::windows);
}

TEST_F(GuideWindows, TopicRowsGrowToShowTextTooLongForOneLine) {
  const TopicRow brief("Apps", "Step");
  const TopicRow wordy("Apps without windows", "Open an app that has none open, then pick one of its windows");
  EXPECT_GT(wordy.sizeHint().height(), brief.sizeHint().height());
  EXPECT_EQ(wordy.sizeHint().width(), TopicRow::rowWidth);

  guide.show();
  QCoreApplication::sendPostedEvents();
  int rows = 0;
  for (QWidget* child : guide.view()->findChildren<QWidget*>()) {
    const auto* row = dynamic_cast<const TopicRow*>(child);
    if (!row || !row->isVisibleTo(guide.view())) continue;
    ++rows;
    EXPECT_GE(row->height(), row->heightForWidth(row->width())) << row->title();
  }
  EXPECT_GE(rows, 5);
}

}  // namespace
}  // namespace trelliq
