#include "platform/host/HostMultitouch.h"

#include <atomic>
#include <vector>

#include "platform/host/MultitouchWire.h"
#include "platform/host/WireValues.h"
#include "platform/sim/World.h"

namespace host {

using json = nlohmann::json;
using multitouch::deviceOf;
using multitouch::idOf;
using multitouch::kNoDevice;
using wire::field;

namespace {

// The host the world's frames go to; held while a frame is handed on, so a host that
// ends waits for the frame under way.
std::mutex gActiveMutex;
HostMultitouch* gActive = nullptr;

}  // namespace

HostMultitouch::HostMultitouch(sim::World& world) : world_(world) {
  std::lock_guard lock(gActiveMutex);
  gActive = this;
}

HostMultitouch::~HostMultitouch() {
  std::lock_guard lock(gActiveMutex);
  if (gActive == this) gActive = nullptr;
}

bool HostMultitouch::serves(const std::string& name) {
  return name == "MTDeviceCreateList" || name == "MTRegisterContactFrameCallback" ||
         name == "MTUnregisterContactFrameCallback" || name == "MTDeviceStart" || name == "MTDeviceStop" ||
         name == "MTDeviceGetFamilyID";
}

template <typename Function>
Function* frameworkFunction(sim::World& world, const char* name) {
  return reinterpret_cast<Function*>(world.symbol(kMultitouchSupportPath, name));
}

json HostMultitouch::call(std::uint64_t client, const Push& push, const std::string& name, const json& v) {
  if (name == "MTDeviceCreateList") {
    auto f = frameworkFunction<MTDeviceCreateList_t>(world_, "MTDeviceCreateList");
    const auto list = f ? f() : std::nullopt;
    if (!list) return nullptr;
    json ids = json::array();
    for (MTDeviceRef device : *list) ids.push_back(idOf(device));
    return ids;
  }
  const auto device = field<std::uint64_t>(v, "device");
  if (name == "MTDeviceGetFamilyID") {
    auto f = frameworkFunction<MTDeviceGetFamilyID_t>(world_, "MTDeviceGetFamilyID");
    std::int32_t family = 0;
    const std::int32_t status = f ? f(deviceOf(device), &family) : kNoDevice;
    return json::array({status, family});
  }
  // Whether this program is the first or the last to read a device, and the world told so,
  // are one step: two programs crossing would otherwise leave a device read by nobody.
  std::lock_guard changing(changing_);
  if (name == "MTDeviceStart") {
    auto f = frameworkFunction<MTDeviceStart_t>(world_, "MTDeviceStart");
    const std::int32_t status = f ? f(deviceOf(device), field<std::int32_t>(v, "mode")) : kNoDevice;
    if (status == 0) {
      std::lock_guard lock(mutex_);
      Reader& reader = readers_[client];
      reader.push = push;
      reader.started.insert(device);
    }
    return status;
  }
  if (name == "MTDeviceStop") {
    {
      std::lock_guard lock(mutex_);
      if (auto it = readers_.find(client); it != readers_.end()) it->second.started.erase(device);
    }
    // Another program still reading the device keeps it going, as a process of its own
    // would on a Mac.
    if (startedByAnyone(device)) return 0;
    auto f = frameworkFunction<MTDeviceStop_t>(world_, "MTDeviceStop");
    return f ? f(deviceOf(device)) : kNoDevice;
  }
  if (name == "MTRegisterContactFrameCallback") {
    bool first = false;
    {
      std::lock_guard lock(mutex_);
      first = !readByAnyone(device);
      Reader& reader = readers_[client];
      reader.push = push;
      reader.devices.insert(device);
    }
    auto f = frameworkFunction<MTRegisterContactFrameCallback_t>(world_, "MTRegisterContactFrameCallback");
    if (first && f) f(deviceOf(device), &HostMultitouch::frame);
    return nullptr;
  }
  if (name == "MTUnregisterContactFrameCallback") {
    bool last = false;
    {
      std::lock_guard lock(mutex_);
      if (auto it = readers_.find(client); it != readers_.end()) it->second.devices.erase(device);
      last = !readByAnyone(device);
    }
    auto f = frameworkFunction<MTUnregisterContactFrameCallback_t>(world_, "MTUnregisterContactFrameCallback");
    if (last && f) f(deviceOf(device), &HostMultitouch::frame);
    return nullptr;
  }
  throw wire::BadValue("no function " + name);
}

void HostMultitouch::forget(std::uint64_t client) {
  std::lock_guard changing(changing_);
  Reader gone;
  {
    std::lock_guard lock(mutex_);
    auto it = readers_.find(client);
    if (it == readers_.end()) return;
    gone = std::move(it->second);
    readers_.erase(it);
  }
  auto unregister = frameworkFunction<MTUnregisterContactFrameCallback_t>(world_, "MTUnregisterContactFrameCallback");
  for (std::uint64_t device : gone.devices) {
    bool last = false;
    {
      std::lock_guard lock(mutex_);
      last = !readByAnyone(device);
    }
    if (last && unregister) unregister(deviceOf(device), &HostMultitouch::frame);
  }
  for (std::uint64_t device : gone.started) stopIfUnused(device);
}

bool HostMultitouch::readByAnyone(std::uint64_t device) const {
  for (const auto& [client, reader] : readers_) {
    if (reader.devices.count(device)) return true;
  }
  return false;
}

bool HostMultitouch::startedByAnyone(std::uint64_t device) const {
  std::lock_guard lock(mutex_);
  for (const auto& [client, reader] : readers_) {
    if (reader.started.count(device)) return true;
  }
  return false;
}

void HostMultitouch::stopIfUnused(std::uint64_t device) {
  if (startedByAnyone(device)) return;
  if (auto f = frameworkFunction<MTDeviceStop_t>(world_, "MTDeviceStop")) f(deviceOf(device));
}

std::int32_t HostMultitouch::frame(MTDeviceRef device, const std::uint8_t* contacts, std::int32_t count,
                                   double timestamp, std::int32_t number) {
  std::vector<Push> pushes;
  {
    std::lock_guard active(gActiveMutex);
    if (!gActive) return 0;
    std::lock_guard lock(gActive->mutex_);
    for (const auto& [client, reader] : gActive->readers_) {
      if (reader.devices.count(idOf(device))) pushes.push_back(reader.push);
    }
  }
  json body = {{"device", idOf(device)}, {"count", count}, {"timestamp", timestamp}, {"frame", number}};
  if (contacts && count > 0) {
    body["records"] = json::binary(std::vector<std::uint8_t>(
        contacts, contacts + static_cast<std::size_t>(count) * kMTContactRecordSize));
  } else {
    body["records"] = nullptr;
  }
  for (const Push& push : pushes) push("mtFrame", body);
  return 0;
}

}  // namespace host
