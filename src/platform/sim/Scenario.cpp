#include "platform/sim/Scenario.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <variant>
#include <vector>

#include "platform/Files.h"
#include "platform/Unicode.h"
#include "platform/sim/DeskScenario.h"
#include "platform/sim/ScenarioJson.h"
#include "platform/sim/World.h"

namespace sim {

using json = nlohmann::json;
using platform::LoginItemStatus;
using platform::PlistDictionary;
using platform::PlistValue;
using namespace scenario;

namespace {

std::optional<std::vector<std::uint8_t>> base64(const std::string& text) {
  std::vector<std::uint8_t> out;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else if (c == '=' || c == '\n' || c == ' ')
      continue;
    else
      return std::nullopt;
    buffer = (buffer << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>((buffer >> bits) & 0xFF));
    }
  }
  return out;
}

// How deep a preference value may nest below its domain. Real settings nest a handful of
// levels; the bound keeps a hostile file from running the reader (and the property-list
// code after it) out of stack, and each message's path short.
constexpr int kMaxPreferenceDepth = 64;

PlistValue plistValue(const json& j, const std::string& where, int depth = 0) {
  if (depth > kMaxPreferenceDepth && (j.is_array() || j.is_object()))
    fail(where, "nested more than " + std::to_string(kMaxPreferenceDepth) + " levels deep");
  switch (j.type()) {
    case json::value_t::boolean:
      return PlistValue(j.get<bool>());
    case json::value_t::number_integer:
      return PlistValue(j.get<long long>());
    case json::value_t::number_unsigned: {
      const auto u = j.get<unsigned long long>();
      if (u > static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
        fail(where, "integer too large for a preference");
      return PlistValue(static_cast<long long>(u));
    }
    case json::value_t::number_float:
      return PlistValue(j.get<double>());
    case json::value_t::string:
      return PlistValue(j.get<std::string>());
    case json::value_t::array: {
      platform::PlistArray items;
      for (std::size_t i = 0; i < j.size(); ++i)
        items.push_back(plistValue(j[i], where + "[" + std::to_string(i) + "]", depth + 1));
      return PlistValue(std::move(items));
    }
    case json::value_t::object: {
      if (j.size() == 1 && j.contains("$date")) {
        return PlistValue(platform::PlistDate{number(j["$date"], where + ".$date")});
      }
      if (j.size() == 1 && j.contains("$data")) {
        auto bytes = base64(string(j["$data"], where + ".$data"));
        if (!bytes) fail(where + ".$data", "expected base64 text");
        return PlistValue(std::move(*bytes));
      }
      PlistDictionary dict;
      for (const auto& [key, value] : j.items())
        dict[key] = plistValue(value, where + "[\"" + key + "\"]", depth + 1);
      return PlistValue(std::move(dict));
    }
    default:
      fail(where, "expected a preference value, found " + kindOf(j));
  }
}

World::Version osVersion(const json& j, const std::string& where) {
  World::Version v;
  if (j.is_number_integer() || j.is_number_unsigned()) {
    const long long major = j.is_number_unsigned() && j.get<unsigned long long>() > 1000 ? 0 : j.get<long long>();
    v.major = static_cast<int>(std::clamp(major, 0LL, 1000LL));
    v.minor = v.patch = 0;
  } else if (j.is_string()) {
    const std::string text = j.get<std::string>();
    std::vector<int> parts;
    std::size_t at = 0;
    for (;;) {
      const std::size_t end = std::min(text.find('.', at), text.size());
      const std::string piece = text.substr(at, end - at);
      if (piece.empty() || piece.size() > 4 || piece.find_first_not_of("0123456789") != std::string::npos ||
          parts.size() == 3)
        fail(where, "expected a version like \"15.3\" or \"15.3.1\"");
      parts.push_back(std::stoi(piece));
      if (end == text.size()) break;
      at = end + 1;
    }
    parts.resize(3, 0);
    v = {parts[0], parts[1], parts[2]};
  } else {
    fail(where, "expected a version like \"15.3\", found " + kindOf(j));
  }
  if (v.major < 10 || v.major > 99) fail(where, "expected a major version between 10 and 99");
  return v;
}

LoginItemStatus loginStatus(const json& j, const std::string& where) {
  const std::string text = j.is_string() ? j.get<std::string>() : "";
  if (text == "notRegistered") return LoginItemStatus::notRegistered;
  if (text == "enabled") return LoginItemStatus::enabled;
  if (text == "requiresApproval") return LoginItemStatus::requiresApproval;
  if (text == "notFound") return LoginItemStatus::notFound;
  fail(where, "expected \"notRegistered\", \"enabled\", \"requiresApproval\" or \"notFound\"");
}

// The largest display side, in points: twice today's widest screens, and small enough
// that its pictures (up to twice its points in pixels) stay within kMaxPictureSide.
constexpr int kMaxDisplaySide = platform::kMaxPictureSide / 2;

Display display(const json& j, const std::string& where) {
  expectObject(j, where);
  onlyFields(j, where,
             {"id", "name", "uuid", "frame", "visibleFrame", "safeAreaInsets", "scale", "desktopColor", "capturable",
              "hasDisplayNumber"});
  if (!j.contains("id")) fail(where, "missing \"id\"");
  if (!j.contains("frame")) fail(where, "missing \"frame\"");
  const json& id = j["id"];
  if (!id.is_number_integer() && !id.is_number_unsigned()) fail(where + ".id", "expected a display number");
  const long long displayNumber = id.get<long long>();
  if (displayNumber <= 0 || displayNumber > std::numeric_limits<std::uint32_t>::max())
    fail(where + ".id", "expected a display number from 1 to 4294967295");

  const CGRect frame = rect(j["frame"], where + ".frame");
  if (frame.width() > kMaxDisplaySide || frame.height() > kMaxDisplaySide)
    fail(where + ".frame", "a display is at most " + std::to_string(kMaxDisplaySide) + " points wide and high");
  const std::string name =
      j.contains("name") ? string(j["name"], where + ".name") : "Display " + std::to_string(displayNumber);
  double top = 0;
  NSEdgeInsets insets;
  if (j.contains("safeAreaInsets")) {
    const json& s = j["safeAreaInsets"];
    const std::string at = where + ".safeAreaInsets";
    expectObject(s, at);
    onlyFields(s, at, {"top", "left", "bottom", "right"});
    if (s.contains("top")) insets.top = number(s["top"], at + ".top");
    if (s.contains("left")) insets.left = number(s["left"], at + ".left");
    if (s.contains("bottom")) insets.bottom = number(s["bottom"], at + ".bottom");
    if (s.contains("right")) insets.right = number(s["right"], at + ".right");
    top = insets.top;
  }
  const double scale = j.contains("scale") ? number(j["scale"], where + ".scale") : 1;
  if (!(scale > 0 && scale <= 8)) fail(where + ".scale", "expected a scale above 0 and at most 8");
  if (frame.width() * scale > platform::kMaxPictureSide || frame.height() * scale > platform::kMaxPictureSide)
    fail(where + ".scale", "the display would be more than " + std::to_string(platform::kMaxPictureSide) +
                               " pixels wide or high");

  Display d = makeDisplay(static_cast<std::uint32_t>(displayNumber), frame, name, scale, top);
  d.screen.safeAreaInsets = insets;
  if (j.contains("uuid")) {
    d.screen.uuid = string(j["uuid"], where + ".uuid");
    if (d.screen.uuid.empty()) fail(where + ".uuid", "expected a non-empty string");
  }
  if (j.contains("visibleFrame")) {
    d.screen.visibleFrame = rect(j["visibleFrame"], where + ".visibleFrame");
    if (!frame.contains(d.screen.visibleFrame)) fail(where + ".visibleFrame", "must lie within the frame");
  }
  if (j.contains("desktopColor")) d.desktopColor = color(j["desktopColor"], where + ".desktopColor");
  if (j.contains("capturable")) d.capturable = boolean(j["capturable"], where + ".capturable");
  if (j.contains("hasDisplayNumber"))
    d.screen.hasDisplayNumber = boolean(j["hasDisplayNumber"], where + ".hasDisplayNumber");
  return d;
}

// Everything a scenario says, read in full before the world is touched.
struct Scenario {
  std::optional<World::Version> os;
  std::optional<bool> glassVariant;
  std::optional<std::vector<Display>> displays;
  std::optional<bool> screenCapture, accessibility, screenCaptureOnRequest, accessibilityOnPrompt;
  std::optional<LoginItemStatus> loginStatus;
  std::optional<bool> loginNeedsApproval;
  std::optional<std::optional<std::string>> registerError, unregisterError;
  std::vector<std::pair<std::string, PlistDictionary>> preferences;
  std::vector<std::pair<std::string, std::string>> missingSymbols;
};

std::optional<std::string> optionalString(const json& j, const std::string& where) {
  if (j.is_null()) return std::nullopt;
  return string(j, where);
}

Scenario read(const json& root) {
  Scenario s;
  expectObject(root, "the top level");
  onlyFields(root, "",
             {"osVersion", "glassVariant", "displays", "permissions", "loginItem", "preferences", "missingSymbols",
              "sharedSpaces", "followsSpace", "spaces", "apps", "frontmost", "frontmostRaisesWindow", "windows",
              "unmatchedDisplays"});
  // A scenario is the whole desk: one that forgot its screens would start on none.
  if (!root.contains("displays"))
    fail("", "no \"displays\": a scenario describes the whole desk (\"displays\": [] for one without screens)");

  if (root.contains("osVersion")) s.os = osVersion(root["osVersion"], "osVersion");
  if (root.contains("glassVariant")) s.glassVariant = boolean(root["glassVariant"], "glassVariant");

  if (root.contains("displays")) {
    const json& list = expectArray(root["displays"], "displays");
    std::vector<Display> displays;
    std::set<std::uint32_t> ids;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string where = "displays[" + std::to_string(i) + "]";
      Display d = display(list[i], where);
      if (!ids.insert(d.screen.displayID).second)
        fail(where + ".id", "display " + std::to_string(d.screen.displayID) + " is listed twice");
      if (i == 0 && (d.screen.frame.minX() != 0 || d.screen.frame.minY() != 0))
        fail(where + ".frame", "the first display holds the menu bar and must have its origin at 0, 0");
      for (std::size_t k = 0; k < displays.size(); ++k) {
        if (displays[k].screen.frame.intersects(d.screen.frame))
          fail(where + ".frame", "overlaps displays[" + std::to_string(k) + "]");
      }
      displays.push_back(std::move(d));
    }
    s.displays = std::move(displays);
  }

  if (root.contains("permissions")) {
    const json& p = root["permissions"];
    expectObject(p, "permissions");
    onlyFields(p, "permissions", {"screenCapture", "accessibility", "screenCaptureOnRequest", "accessibilityOnPrompt"});
    if (p.contains("screenCapture")) s.screenCapture = boolean(p["screenCapture"], "permissions.screenCapture");
    if (p.contains("accessibility")) s.accessibility = boolean(p["accessibility"], "permissions.accessibility");
    if (p.contains("screenCaptureOnRequest"))
      s.screenCaptureOnRequest = boolean(p["screenCaptureOnRequest"], "permissions.screenCaptureOnRequest");
    if (p.contains("accessibilityOnPrompt"))
      s.accessibilityOnPrompt = boolean(p["accessibilityOnPrompt"], "permissions.accessibilityOnPrompt");
  }

  if (root.contains("loginItem")) {
    const json& l = root["loginItem"];
    expectObject(l, "loginItem");
    onlyFields(l, "loginItem", {"status", "requiresApproval", "registerError", "unregisterError"});
    if (l.contains("status")) s.loginStatus = loginStatus(l["status"], "loginItem.status");
    if (l.contains("requiresApproval"))
      s.loginNeedsApproval = boolean(l["requiresApproval"], "loginItem.requiresApproval");
    if (l.contains("registerError")) s.registerError = optionalString(l["registerError"], "loginItem.registerError");
    if (l.contains("unregisterError"))
      s.unregisterError = optionalString(l["unregisterError"], "loginItem.unregisterError");
  }

  if (root.contains("preferences")) {
    const json& p = root["preferences"];
    expectObject(p, "preferences");
    for (const auto& [domain, values] : p.items()) {
      const std::string where = "preferences[\"" + domain + "\"]";
      if (domain.empty() || domain == "." || domain == ".." || domain.find('/') != std::string::npos)
        fail(where, "not a domain name");
      expectObject(values, where);
      // {"$date": …} and {"$data": …} are objects too, but no domain of settings.
      const PlistValue read = plistValue(values, where);
      if (!read.asDictionary()) fail(where, "expected the domain's settings as an object of keys, not a date or data");
      s.preferences.emplace_back(domain, *read.asDictionary());
    }
  }

  if (root.contains("missingSymbols")) {
    const json& list = expectArray(root["missingSymbols"], "missingSymbols");
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string where = "missingSymbols[" + std::to_string(i) + "]";
      expectObject(list[i], where);
      onlyFields(list[i], where, {"library", "symbol"});
      if (!list[i].contains("library") || !list[i].contains("symbol"))
        fail(where, "expected \"library\" and \"symbol\"");
      s.missingSymbols.emplace_back(string(list[i]["library"], where + ".library"),
                                    string(list[i]["symbol"], where + ".symbol"));
    }
  }
  return s;
}

std::optional<std::string> apply(World& world, const Scenario& s, const std::string& name) {
  // Files first: they are the only part that can fail, and the world stays as it was if they do.
  for (const auto& [domain, values] : s.preferences) {
    if (!world.writeForeignPreferences(domain, values))
      return name + ": preferences[\"" + domain + "\"]: cannot write " + world.preferencesFile(domain);
  }
  if (s.os) world.setOSVersion(*s.os);
  if (s.glassVariant) world.setGlassVariantAvailable(*s.glassVariant);
  if (s.displays) world.setDisplays(*s.displays);
  if (s.screenCapture) world.setScreenCaptureAllowed(*s.screenCapture);
  if (s.accessibility) world.setAccessibilityTrusted(*s.accessibility);
  if (s.screenCaptureOnRequest) world.setScreenCaptureGrantedOnRequest(*s.screenCaptureOnRequest);
  if (s.accessibilityOnPrompt) world.setAccessibilityGrantedOnPrompt(*s.accessibilityOnPrompt);
  if (s.loginStatus) world.setLoginItemStatus(*s.loginStatus);
  if (s.loginNeedsApproval) world.setLoginItemNeedsApproval(*s.loginNeedsApproval);
  if (s.registerError) world.failLoginItemRegister(*s.registerError);
  if (s.unregisterError) world.failLoginItemUnregister(*s.unregisterError);
  for (const auto& [library, symbol] : s.missingSymbols) world.removeSymbol(library, symbol);
  return std::nullopt;
}

// Turns the parser's message into "line L, column C: what went wrong; expected ...".
std::string parseMessage(const json::parse_error& e, const std::string& text) {
  std::size_t line = 1, column = 1;
  const std::size_t end = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  std::string what = e.what();
  if (auto at = what.find("column "); at != std::string::npos) {
    if (auto colon = what.find(": ", at); colon != std::string::npos) what = what.substr(colon + 2);
  } else if (auto bracket = what.find("] "); bracket != std::string::npos) {
    what = what.substr(bracket + 2);
  }
  // The parser quotes what it last read; the line and column say the same more plainly.
  if (auto last = what.find("; last read: "); last != std::string::npos) {
    const auto rest = what.find("'; ", last + 13);
    what.erase(last, rest == std::string::npos ? std::string::npos : rest + 1 - last);
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
}

}  // namespace

namespace {

std::optional<std::string> loadText(World& world, const std::string& text, const std::string& name) {
  json root;
  try {
    root = json::parse(text, nullptr, true, /*ignore_comments=*/true);
  } catch (const json::parse_error& e) {
    return name + ": " + parseMessage(e, text);
  } catch (const std::exception& e) {
    return name + ": " + e.what();
  }
  try {
    const Scenario scenario = read(root);
    const DeskScenario desk = readDeskScenario(root, world);
    if (auto problem = apply(world, scenario, name)) return problem;
    applyDeskScenario(world, desk);
    return std::nullopt;
  } catch (const Problem& p) {
    return name + ": " + (p.where.empty() ? "" : p.where + ": ") + p.what;
  } catch (const std::exception& e) {
    return name + ": " + e.what();
  }
}

// The file's text, read only when it is a regular file within the limit: a device, a
// FIFO or a huge file is refused before anything is read (or waited for).
std::variant<std::string, std::string> readFile(const std::string& path) {
  using Text = std::variant<std::string, std::string>;
  const auto problem = [&](const std::string& what) { return Text(std::in_place_index<1>, path + ": " + what); };
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return problem(std::string("cannot read the file (") + std::strerror(errno) + ")");
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return problem(std::string("cannot read the file (") + std::strerror(errno) + ")");
  if (!S_ISREG(info.st_mode)) return problem("not a regular file");
  const auto tooLarge = [&] {
    return problem("larger than the " + std::to_string(kMaxScenarioBytes / (1024 * 1024)) +
                   " MB a scenario may have");
  };
  if (static_cast<std::uint64_t>(info.st_size) > kMaxScenarioBytes) return tooLarge();
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return problem(std::string("cannot read the file (") + std::strerror(errno) + ")");
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxScenarioBytes) return tooLarge();  // it grew while being read
  }
  return Text(std::in_place_index<0>, std::move(text));
}

}  // namespace

std::optional<std::string> loadScenarioText(World& world, const std::string& text, const std::string& name) {
  // Names, keys and paths in the message come from outside: it stays one line.
  if (auto problem = loadText(world, text, name)) return platform::Unicode::oneLine(*problem);
  return std::nullopt;
}

std::optional<std::string> loadScenarioFile(World& world, const std::string& path) {
  auto text = readFile(path);
  if (text.index() == 1) return platform::Unicode::oneLine(std::get<1>(text));
  return loadScenarioText(world, std::get<0>(text), path);
}

const std::string& defaultScenarioText() {
  static const std::string text = withDefaultDesk(R"json({
  "osVersion": "15.3",
  "displays": [
    {
      "id": 1,
      "name": "Built-in Display",
      "uuid": "4C3A8F2E-91D0-4B7A-A6E2-0D5B3C1F7E21",
      "frame": [0, 0, 1512, 982],
      "visibleFrame": [0, 76, 1512, 869],
      "safeAreaInsets": {"top": 32},
      "scale": 2,
      "desktopColor": "#2E5C8A"
    },
    {
      "id": 3,
      "name": "Wide Monitor",
      "uuid": "9E1B47D3-2F6C-4A85-B0D9-6C2E8A4F1B73",
      "frame": [1512, 0, 2560, 1440],
      "visibleFrame": [1512, 0, 2560, 1415],
      "scale": 1,
      "desktopColor": "#A0522D"
    }
  ],
  "permissions": {"screenCapture": true, "accessibility": true},
  "loginItem": {"status": "notRegistered"},
  "preferences": {
    "com.apple.dock": {
      "orientation": "bottom", "tilesize": 48, "autohide": false,
      "wvous-br-corner": 14, "wvous-br-modifier": 0
    },
    "com.apple.AppleMultitouchTrackpad": {"TrackpadThreeFingerTapGesture": 0, "TrackpadThreeFingerDrag": false},
    "com.apple.driver.AppleBluetoothMultitouch.trackpad": {"TrackpadThreeFingerTapGesture": 0},
    "com.apple.universalaccess": {"closeViewTrackpadGestureZoomEnabled": false},
    ".GlobalPreferences": {"com.apple.swipescrolldirection": true, "AppleInterfaceStyle": "Dark"}
  }
}
)json");
  return text;
}

void applyDefaultScenario(World& world) {
  if (auto problem = loadScenarioText(world, defaultScenarioText(), "built-in scenario")) {
    // The text is part of the program; failing here means the parser and it disagree.
    std::fprintf(stderr, "%s\n", problem->c_str());
  }
}

}  // namespace sim
