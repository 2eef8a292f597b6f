// A display panel's view on a live model: what it reports, the name field it hosts, the
// pointer bridge over it, and the layer mirrors of the picture windows.

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "Snapshots.h"
#include "support/WidgetsApp.h"
#include "platform/Foundation.h"
#include "support/Scene.h"
#include "switcher/views/DisplayPanelView.h"
#include "switcher/views/QtPanelViews.h"

namespace trelliq::views {
namespace {

using scene::Node;

constexpr double kPlateX = 100, kPlateY = 200;

// A stand-in for the real layout: a plate with a row of 100-point tiles, and the name
// field under the tile being renamed. It reports what it lays out and remembers its input.
struct RowLayout {
  int calls = 0;
  bool namesAlways = false;

  scene::PanelScene operator()(const scene::PanelLayoutInput& in) {
    ++calls;
    namesAlways = in.namesAlways;
    scene::PanelScene out;
    out.root.key = "panel";
    out.root.frame = CGRect(0, 0, in.panel.width, in.panel.height);
    const DisplayGroup* display = in.model.display(in.index);
    if (!display) return out;
    const std::vector<Cluster> tiles = display->clusters();
    Node plate;
    plate.key = "plate";
    plate.frame = CGRect(kPlateX, kPlateY, 120.0 * tiles.size(), 140);
    plate.content = scene::Glass{58, in.model.haze()};
    plate.scale = in.model.focused() == in.index ? 1 : 0.8;
    plate.transitions.scale = Animation{0.2, Animation::Curve::easeOut};
    for (std::size_t i = 0; i < tiles.size(); ++i) {
      Node tile;
      tile.key = tiles[i].id;
      tile.frame = CGRect(120.0 * i, 0, 100, 100);
      tile.help = "tile " + tiles[i].id;
      const CGRect at(kPlateX + tile.frame.origin.x, kPlateY, 100, 100);
      out.frames.set(TileID::cluster(tiles[i].id), at);
      if (in.model.renaming() == tiles[i].id) {
        Node name;
        name.key = "name";
        name.frame = CGRect(10, 110, 80, 20);
        name.content = scene::NameField{in.model.nameDraft(), "usual", 13, scene::Weight::semibold};
        out.frames.set(TileID::name(tiles[i].id), CGRect(at.minX() + 10, at.minY() + 110, 80, 20));
        tile.children.push_back(std::move(name));
      }
      plate.children.push_back(std::move(tile));
    }
    out.content = CGRect(kPlateX, kPlateY, plate.frame.size.width, plate.frame.size.height);
    out.root.children.push_back(std::move(plate));
    return out;
  }
};

class DisplayPanelViewTest : public ::testing::Test {
 protected:
  Scene scene;
  SwitcherModel model;
  PanelGeometry geometry;
  NSPanel panel{CGRect(0, 0, 800, 600), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false};
  RowLayout layout;
  int submits = 0, escapes = 0, contentChanges = 0;

  void SetUp() override {
    test::ensureWidgets();
    geometry.onContentChange = [this] { ++contentChanges; };
    model.reset(desk({100, 101}), 0);
  }

  static Workspace desk(const std::vector<std::int32_t>& pids) {
    std::vector<Cluster> tiles;
    for (const std::int32_t pid : pids) {
      tiles.push_back(test::appTile(0, 1, test::app(pid), {test::window(static_cast<std::uint32_t>(pid) * 10, pid)}));
    }
    return test::workspace({test::display("d0", {test::space(1, std::move(tiles), true)})});
  }

  /// A view as during a session: made with the panel and shown with it.
  std::unique_ptr<DisplayPanelView> make(int index = 0) {
    PanelView::NameFieldHooks hooks;
    hooks.submit = [this] { ++submits; };
    hooks.escape = [this] { ++escapes; };
    auto view = std::make_unique<DisplayPanelView>(model, index, geometry, panel, std::move(hooks),
                                                   [this](const scene::PanelLayoutInput& in) { return layout(in); });
    view->setShown(true);
    return view;
  }

  static bool drawsAnything(QWidget& view) {
    QImage drawn(view.size(), QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    view.render(&drawn, QPoint(), QRegion(), QWidget::DrawChildren);
    for (int y = 0; y < drawn.height(); ++y)
      for (int x = 0; x < drawn.width(); ++x)
        if (qAlpha(drawn.pixel(x, y))) return true;
    return false;
  }
  static NSEvent key(std::uint16_t code, std::string text = "", NSEventModifierFlags flags = 0) {
    return NSEvent::keyEvent(NSEventType::keyDown, flags, text, text, false, code);
  }
  static void mouse(QWidget* to, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(type, at, at, at, type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(to, &event);
  }
};

TEST_F(DisplayPanelViewTest, EveryChangeReplacesTheReportedFramesAndContent) {
  const auto view = make();
  EXPECT_EQ(panel.contentView(), view.get());
  EXPECT_EQ(view->size(), QSize(800, 600)) << "the view covers the panel";
  ASSERT_EQ(geometry.tiles.size(), 2u);
  EXPECT_EQ(*geometry.tiles.find(TileID::cluster("0:1:101")), CGRect(220, 200, 100, 100));
  EXPECT_EQ(geometry.content(), CGRect(100, 200, 240, 140));
  EXPECT_EQ(contentChanges, 1);

  // A tile that went is gone from the geometry too: the frames are replaced, not merged.
  model.removeApp(101);
  EXPECT_EQ(geometry.tiles.size(), 1u);
  EXPECT_EQ(geometry.tiles.find(TileID::cluster("0:1:101")), nullptr);
  EXPECT_EQ(geometry.content(), CGRect(100, 200, 120, 140));

  // An ordered-out panel does not follow the model (opening a session changes it many
  // times before the panels show); showing it again catches up.
  view->setShown(false);
  model.reset(desk({100, 101}), 0);
  EXPECT_EQ(geometry.tiles.size(), 1u);
  // The panel is framed to its display and ordered in before it shows; until then it
  // draws nothing of what it held.
  panel.setFrame(CGRect(0, 0, 1024, 768), false);
  EXPECT_FALSE(drawsAnything(*view)) << "an ordered-out panel draws nothing";
  view->setShown(true);
  EXPECT_TRUE(view->isShown());
  EXPECT_TRUE(drawsAnything(*view));
  EXPECT_EQ(view->size(), QSize(1024, 768));
  EXPECT_EQ(geometry.tiles.size(), 2u);
}

TEST_F(DisplayPanelViewTest, APanelOrderedInAgainPublishesNothingOfItsLastShowingUntilShown) {
  scene.world.setScreenCaptureAllowed(true);
  panel.setOpaque(false);  // as the switcher's panels: only what the view draws shows
  const auto view = make();
  panel.orderFrontRegardless();
  const auto number = static_cast<std::uint32_t>(panel.windowNumber());
  auto published = [&] {
    const CGImageRef picture = scene.windowServer.captureWindowPicture(number, 400, 300);
    for (int y = 0; picture && y < picture->height(); ++y)
      for (int x = 0; x < picture->width(); ++x)
        if (picture->pixel(x, y) >> 24) return true;
    return false;
  };
  EXPECT_TRUE(published());
  panel.orderOut(nullptr);
  view->setShown(false);
  panel.orderFrontRegardless();
  EXPECT_FALSE(published()) << "the last session's panel shows before the new one is laid out";
}

TEST_F(DisplayPanelViewTest, ADisplayTheSnapshotLacksReportsNothing) {
  geometry.setContent(CGRect(1, 2, 3, 4));
  geometry.tiles.set(TileID::cluster("stale"), CGRect(0, 0, 1, 1));
  const auto view = make(3);
  EXPECT_TRUE(geometry.tiles.empty());
  EXPECT_TRUE(geometry.content().isNull());
}

TEST_F(DisplayPanelViewTest, AChangeOfTheNamesOptionLaysThePanelOutAgainWithoutAModelChange) {
  const auto view = make();
  EXPECT_FALSE(layout.namesAlways);
  const int before = layout.calls;
  UserDefaults::standard().set("names", platform::PlistValue("always"));
  scene.clock.advance(0.01);
  EXPECT_TRUE(layout.namesAlways);
  EXPECT_EQ(layout.calls, before + 1);

  UserDefaults::standard().set("preview", platform::PlistValue("none"));
  scene.clock.advance(0.01);
  EXPECT_EQ(layout.calls, before + 1) << "another option changes nothing here";

  // A panel that is ordered out catches up when it shows.
  view->setShown(false);
  UserDefaults::standard().set("names", platform::PlistValue("sometimes"));
  scene.clock.advance(0.01);
  EXPECT_TRUE(layout.namesAlways) << "not laid out while ordered out";
  view->setShown(true);
  EXPECT_FALSE(layout.namesAlways) << "anything but \"always\" counts as focused";
}

TEST_F(DisplayPanelViewTest, ModelChangesAnimateWithTheirAnimation) {
  const auto view = make();
  // The second tile slides left when the first one goes.
  model.animating(Animation{0.2, Animation::Curve::linear}, [&] { model.removeApp(100); });
  const auto tileX = [&] { return view->animator().displayed().children.at(0).children.at(0).frame.origin.x; };
  EXPECT_EQ(tileX(), 120);
  scene.clock.advance(0.1);
  EXPECT_NEAR(tileX(), 60, 1e-6);
  scene.clock.advance(0.1);
  EXPECT_EQ(tileX(), 0);

  // A focus move uses the plate's own transition.
  model.focused.set(1);
  scene.clock.advance(0.1);
  const double scale = view->animator().displayed().children.at(0).scale;
  EXPECT_LT(scale, 0.9);
  EXPECT_GT(scale, 0.8);
}

TEST_F(DisplayPanelViewTest, TheNameFieldEditsTheDraftAndCallsTheHooks) {
  const auto view = make();
  EXPECT_EQ(view->nameField(), nullptr);
  model.nameDraft.set("Quill");
  model.renaming.set("0:1:100");
  NameLineEdit* field = view->nameField();
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->geometry(), QRect(110, 310, 80, 20)) << "placed where the tree has it";
  EXPECT_EQ(field->text(), "Quill");
  EXPECT_EQ(field->placeholderText(), "usual");

  view->focusNameField();
  EXPECT_EQ(panel.firstResponder(), static_cast<NSResponder*>(field)) << "keys routed to the panel reach the field";
  EXPECT_EQ(field->selectedText(), "Quill") << "the field takes the keyboard with its text selected";

  // Typing writes the draft; the draft written elsewhere shows in the field.
  field->keyDown(key(124));  // → leaves the selection for the end
  field->keyDown(key(1, "s"));
  EXPECT_EQ(model.nameDraft(), "Quills");
  field->keyDown(key(51));
  EXPECT_EQ(model.nameDraft(), "Quill");
  field->performAction("selectAll:", nullptr);
  field->keyDown(key(7, "x"));
  EXPECT_EQ(model.nameDraft(), "x");
  field->keyDown(key(7, "x", NSEventModifierFlagCommand));
  EXPECT_EQ(model.nameDraft(), "x") << "a command key is no text";
  model.nameDraft.set("Drafts");
  EXPECT_EQ(field->text(), "Drafts");

  // Return submits and Escape leaves, from routed keys and from Qt's own alike.
  field->keyDown(key(36, "\r"));
  EXPECT_EQ(submits, 1);
  field->keyDown(key(53, "\x1b"));
  EXPECT_EQ(escapes, 1);
  QKeyEvent ret(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QCoreApplication::sendEvent(field, &ret);
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(field, &esc);
  EXPECT_EQ(submits, 2);
  EXPECT_EQ(escapes, 2);
  EXPECT_EQ(model.nameDraft(), "Drafts") << "the hooks decide what happens to the draft";

  model.renaming.set(std::nullopt);
  EXPECT_EQ(view->nameField(), nullptr);
  EXPECT_NE(panel.firstResponder(), static_cast<NSResponder*>(field)) << "the hidden field lets go of the keys";
}

// Counts the presses and releases a widget receives.
struct Presses : QObject {
  int presses = 0, releases = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    presses += e->type() == QEvent::MouseButtonPress;
    releases += e->type() == QEvent::MouseButtonRelease;
    return false;
  }
};

TEST_F(DisplayPanelViewTest, ThePointerBridgeReportsInPanelCoordinatesAndPassesOnlyTheFieldThrough) {
  const auto view = make();
  MouseView pointer;
  pointer.host = &panel;
  std::vector<CGPoint> moves, clicks;
  // Nothing set: every event is still swallowed.
  view->attachPointer(pointer);
  mouse(view->pointerBridge(), QEvent::MouseButtonPress, {10, 10});
  mouse(view->pointerBridge(), QEvent::MouseButtonRelease, {10, 10});

  pointer.onMove = [&](CGPoint p) { moves.push_back(p); };
  pointer.onClick = [&](CGPoint p) { clicks.push_back(p); };
  pointer.passesThrough = [&](CGPoint p) {
    const CGRect* field = model.renaming() ? geometry.tiles.find(TileID::name(*model.renaming())) : nullptr;
    return field && field->contains(CGPoint{p.x, pointer.bounds().height() - p.y});
  };
  PointerBridge* bridge = view->pointerBridge();
  ASSERT_NE(bridge, nullptr);
  EXPECT_EQ(bridge->geometry(), view->rect());

  mouse(bridge, QEvent::MouseMove, {150, 250});
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0], (CGPoint{150, 350})) << "origin at the bottom left";
  mouse(bridge, QEvent::MouseButtonPress, {150, 250});
  EXPECT_TRUE(clicks.empty()) << "a press does nothing";
  mouse(bridge, QEvent::MouseButtonRelease, {150, 250});
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0], (CGPoint{150, 350}));

  model.renaming.set("0:1:100");
  NameLineEdit* field = view->nameField();
  ASSERT_NE(field, nullptr);
  Presses seen;
  field->installEventFilter(&seen);
  mouse(bridge, QEvent::MouseButtonPress, {150, 320});  // inside the field at (110, 310, 80, 20)
  mouse(bridge, QEvent::MouseButtonRelease, {150, 320});
  EXPECT_EQ(seen.presses, 1);
  EXPECT_EQ(seen.releases, 1);
  EXPECT_EQ(clicks.size(), 1u) << "a click in the field is the field's";

  mouse(bridge, QEvent::MouseButtonPress, {150, 250});
  mouse(bridge, QEvent::MouseButtonRelease, {150, 250});
  EXPECT_EQ(seen.presses, 1);
  EXPECT_EQ(clicks.size(), 2u) << "a click beside it reaches the controller";
  field->removeEventFilter(&seen);
}

TEST_F(DisplayPanelViewTest, TheViewLibraryMirrorsLayersAndWiresPanels) {
  // The windows and layers outlive the views that mirror them.
  NSPanel window(CGRect(0, 0, 100, 100), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  Layer below, above;
  MouseView pointer;
  QtPanelViews views([this](const scene::PanelLayoutInput& in) { return layout(in); });
  auto made = views.makeDisplayPanelView(model, 0, geometry, panel, {});
  views.hostPointer(panel, pointer);
  auto* view = dynamic_cast<DisplayPanelView*>(panel.contentView());
  ASSERT_EQ(view, made.get());
  EXPECT_NE(view->pointerBridge(), nullptr);

  below.setFrame(CGRect(10, 10, 40, 20));
  below.setBackground(0xFFFF0000);
  above.setHidden(true);
  views.host(window, {&below, &above});
  LayerHostView* host = views.hostOf(window);
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(window.contentView(), host);
  EXPECT_EQ(host->placed().at(0).first, QRectF(10, 70, 40, 20)) << "flipped to the widget's top-left origin";
  EXPECT_EQ(host->placed().at(1).second, 0) << "hidden";

  QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  host->render(&image);
  EXPECT_EQ(image.pixel(20, 80), qRgb(255, 0, 0));
  EXPECT_EQ(qAlpha(image.pixel(20, 20)), 0);

  below.setAlpha(0.5);
  EXPECT_EQ(host->placed().at(0).second, 0.5);
  below.setFrame(CGRect(50, 10, 40, 20), 0.2);
  EXPECT_EQ(host->placed().at(0).first.x(), 10) << "an animated move starts where it was";
  scene.clock.advance(0.1);
  EXPECT_NEAR(host->placed().at(0).first.x(), 30, 1e-6) << "half way at half time";
  scene.clock.advance(0.2);
  EXPECT_EQ(host->placed().at(0).first.x(), 50);

  // Hosting again replaces the mirror, which lets go of its layers.
  views.host(window, {&above});
  EXPECT_FALSE(below.isMirrored());
  EXPECT_TRUE(above.isMirrored());
}

TEST_F(DisplayPanelViewTest, APaneMirrorsAsTheHazeUnderTheGlass) {
  NSPanel window(CGRect(0, 0, 100, 100), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  Layer haze(Layer::Material::haze), glass(Layer::Material::glass);
  for (Layer* layer : {&haze, &glass}) layer->setFrame(CGRect(0, 0, 100, 100));
  QtPanelViews views([this](const scene::PanelLayoutInput& in) { return layout(in); });
  views.host(window, {&haze, &glass});
  const auto centre = [&] {
    QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    views.hostOf(window)->render(&image);
    return image.pixel(50, 50);
  };
  haze.setAlpha(0);
  const QRgb glassAlone = centre();
  EXPECT_GT(qAlpha(glassAlone), 0) << "a pane is never invisible";
  haze.setAlpha(1);
  EXPECT_GT(qAlpha(centre()), qAlpha(glassAlone)) << "the haze deepens it";
  views.host(window, {});
}

}  // namespace
}  // namespace trelliq::views
