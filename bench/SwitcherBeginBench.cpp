// What opening a session costs the main thread: `Session::begin` (the snapshot, the
// display choice, the model reset and the first step, plus posting the picture work) on
// the large desk of the workspace benchmark (3 displays, 24 Spaces, 60 apps, 1,600
// windows) and on a quarter of it, called directly (PanelsOpen times it from a posted key).
// The time is the main thread's CPU ("wall ms" beside it, which a loaded machine inflates;
// "proc ms" the whole process's CPU, median; "median ms" and "mean ms", the mean of the
// begins after the first, are main-thread CPU). "of budget" is the median begin against
// 10 ms, a fifteenth of the 0.15 s between the key press and the panels. "snapshot" is the
// workspace snapshot alone (timed apart, same options) against the same 10 ms: the
// difference is what the controller adds to it.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "PanelsStage.h"
#include "platform/CGEvent.h"
#include "settings/Settings.h"
#include "support/LargeDesk.h"
#include "support/Scene.h"
#include "support/Served.h"
#include "support/WidgetsApp.h"
#include "switcher/Switcher.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/QtPanelViews.h"
#include "workspace/DesktopFrames.h"
#include "workspace/WorkspaceTypes.h"

namespace {

using trelliq::SessionAction;
using trelliq::Staying;
using trelliq::Switcher;

std::unique_ptr<Scene> gBeginScene;
std::shared_ptr<Switcher> gSwitcher;
std::unique_ptr<trelliq::views::QtPanelViews> gViews;
std::unique_ptr<Attachment> gBeginAttachment;

// The workspace benchmark's desk (tests/support/LargeDesk.h), with the switcher's options
// registered and a fresh controller.
void buildDesk(LargeDeskSize size, Served how = Served::inProcess) {
  gBeginScene = std::make_unique<Scene>();
  trelliq::DesktopFrames::reset();
  const std::vector<std::int32_t> pids = buildLargeDesk(*gBeginScene, size);
  gBeginScene->windowServer.makeFrontmost(pids.front());
  keepCallLogs(*gBeginScene, false);
  gBeginAttachment = std::make_unique<Attachment>(*gBeginScene, how);
  trelliq::Settings::registerDefaults();
  gSwitcher = Switcher::make();
}

void largeBeginDesk(const benchmark::State&) { buildDesk(LargeDeskSize::large()); }
// As the running program has it after its first session: the panel views exist and
// follow every change of the model, begin's included.
void largeBeginDeskWithViews(const benchmark::State&) {
  trelliq::test::ensureWidgets();
  gViews = std::make_unique<trelliq::views::QtPanelViews>(trelliq::scene::layoutPanel);
  trelliq::PanelViews::install(gViews.get());
  buildDesk(LargeDeskSize::large());
  const auto generation =
      gSwitcher->gate().tryOpen(kCGEventFlagMaskCommand, SessionAction::cycle(1), Staying::untilReleased);
  gSwitcher->session().begin(Switcher::Action::cycle(1), platform::clock().monotonicNanos(), std::nullopt,
                             generation.value_or(0));
  gBeginScene->clock.advance(0.3);  // past the show delay: the panels and their views are made
  gSwitcher->session().cancel(false);
  gBeginScene->clock.runUntilIdle();
}
void quarterBeginDesk(const benchmark::State&) { buildDesk(LargeDeskSize::quarter()); }
// The program attached to a world host that serves the desk, after its first session: the
// host's tables (window list, accessibility answers, Spaces) have crossed once, and each
// begin then receives only what changed since.
void largeBeginDeskRemote(const benchmark::State&) {
  buildDesk(LargeDeskSize::large(), Served::remote);
  const auto generation =
      gSwitcher->gate().tryOpen(kCGEventFlagMaskCommand, SessionAction::cycle(1), Staying::untilReleased);
  gSwitcher->session().begin(Switcher::Action::cycle(1), platform::clock().monotonicNanos(), std::nullopt,
                             generation.value_or(0));
  gSwitcher->session().cancel(false);
  gBeginScene->clock.runUntilIdle();
}
void dropBeginDesk(const benchmark::State&) {
  // The views' mirrors let go of the controller's layers before the controller goes.
  trelliq::PanelViews::install(nullptr);
  gViews.reset();
  gSwitcher.reset();
  gBeginScene->clock.advance(5);
  gBeginAttachment.reset();
  trelliq::DesktopFrames::reset();
  gBeginScene.reset();
}

// One ⌘⇥ opening on the main thread; between iterations the session is cancelled and the
// picture work it posted is let run, outside the measured time.
void SwitcherBegin(benchmark::State& state) {
  Switcher& s = *gSwitcher;
  panels::Cost total, snapshot;
  panels::Sessions each, eachProcess;
  for (auto _ : state) {
    const auto generation = s.gate().tryOpen(kCGEventFlagMaskCommand, SessionAction::cycle(1), Staying::untilReleased);
    bool began = false;
    const panels::Cost cost = panels::timed([&] {
      began = s.session().begin(Switcher::Action::cycle(1), platform::clock().monotonicNanos(), std::nullopt,
                                generation.value_or(0));
    });
    state.SetIterationTime(cost.cpu);
    total += cost;
    each.add(cost.cpu);
    eachProcess.add(cost.process);
    if (!began) state.SkipWithError("begin found nothing to show");
    s.session().cancel(false);
    gBeginScene->clock.runUntilIdle();
    snapshot +=
        panels::timed([] { benchmark::DoNotOptimize(trelliq::Workspace::load(trelliq::Settings::desktops(), false)); });
  }
  const double n = state.iterations() ? static_cast<double>(state.iterations()) : 1;
  state.counters["windows"] = static_cast<double>(s.model().workspace().windows().size());
  state.counters["wall ms"] = total.wall / n * 1000;
  state.counters["of budget"] = each.median() / 0.010;
  state.counters["median ms"] = each.median() * 1000;
  state.counters["mean ms"] = each.meanAfterFirst() * 1000;
  state.counters["proc ms"] = eachProcess.median() * 1000;
  state.counters["snapshot"] = snapshot.cpu / n / 0.010;
}

BENCHMARK(SwitcherBegin)
    ->Name("SwitcherBegin/large")
    ->Setup(largeBeginDesk)
    ->Teardown(dropBeginDesk)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SwitcherBegin)
    ->Name("SwitcherBegin/large/views")
    ->Setup(largeBeginDeskWithViews)
    ->Teardown(dropBeginDesk)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SwitcherBegin)
    ->Name("SwitcherBegin/large/remote")
    ->Setup(largeBeginDeskRemote)
    ->Teardown(dropBeginDesk)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SwitcherBegin)
    ->Name("SwitcherBegin/quarter")
    ->Setup(quarterBeginDesk)
    ->Teardown(dropBeginDesk)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
