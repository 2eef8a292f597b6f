// The process's peak resident size after many sessions, against a budget. Each session
// is a posted ⌘⇥ with every window's picture taken, the panels shown and painted, three ⇥
// steps each painted at its start and once its animation has run out, then Escape.
//
//   PanelsMemory/large...     a thousand sessions on the large desk at scale 2
//                             (PanelsStage.h), against 300 MB; app tiles, window tiles, and
//                             window tiles with the full-screen preview.
//   PanelsMemory/builtIn/...  a hundred sessions on the built-in desk the program runs on,
//                             against 150 MB, in every tile style with every preview.
//
// Run each case alone (--benchmark_filter=PanelsMemory/...$): the peak is the whole
// process's. TRELLIQ_BENCH_SESSIONS=n runs n sessions instead, for a quick look.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <memory>

#include "PanelsStage.h"

namespace {

using panels::Stage;

void session(Stage& stage) {
  stage.open();
  stage.paint();
  for (int step = 0; step < 3; ++step) {
    stage.step();
    stage.paint();
    stage.run(0.5);  // the animation runs out
    stage.paint();
  }
  stage.close();
}

// Runs the sessions of `state`'s count on the stage `make` builds, and reports the peak
// against `budgetMB`.
template <class Make>
void sessions(benchmark::State& state, Make&& make, double budgetMB) {
  const char* asked = std::getenv("TRELLIQ_BENCH_SESSIONS");
  const int count = asked ? std::atoi(asked) : static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::unique_ptr<Stage> stage = make();
    for (int i = 0; i < count; ++i) session(*stage);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peakMB = static_cast<double>(usage.ru_maxrss) * 1024 / 1e6;
  state.counters["peak MB"] = peakMB;
  state.counters["of budget"] = peakMB / budgetMB;
}

void PanelsMemory(benchmark::State& state, Stage::Tiles tiles, Stage::Preview preview) {
  sessions(state, [&] { return std::make_unique<Stage>(panels::largeAtScale2(), tiles, preview); }, 300);
}
BENCHMARK_CAPTURE(PanelsMemory, large, Stage::Tiles::apps, Stage::Preview::thumbnail)
    ->Name("PanelsMemory/large")
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(PanelsMemory, windowTiles, Stage::Tiles::windows, Stage::Preview::thumbnail)
    ->Name("PanelsMemory/large/windowTiles")
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(PanelsMemory, fullScreen, Stage::Tiles::apps, Stage::Preview::fullScreen)
    ->Name("PanelsMemory/large/fullScreen")
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(PanelsMemory, windowTilesFullScreen, Stage::Tiles::windows, Stage::Preview::fullScreen)
    ->Name("PanelsMemory/large/windowTiles/fullScreen")
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(PanelsMemory, bothFullScreen, Stage::Tiles::both, Stage::Preview::fullScreen)
    ->Name("PanelsMemory/large/both/fullScreen")
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

void PanelsMemoryBuiltIn(benchmark::State& state) {
  const auto tiles = static_cast<Stage::Tiles>(state.range(1));
  const auto preview = static_cast<Stage::Preview>(state.range(2));
  sessions(state, [&] { return std::make_unique<Stage>(Stage::BuiltIn{}, tiles, preview); }, 150);
}
void builtInCases(benchmark::internal::Benchmark* b) {
  for (int tiles = 0; tiles < 3; ++tiles) {
    for (int preview = 0; preview < 3; ++preview) b->Args({100, tiles, preview});
  }
}
// Named by the case: PanelsMemory/builtIn/<sessions>/<tiles: apps, windows, both>/<preview: none, thumbnail, fullScreen>.
BENCHMARK(PanelsMemoryBuiltIn)
    ->Name("PanelsMemory/builtIn")
    ->ArgNames({"", "tiles", "preview"})
    ->Apply(builtInCases)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
