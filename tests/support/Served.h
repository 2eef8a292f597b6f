#pragma once
// Runs a façade suite against the world both ways a program meets it: in process (the
// ports are the scene's world itself) and remote (a world host serves the scene's world
// on the scene's home, and the ports installed are those of a program attached to it).
// Either way the test shapes the desk through the scene, exactly as before.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/Scene.h"

namespace host {
class Host;
struct RemoteMac;
}  // namespace host

enum class Served { inProcess, remote };

std::string servedName(const ::testing::TestParamInfo<Served>& info);

class Attachment {
 public:
  Attachment(Scene& scene, Served how);
  ~Attachment();
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

  /// The host (remote only; else null).
  host::Host* host() { return host_.get(); }
  /// The attached program's side (remote only; else null).
  host::RemoteMac* remote() { return remote_.get(); }

  /// Restarts the scene (Scene::restart); remote, its host and the program's attachment
  /// start afresh with it, as after a restart of the simulated Mac.
  void restart(Scene::Start start = Scene::Start::empty);
  /// Runs what is due now until nothing is left, as VirtualClock::runUntilIdle does in
  /// process; remote, the program's answers and the host's pushes that this sets off
  /// travel meanwhile, so it goes on until neither side has anything left to do.
  void settle();

 private:
  void serve();
  void leave();

  Scene& scene_;
  Served how_;
  std::unique_ptr<host::Host> host_;
  std::unique_ptr<host::RemoteMac> remote_;
};

#define TRELLIQ_SERVED_BOTH_WAYS(Suite) \
  INSTANTIATE_TEST_SUITE_P(Served, Suite, ::testing::Values(Served::inProcess, Served::remote), servedName)
