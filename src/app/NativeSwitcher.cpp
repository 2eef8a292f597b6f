#include "app/NativeSwitcher.h"

#include <atomic>

#include "platform/Clock.h"
#include "platform/FoundationProcesses.h"
#include "platform/SystemPort.h"
#include "workspace/OncePerSystem.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

std::vector<std::shared_ptr<DispatchSourceSignal>> gSignalSources;
std::uint64_t gSourcesGeneration = 0;

}  // namespace

SLSSetSymbolicHotKeyEnabled_t* NativeSwitcher::setEnabled() {
  // Never destroyed: a crash handler may reach it while the process exits.
  static auto& slot = *new OncePerSystem<SLSSetSymbolicHotKeyEnabled_t*>([] {
    return platform::symbolAs<SLSSetSymbolicHotKeyEnabled_t>(Private::skyLight(), "SLSSetSymbolicHotKeyEnabled");
  });
  return slot.get();
}

void NativeSwitcher::set(bool enabled) {
  auto* function = setEnabled();
  if (!function) return;
  for (std::uint32_t key : hotKeys) function(key, enabled);
}

void NativeSwitcher::crashed(int signal) {
  set(true);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void NativeSwitcher::restoreOnExit() {
  const std::uint64_t generation = platform::systemGeneration();
  if (gSourcesGeneration == generation && !gSignalSources.empty()) return;
  for (const auto& source : gSignalSources) source->cancel();
  gSignalSources.clear();
  gSourcesGeneration = generation;

  // Looked up now, so the crash handler normally finds it without any lookup.
  setEnabled();
  for (int signal : crashSignals) std::signal(signal, &NativeSwitcher::crashed);
  for (int signal : terminationSignals) {
    std::signal(signal, SIG_IGN);
    auto source = DispatchSourceSignal::makeSignalSource(signal, platform::mainQueue());
    source->setEventHandler([] {
      set(true);
      platform::exitProgram(0);
    });
    source->resume();
    gSignalSources.push_back(std::move(source));
  }
}

const std::vector<std::shared_ptr<DispatchSourceSignal>>& NativeSwitcher::signalSources() { return gSignalSources; }

}  // namespace trelliq
