// What the host shows the screen: every display's frame in one answer. A display whose
// surface the screen maps (see ScreenSurfaces) is brought up to date there, copying only
// what changed; any other goes in the answer as the parts that changed since the frame
// the screen holds, or whole, its large pixels beside the answer in shared memory (see
// PictureMemory), so no change is too large for a message.

#include <fcntl.h>

#include <QImage>
#include <QRegion>
#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "platform/host/Host.h"
#include "platform/host/HostClient.h"
#include "platform/host/ScreenSurfaces.h"
#include "platform/host/WireValues.h"
#include "platform/sim/WindowServer.h"
#include "platform/sim/World.h"

namespace host {

using nlohmann::json;
using wire::field;

namespace {

// More displays than any desk has: a longer list is refused, not composed.
constexpr std::size_t kMaxDisplaysAsked = 64;

json picture(const QImage& image) { return wire::encode(std::make_shared<const CGImage>(image)); }

/// A changed part of a frame in the frame's pixels (the composer reports whole pixels).
QRect pixels(const CGRect& r) {
  return QRect(static_cast<int>(r.minX()), static_cast<int>(r.minY()), static_cast<int>(r.width()),
               static_cast<int>(r.height()));
}

/// The answer for one display: its frame whole, or each part that changed and where it lies.
json frameAnswer(std::uint32_t id, const QImage& frame, const sim::WindowServer::DisplayFrame& change) {
  json answer{{"id", id}, {"seq", change.sequence}, {"changing", change.changing}};
  if (!change.damage) {
    answer["image"] = picture(frame);
    return answer;
  }
  json pieces = json::array();
  for (const CGRect& r : *change.damage) {
    const QRect part = pixels(r);
    pieces.push_back(json{{"x", part.x()}, {"y", part.y()}, {"image", picture(frame.copy(part))}});
  }
  answer["pieces"] = std::move(pieces);
  return answer;
}

/// Brings `kept` up to `frame` by what changed since the frame it holds; the answer for the
/// display then, or nothing when the screen holds every other buffer (it asks again).
std::optional<json> sharedAnswer(std::uint32_t id, const QImage& frame, const sim::WindowServer::DisplayFrame& change,
                                 ScreenSurfaces::Kept& kept) {
  QRegion damage;  // empty: the whole frame
  if (change.damage) {
    for (const CGRect& r : *change.damage) damage += pixels(r);
  }
  if (!change.damage || !damage.isEmpty()) {
    if (!kept.surface->publish(platform::premultipliedPixels(frame, frame.rect()), damage)) return std::nullopt;
  }
  kept.composed = change.sequence;
  kept.inputs = change.inputs;
  return json{{"id", id}, {"seq", change.sequence}, {"changing", change.changing}, {"shared", kept.surface->sequence()}};
}

/// The display and size `v` asks about; throws BadValue when malformed. False for a size out of bounds.
bool askedSize(const json& v, std::uint32_t& id, int& w, int& h) {
  id = field<std::uint32_t>(v, "id");
  w = field<int>(v, "w"), h = field<int>(v, "h");
  return w > 0 && h > 0 && w <= platform::kMaxPictureSide && h <= platform::kMaxPictureSide;
}

// Every frame of one ask is composed and held at once, so the ask as a whole is bounded
// like one picture, not each frame alone.
constexpr std::uint64_t kMaxPixelsAsked = std::uint64_t{platform::kMaxPictureSide} * platform::kMaxPictureSide;

struct AskedFrame {
  std::uint32_t id = 0;
  int w = 0, h = 0;
  const json* ask = nullptr;
};

/// The frames worth composing: sized within a picture's bounds, each display once (the
/// first ask counts), their pixels together within kMaxPixelsAsked; BadValue beyond that.
std::vector<AskedFrame> framesAsked(const json& displays) {
  std::vector<AskedFrame> asked;
  std::set<std::uint32_t> seen;
  std::uint64_t total = 0;
  for (const json& a : displays) {
    AskedFrame f{.ask = &a};
    if (!askedSize(a, f.id, f.w, f.h) || !seen.insert(f.id).second) continue;
    total += std::uint64_t(f.w) * std::uint64_t(f.h);
    if (total > kMaxPixelsAsked) throw wire::BadValue("displays ask for more pixels than one answer holds");
    asked.push_back(f);
  }
  return asked;
}

}  // namespace

json Host::screenSurface(const json& v, ScreenSurfaces& surfaces, std::shared_ptr<wire::Descriptor>& memory) {
  std::uint32_t id = 0;
  int w = 0, h = 0;
  const bool fits = askedSize(v, id, w, h);
  std::lock_guard lock(surfaces.mutex);
  surfaces.byDisplay.erase(id);  // a new size: the old surface is let go of whatever comes
  if (!fits || !world_.display(id)) return nullptr;
  if (static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4 > ScreenSurfaces::kMaxFrameBytes) return nullptr;
  auto surface = platform::SharedSurface::create(w, h);
  if (!surface) return nullptr;
  const int copy = ::fcntl(surface->descriptor(), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return nullptr;
  memory = std::make_shared<wire::Descriptor>(copy);
  surfaces.byDisplay[id] = ScreenSurfaces::Kept{std::move(surface), 0};
  return true;
}

std::optional<json> Host::screenFrames(const json& v, ScreenSurfaces& surfaces, bool sharedOnly) {
  const json* displays = v.is_object() && v.contains("displays") ? &v.at("displays") : nullptr;
  if (!displays || !displays->is_array() || displays->size() > kMaxDisplaysAsked)
    throw wire::BadValue("displays is not a list of displays");
  const std::vector<AskedFrame> asked = framesAsked(*displays);
  json frames = json::array();
  // Read before composing: a change made meanwhile leaves them behind the frames, never ahead.
  const std::uint64_t generation = server_.generation();
  json answer{{"generation", generation}, {"screens", wire::encode(world_.screens())}};
  std::uint64_t evicted = 0;  // by this ask alone, whoever else asks meanwhile
  {
    std::lock_guard lock(surfaces.mutex);
    if (sharedOnly && !std::all_of(asked.begin(), asked.end(), [&](const AskedFrame& f) {
          return f.ask->value("shared", false) && surfaces.find(f.id, f.w, f.h);
        }))
      return std::nullopt;
    // A display the screen no longer asks for in shared memory, or at another size, it no
    // longer maps: its surface goes, not only when the screen asks for one anew.
    std::erase_if(surfaces.byDisplay, [&](const auto& entry) {
      const auto& [id, kept] = entry;
      return std::none_of(asked.begin(), asked.end(), [&](const AskedFrame& f) {
        return f.id == id && f.ask->value("shared", false) && f.w == kept.surface->width() &&
               f.h == kept.surface->height();
      });
    });
    // One request for the whole ask: past the composer's budget it keeps these frames first.
    const std::uint64_t request = server_.newFrameRequest();
    for (const auto& [id, w, h, ask] : asked) {
      ScreenSurfaces::Kept* kept = ask->value("shared", false) ? surfaces.find(id, w, h) : nullptr;
      bool composed = false;
      const bool shown = server_.composeDisplayFrame(
          id, w, h, kept ? kept->composed : ask->value("since", std::uint64_t{0}),
          [&](const QImage& frame, const sim::WindowServer::DisplayFrame& change) {
            composed = true;
            if (!kept) {
              frames.push_back(frameAnswer(id, frame, change));
            } else if (auto answer = sharedAnswer(id, frame, change, *kept)) {
              frames.push_back(std::move(*answer));
            }
          },
          request, &evicted, kept && kept->composed != 0 ? kept->inputs.get() : nullptr);
      // Nothing on the display changed since the frame the screen holds: that frame stands.
      if (shown && !composed && kept)
        frames.push_back(json{{"id", id}, {"seq", kept->composed}, {"changing", false},
                              {"shared", kept->surface->sequence()}});
    }
  }
  if (evicted > 0)
    log_.write(framesEvicted_, "the display composer",
               "let go of " + std::to_string(evicted) + " kept display frame(s) for want of room (" +
                   std::to_string(server_.displayFramesEvicted()) +
                   " so far, for every screen): each is composed whole when asked again");
  answer["frames"] = std::move(frames);
  return answer;
}

void Host::pushScreenFrames(const std::shared_ptr<Client>& client) {
  std::shared_ptr<const json> ask;
  {
    std::lock_guard lock(client->mutex);
    ask = client->screenAsk;
  }
  std::optional<json> frames;
  try {
    if (ask) frames = screenFrames(*ask, client->screenSurfaces, true);
  } catch (const std::exception&) {
    // An ask the screen's own request was refused for: it is told, and asks anew.
  }
  if (!frames) {
    client->push("screenChanged", nullptr);
    return;
  }
  client->keepScreensSent(*frames);
  // A screen that stopped reading is not pushed to again until it says it showed this: the
  // push never waits, and never piles up.
  client->push("screenFrames", std::move(*frames));
}

}  // namespace host
