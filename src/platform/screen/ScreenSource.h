#pragma once
// What the screen shows and where its input goes: the desk's change count, the displays,
// each display's composed frame and the events the keyboard and pointer make. The screen
// program reads a world host through `RemoteScreenSource`; a test may hand the screen a
// world in its own process. Main thread.

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/CGEvent.h"
#include "platform/SharedSurface.h"
#include "platform/SystemPort.h"

namespace host {
struct RemoteMac;
}

namespace screen {

class ScreenSource {
 public:
  virtual ~ScreenSource() = default;

  /// The desk's change count; nothing while it cannot be read.
  virtual std::optional<std::uint64_t> generation() = 0;
  /// The displays, the first one the main display.
  virtual std::vector<platform::ScreenDescription> screens() = 0;

  /// A display's frame, whole or as what changed since a frame the screen holds, or in
  /// memory shared with the source.
  struct Frame {
    std::uint64_t sequence = 0;  // the frame's number, to ask from next time
    QImage whole;                // the frame whole; null when only `pieces` changed
    std::vector<std::pair<QPoint, QImage>> pieces;  // else each changed part and where it lies
    /// Or the frame lies here, always read as its newest (whole and null pieces), and
    /// `sharedChange` is what changed since the last frame the source handed out of it
    /// (nothing: all of it).
    std::shared_ptr<const platform::SharedSurface> shared;
    std::optional<QRegion> sharedChange;
    bool changing = false;  // it may change without the change count moving
  };
  /// Display `id` composed at `width` × `height` pixels: what changed since frame `since`
  /// of that size (0: the whole frame), or the frame in memory shared with the source;
  /// nothing when it cannot be.
  virtual std::optional<Frame> frame(std::uint32_t id, int width, int height, std::uint64_t since) = 0;

  /// One display's frame to fetch, as `frame` takes it.
  struct Request {
    std::uint32_t id = 0;
    int width = 0, height = 0;
    std::uint64_t since = 0;
  };
  /// The frames `requests` ask for, by display, in one go; a display left out could not be
  /// had. Unless a source can do better, each is asked for alone.
  virtual std::map<std::uint32_t, Frame> frames(const std::vector<Request>& requests);
  /// The desk's change count and displays from before the last frames() were composed.
  struct Desk {
    std::uint64_t generation = 0;
    std::vector<platform::ScreenDescription> screens;
  };
  /// The desk as it was for the last frames(), when the source tells it with them; then a
  /// screen told of a change fetches at once, asking for nothing first.
  virtual std::optional<Desk> framesDesk() const { return std::nullopt; }

  /// Has `changed` called, on any thread, when what the displays show may have changed, so
  /// the screen need not keep asking; null stops the calls, waiting for one under way.
  /// False when this source cannot tell: the screen then asks for the change count often.
  virtual bool watch(std::function<void()> changed) { return false; }
  /// The frames the source was sent with its last call of `changed`, as frames() hands
  /// them (framesDesk() then tells the desk with them), for the displays and sizes last
  /// asked; nothing when it sent none (the screen then asks). Once each.
  virtual std::optional<std::map<std::uint32_t, Frame>> sentFrames() { return std::nullopt; }
  /// The screen shows the frames it was sent: the source may send the next ones.
  virtual void ready() {}

  /// Posts `event` at the HID point, as the keyboard or the pointer would.
  virtual void post(const CGEvent& event) = 0;
  /// Double-taps the trackpad with `fingers` fingers (3 or 4), as a hand would.
  virtual void doubleTap(int fingers) = 0;
};

/// The world of a host the screen attached to (not owned; it must outlive this). Each
/// display's frames come in a surface the host keeps for this screen at the size asked
/// (made when that size is first asked), or, when the host cannot keep one, as pictures.
class RemoteScreenSource : public ScreenSource {
 public:
  /// `mac` attached as the screen (`host::AttachAs::screen`).
  explicit RemoteScreenSource(host::RemoteMac& mac) : mac_(mac) {}

  std::optional<std::uint64_t> generation() override;
  std::vector<platform::ScreenDescription> screens() override;
  std::optional<Frame> frame(std::uint32_t id, int width, int height, std::uint64_t since) override;
  std::map<std::uint32_t, Frame> frames(const std::vector<Request>& requests) override;
  std::optional<Desk> framesDesk() const override { return framesDesk_; }
  bool watch(std::function<void()> changed) override;
  std::optional<std::map<std::uint32_t, Frame>> sentFrames() override;
  void ready() override;
  void post(const CGEvent& event) override;
  void doubleTap(int fingers) override;

 private:
  /// A display's surface and the sequence of it last handed out.
  struct Mapped {
    std::shared_ptr<const platform::SharedSurface> surface;  // null: refused at this size
    int width = 0, height = 0;
    std::uint64_t seen = 0;
  };
  /// Display `asked`'s surface at its size, asked for when it has none of that size.
  Mapped& mapped(const Request& asked);
  /// The frames of an answer to "screenFrames" (asked or sent), keeping the desk with them.
  std::map<std::uint32_t, Frame> framesOf(const std::optional<nlohmann::json>& answer);

  host::RemoteMac& mac_;
  std::map<std::uint32_t, Mapped> mapped_;
  std::optional<Desk> framesDesk_;
  /// The displays last sent: an answer leaves them out while they stay the same.
  std::vector<platform::ScreenDescription> screens_;
  std::mutex sentMutex_;
  std::optional<nlohmann::json> sent_;  // the newest frames sent, not yet taken
};

}  // namespace screen
