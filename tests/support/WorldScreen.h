#pragma once
// The simulated Mac's screen on a world of the test's own process: what the screen
// shows is composed by the scene's window server and its keyboard and pointer post to
// it, so a test can use the program's windows through the screen as a person would.
// Links with trelliq_screen.

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include "platform/screen/ScreenSource.h"
#include "platform/screen/ScreenWindow.h"
#include "platform/sim/MultitouchDevices.h"
#include "platform/sim/WindowServer.h"
#include "platform/sim/World.h"

class WorldScreenSource : public screen::ScreenSource {
 public:
  WorldScreenSource(sim::World& world, sim::WindowServer& server) : world_(world), server_(server) {}

  std::optional<std::uint64_t> generation() override { return server_.generation(); }
  std::vector<platform::ScreenDescription> screens() override { return world_.screens(); }
  std::optional<Frame> frame(std::uint32_t id, int width, int height, std::uint64_t since) override {
    Frame frame;
    const bool composed = server_.composeDisplayFrame(
        id, width, height, since, [&](const QImage& image, const sim::WindowServer::DisplayFrame& change) {
          frame.sequence = change.sequence;
          frame.changing = change.changing;
          if (!change.damage) frame.whole = image.copy();
          for (const CGRect& r : change.damage.value_or(std::vector<CGRect>{})) {
            const QRect part(static_cast<int>(r.minX()), static_cast<int>(r.minY()), static_cast<int>(r.width()),
                             static_cast<int>(r.height()));
            frame.pieces.emplace_back(part.topLeft(), image.copy(part));
          }
        });
    if (!composed) return std::nullopt;
    return frame;
  }
  void post(const CGEvent& event) override { server_.postEvent(kCGHIDEventTap, event); }
  void doubleTap(int fingers) override {
    if (sim::MultitouchDevices* devices = sim::MultitouchDevices::active()) devices->doubleTap(fingers);
  }

 private:
  sim::World& world_;
  sim::WindowServer& server_;
};

/// A screen window over the scene's world, and a hand that uses it.
struct WorldScreen {
  WorldScreen(sim::World& world, sim::WindowServer& server, int width, int height) : source(world, server) {
    window.resize(width, height);
    window.refresh();
  }

  /// Where the screen's window shows desk point `desk` (global top-left points).
  QPointF at(CGPoint desk) const {
    for (const screen::Placed& p : window.layout().displays) {
      if (!p.frame.contains(desk)) continue;
      const double s = window.layout().scale;
      return {p.area.minX() + (desk.x - p.frame.minX()) * s, p.area.minY() + (desk.y - p.frame.minY()) * s};
    }
    return {-1, -1};
  }

  void press(QPointF point, QEvent::Type type) {
    QMouseEvent e(type, point, window.mapToGlobal(point), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &e);
  }
  void click(CGPoint desk) {
    const QPointF point = at(desk);
    press(point, QEvent::MouseButtonPress);
    press(point, QEvent::MouseButtonRelease);
  }
  /// The pointer moved to `desk` with no button held.
  void move(CGPoint desk) {
    const QPointF point = at(desk);
    QMouseEvent e(QEvent::MouseMove, point, window.mapToGlobal(point), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &e);
  }
  /// One notch of the wheel at `desk`, towards the user when `down`.
  void wheel(CGPoint desk, bool down) {
    const QPointF point = at(desk);
    QWheelEvent e(point, window.mapToGlobal(point), QPoint(), QPoint(0, down ? -120 : 120), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&window, &e);
  }

  WorldScreenSource source;
  screen::ScreenWindow window{&source, std::nullopt};
};
