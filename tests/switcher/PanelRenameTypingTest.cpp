// Renaming a desktop as a user does it: the real panel views draw the label, a click
// posted through the simulated Mac opens the field, and the name is typed on the
// simulated keyboard while another application stays in front. The field's insertion point
// is looked for in the panel's picture as the window server shows it.

#include <QImage>
#include <cmath>

#include "DisplayPanelsStage.h"
#include "platform/InsertionPoint.h"
#include "platform/sim/UserInput.h"
#include "support/WidgetsApp.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/DisplayPanelView.h"
#include "switcher/views/QtPanelViews.h"
#include "workspace/SpaceNames.h"

namespace trelliq::panels {
namespace {

// Key codes of the U.S. keyboard.
constexpr CGKeyCode kA = 0, kS = 1, kD = 2, kI = 34, kO = 31, kT = 17, kU = 32, kX = 7, kReturn = 36, kEscape = 53,
                    kTab = 48, kLeft = 123, kRight = 124;
constexpr const char* kDesktop = "0:1:desktop";  // Space 1's desktop on the built-in display

class PanelRenameTypingTest : public PanelsStage {
 protected:
  PanelRenameTypingTest() : views_(std::make_unique<views::QtPanelViews>(scene::layoutPanel)) {
    test::ensureWidgets();
    NSApp().finishLaunching();  // the program takes the events routed to it
    PanelViews::install(views_.get());
  }
  ~PanelRenameTypingTest() override {
    PanelViews::install(nullptr);
    views_.reset();
  }

  void SetUp() override {
    setPreview("none");
    startTap();
    user.modifierDown(sim::UserInput::kCommand);
    user.press(kTab);
    scene.clock.advance(0.2);
    ASSERT_TRUE(switcher->session().isShown());
    front = frontmost();
    ASSERT_NE(front, scene.windowServer.ownProcessIdentifier());
  }

  /// Points at the desktop's tile, so that it is selected and shows its name, then clicks
  /// the name where the view drew it.
  void clickLabel() {
    const CGRect* tile = geometry(0).tiles.find(TileID::cluster(kDesktop));
    ASSERT_NE(tile, nullptr) << "the view reported the tile";
    user.moveTo(globalPoint(0, {tile->midX(), tile->midY()}));
    scene.clock.advance(0.05);
    ASSERT_EQ(selected(), kDesktop);
    const CGRect* label = geometry(0).tiles.find(TileID::name(kDesktop));
    ASSERT_NE(label, nullptr) << "the view reported the label";
    user.click(globalPoint(0, {label->midX(), label->midY()}));
    scene.clock.advance(0.05);
    ASSERT_EQ(switcher->model().renaming(), std::optional<std::string>(kDesktop));
  }
  void type(std::initializer_list<CGKeyCode> keys) {
    for (const CGKeyCode key : keys) user.press(key);
    scene.clock.advance(0.05);
  }
  void withModifier(CGKeyCode modifier, CGKeyCode key) {
    user.modifierDown(modifier);
    user.press(key);
    user.modifierUp(modifier);
    scene.clock.advance(0.05);
  }
  std::string usualName() {
    for (const Cluster& c : switcher->model().display(0)->clusters()) {
      if (c.id == kDesktop) return switcher->model().label(c, 0, true).usual;
    }
    return "";
  }
  std::optional<std::string> stored() {
    const auto names = UserDefaults::standard().dictionaryForKey(SpaceNames::defaultsKey);
    if (!names || names->size() != 1) return std::nullopt;
    const std::string* name = names->begin()->second.asString();
    return name ? std::optional(*name) : std::nullopt;
  }

  /// The columns of display 0's name field, in the panel's picture at the display's pixels,
  /// that a bar of the text's colour crosses from top to bottom of the line.
  std::vector<int> caretColumns() {
    NSWindow& window = *switcher->panels().at(0).window;
    auto* view = dynamic_cast<views::DisplayPanelView*>(window.contentView());
    if (!view || !view->nameField()) return {};
    const double scale = switcher->model().display(0)->screen.backingScaleFactor();
    const CGRect frame = window.frame();
    const CGImageRef picture = scene.windowServer.captureWindowPicture(
        static_cast<std::uint32_t>(window.windowNumber()), static_cast<int>(std::lround(frame.width() * scale)),
        static_cast<int>(std::lround(frame.height() * scale)));
    if (!picture) return {};
    const QImage image = picture->qimage();
    const QRectF field = QRectF(view->nameField()->geometry());
    const QRect area = QRectF(field.topLeft() * scale, field.size() * scale).toAlignedRect() & image.rect();
    std::vector<int> columns;
    for (int x = area.left(); x <= area.right(); ++x) {
      int lit = 0;
      for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb p = image.pixel(x, y);
        if (std::min({qRed(p), qGreen(p), qBlue(p)}) >= 200 && qAlpha(p) >= 200) ++lit;
      }
      if (lit >= area.height() * 0.6) columns.push_back(x);
    }
    return columns;
  }

  /// Display 0's frame as a screen showing `perPoint` pixels per point is sent it.
  QImage shownFrame(double perPoint) {
    const sim::DisplaySpaces d = scene.windowServer.displays().at(0);
    QImage frame;
    scene.windowServer.composeDisplayFrame(
        d.displayID, static_cast<int>(std::lround(d.frame.width() * perPoint)),
        static_cast<int>(std::lround(d.frame.height() * perPoint)), 0,
        [&](const QImage& shown, const sim::WindowServer::DisplayFrame&) { frame = shown.copy(); });
    scene.windowServer.dropDisplayFrames();
    return frame;
  }

  sim::UserInput user{*sim::EventServer::active()};
  std::int32_t front = 0;

 private:
  std::unique_ptr<views::QtPanelViews> views_;
};

TEST_F(PanelRenameTypingTest, ATypedNameIsStoredAndThePanelsCloseASecondLaterWithoutSwitching) {
  clickLabel();
  user.modifierUp(sim::UserInput::kCommand);  // letting go of ⌘ while editing commits nothing
  scene.clock.advance(0.05);
  ASSERT_TRUE(switcher->session().isActive());

  withModifier(sim::UserInput::kCommand, kA);  // select the shown name, so typing replaces it
  withModifier(sim::UserInput::kShift, kS);
  type({kT, kU, kD, kI, kO});
  EXPECT_EQ(switcher->model().nameDraft(), "Studio");
  EXPECT_FALSE(stored()) << "nothing is stored before the name is submitted";
  type({kReturn});

  EXPECT_EQ(stored(), std::optional<std::string>("Studio"));
  EXPECT_EQ(switcher->model().justNamed(), std::optional<std::string>(kDesktop));
  scene.clock.advance(0.9);
  EXPECT_TRUE(anyPanelVisible()) << "the new name shows for a second";
  scene.clock.advance(0.2);
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_FALSE(anyPanelVisible());
  EXPECT_EQ(frontmost(), front) << "another app stayed in front throughout";
  EXPECT_TRUE(session::linesStarting("switch to ").empty());
  EXPECT_EQ(stored(), std::optional<std::string>("Studio")) << "the close keeps the name";
}

TEST_F(PanelRenameTypingTest, EscapeKeepsTheStoredNameAndTheSwitcherOpenForSwitching) {
  SpaceNames::set("Home", SpaceNames::key("uuid-elsewhere"));  // another tile's name, untouched throughout
  const auto before = UserDefaults::standard().dictionaryForKey(SpaceNames::defaultsKey);
  clickLabel();
  withModifier(sim::UserInput::kCommand, kA);
  type({kX, kO});
  EXPECT_EQ(switcher->model().nameDraft(), "xo");
  type({kEscape});

  EXPECT_FALSE(switcher->model().renaming());
  EXPECT_FALSE(switcher->gate().isRenaming());
  EXPECT_FALSE(switcher->panels().at(0).window->takesKeys());
  EXPECT_EQ(UserDefaults::standard().dictionaryForKey(SpaceNames::defaultsKey), before);
  scene.clock.advance(1.5);
  ASSERT_TRUE(switcher->session().isActive()) << "escape ends the edit, not the session";
  EXPECT_TRUE(anyPanelVisible());
  for (const Cluster& c : switcher->model().display(0)->clusters()) {
    if (c.id == kDesktop) {
      EXPECT_EQ(switcher->model().label(c, 0, true).name, usualName());
    }
  }

  // Keys are the switcher's again. ⌘ went up for ⌘A, so the session stays open: ⇥ steps
  // and Return switches.
  const std::string selectedBefore = selected();
  user.press(kTab);
  scene.clock.advance(0.05);
  EXPECT_NE(selected(), selectedBefore);
  EXPECT_TRUE(switcher->session().isActive());
  user.press(kReturn);
  scene.clock.advance(1.0);
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_EQ(session::linesStarting("switch to ").size(), 1u);
}

TEST_F(PanelRenameTypingTest, TheCaretStandsAfterEachTypedLetterAndBlinksOnlyWhileTheFieldIsEdited) {
  clickLabel();
  withModifier(sim::UserInput::kCommand, kA);
  EXPECT_TRUE(caretColumns().empty()) << "the selected name shows its selection, not a caret";
  type({kX});
  const std::vector<int> afterX = caretColumns();
  ASSERT_FALSE(afterX.empty()) << "a caret after the typed letter";

  // Left alone, it blinks: off, on, off.
  scene.clock.advance(platform::kInsertionPointBlink);
  EXPECT_TRUE(caretColumns().empty());
  scene.clock.advance(platform::kInsertionPointBlink);
  EXPECT_EQ(caretColumns(), afterX);
  scene.clock.advance(platform::kInsertionPointBlink);
  ASSERT_TRUE(caretColumns().empty());
  // A keystroke shows it at once where the next letter goes, and it stays while typing goes on.
  type({kO});
  const std::vector<int> afterO = caretColumns();
  ASSERT_FALSE(afterO.empty());
  EXPECT_GT(afterO.front(), afterX.back());
  for (int i = 0; i < 12; ++i) {
    type({i % 2 ? kRight : kLeft});
    EXPECT_FALSE(caretColumns().empty()) << "solid while typing, keystroke " << i;
  }
  user.press(kLeft);
  scene.clock.advance(0.05);
  const std::vector<int> beforeO = caretColumns();
  ASSERT_FALSE(beforeO.empty());
  EXPECT_LT(beforeO.front(), afterO.front()) << "the arrow moved it back over the o";

  // The session ends while the name is edited: nothing of the field blinks on unseen.
  switcher->session().cancel(false);
  scene.clock.advance(1.0);
  ASSERT_FALSE(anyPanelVisible());
  EXPECT_EQ(scene.clock.pending(), 0u) << "work left on the clock";
}

// The screen at its usual size shows the built-in display at about half a pixel per point,
// a quarter of the display's own pixels: the insertion point still shows there, wherever
// the arrows put it, as a bar that comes and goes with its blink.
TEST_F(PanelRenameTypingTest, TheCaretShowsOnAScreenDrawingUnderAPixelPerPoint) {
  clickLabel();
  withModifier(sim::UserInput::kCommand, kA);
  type({kX, kO, kLeft});
  bool forward = true;  // between the x and the o: each arrow moves it
  for (const double perPoint : {0.56, 0.45, 0.37}) {
    for (int step = 0; step < 3; ++step, forward = !forward) {
      type({forward ? kRight : kLeft});
      ASSERT_FALSE(caretColumns().empty()) << "the arrow showed the insertion point";
      const QImage on = shownFrame(perPoint);
      for (int wait = 0; wait < 4 && !caretColumns().empty(); ++wait) scene.clock.advance(platform::kInsertionPointBlink / 2);
      ASSERT_TRUE(caretColumns().empty()) << "the insertion point blinked off";
      const QImage off = shownFrame(perPoint);
      ASSERT_EQ(on.size(), off.size());
      int left = on.width(), right = -1, strongest = 0;
      for (int y = 0; y < on.height(); ++y)
        for (int x = 0; x < on.width(); ++x) {
          const int apart = std::abs(qGray(on.pixel(x, y)) - qGray(off.pixel(x, y)));
          if (apart <= 8) continue;
          left = std::min(left, x), right = std::max(right, x), strongest = std::max(strongest, apart);
        }
      EXPECT_GE(strongest, 24) << perPoint << " px/pt, step " << step << ": no insertion point shows";
      EXPECT_LE(right - left, 2) << perPoint << " px/pt, step " << step << ": more than a bar changed";
    }
  }
}

// With the whole name selected, ← puts the caret at its start and → at its end.
TEST_F(PanelRenameTypingTest, AnArrowCollapsesTheSelectionToItsEdge) {
  clickLabel();
  const std::string name = usualName();
  ASSERT_GE(name.size(), 2u);
  withModifier(sim::UserInput::kCommand, kA);
  type({kLeft, kX});
  EXPECT_EQ(switcher->model().nameDraft(), "x" + name);
  withModifier(sim::UserInput::kCommand, kA);
  type({kRight, kO});
  EXPECT_EQ(switcher->model().nameDraft(), "x" + name + "o");
}

}  // namespace
}  // namespace trelliq::panels
