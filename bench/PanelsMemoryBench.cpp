// The process's peak resident size after a thousand sessions on the large desk at scale 2
// (PanelsStage.h), against 300 MB. Each session is a posted ⌘⇥ with every window's
// picture taken, the panels shown and painted, three ⇥ steps each painted at its start
// and once its animation has run out, then Escape. Run each case alone (--benchmark_filter=PanelsMemory/...):
// the peak is the whole process's. TRELLIQ_BENCH_SESSIONS=n runs n sessions instead, for
// a quick look.

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

void PanelsMemory(benchmark::State& state) {
  const auto tiles = state.range(0) ? Stage::Tiles::windows : Stage::Tiles::apps;
  const char* asked = std::getenv("TRELLIQ_BENCH_SESSIONS");
  const int sessions = asked ? std::atoi(asked) : static_cast<int>(state.range(1));
  for (auto _ : state) {
    Stage stage(panels::largeAtScale2(), tiles);
    for (int i = 0; i < sessions; ++i) session(stage);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peakMB = static_cast<double>(usage.ru_maxrss) * 1024 / 1e6;
  state.counters["peak MB"] = peakMB;
  state.counters["of budget"] = peakMB / 300;
}
BENCHMARK(PanelsMemory)->Name("PanelsMemory/large")->Args({0, 1000})->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(PanelsMemory)
    ->Name("PanelsMemory/large/windowTiles")
    ->Args({1, 1000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
