#pragma once
// The simulated Mac's multitouch hardware and the private framework that reads it. Each
// device (a trackpad, or a mouse with a touch surface) is listed by MTDeviceCreateList,
// reports its family, and, once started with a frame callback registered, hands every
// frame of contacts to that callback on its own thread ("multitouch" unless the device
// was given another), as 96-byte contact records with a timestamp in seconds. Devices
// plugged in later are published in the IOKit registry as "AppleMultitouchDevice"
// services. Sleep silences every device: after waking, a device delivers again only once
// it has been stopped and started afresh, and the workspace announces the wake.
//
// The framework's functions are registered in the world's symbol registry under the
// MultitouchSupport path and act on the newest device set alive; device references are
// handles that are never dereferenced, so a reference kept by the program after its
// device set is gone is only ever an unknown device. Every function is thread-safe.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/PrivateSymbols.h"

namespace sim {

class IORegistry;
class WindowServer;

class MultitouchDevices {
 public:
  static constexpr const char* kServiceClass = "AppleMultitouchDevice";
  static constexpr const char* kThreadLabel = "multitouch";
  /// Device families: a built-in trackpad, an external one, and the two mice.
  static constexpr std::int32_t kBuiltInTrackpad = 98, kExternalTrackpad = 128, kMouse = 112, kSecondMouse = 113;
  /// Contact states; 3, 4 and 5 mean the finger touches.
  static constexpr std::int32_t kHovering = 2, kTouching = 4, kLifting = 7;

  /// One finger as a frame reports it; positions are normalised (0..1).
  struct Contact {
    std::int32_t identifier = 0;
    float x = 0;
    float y = 0;
    std::int32_t state = kTouching;
  };

  /// One device as the world sees it.
  struct DeviceInfo {
    std::uint64_t id = 0;
    std::int32_t family = kBuiltInTrackpad;
    std::string thread;
    bool attached = true;
    bool started = false;
    bool stale = false;  // slept through while started: silent until restarted
    std::size_t callbacks = 0;
    int starts = 0;
    int stops = 0;
    std::uint64_t frames = 0;  // frames handed to callbacks
  };

  /// Registers the framework's functions in the world (`server`'s) and publishes devices in
  /// `registry`; both must outlive it. Starts without devices.
  MultitouchDevices(WindowServer& server, IORegistry& registry);
  ~MultitouchDevices();
  MultitouchDevices(const MultitouchDevices&) = delete;
  MultitouchDevices& operator=(const MultitouchDevices&) = delete;

  /// The newest device set alive, or null.
  static MultitouchDevices* active();
  /// The reference the framework hands out for a device id.
  static MTDeviceRef reference(std::uint64_t id);

  // ---- The hardware ----
  /// Attaches a device of `family` whose frames arrive on the thread `thread`; it is listed
  /// from now on and announced to IOKit matchings. Its id.
  std::uint64_t addDevice(std::int32_t family = kBuiltInTrackpad, const std::string& thread = kThreadLabel);
  /// Detaches it: it leaves the list and sends nothing more. False for an unknown id.
  bool removeDevice(std::uint64_t id);
  /// With true, asking the device's family fails.
  void setFamilyUnreadable(std::uint64_t id, bool unreadable);
  /// With false, MTDeviceCreateList answers nothing (the framework cannot list).
  void setListAvailable(bool available);
  /// Sends one frame of the device: queued on its thread and handed to every callback
  /// registered then, if the device is attached, started, not stale and the Mac awake.
  /// `timestamp` in seconds (the clock's monotonic time when not given). True when queued.
  bool sendFrame(std::uint64_t id, const std::vector<Contact>& contacts, std::optional<double> timestamp = {});
  /// A frame as a faulty driver might send it: `count` records claimed and either the
  /// records of `contacts` or no record pointer at all.
  bool sendRawFrame(std::uint64_t id, const std::vector<Contact>& contacts, std::int32_t count, bool nullRecords,
                    std::optional<double> timestamp = {});
  /// The first trackpad attached (a mouse is none), adding a built-in one when there is
  /// none. Its id.
  std::uint64_t trackpad();
  /// A person's double tap with `fingers` fingers on `trackpad()`: two still touches of
  /// 0.1 s, 0.15 s apart, stamped from now on. False when nobody reads that trackpad.
  bool doubleTap(int fingers);
  /// Puts the Mac to sleep: nothing is delivered; started devices go stale.
  void sleep();
  /// Wakes it and posts the workspace's wake notification.
  void wake();

  // ---- Records ----
  std::vector<DeviceInfo> devices() const;
  std::optional<DeviceInfo> device(std::uint64_t id) const;

  // ---- The framework (what the registered functions do) ----
  std::optional<std::vector<MTDeviceRef>> createList();
  void registerCallback(MTDeviceRef device, MTContactCallbackFunction callback);
  void unregisterCallback(MTDeviceRef device, MTContactCallbackFunction callback);
  std::int32_t start(MTDeviceRef device, std::int32_t mode);
  std::int32_t stop(MTDeviceRef device);
  std::int32_t family(MTDeviceRef device, std::int32_t* familyID);

 private:
  struct Device {
    DeviceInfo info;
    bool familyUnreadable = false;
    std::uint32_t service = 0;
    std::vector<MTContactCallbackFunction> callbacks;
    std::int32_t nextFrame = 0;
  };
  struct Guard;

  Device* find(MTDeviceRef device);
  bool queueFrame(std::uint64_t id, std::vector<std::uint8_t> records, std::int32_t count, bool nullRecords,
                  std::optional<double> timestamp);

  WindowServer& server_;
  IORegistry& registry_;
  mutable std::mutex mutex_;
  std::map<std::uint64_t, Device> devices_;
  bool listAvailable_ = true;
  bool asleep_ = false;
  std::shared_ptr<Guard> guard_;
};

}  // namespace sim
