// The hot-key switch a signal handler sends reaches the host every time, even when the
// signal lands in a thread that is in the middle of writing a large request.

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <string>
#include <thread>

#include "HostProcess.h"
#include "platform/PrivateSymbols.h"

namespace {

std::atomic<SLSSetSymbolicHotKeyEnabled_t*> gSwitch{nullptr};
std::atomic<bool> gOn{false};

void switchFromHandler(int) {
  if (auto* f = gSwitch.load()) {
    f(1, gOn.load());
    f(2, gOn.load());
  }
}

}  // namespace

TEST(SignalChannel, TheHotKeySwitchOfASignalHandlerAlwaysReachesTheHostWhateverElseIsBeingWritten) {
  AttachedHost stage;
  ASSERT_NO_FATAL_FAILURE(stage.start());
  auto& mac = stage.mac;
  gSwitch = reinterpret_cast<SLSSetSymbolicHotKeyEnabled_t*>(
      mac->system->symbol(kSkyLightPath, "SLSSetSymbolicHotKeyEnabled"));
  ASSERT_TRUE(gSwitch.load());
  struct sigaction action {};
  action.sa_handler = &switchFromHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);

  // A thread that is nearly always writing: each request is a megabyte.
  std::atomic<bool> writing = true;
  const platform::PlistValue large(std::string(1 << 20, 'x'));
  std::thread writer([&] {
    while (writing) mac->system->setPreferenceValue("com.example.signals", "large", large);
  });
  for (int i = 0; i < 40; ++i) {
    gOn = i % 2 == 1;
    ::pthread_kill(writer.native_handle(), SIGUSR2);
    ASSERT_TRUE(eventually([&] { return hotKeysAre(*mac, gOn); })) << "switch " << i << " was lost";
  }
  writing = false;
  writer.join();
  ::sigaction(SIGUSR2, &previous, nullptr);
  gSwitch = nullptr;
}
