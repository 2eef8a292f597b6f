#pragma once
// Opening and closing the switcher with a double tap of three or four fingers on a
// trackpad. Raw contact frames of every multitouch device but mice are read through the
// private multitouch framework; a quick still tap followed by a second one with the same
// number of fingers is handed to the main queue, where the switcher is toggled, unless a
// system feature that takes precedence (Zoom) already uses the gesture. Reading follows
// the "gesture" option (at every defaults change), and the devices are restarted a
// second after the Mac wakes or a new multitouch device appears.
//
// Threads: frames arrive on the framework's threads, possibly several devices at once;
// the per-device recognition state sits behind one lock and is only touched by the frame
// callback. It outlives a restart of the devices and goes with its `Gestures`. Everything
// else runs on the main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/AppKitWorkspace.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/IOKit.h"
#include "platform/PrivateSymbols.h"
#include "settings/Settings.h"
#include "switcher/LifeToken.h"
#include "switcher/Switcher.h"

namespace trelliq {

class Gestures {
 public:
  /// What a recognised (and not yielded) double tap does.
  using Toggle = std::function<void()>;

  /// Device families that are mice and are never read.
  static constexpr std::int32_t mice[] = {112, 113};
  /// The longest touch that counts as a tap, in seconds.
  static constexpr double tapLength = 0.3;
  /// The largest movement of a finger, per axis in normalised device units, that is still.
  static constexpr double tapStillness = 0.04;
  /// The longest pause between the end of one tap and the start of the next.
  static constexpr double doubleTapGap = 0.4;
  /// How long after a wake or a new device the devices are restarted.
  static constexpr double restartDelay = 1.0;

  /// The recognition state of one device.
  struct Track {
    struct Touch {
      double start = 0;  // timestamp of its first frame with fingers
      int fingers = 0;   // most fingers at once
      std::map<std::int32_t, CGPoint> origins;
      bool moved = false;
    };
    struct Tap {
      int fingers = 0;
      double end = 0;  // when the fingers lifted
    };
    std::optional<Touch> touch;
    std::optional<Tap> lastTap;
  };

  /// One frame for one device's track: the touching fingers by identifier at `timestamp`
  /// (seconds). Answers the finger count (3 or 4) when this frame completes a double tap,
  /// which also clears the track so a third tap starts afresh. Pure.
  static std::optional<int> advance(Track& track, const std::map<std::int32_t, CGPoint>& fingers, double timestamp);

  /// Without `toggle`, a double tap calls `Switcher::shared().toggleFromGesture`.
  explicit Gestures(Toggle toggle = {});
  /// Stops first. Main thread.
  ~Gestures();
  Gestures(const Gestures&) = delete;
  Gestures& operator=(const Gestures&) = delete;

  /// The double tap of the switcher of the process.
  static Gestures& shared();

  /// Starts following the option, wakes and new devices, then reads the devices when a
  /// gesture is chosen. Idempotent. Main thread.
  void start();
  /// Removes the observers and the arrival port, cancels a pending restart, stops the devices.
  void stop();
  /// Reads the devices while started with a gesture chosen; otherwise stops reading them.
  void sync();
  /// Stops and re-syncs the devices `restartDelay` later; several calls within that time restart once.
  void restartSoon();
  /// On the main queue: acts on a recognised double tap if `gesture` is the chosen one,
  /// logging it ("gesture: ...", with ", left to ..." when the system keeps it).
  void doubleTapped(Settings::Gesture gesture);

  bool isRunning() const { return running_; }
  /// The devices being read (mice left out); empty while not reading.
  const std::vector<MTDeviceRef>& devices() const { return devices_; }

 private:
  struct Observer {
    NSNotificationCenter* center;
    NSNotificationToken token;
  };

  void startDevices();
  void stopDevices();
  /// The frame callback the framework calls on its own thread.
  static std::int32_t frame(MTDeviceRef device, const std::uint8_t* contacts, std::int32_t count, double timestamp,
                            std::int32_t frameNumber);

  Toggle toggle_;
  bool running_ = false;
  std::vector<Observer> observers_;
  std::optional<std::vector<MTDeviceRef>> list_;
  platform::WorkItem restart_;
  IONotificationPortRef arrivals_;
  std::vector<MTDeviceRef> devices_;
  /// Recognition state per device (by its reference), behind the lock of the devices'
  /// readers: only the frame callback touches it.
  std::map<std::uintptr_t, Track> tracks_;
  // Callbacks already queued hold this weakly and do nothing once it is gone.
  LifeToken life_;
};

/// The start and stop of the hot corners and the double tap of the process, for `Switcher::watches`.
Switcher::Watches triggerWatches();

}  // namespace trelliq
