#include "support/Served.h"

#include <variant>

#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Host.h"
#include "platform/host/Remote.h"

std::string servedName(const ::testing::TestParamInfo<Served>& info) {
  return info.param == Served::inProcess ? "InProcess" : "Remote";
}

Attachment::Attachment(Scene& scene, Served how) : scene_(scene) {
  if (how != Served::remote) return;
  host_ = std::make_unique<host::Host>(scene.world, scene.windowServer);
  if (auto problem = host_->listen(scene.home)) {
    ADD_FAILURE() << "the host could not listen: " << *problem;
    return;
  }
  host_->serve();
  auto attached = host::RemoteMac::attach(host::endpointFor(scene.home).socket);
  if (auto* problem = std::get_if<std::string>(&attached)) {
    ADD_FAILURE() << "could not attach: " << *problem;
    return;
  }
  remote_ = std::move(std::get<std::unique_ptr<host::RemoteMac>>(attached));
  platform::installSystem(remote_->system.get());
  platform::installWindowServer(remote_->windowServer.get());
}

Attachment::~Attachment() {
  if (!host_) return;
  platform::installSystem(&scene_.world);
  platform::installWindowServer(&scene_.windowServer);
  remote_.reset();
  host_->stop();
}
