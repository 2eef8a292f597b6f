// What the host shows the screen: every display's frame in one answer, each as the parts
// that changed since the frame the screen holds, or whole. Large pixels go beside the
// answer in shared memory (see PictureMemory), so no change is too large for a message.

#include <QImage>

#include "platform/Geometry.h"
#include "platform/host/Host.h"
#include "platform/host/WireValues.h"
#include "platform/sim/WindowServer.h"

namespace host {

using nlohmann::json;
using wire::field;

namespace {

// More displays than any desk has: a longer list is refused, not composed.
constexpr std::size_t kMaxDisplaysAsked = 64;

json picture(const QImage& image) { return wire::encode(std::make_shared<const CGImage>(image)); }

/// The answer for one display: its frame whole, or each part that changed and where it lies.
json frameAnswer(std::uint32_t id, const QImage& frame, const sim::WindowServer::DisplayFrame& change) {
  json answer{{"id", id}, {"seq", change.sequence}, {"changing", change.changing}};
  if (!change.damage) {
    answer["image"] = picture(frame);
    return answer;
  }
  json pieces = json::array();
  for (const CGRect& r : *change.damage) {
    const QRect part(static_cast<int>(r.minX()), static_cast<int>(r.minY()), static_cast<int>(r.width()),
                     static_cast<int>(r.height()));
    pieces.push_back(json{{"x", part.x()}, {"y", part.y()}, {"image", picture(frame.copy(part))}});
  }
  answer["pieces"] = std::move(pieces);
  return answer;
}

}  // namespace

json Host::screenFrames(const json& v) {
  const json* displays = v.is_object() && v.contains("displays") ? &v.at("displays") : nullptr;
  if (!displays || !displays->is_array() || displays->size() > kMaxDisplaysAsked)
    throw wire::BadValue("displays is not a list of displays");
  json frames = json::array();
  for (const json& asked : *displays) {
    const std::uint32_t id = field<std::uint32_t>(asked, "id");
    const int w = field<int>(asked, "w"), h = field<int>(asked, "h");
    if (w <= 0 || h <= 0 || w > platform::kMaxPictureSide || h > platform::kMaxPictureSide) continue;
    server_.composeDisplayFrame(id, w, h, asked.value("since", std::uint64_t{0}),
                                [&](const QImage& frame, const sim::WindowServer::DisplayFrame& change) {
                                  frames.push_back(frameAnswer(id, frame, change));
                                });
  }
  return json{{"frames", std::move(frames)}};
}

}  // namespace host
