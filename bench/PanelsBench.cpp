// What the panels cost the main thread on the large desk (3 displays, 24 Spaces, 60 apps,
// 1,600 windows) with every display at scale 2, from ⌘⇥ to pixels. Each case reports
// "of budget": its figure divided by the figure it must stay under (below 1 is met).
//
// A paint is what the window server's compositor asks of a panel: the panel's view drawn
// into a backing store at the display's scale, over the region the view asked to have
// drawn again (what it has marked since the last paint), cleared first because the panels
// are transparent. Backing stores are made once, as the system keeps them across shows.
//
//   PanelsOpen       begin (under 10 ms), then show + first paint of every panel (under
//                    16.7 ms together): "begin of budget", "show of budget".
//   PanelsStep       one ⇥ with its first painted frame (under 8 ms) and each further frame
//                    of its animation (under 4 ms): "step of budget", "frame of budget".
//   PanelsPicture    a window picture arriving while the panels show, applied and painted:
//                    one nobody sees (app tiles; under 1 ms) and the selected window's,
//                    which the preview shows (under 16.7 ms; the preview painted whole).
//   PanelsMemory     the peak resident size over a hundred sessions, against 300 MB.
//   PanelsGrowth     begin + show on a desk four times the large one (four times the
//                    Spaces and windows of the same apps), against the large desk's figure
//                    measured in the same run: within 4.5× of it. "node growth" is how
//                    many more scene nodes the panels have.

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <QRegion>
#include <sys/resource.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/CGEvent.h"
#include "platform/Foundation.h"
#include "settings/Settings.h"
#include "support/LargeDesk.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "switcher/Switcher.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/DisplayPanelView.h"
#include "switcher/views/QtPanelViews.h"
#include "workspace/DesktopFrames.h"
#include "workspace/WorkspaceTypes.h"

namespace {

using trelliq::Switcher;
using trelliq::views::DisplayPanelView;
using Clock = std::chrono::steady_clock;

constexpr double kScale = 2;
constexpr double kFrame = 1.0 / 60;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Stage {
  std::unique_ptr<Scene> scene;
  std::unique_ptr<trelliq::views::QtPanelViews> views;
  std::shared_ptr<Switcher> switcher;
  std::vector<QImage> stores;  // one backing store per panel

  explicit Stage(LargeDeskSize size) {
    trelliq::test::ensureWidgets();
    views = std::make_unique<trelliq::views::QtPanelViews>(trelliq::scene::layoutPanel);
    trelliq::PanelViews::install(views.get());
    scene = std::make_unique<Scene>();
    trelliq::DesktopFrames::reset();
    const std::vector<std::int32_t> pids = buildLargeDesk(*scene, size);
    scene->windowServer.makeFrontmost(pids.front());
    keepCallLogs(*scene, false);
    trelliq::Settings::registerDefaults();
    switcher = Switcher::make();
    // A first session makes the panels, their views and backing stores, as the program's
    // warm-up does.
    open();
    switcher->show();
    paint();
    close();
  }
  ~Stage() {
    switcher->cancel(false);
    // The views' mirrors let go of the controller's layers before the controller goes.
    trelliq::PanelViews::install(nullptr);
    views.reset();
    switcher.reset();
    scene->clock.advance(5);
    trelliq::DesktopFrames::reset();
  }

  // ⌘⇥ down: true when the session began.
  bool open() {
    const auto generation = switcher->tryOpen(kCGEventFlagMaskCommand, false, false, false);
    return switcher->begin(Switcher::Action::cycle(1), platform::clock().monotonicNanos(), std::nullopt,
                           generation.value_or(0));
  }
  void close() {
    switcher->cancel(false);
    scene->clock.runUntilIdle();
  }

  std::vector<DisplayPanelView*> panelViews() const {
    std::vector<DisplayPanelView*> out;
    for (const Switcher::DisplayPanel& p : switcher->panels) {
      if (auto* view = dynamic_cast<DisplayPanelView*>(p.window->contentView()); view && p.window->isVisible()) {
        out.push_back(view);
      }
    }
    return out;
  }

  // Paints the preview whole when it shows (it is small); answers the pixels painted.
  double paintPreview() {
    trelliq::SwitcherPanel& panel = switcher->previewPanel();
    QWidget* view = panel.contentView();
    if (!view || !panel.isVisible()) return 0;
    const QSize size(static_cast<int>(view->width() * kScale), static_cast<int>(view->height() * kScale));
    if (preview.size() != size) preview = QImage(size, QImage::Format_ARGB32_Premultiplied);
    preview.fill(Qt::transparent);
    QPainter painter(&preview);
    painter.scale(kScale, kScale);
    view->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return size.width() * size.height();
  }
  QImage preview;

  // Paints every shown panel over what it marked; answers the pixels painted.
  double paint() {
    const std::vector<DisplayPanelView*> shown = panelViews();
    if (stores.size() < switcher->panels.size()) stores.resize(switcher->panels.size());
    double pixels = 0;
    for (std::size_t i = 0; i < switcher->panels.size(); ++i) {
      auto* view = dynamic_cast<DisplayPanelView*>(switcher->panels[i].window->contentView());
      if (!view || std::find(shown.begin(), shown.end(), view) == shown.end()) continue;
      QImage& store = stores[i];
      const QSize size(static_cast<int>(view->width() * kScale), static_cast<int>(view->height() * kScale));
      if (store.size() != size) {
        store = QImage(size, QImage::Format_ARGB32_Premultiplied);
        store.fill(Qt::transparent);
      }
      const QRegion dirty = view->takeDirtyRegion();
      if (dirty.isEmpty()) continue;
      QPainter painter(&store);
      painter.scale(kScale, kScale);
      painter.setCompositionMode(QPainter::CompositionMode_Source);
      for (const QRect& r : dirty) {
        painter.fillRect(r, Qt::transparent);
        pixels += r.width() * r.height() * kScale * kScale;
      }
      painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
      view->render(&painter, dirty.boundingRect().topLeft(), dirty, QWidget::DrawChildren);
    }
    return pixels;
  }

  bool animating() const {
    for (DisplayPanelView* view : panelViews()) {
      if (view->animator().isAnimating()) return true;
    }
    return false;
  }
};


std::unique_ptr<Stage> gStage;

LargeDeskSize largeAtScale2() {
  LargeDeskSize size = LargeDeskSize::large();
  size.scale = kScale;
  return size;
}

void makeLarge(const benchmark::State&) { gStage = std::make_unique<Stage>(largeAtScale2()); }
void dropStage(const benchmark::State&) { gStage.reset(); }

void PanelsOpen(benchmark::State& state) {
  Stage& stage = *gStage;
  double begins = 0, shows = 0, pixels = 0, paints = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    const bool began = stage.open();
    const double begin = since(start);
    start = Clock::now();
    stage.switcher->show();
    const auto painting = Clock::now();
    pixels += stage.paint();
    paints += since(painting);
    const double show = since(start);
    state.SetIterationTime(begin + show);
    begins += begin;
    shows += show;
    if (!began) state.SkipWithError("begin found nothing to show");
    if (const char* dir = std::getenv("TRELLIQ_BENCH_PICTURES")) {
      for (std::size_t i = 0; i < stage.stores.size(); ++i) {
        stage.stores[i].save(QString::fromStdString(std::string(dir) + "/panel-" + std::to_string(i) + ".png"));
      }
    }
    stage.close();
  }
  const double n = std::max<double>(1, static_cast<double>(state.iterations()));
  state.counters["begin of budget"] = begins / n / 0.010;
  state.counters["show of budget"] = shows / n / kFrame;
  state.counters["painted Mpx"] = pixels / n / 1e6;
  state.counters["paint ms"] = paints / n * 1000;
}
BENCHMARK(PanelsOpen)
    ->Name("PanelsOpen/large")
    ->Setup(makeLarge)
    ->Teardown(dropStage)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The session stays open between iterations, the panels shown and their pictures in.
void openAndSettle(const benchmark::State& state) {
  makeLarge(state);
  gStage->open();
  gStage->scene->clock.advance(2);
  gStage->paint();
}

void PanelsStep(benchmark::State& state) {
  Stage& stage = *gStage;
  double steps = 0, frames = 0, pixels = 0;
  long frameCount = 0;
  double worstFrame = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    stage.switcher->forgetControlAndStep(false, 1);
    pixels += stage.paint();
    const double step = since(start);
    double following = 0;
    while (stage.animating()) {
      start = Clock::now();
      stage.scene->clock.advance(kFrame);
      stage.paint();
      const double frame = since(start);
      following += frame;
      worstFrame = std::max(worstFrame, frame);
      ++frameCount;
    }
    state.SetIterationTime(step);
    steps += step;
    frames += following;
    stage.scene->clock.advance(kFrame);
    stage.paint();
  }
  const double n = std::max<double>(1, static_cast<double>(state.iterations()));
  state.counters["step of budget"] = steps / n / 0.008;
  state.counters["frame of budget"] = frameCount ? frames / static_cast<double>(frameCount) / 0.004 : 0;
  state.counters["worst frame of budget"] = worstFrame / 0.004;
  state.counters["frames per step"] = static_cast<double>(frameCount) / n;
  state.counters["painted Mpx"] = pixels / n / 1e6;
}
BENCHMARK(PanelsStep)
    ->Name("PanelsStep/large")
    ->Setup(openAndSettle)
    ->Teardown(dropStage)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

CGImageRef freshPicture(int seed) {
  QImage image(480, 320, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor::fromHsv(seed * 37 % 360, 120, 200));
  return std::make_shared<const CGImage>(image);
}

// A picture for a window in no tile's picture (app tiles show icons), or for the selected
// window, whose picture the preview shows.
void PanelsPicture(benchmark::State& state) {
  Stage& stage = *gStage;
  const bool seen = state.range(0) != 0;
  const trelliq::WindowInfo* target = stage.switcher->model.focusedTarget();
  std::uint32_t window = 0;
  if (seen && target && target->windowID) window = *target->windowID;
  if (!seen) {
    for (const trelliq::WindowInfo& w : stage.switcher->model.workspace().windows()) {
      if (w.windowID && (!target || w.windowID != target->windowID)) window = *w.windowID;
    }
  }
  if (!window) {
    state.SkipWithError("no window to picture");
    return;
  }
  double total = 0;
  int seed = 0;
  for (auto _ : state) {
    const CGImageRef picture = freshPicture(++seed);
    const auto start = Clock::now();
    stage.switcher->thumbnailArrived(window, picture);
    // The controller's pass over the change (the preview's picture) runs next on the queue.
    stage.scene->clock.advance(0);
    stage.paint();
    if (seen) stage.paintPreview();
    const double t = since(start);
    state.SetIterationTime(t);
    total += t;
    // Let any fade run out before the next picture.
    while (stage.animating()) {
      stage.scene->clock.advance(kFrame);
      stage.paint();
    }
  }
  const double n = std::max<double>(1, static_cast<double>(state.iterations()));
  state.counters["of budget"] = total / n / (seen ? kFrame : 0.001);
}
BENCHMARK(PanelsPicture)
    ->Name("PanelsPicture/unseen")
    ->Arg(0)
    ->Setup(openAndSettle)
    ->Teardown(dropStage)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PanelsPicture)
    ->Name("PanelsPicture/selected")
    ->Arg(1)
    ->Setup(openAndSettle)
    ->Teardown(dropStage)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// begin + show on one desk, the median of `runs` sessions; also the medians of each.
struct Figures {
  double total = 0, begin = 0, show = 0, nodes = 0;
};

std::size_t countNodes(const trelliq::scene::Node& node) {
  std::size_t n = 1;
  for (const trelliq::scene::Node& child : node.children) n += countNodes(child);
  return n;
}
Figures beginAndShow(Stage& stage, int runs) {
  std::vector<double> totals, begins, shows;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    stage.open();
    const double begin = since(start);
    stage.switcher->show();
    totals.push_back(since(start));
    begins.push_back(begin);
    shows.push_back(totals.back() - begin);
    stage.close();
  }
  const auto median = [](std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  double nodes = 0;
  stage.open();
  stage.switcher->show();
  for (const DisplayPanelView* view : stage.panelViews()) nodes += static_cast<double>(countNodes(view->animator().target()));
  stage.close();
  return {median(totals), median(begins), median(shows), nodes};
}

Figures gLarge;

void makeFourTimes(const benchmark::State&) {
  {
    Stage large(largeAtScale2());
    gLarge = beginAndShow(large, 7);
  }
  // Four times the Spaces and windows of the same sixty apps: four times the tiles.
  LargeDeskSize size = largeAtScale2();
  size.spacesPerDisplay *= 4;
  size.windows *= 4;
  gStage = std::make_unique<Stage>(size);
}

void PanelsGrowth(benchmark::State& state) {
  Stage& stage = *gStage;
  Figures sum;
  const double nodes = beginAndShow(stage, 1).nodes;
  for (auto _ : state) {
    const Figures f = beginAndShow(stage, 1);
    state.SetIterationTime(f.total);
    sum.total += f.total;
    sum.begin += f.begin;
    sum.show += f.show;
  }
  const double n = std::max<double>(1, static_cast<double>(state.iterations()));
  state.counters["growth"] = sum.total / n / gLarge.total;
  state.counters["of budget"] = sum.total / n / gLarge.total / 4.5;
  state.counters["large ms"] = gLarge.total * 1000;
  state.counters["begin growth"] = sum.begin / n / gLarge.begin;
  state.counters["show growth"] = sum.show / n / gLarge.show;
  state.counters["node growth"] = nodes / gLarge.nodes;
  state.counters["nodes"] = nodes;
}
BENCHMARK(PanelsGrowth)
    ->Name("PanelsGrowth/4x")
    ->Setup(makeFourTimes)
    ->Teardown(dropStage)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Peak memory over many sessions on the large desk, each opened, shown, painted and
// closed with every window's picture taken: the process's peak resident size against
// 300 MB. Run it alone (--benchmark_filter=PanelsMemory): the peak is the process's.
void PanelsMemory(benchmark::State& state) {
  Stage& stage = *gStage;
  const int sessions = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < sessions; ++i) {
      stage.open();
      stage.switcher->show();
      stage.paint();
      stage.close();
    }
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peakMB = static_cast<double>(usage.ru_maxrss) / 1024;
  state.counters["peak MB"] = peakMB;
  state.counters["of budget"] = peakMB / 300;
}
BENCHMARK(PanelsMemory)
    ->Name("PanelsMemory/large")
    ->Arg(100)
    ->Setup(makeLarge)
    ->Teardown(dropStage)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
