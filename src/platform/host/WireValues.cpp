#include "platform/host/WireValues.h"

#include <QImage>
#include <cstring>

#include "platform/Geometry.h"

namespace host::wire {

namespace {

using platform::kMaxPictureSide;

json pair(double a, double b) { return json::array({a, b}); }

void pairOf(const json& j, double& a, double& b) {
  if (!j.is_array() || j.size() != 2) throw BadValue("expected two numbers");
  decode(j[0], a);
  decode(j[1], b);
}

const json& at(const json& j, const char* key) {
  if (!j.is_object()) throw BadValue("expected an object");
  auto it = j.find(key);
  if (it == j.end()) throw BadValue(std::string("missing field ") + key);
  return *it;
}

template <typename T>
void take(const json& j, const char* key, T& v) {
  decode(at(j, key), v);
}

}  // namespace

json encode(const CGPoint& v) { return pair(v.x, v.y); }
json encode(const CGSize& v) { return pair(v.width, v.height); }
json encode(const CGRect& v) { return json::array({v.origin.x, v.origin.y, v.size.width, v.size.height}); }
void decode(const json& j, CGPoint& v) { pairOf(j, v.x, v.y); }
void decode(const json& j, CGSize& v) { pairOf(j, v.width, v.height); }
void decode(const json& j, CGRect& v) {
  if (!j.is_array() || j.size() != 4) throw BadValue("expected a rectangle");
  decode(j[0], v.origin.x);
  decode(j[1], v.origin.y);
  decode(j[2], v.size.width);
  decode(j[3], v.size.height);
}

// Dictionaries and dates are wrapped so neither is taken for the other.
json encode(const platform::PlistValue& v) {
  using Type = platform::PlistValue::Type;
  switch (v.type()) {
    case Type::boolean:
      return *v.asBool();
    case Type::integer:
      return *v.asInteger();
    case Type::real:
      return *v.asDouble();
    case Type::string:
      return *v.asString();
    case Type::data:
      return json::binary(*v.asData());
    case Type::date:
      return json{{"T", v.asDate()->secondsSince1970}};
    case Type::array: {
      json a = json::array();
      for (const auto& item : *v.asArray()) a.push_back(encode(item));
      return a;
    }
    case Type::dictionary: {
      json d = json::object();
      for (const auto& [key, item] : *v.asDictionary()) d[key] = encode(item);
      return json{{"D", d}};
    }
  }
  return nullptr;
}

void decode(const json& j, platform::PlistValue& v) {
  if (j.is_boolean()) {
    v = j.get<bool>();
  } else if (j.is_number_integer()) {
    std::int64_t i = 0;
    decode(j, i);
    v = i;
  } else if (j.is_number_float()) {
    v = j.get<double>();
  } else if (j.is_string()) {
    v = j.get<std::string>();
  } else if (j.is_binary()) {
    v = platform::PlistData(j.get_binary().begin(), j.get_binary().end());
  } else if (j.is_array()) {
    platform::PlistArray a;
    for (const json& item : j) a.push_back(read<platform::PlistValue>(item));
    v = std::move(a);
  } else if (j.is_object() && j.size() == 1 && j.contains("T")) {
    v = platform::PlistDate{read<double>(j["T"])};
  } else if (j.is_object() && j.size() == 1 && j.contains("D") && j["D"].is_object()) {
    platform::PlistDictionary d;
    for (const auto& [key, item] : j["D"].items()) d.emplace(key, read<platform::PlistValue>(item));
    v = std::move(d);
  } else {
    throw BadValue("not a property-list value");
  }
}

json encode(const CGImageRef& v) {
  if (!v) return nullptr;
  const QImage image = v->qimage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  json::binary_t pixels;
  pixels.resize(static_cast<std::size_t>(image.width()) * image.height() * 4);
  for (int y = 0; y < image.height(); ++y) {
    std::memcpy(pixels.data() + static_cast<std::size_t>(y) * image.width() * 4, image.constScanLine(y),
                static_cast<std::size_t>(image.width()) * 4);
  }
  return json{{"w", image.width()}, {"h", image.height()}, {"px", json::binary(std::move(pixels))}};
}

void decode(const json& j, CGImageRef& v) {
  if (j.is_null()) {
    v = nullptr;
    return;
  }
  int width = 0, height = 0;
  take(j, "w", width);
  take(j, "h", height);
  const json& px = at(j, "px");
  if (width < 0 || height < 0 || width > kMaxPictureSide || height > kMaxPictureSide || !px.is_binary() ||
      px.get_binary().size() != static_cast<std::size_t>(width) * height * 4) {
    throw BadValue("a picture whose size does not match its pixels");
  }
  if (width == 0 || height == 0) {
    v = CGImage::empty();
    return;
  }
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < height; ++y) {
    std::memcpy(image.scanLine(y), px.get_binary().data() + static_cast<std::size_t>(y) * width * 4,
                static_cast<std::size_t>(width) * 4);
  }
  v = std::make_shared<const CGImage>(image);
}

json encode(const CGEvent& v) {
  json ints = json::array(), doubles = json::array(), records = json::array();
  for (const auto& [f, value] : v.integerFields) ints.push_back(json::array({f, value}));
  for (const auto& [f, value] : v.doubleFields) doubles.push_back(json::array({f, value}));
  for (const auto& r : v.extraRecords) records.push_back(json::array({r.kind, r.tag, json::binary(r.payload)}));
  json unicode = json::array();
  for (char16_t c : v.unicode) unicode.push_back(static_cast<std::uint16_t>(c));
  return json{{"type", v.type},     {"flags", v.flags}, {"at", encode(v.location)}, {"time", v.timestamp},
              {"ints", ints},       {"reals", doubles}, {"text", unicode},          {"records", records}};
}

void decode(const json& j, CGEvent& v) {
  v = CGEvent{};
  take(j, "type", v.type);
  take(j, "flags", v.flags);
  take(j, "at", v.location);
  take(j, "time", v.timestamp);
  for (const json& f : at(j, "ints")) {
    if (!f.is_array() || f.size() != 2) throw BadValue("a bad integer field");
    v.integerFields[read<CGEventField>(f[0])] = read<std::int64_t>(f[1]);
  }
  for (const json& f : at(j, "reals")) {
    if (!f.is_array() || f.size() != 2) throw BadValue("a bad real field");
    v.doubleFields[read<CGEventField>(f[0])] = read<double>(f[1]);
  }
  const json& text = at(j, "text");
  if (!text.is_array() || text.size() > 20) throw BadValue("a bad event text");
  for (const json& c : text) v.unicode.push_back(static_cast<char16_t>(read<std::uint16_t>(c)));
  for (const json& r : at(j, "records")) {
    if (!r.is_array() || r.size() != 3 || !r[2].is_binary()) throw BadValue("a bad event record");
    CGEventRecord record;
    decode(r[0], record.kind);
    decode(r[1], record.tag);
    record.payload.assign(r[2].get_binary().begin(), r[2].get_binary().end());
    v.extraRecords.push_back(std::move(record));
  }
}

json encode(const AXElementID& v) { return json::array({v.pid, v.element}); }
void decode(const json& j, AXElementID& v) {
  if (!j.is_array() || j.size() != 2) throw BadValue("expected an element");
  decode(j[0], v.pid);
  decode(j[1], v.element);
}

json encode(const AXValue& v) {
  using Type = AXValue::Type;
  switch (v.type()) {
    case Type::null:
      return nullptr;
    case Type::boolean:
      return *v.asBool();
    case Type::integer:
      return *v.asInteger();
    case Type::real:
      return *v.asDouble();
    case Type::string:
      return *v.asString();
    case Type::point:
      return json{{"p", encode(*v.asPoint())}};
    case Type::size:
      return json{{"s", encode(*v.asSize())}};
    case Type::rect:
      return json{{"r", encode(*v.asRect())}};
    case Type::element:
      return json{{"e", encode(*v.asElementID())}};
    case Type::array: {
      json a = json::array();
      for (const AXValue& item : *v.asArray()) a.push_back(encode(item));
      return a;
    }
  }
  return nullptr;
}

void decode(const json& j, AXValue& v) {
  if (j.is_null()) {
    v = AXValue();
  } else if (j.is_boolean()) {
    v = AXValue(j.get<bool>());
  } else if (j.is_number_integer()) {
    v = AXValue(read<std::int64_t>(j));
  } else if (j.is_number_float()) {
    v = AXValue(j.get<double>());
  } else if (j.is_string()) {
    v = AXValue(j.get<std::string>());
  } else if (j.is_array()) {
    std::vector<AXValue> items;
    for (const json& item : j) items.push_back(read<AXValue>(item));
    v = AXValue(std::move(items));
  } else if (j.is_object() && j.size() == 1) {
    const std::string& key = j.begin().key();
    const json& item = j.begin().value();
    if (key == "p") {
      v = AXValue(read<CGPoint>(item));
    } else if (key == "s") {
      v = AXValue(read<CGSize>(item));
    } else if (key == "r") {
      v = AXValue(read<CGRect>(item));
    } else if (key == "e") {
      v = AXValue(read<AXElementID>(item));
    } else {
      throw BadValue("not an attribute value");
    }
  } else {
    throw BadValue("not an attribute value");
  }
}

json encode(const platform::ScreenDescription& v) {
  return json{{"id", v.displayID},
              {"uuid", v.uuid},
              {"name", v.localizedName},
              {"frame", encode(v.frame)},
              {"visible", encode(v.visibleFrame)},
              {"insets", json::array({v.safeAreaInsets.top, v.safeAreaInsets.left, v.safeAreaInsets.bottom,
                                      v.safeAreaInsets.right})},
              {"scale", v.backingScaleFactor},
              {"numbered", v.hasDisplayNumber}};
}

void decode(const json& j, platform::ScreenDescription& v) {
  take(j, "id", v.displayID);
  take(j, "uuid", v.uuid);
  take(j, "name", v.localizedName);
  take(j, "frame", v.frame);
  take(j, "visible", v.visibleFrame);
  const json& insets = at(j, "insets");
  if (!insets.is_array() || insets.size() != 4) throw BadValue("bad insets");
  decode(insets[0], v.safeAreaInsets.top);
  decode(insets[1], v.safeAreaInsets.left);
  decode(insets[2], v.safeAreaInsets.bottom);
  decode(insets[3], v.safeAreaInsets.right);
  take(j, "scale", v.backingScaleFactor);
  take(j, "numbered", v.hasDisplayNumber);
}

json encode(const platform::WindowEntry& v) {
  return json{{"n", v.number},        {"pid", v.ownerPID},
              {"owner", encode(v.ownerName)}, {"name", encode(v.name)},
              {"layer", v.layer},     {"bounds", encode(v.bounds)},
              {"alpha", v.alpha},     {"on", v.onScreen},
              {"desk", v.desktopElement}, {"sharing", v.sharingState},
              {"store", v.storeType}, {"memory", v.memoryUsage}};
}

void decode(const json& j, platform::WindowEntry& v) {
  take(j, "n", v.number);
  take(j, "pid", v.ownerPID);
  take(j, "owner", v.ownerName);
  take(j, "name", v.name);
  take(j, "layer", v.layer);
  take(j, "bounds", v.bounds);
  take(j, "alpha", v.alpha);
  take(j, "on", v.onScreen);
  take(j, "desk", v.desktopElement);
  take(j, "sharing", v.sharingState);
  take(j, "store", v.storeType);
  take(j, "memory", v.memoryUsage);
}

json encode(const platform::RunningApplicationInfo& v) {
  return json{{"pid", v.pid},
              {"name", encode(v.localizedName)},
              {"bundle", encode(v.bundleIdentifier)},
              {"url", encode(v.bundleURL)},
              {"icon", encode(v.icon)},
              {"policy", static_cast<int>(v.activationPolicy)},
              {"launched", encode(v.launchDate)},
              {"hidden", v.hidden},
              {"active", v.active},
              {"terminated", v.terminated},
              {"finished", v.finishedLaunching}};
}

void decode(const json& j, platform::RunningApplicationInfo& v) {
  take(j, "pid", v.pid);
  take(j, "name", v.localizedName);
  take(j, "bundle", v.bundleIdentifier);
  take(j, "url", v.bundleURL);
  take(j, "icon", v.icon);
  int policy = 0;
  take(j, "policy", policy);
  if (policy < 0 || policy > 2) throw BadValue("bad activation policy");
  v.activationPolicy = static_cast<platform::ActivationPolicy>(policy);
  take(j, "launched", v.launchDate);
  take(j, "hidden", v.hidden);
  take(j, "active", v.active);
  take(j, "terminated", v.terminated);
  take(j, "finished", v.finishedLaunching);
}

json encode(const platform::WorkspaceEvent& v) { return json{{"kind", static_cast<int>(v.kind)}, {"pid", v.pid}}; }
void decode(const json& j, platform::WorkspaceEvent& v) {
  int kind = 0;
  take(j, "kind", kind);
  if (kind < 0 || kind > static_cast<int>(platform::WorkspaceEvent::Kind::didWake)) throw BadValue("bad event kind");
  v.kind = static_cast<platform::WorkspaceEvent::Kind>(kind);
  take(j, "pid", v.pid);
}

json encode(const platform::OwnWindowState& v) {
  return json{{"frame", encode(v.frame)},
              {"level", v.level},
              {"alpha", v.alpha},
              {"style", v.styleMask},
              {"behavior", v.collectionBehavior},
              {"title", v.title},
              {"opaque", v.opaque},
              {"glass", static_cast<int>(v.glass)},
              {"shadow", v.hasShadow},
              {"ignores", v.ignoresMouseEvents},
              {"mini", v.miniaturized}};
}

void decode(const json& j, platform::OwnWindowState& v) {
  take(j, "frame", v.frame);
  take(j, "level", v.level);
  take(j, "alpha", v.alpha);
  take(j, "style", v.styleMask);
  take(j, "behavior", v.collectionBehavior);
  take(j, "title", v.title);
  take(j, "opaque", v.opaque);
  int glass = static_cast<int>(v.glass);
  take(j, "glass", glass);
  v.glass = glass == static_cast<int>(platform::GlassStyle::clear) ? platform::GlassStyle::clear
                                                                   : platform::GlassStyle::regular;
  take(j, "shadow", v.hasShadow);
  take(j, "ignores", v.ignoresMouseEvents);
  take(j, "mini", v.miniaturized);
}

json encode(const platform::OwnWindowStatus& v) {
  return json{{"in", v.orderedIn},     {"active", v.onActiveSpace}, {"visible", v.occlusionVisible},
              {"mini", v.miniaturized}, {"full", v.fullScreen},     {"frame", encode(v.frame)}};
}

void decode(const json& j, platform::OwnWindowStatus& v) {
  take(j, "in", v.orderedIn);
  take(j, "active", v.onActiveSpace);
  take(j, "visible", v.occlusionVisible);
  take(j, "mini", v.miniaturized);
  take(j, "full", v.fullScreen);
  take(j, "frame", v.frame);
}

json encode(const platform::EventTapRequest& v) {
  return json{{"location", v.location}, {"placement", v.placement}, {"listen", v.listenOnly}, {"mask", v.mask}};
}

void decode(const json& j, platform::EventTapRequest& v) {
  take(j, "location", v.location);
  take(j, "placement", v.placement);
  take(j, "listen", v.listenOnly);
  take(j, "mask", v.mask);
}

json encode(const platform::ShareableWindow& v) {
  return json{{"id", v.windowID},       {"frame", encode(v.frame)}, {"title", encode(v.title)},
              {"pid", v.ownerPID},      {"layer", v.layer},         {"on", v.onScreen}};
}

void decode(const json& j, platform::ShareableWindow& v) {
  take(j, "id", v.windowID);
  take(j, "frame", v.frame);
  take(j, "title", v.title);
  take(j, "pid", v.ownerPID);
  take(j, "layer", v.layer);
  take(j, "on", v.onScreen);
}

json encode(const platform::AppleEvent& v) {
  json attributes = json::array();
  for (const auto& [key, value] : v.attributes) attributes.push_back(json::array({key, encode(value)}));
  return json{{"class", v.eventClass}, {"id", v.eventID}, {"attributes", attributes}};
}

void decode(const json& j, platform::AppleEvent& v) {
  take(j, "class", v.eventClass);
  take(j, "id", v.eventID);
  v.attributes.clear();
  for (const json& a : at(j, "attributes")) {
    if (!a.is_array() || a.size() != 2) throw BadValue("a bad attribute");
    v.attributes[read<std::uint32_t>(a[0])] = read<platform::PlistValue>(a[1]);
  }
}

json encode(const platform::PlistDictionary& v) { return encode(platform::PlistValue(v)); }
void decode(const json& j, platform::PlistDictionary& v) {
  const auto value = read<platform::PlistValue>(j);
  if (!value.asDictionary()) throw BadValue("expected a dictionary");
  v = *value.asDictionary();
}

json encode(const platform::SystemPort::ShareableDisplay& v) { return json::array({v.displayID, v.width, v.height}); }
void decode(const json& j, platform::SystemPort::ShareableDisplay& v) {
  if (!j.is_array() || j.size() != 3) throw BadValue("a display is [id, width, height]");
  decode(j[0], v.displayID);
  decode(j[1], v.width);
  decode(j[2], v.height);
}

json encode(const platform::OperatingSystemVersion& v) {
  return json::array({v.majorVersion, v.minorVersion, v.patchVersion});
}
void decode(const json& j, platform::OperatingSystemVersion& v) {
  if (!j.is_array() || j.size() != 3) throw BadValue("a version is [major, minor, patch]");
  decode(j[0], v.majorVersion);
  decode(j[1], v.minorVersion);
  decode(j[2], v.patchVersion);
}

}  // namespace host::wire
