#include "support/Served.h"

#include <variant>

#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Host.h"
#include "platform/host/Remote.h"

std::string servedName(const ::testing::TestParamInfo<Served>& info) {
  return info.param == Served::inProcess ? "InProcess" : "Remote";
}

Attachment::Attachment(Scene& scene, Served how) : scene_(scene), how_(how) { serve(); }

Attachment::~Attachment() { leave(); }

void Attachment::serve() {
  if (how_ != Served::remote) return;
  host_ = std::make_unique<host::Host>(scene_.world, scene_.windowServer);
  if (auto problem = host_->listen(scene_.home)) {
    ADD_FAILURE() << "the host could not listen: " << *problem;
    return;
  }
  host_->serve();
  auto attached = host::RemoteMac::attach(host::endpointFor(scene_.home).socket);
  if (auto* problem = std::get_if<std::string>(&attached)) {
    ADD_FAILURE() << "could not attach: " << *problem;
    return;
  }
  remote_ = std::move(std::get<std::unique_ptr<host::RemoteMac>>(attached));
  platform::installSystem(remote_->system.get());
  platform::installWindowServer(remote_->windowServer.get());
}

void Attachment::leave() {
  if (!host_) return;
  platform::installSystem(&scene_.world);
  platform::installWindowServer(&scene_.windowServer);
  remote_.reset();
  host_->stop();
  host_.reset();
}

void Attachment::restart(Scene::Start start) {
  leave();
  scene_.restart(start);
  serve();
}

void Attachment::settle() {
  if (!remote_) {
    scene_.clock.runUntilIdle();
    return;
  }
  for (int round = 0; round < 10000; ++round) {
    const std::uint64_t handled = remote_->connection->waitForPushes();
    scene_.clock.runUntilIdle();
    // The host reads a connection in order: once it answered this, it took every answer
    // sent before (and did what they set off), and every push it made before has arrived.
    remote_->connection->call("ownProcessIdentifier");
    if (remote_->connection->waitForPushes() == handled && scene_.clock.nextDue() != 0) return;
  }
  ADD_FAILURE() << "the program and the host kept each other busy";
}
