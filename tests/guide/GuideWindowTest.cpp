// The Keyboard Shortcuts window: made once, reused, brought forward with the keyboard, and
// the guide view's reactions to clicks, keys and settings.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontMetricsF>
#include <QImage>
#include <QPixmap>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPushButton>
#include <algorithm>

#include "guide/DisplaysDemo.h"
#include "guide/GuideDemo.h"
#include "guide/GuideView.h"
#include "guide/GuideWindow.h"
#include "guide/ShortcutLegendView.h"
#include "guide/TopicRow.h"
#include "ownwindows/ClosableWindow.h"
#include "ownwindows/views/OwnWindow.h"
#include "platform/AppKitAppearance.h"
#include "platform/Foundation.h"
#include "platform/sim/World.h"
#include "support/Scene.h"
#include "support/TextFit.h"
#include "support/WidgetsApp.h"

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

TEST_F(GuideWindows, TheWindowFollowsTheHeightOfWhatTheGuideShowsAndKeepsItsTopEdge) {
  guide.show();
  NSWindow* window = guide.window();
  GuideView& view = *guide.view();
  const CGRect first = window->frame();
  const double titleBar = first.height() - view.height();
  EXPECT_EQ(view.height(), view.sizeHint().height());
  EXPECT_GE(view.pane().height(), 300);

  // Hybrid lists nine topics, a taller column than App cycling's seven; Window cycling
  // six. Each time the window takes the view's height below the same top edge, and the
  // pane is never squeezed under its 300 points.
  for (const auto mode : {Settings::Tiles::both, Settings::Tiles::windows, Settings::Tiles::apps}) {
    view.pickMode(mode);
    const CGRect now = window->frame();
    EXPECT_EQ(view.height(), view.sizeHint().height()) << static_cast<int>(mode);
    EXPECT_DOUBLE_EQ(now.height(), view.height() + titleBar) << static_cast<int>(mode);
    EXPECT_DOUBLE_EQ(now.maxY(), first.maxY()) << static_cast<int>(mode);
    EXPECT_EQ(now.width(), first.width());
    EXPECT_GE(view.pane().height(), 300) << static_cast<int>(mode);
    QRect topics;
    for (const TopicRow* row : view.topicRows()) topics |= row->geometry();
    EXPECT_LE(topics.bottom(), view.legend().geometry().top()) << "the topics stay above the legend";
    if (mode == Settings::Tiles::both) {
      EXPECT_GT(now.height(), first.height());
    }
  }
  EXPECT_DOUBLE_EQ(window->frame().height(), first.height()) << "back in the first mode, the first height";
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

TEST_F(GuideWindows, TheLegendTakesUpTheAppWindowsSettingAtTheGuidesNextChangeNotAtOnce) {
  Settings::defaults().set("appWindows", platform::PlistValue(true));
  guide.show();
  GuideView& view = *guide.view();
  const int height = view.legend().height();
  const QImage before = view.legend().grab().toImage();
  Settings::defaults().set("appWindows", platform::PlistValue(false));  // turned off elsewhere
  scene.clock.advance(0.1);  // the change notification arrives
  EXPECT_EQ(view.legend().height(), height);
  EXPECT_EQ(view.legend().grab().toImage(), before) << "drawn again, it shows what it was laid out with";
  view.clickTopic("Spaces");
  EXPECT_LT(view.legend().height(), height) << "the app-windows group leaves";
}

// The pane stacks its variant picker, demonstration and caption in its middle.
TEST_F(GuideWindows, TheDemonstrationAndItsCaptionStandInTheMiddleOfThePane) {
  guide.show();
  GuideView& view = *guide.view();
  view.clickTopic("Displays");  // one variant: no picker, and shorter than the pane
  QWidget& pane = view.pane();
  const int top = view.demo()->mapTo(&pane, QPoint(0, 0)).y();
  const int bottom = pane.height() - view.caption().mapTo(&pane, QPoint(0, view.caption().height())).y();
  EXPECT_GT(top, 14) << "not held at the top";
  EXPECT_NEAR(top, bottom, 1);
  EXPECT_NEAR(view.demo()->mapTo(&pane, view.demo()->rect().center()).x(), pane.rect().center().x(), 1);
  EXPECT_EQ(view.caption().mapTo(&pane, QPoint(0, 0)).y() - view.demo()->mapTo(&pane, QPoint(0, view.demo()->height())).y(), 14);
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

TEST_F(GuideWindows, ClosingOrOrderingOutTheGuideGivesTheKeyboardBackToTheWindowBehindIt) {
  ClosableWindow behind(CGRect(100, 100, 300, 200), NSWindowStyleMaskTitled | NSWindowStyleMaskClosable,
                        NSBackingStoreType::buffered, false);
  OwnWindow::bringForward(behind);
  guide.show();
  scene.clock.advance(1);
  ASSERT_TRUE(isInFrontWithTheKeyboard());
  guide.window()->performClose(nullptr);
  EXPECT_TRUE(behind.isKeyWindow()) << "the window left in front is not key";

  guide.show();
  scene.clock.advance(1);
  ASSERT_TRUE(isInFrontWithTheKeyboard());
  guide.window()->orderOut(nullptr);  // hidden, not closed
  EXPECT_TRUE(behind.isKeyWindow()) << "the window left in front is not key after the guide was ordered out";
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

// The variant picker's chosen segment stands clearly apart from the others, in either
// appearance, and moves with a click.
TEST_F(GuideViews, TheVariantPickerSetsItsChosenSegmentApart) {
  for (const bool dark : {false, true}) {
    scene.world.setPreferenceValue(sim::World::kGlobalDomain, "AppleInterfaceStyle",
                                   dark ? std::optional<platform::PlistValue>("Dark") : std::nullopt);
    // The appearance is read again a second after the last look, beside the drawing.
    scene.clock.advance(1.1);
    (void)NSAppearance::current();
    scene.clock.advance(0.1);
    ASSERT_EQ(NSAppearance::current().isDark(), dark);
    const std::vector<QPushButton*>& segments = view->variantButtons();
    ASSERT_EQ(segments.size(), 2u);
    QWidget* picker = segments[0]->parentWidget();
    picker->resize(picker->sizeHint());
    picker->layout()->activate();
    // Each segment's colour beside its label, drawn at two pixels a point on the window's background.
    const auto fills = [&] {
      QImage image(picker->size() * 2, QImage::Format_ARGB32_Premultiplied);
      image.fill(dark ? QColor(40, 40, 42) : QColor(236, 236, 236));
      QPainter painter(&image);
      painter.scale(2, 2);
      picker->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
      painter.end();
      std::vector<QColor> found;
      for (QPushButton* s : segments) {
        const QPoint at = s->geometry().topLeft() + QPoint(4, s->height() / 2);
        found.push_back(image.pixelColor(at * 2));
      }
      return found;
    };
    const auto apart = [](const QColor& a, const QColor& b) {
      return std::min({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
    };
    const std::string appearance = dark ? "dark" : "light";
    view->variantButtons()[0]->click();
    std::vector<QColor> seen = fills();
    EXPECT_GE(apart(seen[0], seen[1]), 30) << appearance;
    const QColor chosen = seen[0];
    view->variantButtons()[1]->click();
    seen = fills();
    EXPECT_LE(apart(seen[1], chosen), 2) << appearance << ": the plate moved to the clicked segment";
    EXPECT_GE(apart(seen[0], seen[1]), 30) << appearance;
  }
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

TEST_F(GuideWindows, EveryTextOfTheGuideFitsItsBoxInEveryMode) {
  Settings::defaults().set("appWindows", platform::PlistValue(true));  // the legend's longest group
  guide.show();
  GuideView& view = *guide.view();
  for (const auto mode : {Settings::Tiles::apps, Settings::Tiles::windows, Settings::Tiles::both}) {
    view.pickMode(mode);
    EXPECT_EQ(test::labelsThatDoNotFit(view), std::vector<std::string>{}) << static_cast<int>(mode);
    // Painted text: topic titles on one line, every legend description beside its keys.
    const QFontMetricsF title(TopicRow::titleFont());
    for (const TopicRow* row : view.topicRows()) {
      EXPECT_LE(title.horizontalAdvance(QString::fromStdString(row->title())),
                TopicRow::rowWidth - 2 * TopicRow::padding)
          << row->title();
    }
    const QFontMetricsF text(ShortcutLegendView::textFont());
    const double room = ShortcutLegendView::textRoom(view.legend().width());
    for (const auto& group : ShortcutLegend::groups(mode)) {
      for (const auto& entry : group.entries) {
        EXPECT_LE(text.horizontalAdvance(QString::fromStdString(entry.text)), room) << entry.text;
      }
    }
  }
  // One point of the window is one pixel, whatever the screen's dots per inch.
  EXPECT_EQ(TopicRow::titleFont().pixelSize(), 13);
  EXPECT_EQ(ShortcutLegendView::textFont().pixelSize(), 12);
}

TEST_F(GuideWindows, AClickedTopicTakesTheSelectionOverAFifteenHundredthsEaseOut) {
  guide.show();
  GuideView& view = *guide.view();
  TopicRow& first = *view.topicRows()[0];
  TopicRow& second = *view.topicRows()[1];
  EXPECT_EQ(first.selectedLook(), 1);
  view.grab();  // drawn once, as the window shows it
  second.click();
  EXPECT_TRUE(second.isSelected());
  EXPECT_EQ(second.selectedLook(), 0) << "the plate starts from where it was";
  ASSERT_TRUE(view.leavingDemonstration()) << "the old demonstration fades out over the new one";
  scene.clock.advance(0.05);
  const double early = second.selectedLook();
  EXPECT_GT(early, 1.0 / 3) << "eased out: a third of the time, more than a third of the way";
  EXPECT_LT(early, 1);
  EXPECT_NEAR(first.selectedLook(), 1 - early, 1e-9);
  ASSERT_TRUE(view.leavingDemonstration());
  EXPECT_NEAR(view.leavingDemonstration()->opacity(), 1 - early, 1e-9);
  scene.clock.advance(0.1);
  EXPECT_EQ(second.selectedLook(), 1);
  EXPECT_EQ(first.selectedLook(), 0);
  EXPECT_FALSE(view.leavingDemonstration()) << "gone once faded";
  // A variant is picked without animation.
  view.clickTopic("Apps");
  scene.clock.advance(0.2);
  view.grab();
  view.clickVariant("Backward");
  EXPECT_FALSE(view.leavingDemonstration());
  // A mode picked in the menu changes the rows at once.
  view.pickMode(Settings::Tiles::windows);
  EXPECT_EQ(view.topicRows()[0]->selectedLook(), 1);
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
