#include "platform/screen/ScreenSource.h"

#include <algorithm>
#include <iostream>

#include "platform/host/Remote.h"
#include "platform/host/WireValues.h"

namespace screen {

std::optional<std::uint64_t> RemoteScreenSource::generation() {
  const auto answer = mac_.connection->call("screenGeneration");
  if (!answer || !answer->is_number_unsigned()) return std::nullopt;  // a lost host is reported by the connection
  return answer->get<std::uint64_t>();
}

std::vector<platform::ScreenDescription> RemoteScreenSource::screens() { return mac_.system->screens(); }

namespace {

/// One display's frame as the host answered it; nothing when it cannot be read.
std::optional<ScreenSource::Frame> readFrame(const nlohmann::json& answer) {
  ScreenSource::Frame frame;
  frame.sequence = answer.value("seq", std::uint64_t{0});
  frame.changing = answer.value("changing", false);
  CGImageRef image;
  if (answer.contains("image")) {
    host::wire::decode(answer.at("image"), image);
    if (!image) return std::nullopt;
    frame.whole = image->qimage();
    return frame;
  }
  for (const auto& piece : answer.at("pieces")) {
    host::wire::decode(piece.at("image"), image);
    if (!image) return std::nullopt;
    frame.pieces.emplace_back(QPoint(piece.at("x").get<int>(), piece.at("y").get<int>()), image->qimage());
  }
  return frame;
}

}  // namespace

std::map<std::uint32_t, ScreenSource::Frame> ScreenSource::frames(const std::vector<Request>& requests) {
  std::map<std::uint32_t, Frame> frames;
  for (const Request& r : requests)
    if (auto f = frame(r.id, r.width, r.height, r.since)) frames[r.id] = std::move(*f);
  return frames;
}

std::optional<ScreenSource::Frame> RemoteScreenSource::frame(std::uint32_t id, int width, int height,
                                                             std::uint64_t since) {
  auto frames = this->frames({Request{id, width, height, since}});
  if (auto it = frames.find(id); it != frames.end()) return std::move(it->second);
  return std::nullopt;
}

RemoteScreenSource::Mapped& RemoteScreenSource::mapped(const Request& asked) {
  Mapped& m = mapped_[asked.id];
  if (m.width != asked.width || m.height != asked.height) {
    m = Mapped{mac_.connection->callForSurface("screenSurface", {{"id", asked.id}, {"w", asked.width}, {"h", asked.height}}),
               asked.width, asked.height, 0};
  }
  return m;
}

std::map<std::uint32_t, ScreenSource::Frame> RemoteScreenSource::frames(const std::vector<Request>& requests) {
  nlohmann::json displays = nlohmann::json::array();
  std::erase_if(mapped_, [&](const auto& m) {
    return std::none_of(requests.begin(), requests.end(), [&](const Request& r) { return r.id == m.first; });
  });
  for (const Request& r : requests) {
    const bool shared = mapped(r).surface != nullptr;
    displays.push_back({{"id", r.id}, {"w", r.width}, {"h", r.height}, {"since", r.since}, {"shared", shared}});
  }
  return framesOf(mac_.connection->call("screenFrames", {{"displays", std::move(displays)}}));
}

std::map<std::uint32_t, ScreenSource::Frame> RemoteScreenSource::framesOf(const std::optional<nlohmann::json>& answer) {
  std::map<std::uint32_t, Frame> frames;
  framesDesk_.reset();
  if (!answer || !answer->is_object() || !answer->contains("frames") || !answer->at("frames").is_array())
    return frames;
  try {
    // Without the displays they are those that came last.
    const bool screens = answer->contains("screens");
    if (screens) screens_ = host::wire::read<std::vector<platform::ScreenDescription>>(answer->at("screens"));
    if (answer->contains("generation") && (screens || !screens_.empty()))
      framesDesk_ = Desk{answer->at("generation").get<std::uint64_t>(), screens_};
  } catch (const std::exception& e) {
    std::cerr << "simscreen: the desk that came with the frames could not be read: " << e.what() << std::endl;
  }
  for (const auto& item : answer->at("frames")) {
    std::uint32_t id = 0;
    try {
      id = item.at("id").get<std::uint32_t>();
      auto m = mapped_.find(id);
      if (item.contains("shared") && m != mapped_.end() && m->second.surface) {
        // The host writes the surface only to answer this screen or send it frames: its
        // newest frame is one of those, what changed since the one shown last.
        Frame& frame = frames[id];
        frame.sequence = item.value("seq", std::uint64_t{0});
        frame.changing = item.value("changing", false);
        frame.shared = m->second.surface;
        frame.sharedChange = m->second.surface->damageSince(m->second.seen);
        m->second.seen = m->second.surface->sequence();
      } else if (auto frame = readFrame(item)) {
        frames[id] = std::move(*frame);
      }
    } catch (const std::exception& e) {
      std::cerr << "simscreen: a frame of display " << id << " could not be read: " << e.what() << std::endl;
    }
  }
  return frames;
}

bool RemoteScreenSource::watch(std::function<void()> changed) {
  if (!changed) return mac_.windowServer->setScreenListener(nullptr);
  return mac_.windowServer->setScreenListener([this, changed = std::move(changed)](nlohmann::json frames) {
    {
      std::lock_guard lock(sentMutex_);
      if (frames.is_null()) {
        sent_.reset();  // what was sent before is behind the change told now
      } else {
        sent_ = std::move(frames);  // the newest wins
      }
    }
    changed();
  });
}

std::optional<std::map<std::uint32_t, ScreenSource::Frame>> RemoteScreenSource::sentFrames() {
  std::optional<nlohmann::json> sent;
  {
    std::lock_guard lock(sentMutex_);
    sent.swap(sent_);
  }
  if (!sent) return std::nullopt;
  return framesOf(sent);
}

void RemoteScreenSource::ready() { mac_.connection->tell("screenReady", nullptr, true); }

void RemoteScreenSource::post(const CGEvent& event) { mac_.windowServer->postEvent(kCGHIDEventTap, event); }

void RemoteScreenSource::doubleTap(int fingers) { mac_.connection->call("screenDoubleTap", fingers); }

}  // namespace screen
