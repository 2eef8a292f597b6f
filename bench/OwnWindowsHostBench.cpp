// What making many own windows costs through the world host: a program attached over the
// socket makes N windows one after another, each request answered with the state of its
// windows that changed. Per window: the wall time of the request, and the CPU time of the
// whole process (the host and the program both run here, the host's threads the most of
// it). What one window costs should not grow with how many the program has already.
//
//   OwnWindowsMade/N   N = 256, 512, 1024 (the most one program may have)

#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdint>

#include "platform/WindowServerPort.h"
#include "support/Scene.h"
#include "support/Served.h"

namespace {

double processSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void OwnWindowsMade(benchmark::State& state) {
  const auto n = state.range(0);
  platform::OwnWindowState own;
  own.frame = CGRect(40, 60, 320, 200);
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    // A fresh world and host each time: a program may have only so many windows.
    Scene scene{Scene::Start::defaultScenario};
    Attachment attachment{scene, Served::remote};
    const double cpuBefore = processSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (std::int64_t i = 0; i < n; ++i) {
      if (platform::windowServer().createOwnWindow(own) == 0) {
        state.SkipWithError("a window was refused");
        return;
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu += processSeconds() - cpuBefore;
    wall += seconds;
    state.SetIterationTime(seconds);
  }
  const double made = static_cast<double>(n) * static_cast<double>(state.iterations());
  state.counters["wall us/window"] = wall / made * 1e6;
  state.counters["CPU us/window"] = cpu / made * 1e6;
}
BENCHMARK(OwnWindowsMade)->Arg(256)->Arg(512)->Arg(1024)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
