// The cost of composing one display's frame for the simulated Mac's screen on the large
// desk (3 displays, 24 Spaces, 60 apps, 1,600 windows) with three of the program's panels
// up, their glass composed over a blurred backdrop. The screen repaints a display from one
// such frame; to hold 60 frames a second while ⇥ steps it must stay well under 8 ms.

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <memory>

#include "platform/Image.h"
#include "platform/SharedSurface.h"
#include "platform/WindowServerPort.h"
#include "support/LargeDesk.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"

namespace {

std::unique_ptr<Scene> gScene;
std::uint32_t gDisplay = 0;

// A panel's content: clear, with a rounded translucent plate across its middle as the
// program's glass is drawn, published as the program publishes it.
std::shared_ptr<const platform::SharedSurface> glassContent(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(38, 38, 42, 150));
  painter.drawRoundedRect(QRectF(width * 0.1, height * 0.35, width * 0.8, height * 0.3), 24, 24);
  painter.end();
  auto surface = platform::SharedSurface::create(width, height);
  surface->publish(image, QRegion());
  return surface;
}

void deskWithPanels(const benchmark::State&) {
  trelliq::test::ensureWidgets();  // title bars and icons are drawn with fonts
  gScene = std::make_unique<Scene>();
  buildLargeDesk(*gScene, LargeDeskSize::large());
  keepCallLogs(*gScene, false);
  const auto screens = gScene->world.screens();
  gDisplay = screens.front().displayID;
  sim::WindowServer& server = gScene->windowServer;
  // One panel as large as each display, as the switcher puts them up.
  const double flip = screens.front().frame.maxY();
  for (const auto& s : screens) {
    platform::OwnWindowState state;
    state.frame = CGRect(s.frame.minX(), flip - s.frame.maxY(), s.frame.width(), s.frame.height());
    state.level = 101;
    state.opaque = false;
    state.hasShadow = false;
    state.collectionBehavior = 1;  // all Spaces
    const std::uint32_t number = server.createOwnWindow(state);
    server.orderOwnWindow(number, platform::OwnWindowOrder::frontRegardless);
    server.setOwnWindowSurface(number, glassContent(static_cast<int>(s.frame.width() * s.backingScaleFactor),
                                                    static_cast<int>(s.frame.height() * s.backingScaleFactor)));
  }
}

void dropDesk(const benchmark::State&) { gScene.reset(); }

// One frame of the main display at a size a screen window gives it.
void BM_ScreenFrameLargeDesk(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  for (auto _ : state) {
    bool changing = false;
    QImage frame = gScene->windowServer.composeDisplay(gDisplay, width, height, &changing);
    benchmark::DoNotOptimize(frame.constBits());
  }
}
BENCHMARK(BM_ScreenFrameLargeDesk)
    ->Args({960, 624})
    ->Args({1512, 982})
    ->Setup(deskWithPanels)
    ->Teardown(dropDesk)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
