#include "platform/screen/ScreenSource.h"

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

std::optional<ScreenSource::Frame> RemoteScreenSource::frame(std::uint32_t id, int width, int height,
                                                             std::uint64_t since) {
  const auto answer =
      mac_.connection->call("screenFrame", {{"id", id}, {"w", width}, {"h", height}, {"since", since}});
  if (!answer || !answer->is_object()) return std::nullopt;
  try {
    Frame frame;
    frame.sequence = answer->value("seq", std::uint64_t{0});
    frame.changing = answer->value("changing", false);
    CGImageRef image;
    if (answer->contains("image")) {
      host::wire::decode(answer->at("image"), image);
      if (!image) return std::nullopt;
      frame.whole = image->qimage();
      return frame;
    }
    for (const auto& piece : answer->at("pieces")) {
      host::wire::decode(piece.at("image"), image);
      if (!image) return std::nullopt;
      frame.pieces.emplace_back(QPoint(piece.at("x").get<int>(), piece.at("y").get<int>()), image->qimage());
    }
    return frame;
  } catch (const std::exception& e) {
    std::cerr << "simscreen: a frame of display " << id << " could not be read: " << e.what() << std::endl;
    return std::nullopt;
  }
}

void RemoteScreenSource::post(const CGEvent& event) { mac_.windowServer->postEvent(kCGHIDEventTap, event); }

void RemoteScreenSource::doubleTap(int fingers) { mac_.connection->call("screenDoubleTap", fingers); }

}  // namespace screen
