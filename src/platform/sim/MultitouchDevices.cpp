#include "platform/sim/MultitouchDevices.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include "platform/Clock.h"
#include "platform/sim/IORegistry.h"
#include "platform/sim/WindowServer.h"
#include "platform/sim/World.h"

namespace sim {

namespace {

constexpr std::int32_t kNoDevice = static_cast<std::int32_t>(0xE00002C0);
constexpr std::int32_t kUnsupported = static_cast<std::int32_t>(0xE00002C7);

std::atomic<MultitouchDevices*> gActive{nullptr};
// Unique for the process: a reference kept from an earlier device set never names a new device.
std::atomic<std::uint64_t> gNextDevice{0x4D54'0001};

template <typename T>
void put(std::vector<std::uint8_t>& bytes, std::size_t at, T value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

std::vector<std::uint8_t> records(const std::vector<MultitouchDevices::Contact>& contacts) {
  std::vector<std::uint8_t> bytes(contacts.size() * kMTContactRecordSize, 0);
  for (std::size_t i = 0; i < contacts.size(); ++i) {
    const std::size_t base = i * kMTContactRecordSize;
    const auto& c = contacts[i];
    put(bytes, base + kMTContactIdentifierOffset, c.identifier);
    put(bytes, base + kMTContactStateOffset, c.state);
    put(bytes, base + kMTContactXOffset, c.x);
    put(bytes, base + kMTContactYOffset, c.y);
  }
  return bytes;
}

// ---- The registered functions: the newest device set alive answers. ----

std::optional<std::vector<MTDeviceRef>> mtCreateList() {
  MultitouchDevices* devices = MultitouchDevices::active();
  return devices ? devices->createList() : std::nullopt;
}
void mtRegister(MTDeviceRef device, MTContactCallbackFunction callback) {
  if (MultitouchDevices* devices = MultitouchDevices::active()) devices->registerCallback(device, callback);
}
void mtUnregister(MTDeviceRef device, MTContactCallbackFunction callback) {
  if (MultitouchDevices* devices = MultitouchDevices::active()) devices->unregisterCallback(device, callback);
}
std::int32_t mtStart(MTDeviceRef device, std::int32_t mode) {
  MultitouchDevices* devices = MultitouchDevices::active();
  return devices ? devices->start(device, mode) : kNoDevice;
}
std::int32_t mtStop(MTDeviceRef device) {
  MultitouchDevices* devices = MultitouchDevices::active();
  return devices ? devices->stop(device) : kNoDevice;
}
std::int32_t mtFamily(MTDeviceRef device, std::int32_t* family) {
  MultitouchDevices* devices = MultitouchDevices::active();
  return devices ? devices->family(device, family) : kNoDevice;
}

}  // namespace

// Lets frames already queued on a device's thread find out that the device set is gone.
struct MultitouchDevices::Guard {
  std::mutex mutex;
  MultitouchDevices* self = nullptr;
};

MultitouchDevices::MultitouchDevices(WindowServer& server, IORegistry& registry)
    : server_(server), registry_(registry), guard_(std::make_shared<Guard>()) {
  guard_->self = this;
  World& world = server.world();
  world.addFunction<MTDeviceCreateList_t>(kMultitouchSupportPath, "MTDeviceCreateList", &mtCreateList);
  world.addFunction<MTRegisterContactFrameCallback_t>(kMultitouchSupportPath, "MTRegisterContactFrameCallback",
                                                      &mtRegister);
  world.addFunction<MTUnregisterContactFrameCallback_t>(kMultitouchSupportPath, "MTUnregisterContactFrameCallback",
                                                        &mtUnregister);
  world.addFunction<MTDeviceStart_t>(kMultitouchSupportPath, "MTDeviceStart", &mtStart);
  world.addFunction<MTDeviceStop_t>(kMultitouchSupportPath, "MTDeviceStop", &mtStop);
  world.addFunction<MTDeviceGetFamilyID_t>(kMultitouchSupportPath, "MTDeviceGetFamilyID", &mtFamily);
  gActive.store(this, std::memory_order_release);
}

MultitouchDevices::~MultitouchDevices() {
  MultitouchDevices* self = this;
  gActive.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
  std::lock_guard lock(guard_->mutex);
  guard_->self = nullptr;
}

MultitouchDevices* MultitouchDevices::active() { return gActive.load(std::memory_order_acquire); }

MTDeviceRef MultitouchDevices::reference(std::uint64_t id) {
  return reinterpret_cast<MTDeviceRef>(static_cast<std::uintptr_t>(id));
}

MultitouchDevices::Device* MultitouchDevices::find(MTDeviceRef device) {
  auto it = devices_.find(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(device)));
  return it == devices_.end() || !it->second.info.attached ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------------------------
// The hardware

std::uint64_t MultitouchDevices::addDevice(std::int32_t family, const std::string& thread) {
  const std::uint64_t id = gNextDevice.fetch_add(1);
  {
    std::lock_guard lock(mutex_);
    Device& device = devices_[id];
    device.info.id = id;
    device.info.family = family;
    device.info.thread = thread.empty() ? kThreadLabel : thread;
  }
  // Announced with no lock held: the matchings' callbacks may call straight back.
  const std::uint32_t service = registry_.publish(kServiceClass);
  std::lock_guard lock(mutex_);
  devices_[id].service = service;
  return id;
}

bool MultitouchDevices::removeDevice(std::uint64_t id) {
  std::uint32_t service = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(id);
    if (it == devices_.end() || !it->second.info.attached) return false;
    it->second.info.attached = false;
    it->second.info.started = false;
    it->second.callbacks.clear();
    service = it->second.service;
  }
  registry_.withdraw(service);
  return true;
}

std::uint64_t MultitouchDevices::trackpad() {
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, device] : devices_) {
      const std::int32_t family = device.info.family;
      if (device.info.attached && family != kMouse && family != kSecondMouse) return id;
    }
  }
  return addDevice(kBuiltInTrackpad);
}

bool MultitouchDevices::doubleTap(int fingers) {
  const std::uint64_t id = trackpad();
  std::vector<Contact> down;
  for (int i = 0; i < fingers; ++i) {
    down.push_back(Contact{i + 1, 0.35F + 0.1F * static_cast<float>(i), 0.5F, kTouching});
  }
  // Each touch: fingers down, a frame later still in place, then lifted.
  const double start = platform::clock().monotonicSeconds();
  bool sent = true;
  for (const double touch : {start, start + 0.25}) {
    sent = sendFrame(id, down, touch) && sent;
    sent = sendFrame(id, down, touch + 0.05) && sent;
    sent = sendFrame(id, {}, touch + 0.1) && sent;
  }
  return sent;
}

void MultitouchDevices::setFamilyUnreadable(std::uint64_t id, bool unreadable) {
  std::lock_guard lock(mutex_);
  if (auto it = devices_.find(id); it != devices_.end()) it->second.familyUnreadable = unreadable;
}

void MultitouchDevices::setListAvailable(bool available) {
  std::lock_guard lock(mutex_);
  listAvailable_ = available;
}

bool MultitouchDevices::sendFrame(std::uint64_t id, const std::vector<Contact>& contacts,
                                  std::optional<double> timestamp) {
  return queueFrame(id, records(contacts), static_cast<std::int32_t>(contacts.size()), false, timestamp);
}

bool MultitouchDevices::sendRawFrame(std::uint64_t id, const std::vector<Contact>& contacts, std::int32_t count,
                                     bool nullRecords, std::optional<double> timestamp) {
  return queueFrame(id, records(contacts), count, nullRecords, timestamp);
}

bool MultitouchDevices::queueFrame(std::uint64_t id, std::vector<std::uint8_t> bytes, std::int32_t count,
                                   bool nullRecords, std::optional<double> timestamp) {
  std::string thread;
  {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(id);
    if (it == devices_.end() || asleep_) return false;
    const DeviceInfo& info = it->second.info;
    if (!info.attached || !info.started || info.stale || it->second.callbacks.empty()) return false;
    thread = info.thread;
  }
  const double stamp = timestamp ? *timestamp : platform::clock().monotonicSeconds();
  std::weak_ptr<Guard> guard = guard_;
  platform::clock().thread(thread).async([guard, id, bytes = std::move(bytes), count, nullRecords, stamp] {
    std::vector<MTContactCallbackFunction> callbacks;
    std::int32_t frame = 0;
    {
      auto held = guard.lock();
      if (!held) return;
      std::lock_guard guardLock(held->mutex);
      MultitouchDevices* self = held->self;
      if (!self) return;
      std::lock_guard lock(self->mutex_);
      auto it = self->devices_.find(id);
      if (it == self->devices_.end() || self->asleep_) return;
      Device& device = it->second;
      if (!device.info.attached || !device.info.started || device.info.stale) return;
      callbacks = device.callbacks;
      frame = device.nextFrame++;
      if (!callbacks.empty()) ++device.info.frames;
    }
    // The callbacks are the program's; they run with no lock of the world held.
    const std::uint8_t* contacts = nullRecords ? nullptr : bytes.data();
    for (MTContactCallbackFunction callback : callbacks) callback(reference(id), contacts, count, stamp, frame);
  });
  return true;
}

void MultitouchDevices::sleep() {
  std::lock_guard lock(mutex_);
  asleep_ = true;
  for (auto& [id, device] : devices_) {
    if (device.info.started) device.info.stale = true;
  }
}

void MultitouchDevices::wake() {
  {
    std::lock_guard lock(mutex_);
    asleep_ = false;
  }
  server_.announceWake();
}

// ---------------------------------------------------------------------------------------------
// Records

std::vector<MultitouchDevices::DeviceInfo> MultitouchDevices::devices() const {
  std::lock_guard lock(mutex_);
  std::vector<DeviceInfo> result;
  for (const auto& [id, device] : devices_) {
    result.push_back(device.info);
    result.back().callbacks = device.callbacks.size();
  }
  return result;
}

std::optional<MultitouchDevices::DeviceInfo> MultitouchDevices::device(std::uint64_t id) const {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(id);
  if (it == devices_.end()) return std::nullopt;
  DeviceInfo info = it->second.info;
  info.callbacks = it->second.callbacks.size();
  return info;
}

// ---------------------------------------------------------------------------------------------
// The framework

std::optional<std::vector<MTDeviceRef>> MultitouchDevices::createList() {
  std::lock_guard lock(mutex_);
  if (!listAvailable_) return std::nullopt;
  std::vector<MTDeviceRef> list;
  for (const auto& [id, device] : devices_) {
    if (device.info.attached) list.push_back(reference(id));
  }
  if (list.empty()) return std::nullopt;
  return list;
}

void MultitouchDevices::registerCallback(MTDeviceRef ref, MTContactCallbackFunction callback) {
  std::lock_guard lock(mutex_);
  Device* device = find(ref);
  if (!device || !callback) return;
  if (std::find(device->callbacks.begin(), device->callbacks.end(), callback) == device->callbacks.end()) {
    device->callbacks.push_back(callback);
  }
}

void MultitouchDevices::unregisterCallback(MTDeviceRef ref, MTContactCallbackFunction callback) {
  std::lock_guard lock(mutex_);
  if (Device* device = find(ref)) std::erase(device->callbacks, callback);
}

std::int32_t MultitouchDevices::start(MTDeviceRef ref, std::int32_t mode) {
  std::lock_guard lock(mutex_);
  Device* device = find(ref);
  if (!device) return kNoDevice;
  if (mode != 0) return kUnsupported;
  ++device->info.starts;
  // A device that slept through while started stays silent until it is stopped first.
  if (!device->info.started) device->info.stale = false;
  device->info.started = true;
  return 0;
}

std::int32_t MultitouchDevices::stop(MTDeviceRef ref) {
  std::lock_guard lock(mutex_);
  Device* device = find(ref);
  if (!device) return kNoDevice;
  ++device->info.stops;
  device->info.started = false;
  device->info.stale = false;
  return 0;
}

std::int32_t MultitouchDevices::family(MTDeviceRef ref, std::int32_t* familyID) {
  std::lock_guard lock(mutex_);
  Device* device = find(ref);
  if (!device || !familyID) return kNoDevice;
  if (device->familyUnreadable) return kUnsupported;
  *familyID = device->info.family;
  return 0;
}

}  // namespace sim
