#include "switcher/Gestures.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "platform/CFRunLoop.h"
#include "settings/Diagnostics.h"
#include "switcher/HotCorners.h"
#include "workspace/UnpublishedFunctions.h"

namespace trelliq {

namespace {

// Who reads which device. The frame callback gets nothing but the device, so it finds its
// way here; frames of several devices may arrive on different threads at once, hence the
// lock, which also guards the readers' recognition state.
struct Reader {
  std::weak_ptr<int> life;
  Gestures* owner = nullptr;
};
struct Readers {
  std::mutex mutex;
  std::map<std::uintptr_t, Reader> devices;
};
Readers& readers() {
  static auto* shared = new Readers;
  return *shared;
}

std::uintptr_t key(MTDeviceRef device) { return reinterpret_cast<std::uintptr_t>(device); }

template <typename T>
T field(const std::uint8_t* record, std::size_t offset) {
  T value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

void drain(io_iterator_t iterator) {
  while (const io_object_t object = IOIteratorNext(iterator)) IOObjectRelease(object);
}

std::string lowered(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Recognition

std::optional<int> Gestures::advance(Track& track, const std::map<std::int32_t, CGPoint>& fingers, double timestamp) {
  if (!fingers.empty()) {
    if (!track.touch) track.touch = Track::Touch{timestamp, 0, {}, false};
    Track::Touch& touch = *track.touch;
    touch.fingers = std::max(touch.fingers, static_cast<int>(fingers.size()));
    for (const auto& [identifier, position] : fingers) {
      const auto origin = touch.origins.find(identifier);
      if (origin == touch.origins.end()) {
        touch.origins.emplace(identifier, position);
      } else if (std::abs(position.x - origin->second.x) > tapStillness ||
                 std::abs(position.y - origin->second.y) > tapStillness) {
        touch.moved = true;
      }
    }
    return std::nullopt;
  }
  if (!track.touch) return std::nullopt;
  const Track::Touch touch = *track.touch;
  track.touch.reset();
  const bool tap = !touch.moved && timestamp - touch.start <= tapLength && (touch.fingers == 3 || touch.fingers == 4);
  if (!tap) {
    track.lastTap.reset();
    return std::nullopt;
  }
  if (track.lastTap && track.lastTap->fingers == touch.fingers && touch.start - track.lastTap->end <= doubleTapGap) {
    track.lastTap.reset();
    return touch.fingers;
  }
  track.lastTap = Track::Tap{touch.fingers, timestamp};
  return std::nullopt;
}

std::int32_t Gestures::frame(MTDeviceRef device, const std::uint8_t* contacts, std::int32_t count, double timestamp,
                             std::int32_t) {
  if (!device) return 0;
  // A driver that claims a negative count or sends no records reports no fingers.
  std::map<std::int32_t, CGPoint> fingers;
  if (contacts && count > 0) {
    for (std::int32_t i = 0; i < count; ++i) {
      const std::uint8_t* record = contacts + static_cast<std::size_t>(i) * kMTContactRecordSize;
      const auto state = field<std::int32_t>(record, kMTContactStateOffset);
      if (state < 3 || state > 5) continue;
      fingers[field<std::int32_t>(record, kMTContactIdentifierOffset)] = {field<float>(record, kMTContactXOffset),
                                                                          field<float>(record, kMTContactYOffset)};
    }
  }
  std::optional<int> tapped;
  std::weak_ptr<int> life;
  Gestures* owner = nullptr;
  {
    Readers& all = readers();
    std::lock_guard lock(all.mutex);
    auto it = all.devices.find(key(device));
    if (it == all.devices.end()) return 0;  // not (or no longer) read
    owner = it->second.owner;
    tapped = advance(owner->tracks_[key(device)], fingers, timestamp);
    if (tapped) life = it->second.life;
  }
  if (!tapped) return 0;
  if (const auto gesture = Settings::Gesture::fromFingers(*tapped)) {
    platform::mainQueue().async([life, owner, gesture = *gesture] {
      if (life.lock()) owner->doubleTapped(gesture);
    });
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Starting and stopping

Gestures::Gestures(Toggle toggle) : toggle_(std::move(toggle)) {
  if (!toggle_) toggle_ = [] { Switcher::shared().toggleFromGesture(); };
}

Gestures::~Gestures() { stop(); }

Gestures& Gestures::shared() {
  // Never destroyed: frames and notifications may still arrive while the process ends.
  static Gestures* gestures = new Gestures();
  return *gestures;
}

void Gestures::start() {
  if (running_) return;
  running_ = true;
  const std::weak_ptr<int> life = life_.watch();
  NSNotificationCenter& defaults = NSNotificationCenter::defaultCenter();
  observers_.push_back({&defaults, defaults.addObserver(NSUserDefaultsDidChangeNotification, nullptr,
                                                        &platform::mainQueue(), [this, life](const NSNotification&) {
                                                          if (life.lock()) sync();
                                                        })});
  NSNotificationCenter& workspace = NSWorkspace::shared().notificationCenter();
  observers_.push_back({&workspace, workspace.addObserver(NSWorkspaceDidWakeNotification, nullptr,
                                                          &platform::mainQueue(), [this, life](const NSNotification&) {
                                                            if (life.lock()) restartSoon();
                                                          })});
  arrivals_ = IONotificationPortCreate(kIOMainPortDefault);
  if (arrivals_) {
    CFRunLoopAddSource(CFRunLoopGetMain(), IONotificationPortGetRunLoopSource(arrivals_), kCFRunLoopDefaultMode);
    io_iterator_t iterator = 0;
    const kern_return_t result = IOServiceAddMatchingNotification(
        arrivals_, kIOFirstMatchNotification, IOServiceMatching("AppleMultitouchDevice"),
        [this, life](void*, io_iterator_t arrived) {
          if (!life.lock()) return;
          drain(arrived);
          restartSoon();
        },
        nullptr, &iterator);
    // Emptying the iterator arms the notification.
    if (result == KERN_SUCCESS) drain(iterator);
  }
  sync();
}

void Gestures::stop() {
  if (!running_) return;
  running_ = false;
  // Each token is removed from the centre that issued it: tokens of different centres may
  // carry the same number, and removing one from the other centre would drop a stranger.
  for (const Observer& observer : observers_) observer.center->removeObserver(observer.token);
  observers_.clear();
  if (arrivals_) {
    IONotificationPortDestroy(arrivals_);
    arrivals_.reset();
  }
  restart_.cancel();
  restart_ = {};
  stopDevices();
}

void Gestures::sync() {
  if (running_ && Settings::gesture()) {
    if (!list_) startDevices();
  } else if (list_) {
    stopDevices();
  }
}

void Gestures::restartSoon() {
  restart_.cancel();
  const std::weak_ptr<int> life = life_.watch();
  restart_ = platform::mainQueue().asyncAfter(restartDelay, [this, life] {
    if (!life.lock()) return;
    restart_ = {};
    stopDevices();
    sync();
  });
}

void Gestures::startDevices() {
  auto* createList = UnpublishedFunctions::deviceCreateList();
  auto* registerCallback = UnpublishedFunctions::registerContactFrameCallback();
  auto* startDevice = UnpublishedFunctions::deviceStart();
  auto* familyID = UnpublishedFunctions::deviceFamilyID();
  if (!createList || !registerCallback || !startDevice) return;
  auto list = createList();
  if (!list) return;
  list_ = std::move(list);
  devices_.clear();
  for (MTDeviceRef device : *list_) {
    if (!device) continue;
    std::int32_t family = 0;
    // A device whose family cannot be read is taken for a trackpad.
    if (familyID && familyID(device, &family) == 0 &&
        std::find(std::begin(mice), std::end(mice), family) != std::end(mice)) {
      continue;
    }
    devices_.push_back(device);
  }
  {
    Readers& all = readers();
    std::lock_guard lock(all.mutex);
    for (MTDeviceRef device : devices_) all.devices[key(device)] = Reader{life_.watch(), this};
  }
  for (MTDeviceRef device : devices_) {
    registerCallback(device, &Gestures::frame);
    startDevice(device, 0);
  }
  const std::size_t n = devices_.size();
  Diagnostics::log("gestures: reading " + std::to_string(n) + " trackpad" + (n == 1 ? "" : "s"));
}

void Gestures::stopDevices() {
  auto* unregisterCallback = UnpublishedFunctions::unregisterContactFrameCallback();
  auto* stopDevice = UnpublishedFunctions::deviceStop();
  for (MTDeviceRef device : devices_) {
    if (unregisterCallback) unregisterCallback(device, &Gestures::frame);
    if (stopDevice) stopDevice(device);
  }
  {
    // The tracks stay: a touch or a first tap that went on while the devices restarted
    // still counts.
    Readers& all = readers();
    std::lock_guard lock(all.mutex);
    for (MTDeviceRef device : devices_) {
      auto it = all.devices.find(key(device));
      if (it != all.devices.end() && it->second.owner == this) all.devices.erase(it);
    }
  }
  devices_.clear();
  list_.reset();
}

void Gestures::doubleTapped(Settings::Gesture gesture) {
  const auto chosen = Settings::gesture();
  if (!chosen || *chosen != gesture) return;
  const std::string title = lowered(gesture.title());
  if (const auto use = gesture.usedByMacOS(); use && use->yields) {
    Diagnostics::log("gesture: " + title + ", left to " + use->what);
    return;
  }
  Diagnostics::log("gesture: " + title);
  toggle_();
}

Switcher::Watches triggerWatches() {
  return {[] {
            HotCorners::shared().start();
            Gestures::shared().start();
          },
          [] {
            HotCorners::shared().stop();
            Gestures::shared().stop();
          }};
}

}  // namespace trelliq
