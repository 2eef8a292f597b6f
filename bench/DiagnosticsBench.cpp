// Lines per second the diagnostics log takes, alone and with several threads writing at
// once (each line opens, locks, writes and closes the file; every quarter megabyte a cut).

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "settings/Diagnostics.h"
#include "support/Scene.h"

namespace {

// One temporary home for every run of a benchmark, made before its threads start.
std::unique_ptr<Scene> gScene;

void makeHome(const benchmark::State&) { gScene = std::make_unique<Scene>(); }
void dropHome(const benchmark::State&) { gScene.reset(); }

void DiagnosticsLogLine(benchmark::State& state) {
  const std::string message = "switch to 4242 \"" + trelliq::Diagnostics::escapeForeign("Project notes — draft 3") +
                              "\" on display 2, Space 17 (thread " + std::to_string(state.thread_index()) + ")";
  for (auto _ : state) trelliq::Diagnostics::log(message);
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("lines");
}
BENCHMARK(DiagnosticsLogLine)->Setup(makeHome)->Teardown(dropHome)->UseRealTime()->Threads(1)->Threads(2)->Threads(8);

void DiagnosticsStamp(benchmark::State& state) {
  double date = 1767270896.789;
  for (auto _ : state) {
    benchmark::DoNotOptimize(trelliq::Diagnostics::stamp(date));
    date += 0.001;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DiagnosticsStamp);

}  // namespace
