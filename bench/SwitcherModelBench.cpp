// What one key press costs the switcher model: every stepper, and a refresh with a new
// snapshot, on a large desk (3 displays, 60 tiles, 1,600 windows) and on smaller ones of
// the same shape, so the growth with the desk's size shows (it should be linear).

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>

#include "support/Scene.h"
#include "switcher/Snapshots.h"
#include "switcher/model/SwitcherModel.h"
#include "workspace/Recency.h"

namespace {

using namespace trelliq;
using namespace trelliq::test;

std::unique_ptr<Scene> gScene;

// Three displays of four Spaces each; every Space holds app tiles and one whole-Space
// tile. `tiles` tiles in all share `windows` windows round-robin; every third window
// has been used, and every seventh is minimized.
Workspace desk(int tiles, int windows) {
  constexpr int kDisplays = 3, kSpaces = 4;
  std::vector<DisplayGroup> displays;
  std::vector<Cluster*> all;
  for (int d = 0; d < kDisplays; ++d) {
    std::vector<SpaceGroup> spaces;
    for (int s = 0; s < kSpaces; ++s) spaces.push_back(space(d * kSpaces + s + 1, {}, s == 0));
    displays.push_back(
        display("D" + std::to_string(d), std::move(spaces), std::nullopt, CGRect(1920.0 * d, 0, 1920, 1080)));
  }
  for (int t = 0; t < tiles; ++t) {
    const int d = t % kDisplays, s = (t / kDisplays) % kSpaces;
    SpaceGroup& group = displays[static_cast<std::size_t>(d)].spaces[static_cast<std::size_t>(s)];
    const std::int64_t spaceID = group.id;
    const AppInfo owner = app(t + 1, "App " + std::to_string(t + 1));
    Cluster c = group.clusters.empty() ? screenTile(d, spaceID, {owner}, {}) : appTile(d, spaceID, owner, {});
    group.clusters.push_back(std::move(c));
  }
  for (DisplayGroup& g : displays) {
    for (SpaceGroup& group : g.spaces) {
      for (Cluster& c : group.clusters) all.push_back(&c);
    }
    if (!g.spaces.front().clusters.empty()) g.here = g.spaces.front().clusters.front().id;
  }
  for (int w = 0; w < windows; ++w) {
    Cluster& c = *all[static_cast<std::size_t>(w) % all.size()];
    c.windows.push_back(window(static_cast<std::uint32_t>(1000 + w), c.apps.front().id, w % 7 == 6));
    c.lastWindow = 0;
    if (w % 3 == 0) Recency::shared().touch(static_cast<std::uint32_t>(1000 + w), false);
  }
  std::vector<AppInfo> tray;
  for (int i = 0; i < 8; ++i) tray.push_back(app(5000 + i, "Tray " + std::to_string(i)));
  return workspace(std::move(displays), std::move(tray));
}

void setUp(const benchmark::State&) { gScene = std::make_unique<Scene>(); }
void tearDown(const benchmark::State&) { gScene.reset(); }

void run(benchmark::State& state, const std::function<void(SwitcherModel&)>& step) {
  SwitcherModel model;
  model.reset(desk(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))), 0);
  for (auto _ : state) {
    step(model);
    benchmark::DoNotOptimize(model.selection());
  }
  state.SetComplexityN(state.range(1));
}

#define MODEL_BENCH(name, body)                 \
  void name(benchmark::State& state) {          \
    run(state, [](SwitcherModel& m) { body; }); \
  }                                             \
  BENCHMARK(name)                               \
      ->Setup(setUp)                            \
      ->Teardown(tearDown)                      \
      ->Args({15, 400})                         \
      ->Args({30, 800})                         \
      ->Args({60, 1600})                        \
      ->Complexity(benchmark::oN)

MODEL_BENCH(StepBack, m.stepBack());
MODEL_BENCH(StepCluster, m.stepCluster(1));
MODEL_BENCH(StepTray, m.onTray.set(true); m.stepTray(1));
MODEL_BENCH(StepSpace, m.stepSpace(1));
MODEL_BENCH(StepTile, m.stepTile(1));
MODEL_BENCH(ToggleTray, m.toggleTray());
MODEL_BENCH(ToRow, m.toRow(!m.onTray()));
MODEL_BENCH(EnterTray, m.onTray.set(false); m.enterTray());
MODEL_BENCH(CycleStops, benchmark::DoNotOptimize(m.cycleStops(*m.selectedCluster(0), 0)));
MODEL_BENCH(StepWindow, m.stepWindow(1));
MODEL_BENCH(StepWindowAcross, m.stepWindowAcross(1));
MODEL_BENCH(StepBackWindow, m.stepBackWindow());
MODEL_BENCH(ToggleDesktop, m.toggleDesktop());
MODEL_BENCH(PickWindow, m.pickWindow(2));
MODEL_BENCH(AppWindowStops, benchmark::DoNotOptimize(m.appWindowStops(0)));
MODEL_BENCH(StepAppWindow, m.stepAppWindow(1));
MODEL_BENCH(StepBackAppWindow, m.stepBackAppWindow());
MODEL_BENCH(Label, benchmark::DoNotOptimize(m.label(*m.selectedCluster(0), 0, true)));

// A second look finding a changed layout: the new snapshot is made outside the timing.
void Refresh(benchmark::State& state) {
  SwitcherModel model;
  const Workspace snapshot = desk(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  model.reset(snapshot, 0);
  model.stepWindowAcross(1);
  for (auto _ : state) {
    state.PauseTiming();
    Workspace next = snapshot;
    state.ResumeTiming();
    model.refresh(std::move(next));
  }
  state.SetComplexityN(state.range(1));
}
BENCHMARK(Refresh)
    ->Setup(setUp)
    ->Teardown(tearDown)
    ->Args({15, 400})
    ->Args({30, 800})
    ->Args({60, 1600})
    ->Complexity(benchmark::oN);

}  // namespace
