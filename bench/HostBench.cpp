// What the world host costs a program: one port call's round trip over the socket (beside
// the same call in process, and while another thread takes window pictures), and a key
// posted by one program that runs through a second program's tap before it reaches the
// system, with its median and 99th percentile.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <variant>
#include <vector>

#include "platform/CGEvent.h"
#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Host.h"
#include "platform/host/Remote.h"
#include "platform/sim/SimulatedMac.h"
#include "platform/sim/World.h"
#include "support/Scene.h"
#include "support/Served.h"
#include "workspace/UnpublishedFunctions.h"

namespace {

std::unique_ptr<Scene> gScene;
std::unique_ptr<Attachment> gAttachment;

void servedInProcess(const benchmark::State&) {
  gScene = std::make_unique<Scene>(Scene::Start::defaultScenario);
  gAttachment = std::make_unique<Attachment>(*gScene, Served::inProcess);
}
void servedRemote(const benchmark::State&) {
  gScene = std::make_unique<Scene>(Scene::Start::defaultScenario);
  gAttachment = std::make_unique<Attachment>(*gScene, Served::remote);
}
void dropServed(const benchmark::State&) {
  gAttachment.reset();
  gScene.reset();
}

// A small question with a small answer: what every one of the program's calls pays at least.
void PortRoundTrip(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(platform::windowServer().frontmostApplication());
}
BENCHMARK(PortRoundTrip)->Name("PortRoundTrip/inProcess")->Setup(servedInProcess)->Teardown(dropServed)->Unit(benchmark::kMicrosecond);
BENCHMARK(PortRoundTrip)->Name("PortRoundTrip/remote")->Setup(servedRemote)->Teardown(dropServed)->Unit(benchmark::kMicrosecond);

// A capture of one window at its size, and a picture of the first display at its pixels,
// as the switcher's thumbnails and a screenshot take them: attached, the pixels travel in
// shared memory beside the reply.
void WindowCapture(benchmark::State& state) {
  const auto windows = platform::windowServer().windowList();
  const auto first = std::find_if(windows.begin(), windows.end(), [](const platform::WindowEntry& w) {
    return w.layer == 0 && w.onScreen && w.bounds.width() >= 200;
  });
  if (first == windows.end()) {
    state.SkipWithError("no window to capture");
    return;
  }
  const int w = static_cast<int>(first->bounds.width()), h = static_cast<int>(first->bounds.height());
  for (auto _ : state) benchmark::DoNotOptimize(platform::windowServer().captureWindowPicture(first->number, w, h));
}
BENCHMARK(WindowCapture)->Name("WindowCapture/inProcess")->Setup(servedInProcess)->Teardown(dropServed)->Unit(benchmark::kMillisecond);
BENCHMARK(WindowCapture)->Name("WindowCapture/remote")->Setup(servedRemote)->Teardown(dropServed)->Unit(benchmark::kMillisecond);

void DisplayFrame(benchmark::State& state) {
  const auto screens = platform::system().screens();
  const auto& screen = screens.front();
  const int w = static_cast<int>(screen.frame.size.width * screen.backingScaleFactor);
  const int h = static_cast<int>(screen.frame.size.height * screen.backingScaleFactor);
  for (auto _ : state) benchmark::DoNotOptimize(platform::system().captureDisplay(screen.displayID, w, h, false));
}
BENCHMARK(DisplayFrame)->Name("DisplayFrame/inProcess")->Setup(servedInProcess)->Teardown(dropServed)->Unit(benchmark::kMillisecond);
BENCHMARK(DisplayFrame)->Name("DisplayFrame/remote")->Setup(servedRemote)->Teardown(dropServed)->Unit(benchmark::kMillisecond);

// A small question asked while another thread of the program takes window pictures one
// after another, as the switcher's thumbnails do while it shows: what the capture adds to
// every other call made meanwhile.
void RoundTripBesideCapture(benchmark::State& state) {
  auto* capture = trelliq::UnpublishedFunctions::hwCaptureWindowList();
  const auto connection = trelliq::UnpublishedFunctions::connection();
  std::vector<std::uint32_t> numbers;
  for (const auto& w : platform::windowServer().windowList()) {
    if (w.layer == 0 && w.onScreen && w.bounds.width() >= 200) numbers.push_back(w.number);
  }
  if (!capture || !connection || numbers.empty() || !capture(*connection, numbers.data(), 1, 0)) {
    state.SkipWithError("no window to capture");
    return;
  }
  std::atomic<bool> done{false};
  std::atomic<std::uint64_t> taken{0};
  std::thread capturing([&] {
    while (!done.load()) {
      for (std::uint32_t number : numbers) {
        if (capture(*connection, &number, 1, 0)) taken.fetch_add(1);
      }
    }
  });
  // Under way before the first question; a capture that keeps failing ends the run with an error, not a hang.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (taken.load() == 0 && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
  if (taken.load() == 0) {
    done = true;
    capturing.join();
    state.SkipWithError("no window was captured beside the round trips");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(platform::windowServer().frontmostApplication());
  done = true;
  capturing.join();
  state.counters["pictures"] = static_cast<double>(taken.load());
}
BENCHMARK(RoundTripBesideCapture)->Name("RoundTripBesideCapture/inProcess")->Setup(servedInProcess)->Teardown(dropServed)->Unit(benchmark::kMillisecond);
BENCHMARK(RoundTripBesideCapture)->Name("RoundTripBesideCapture/remote")->Setup(servedRemote)->Teardown(dropServed)->Unit(benchmark::kMillisecond);

// ---- A key through another program's tap, on the real clock --------------------------

struct TapStage {
  std::string home;
  std::unique_ptr<sim::SimulatedMac> mac;
  std::unique_ptr<host::Host> server;
  std::unique_ptr<host::RemoteMac> switcher, poster;
  std::mutex mutex;
  std::condition_variable arrived;
  std::uint64_t seen = 0;
};
std::unique_ptr<TapStage> gTap;

std::unique_ptr<host::RemoteMac> attachTo(const std::string& home) {
  auto attached = host::RemoteMac::attach(host::endpointFor(home).socket);
  if (auto* mac = std::get_if<std::unique_ptr<host::RemoteMac>>(&attached)) return std::move(*mac);
  return nullptr;
}

void tapStage(const benchmark::State&) {
  gTap = std::make_unique<TapStage>();
  char pattern[] = "/tmp/simmac-bench-XXXXXX";
  gTap->home = ::mkdtemp(pattern);
  ::setenv("TRELLIQ_HOME", gTap->home.c_str(), 1);
  gTap->mac = std::make_unique<sim::SimulatedMac>();
  std::vector<std::string> args;
  if (gTap->mac->start(args)) return;
  gTap->server = std::make_unique<host::Host>(gTap->mac->world(), gTap->mac->windowServer());
  if (gTap->server->listen(gTap->home)) return;
  gTap->server->serve();
  gTap->switcher = attachTo(gTap->home);
  gTap->poster = attachTo(gTap->home);
  platform::EventTapRequest active;
  active.location = kCGHIDEventTap;
  active.mask = CGEventMaskBit(kCGEventKeyDown);
  // The switcher's tap looks at the key and passes it, as it does while closed.
  gTap->switcher->windowServer->createEventTap(active, [](CGEventType, CGEvent event, platform::EventTapReply reply) {
    reply(event);
  });
  platform::EventTapRequest behind = active;
  behind.location = kCGSessionEventTap;
  behind.placement = kCGTailAppendEventTap;
  behind.listenOnly = true;
  TapStage* stage = gTap.get();
  gTap->poster->windowServer->createEventTap(behind, [stage](CGEventType, CGEvent event, platform::EventTapReply reply) {
    reply(event);
    std::lock_guard lock(stage->mutex);
    ++stage->seen;
    stage->arrived.notify_all();
  });
}

void dropTapStage(const benchmark::State&) {
  if (!gTap) return;
  gTap->switcher.reset();
  gTap->poster.reset();
  if (gTap->server) gTap->server->stop();
  gTap->server.reset();
  gTap->mac.reset();
  std::error_code ignored;
  std::filesystem::remove_all(gTap->home, ignored);
  gTap.reset();
}

void KeyThroughAnotherProgramsTap(benchmark::State& state) {
  if (!gTap || !gTap->switcher || !gTap->poster) {
    state.SkipWithError("the host did not start");
    return;
  }
  CGEvent key;
  key.type = kCGEventKeyDown;
  key.integerFields[kCGKeyboardEventKeycode] = 0x00;
  std::vector<double> times;
  for (auto _ : state) {
    std::uint64_t before = 0;
    {
      std::lock_guard lock(gTap->mutex);
      before = gTap->seen;
    }
    const auto start = std::chrono::steady_clock::now();
    gTap->poster->windowServer->postEvent(kCGHIDEventTap, key);
    std::unique_lock lock(gTap->mutex);
    gTap->arrived.wait(lock, [&] { return gTap->seen > before; });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    times.push_back(seconds);
  }
  std::sort(times.begin(), times.end());
  if (!times.empty()) {
    state.counters["median ms"] = times[times.size() / 2] * 1e3;
    state.counters["p99 ms"] = times[std::min(times.size() - 1, times.size() * 99 / 100)] * 1e3;
  }
}
BENCHMARK(KeyThroughAnotherProgramsTap)
    ->Setup(tapStage)
    ->Teardown(dropTapStage)
    ->UseManualTime()
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
