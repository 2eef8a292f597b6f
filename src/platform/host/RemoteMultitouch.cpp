#include "platform/host/RemoteMultitouch.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/PrivateSymbols.h"
#include "platform/host/MultitouchWire.h"
#include "platform/host/Remote.h"
#include "platform/host/WireValues.h"

namespace host::multitouch {

namespace {

using json = nlohmann::json;

std::atomic<Connection*> gConnection{nullptr};

// The program's callbacks per device; a frame takes a copy of the list, so a callback
// may register or unregister while it runs.
struct Callbacks {
  std::mutex mutex;
  std::map<std::uint64_t, std::vector<MTContactCallbackFunction>> byDevice;
};
Callbacks& callbacks() {
  static auto* shared = new Callbacks;  // frames may still arrive while the process ends
  return *shared;
}

std::optional<json> ask(const std::string& name, json body) {
  Connection* c = gConnection.load();
  return c ? c->call("private." + name, std::move(body)) : std::nullopt;
}

template <typename T>
T answerOr(const std::optional<json>& answer, T fallback) {
  if (!answer) return fallback;
  try {
    return wire::read<T>(*answer);
  } catch (const std::exception&) {
    return fallback;
  }
}

std::optional<std::vector<MTDeviceRef>> createList() {
  const auto ids = answerOr<std::optional<std::vector<std::uint64_t>>>(ask("MTDeviceCreateList", nullptr), std::nullopt);
  if (!ids) return std::nullopt;
  std::vector<MTDeviceRef> devices;
  for (std::uint64_t id : *ids) devices.push_back(deviceOf(id));
  return devices;
}

void registerCallback(MTDeviceRef device, MTContactCallbackFunction callback) {
  if (!device || !callback) return;
  bool first = false;
  {
    Callbacks& all = callbacks();
    std::lock_guard lock(all.mutex);
    auto& list = all.byDevice[idOf(device)];
    if (std::find(list.begin(), list.end(), callback) != list.end()) return;
    first = list.empty();
    list.push_back(callback);
  }
  if (first) ask("MTRegisterContactFrameCallback", {{"device", idOf(device)}});
}

void unregisterCallback(MTDeviceRef device, MTContactCallbackFunction callback) {
  bool last = false;
  {
    Callbacks& all = callbacks();
    std::lock_guard lock(all.mutex);
    auto it = all.byDevice.find(idOf(device));
    if (it == all.byDevice.end() || std::erase(it->second, callback) == 0) return;
    last = it->second.empty();
    if (last) all.byDevice.erase(it);
  }
  if (last) ask("MTUnregisterContactFrameCallback", {{"device", idOf(device)}});
}

std::int32_t start(MTDeviceRef device, std::int32_t mode) {
  return answerOr<std::int32_t>(ask("MTDeviceStart", {{"device", idOf(device)}, {"mode", mode}}), kNoDevice);
}

std::int32_t stop(MTDeviceRef device) {
  return answerOr<std::int32_t>(ask("MTDeviceStop", {{"device", idOf(device)}}), kNoDevice);
}

std::int32_t family(MTDeviceRef device, std::int32_t* familyID) {
  const auto answer = answerOr<std::vector<std::int32_t>>(ask("MTDeviceGetFamilyID", {{"device", idOf(device)}}), {});
  if (answer.size() != 2) return kNoDevice;
  if (answer[0] == 0 && familyID) *familyID = answer[1];
  return answer[0];
}

}  // namespace

void forwardTo(Connection* connection) { gConnection.store(connection); }

void stopForwarding(Connection* connection) { gConnection.compare_exchange_strong(connection, nullptr); }

void* standIn(const std::string& name) {
  static const std::map<std::string, void*> table = {
      {"MTDeviceCreateList", reinterpret_cast<void*>(&createList)},
      {"MTRegisterContactFrameCallback", reinterpret_cast<void*>(&registerCallback)},
      {"MTUnregisterContactFrameCallback", reinterpret_cast<void*>(&unregisterCallback)},
      {"MTDeviceStart", reinterpret_cast<void*>(&start)},
      {"MTDeviceStop", reinterpret_cast<void*>(&stop)},
      {"MTDeviceGetFamilyID", reinterpret_cast<void*>(&family)},
  };
  auto it = table.find(name);
  return it == table.end() ? nullptr : it->second;
}

bool deliver(const json& body) {
  try {
    const auto device = wire::field<std::uint64_t>(body, "device");
    const auto count = wire::field<std::int32_t>(body, "count");
    const auto timestamp = wire::field<double>(body, "timestamp");
    const auto number = wire::field<std::int32_t>(body, "frame");
    std::vector<std::uint8_t> records;
    const auto it = body.find("records");
    const bool present = it != body.end() && it->is_binary();
    if (present) records = it->get_binary();
    // A claimed count beyond the records sent is a driver's fault the records cannot
    // cover: no callback reads past what arrived.
    if (present && count > 0 && records.size() < static_cast<std::size_t>(count) * kMTContactRecordSize) return false;
    std::vector<MTContactCallbackFunction> targets;
    {
      Callbacks& all = callbacks();
      std::lock_guard lock(all.mutex);
      if (auto found = all.byDevice.find(device); found != all.byDevice.end()) targets = found->second;
    }
    for (auto callback : targets) {
      callback(deviceOf(device), present ? records.data() : nullptr, count, timestamp, number);
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace host::multitouch
