// The cost of one workspace snapshot on a large desk (3 displays, 24 Spaces, 60 apps,
// 1,600 windows) and on a quarter of it, and, separately, the cost of the window-server
// questions such a load asks the simulated Mac (the stand-in's own share). The snapshot
// logic's share is the difference between the two. Both report how many accessibility
// and private calls one pass makes, so it shows when the two no longer ask alike.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/Accessibility.h"
#include "platform/AppKitWorkspace.h"
#include "platform/CGWindow.h"
#include "platform/CoreGraphics.h"
#include "platform/sim/AccessibilityServer.h"
#include "support/LargeDesk.h"
#include "support/Scene.h"
#include "support/Served.h"
#include "workspace/DesktopFrames.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"
#include "workspace/WorkspaceTypes.h"

namespace {

using trelliq::Private;
using trelliq::Workspace;

std::unique_ptr<Scene> gScene;
std::unique_ptr<Attachment> gAttachment;

void buildDesk(LargeDeskSize size, Served how = Served::inProcess) {
  gScene = std::make_unique<Scene>();
  trelliq::DesktopFrames::reset();
  buildLargeDesk(*gScene, size);
  keepCallLogs(*gScene, false);
  gAttachment = std::make_unique<Attachment>(*gScene, how);
}

void largeDesk(const benchmark::State&) { buildDesk(LargeDeskSize::large()); }
// The same desk served by a world host to a program attached over its socket.
void largeDeskRemote(const benchmark::State&) { buildDesk(LargeDeskSize::large(), Served::remote); }
void quarterDesk(const benchmark::State&) { buildDesk(LargeDeskSize::quarter()); }
void dropDesk(const benchmark::State&) {
  trelliq::DesktopFrames::reset();
  gAttachment.reset();
  gScene.reset();
}

// Counts the accessibility and private calls `pass` makes into the state's counters (the
// accessibility record keeps the newest 10,000 calls, well above what one pass makes).
template <typename Pass>
void countCalls(benchmark::State& state, Pass pass) {
  sim::AccessibilityServer* accessibility = sim::AccessibilityServer::active();
  accessibility->clearCalls();
  gScene->windowServer.clearPrivateCalls();
  keepCallLogs(*gScene, true);
  pass();
  keepCallLogs(*gScene, false);
  state.counters["accessibility calls"] = static_cast<double>(accessibility->calls().size());
  state.counters["private calls"] = static_cast<double>(gScene->windowServer.privateCalls().size());
}

// The whole snapshot, as the switcher takes it when it opens.
void WorkspaceLoad(benchmark::State& state) {
  const bool screenTiles = state.range(0) != 0;
  std::size_t windows = 0;
  for (auto _ : state) {
    const Workspace w = Workspace::load(trelliq::Settings::Desktops::whenEmpty, screenTiles);
    windows = w.windows().size();
    benchmark::DoNotOptimize(windows);
  }
  state.counters["windows in snapshot"] = static_cast<double>(windows);
  countCalls(state,
             [&] { benchmark::DoNotOptimize(Workspace::load(trelliq::Settings::Desktops::whenEmpty, screenTiles)); });
}

// The questions a load puts to the simulated Mac on this desk, in the same numbers, with
// none of the snapshot's decisions: two window-list reads, the display description and
// Space sets, the running apps; per app its accessibility windows with their attributes,
// each window's number and Spaces (asked once: the snapshot keeps them for placing the
// window), and the app's focused window.
void queryLikeALoad() {
  benchmark::DoNotOptimize(CGPreflightScreenCaptureAccess());
  const auto list = CGWindowListCopyWindowInfo(kCGWindowListExcludeDesktopElements, kCGNullWindowID);
  benchmark::DoNotOptimize(list);
  benchmark::DoNotOptimize(Private::currentSpaces());
  benchmark::DoNotOptimize(Private::fullScreenSpaces());
  benchmark::DoNotOptimize(Private::displayLayout());
  for (const NSRunningApplication& app : NSWorkspace::shared().runningApplications()) {
    // The program's own windows are read without asking; every other app here is regular.
    if (app.activationPolicy() != NSApplicationActivationPolicyRegular || app.isTerminated()) continue;
    const std::int32_t pid = app.processIdentifier();
    const AXUIElementRef element = AXUIElementCreateApplication(pid);
    AXUIElementSetMessagingTimeout(element, 0.25f);
    AXValue windows;
    AXUIElementCopyAttributeValue(element, kAXWindowsAttribute, &windows);
    for (const AXUIElementRef& window : windows.asElementArray().value_or(std::vector<AXUIElementRef>{})) {
      AXUIElementSetMessagingTimeout(window, 0.25f);
      AXValue value;
      AXUIElementCopyAttributeValue(window, kAXSubroleAttribute, &value);
      const auto number = Private::windowID(window);
      AXUIElementCopyAttributeValue(window, kAXTitleAttribute, &value);
      AXUIElementCopyAttributeValue(window, kAXMinimizedAttribute, &value);
      if (number) benchmark::DoNotOptimize(Private::spaces(*number));
    }
    benchmark::DoNotOptimize(app.isHidden());
    benchmark::DoNotOptimize(trelliq::focusedWindowID(pid));
  }
  const auto front = CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements,
                                                kCGNullWindowID);
  benchmark::DoNotOptimize(front);
}

void StandInQueries(benchmark::State& state) {
  for (auto _ : state) queryLikeALoad();
  countCalls(state, queryLikeALoad);
}

BENCHMARK(WorkspaceLoad)
    ->Name("WorkspaceLoad/large")
    ->Arg(0)
    ->Arg(1)
    ->Setup(largeDesk)
    ->Teardown(dropDesk)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(WorkspaceLoad)
    ->Name("WorkspaceLoad/quarter")
    ->Arg(0)
    ->Arg(1)
    ->Setup(quarterDesk)
    ->Teardown(dropDesk)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(WorkspaceLoad)
    ->Name("WorkspaceLoad/large/remote")
    ->Arg(0)
    ->Setup(largeDeskRemote)
    ->Teardown(dropDesk)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(StandInQueries)
    ->Name("StandInQueries/large")
    ->Setup(largeDesk)
    ->Teardown(dropDesk)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(StandInQueries)
    ->Name("StandInQueries/quarter")
    ->Setup(quarterDesk)
    ->Teardown(dropDesk)
    ->Unit(benchmark::kMillisecond);

}  // namespace
