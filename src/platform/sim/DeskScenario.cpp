#include "platform/sim/DeskScenario.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/Clock.h"
#include "platform/sim/AccessibilityServer.h"
#include "platform/sim/ScenarioJson.h"
#include "platform/sim/World.h"

namespace sim {

using json = nlohmann::json;
using namespace scenario;

namespace {

std::int64_t integer(const json& j, const std::string& where, std::int64_t min, std::int64_t max) {
  if (!j.is_number_integer() && !j.is_number_unsigned()) fail(where, "expected a whole number, found " + kindOf(j));
  if (j.is_number_unsigned() && j.get<std::uint64_t>() > static_cast<std::uint64_t>(max))
    fail(where, "expected a number from " + std::to_string(min) + " to " + std::to_string(max));
  const std::int64_t v = j.get<std::int64_t>();
  if (v < min || v > max) fail(where, "expected a number from " + std::to_string(min) + " to " + std::to_string(max));
  return v;
}

template <typename T>
T choice(const json& j, const std::string& where, std::initializer_list<std::pair<const char*, T>> options) {
  const std::string text = j.is_string() ? j.get<std::string>() : "";
  std::string names;
  for (const auto& [name, value] : options) {
    if (text == name) return value;
    names += std::string(names.empty() ? "" : ", ") + "\"" + name + "\"";
  }
  fail(where, "expected one of " + names);
}

std::int32_t spaceType(const json& j, const std::string& where) {
  if (j.is_number()) return static_cast<std::int32_t>(integer(j, where, 0, 255));
  return choice<std::int32_t>(j, where, {{"desktop", kSpaceTypeDesktop}, {"fullScreen", kSpaceTypeFullScreen}});
}

AXError accessibilityError(const json& j, const std::string& where) {
  return choice<AXError>(j, where,
                         {{"failure", kAXErrorFailure},
                          {"illegalArgument", kAXErrorIllegalArgument},
                          {"invalidUIElement", kAXErrorInvalidUIElement},
                          {"cannotComplete", kAXErrorCannotComplete},
                          {"attributeUnsupported", kAXErrorAttributeUnsupported},
                          {"actionUnsupported", kAXErrorActionUnsupported},
                          {"notImplemented", kAXErrorNotImplemented},
                          {"apiDisabled", kAXErrorAPIDisabled},
                          {"noValue", kAXErrorNoValue}});
}

App readApp(const json& j, const std::string& where, bool& running, bool& own, DeskScenario::AppFacts& facts) {
  expectObject(j, where);
  onlyFields(j, where,
             {"pid", "name", "bundleIdentifier", "bundlePath", "policy", "launchedAgo", "hidden", "iconColor", "quit",
              "quitDelay", "opensFirstWindow", "firstWindowDisplay", "hung", "launchServicesPID", "running", "own",
              "terminated", "focusedWindow", "accessibilityErrors"});
  App a;
  own = j.contains("own") && boolean(j["own"], where + ".own");
  running = !j.contains("running") || boolean(j["running"], where + ".running");
  if (j.contains("pid")) a.pid = static_cast<std::int32_t>(integer(j["pid"], where + ".pid", 1, 99999));
  if (!own && running && !j.contains("pid")) fail(where, "expected a \"pid\"");
  if (j.contains("name")) a.name = string(j["name"], where + ".name");
  if (j.contains("bundleIdentifier")) a.bundleIdentifier = string(j["bundleIdentifier"], where + ".bundleIdentifier");
  if (j.contains("bundlePath")) a.bundlePath = string(j["bundlePath"], where + ".bundlePath");
  if (!running && !a.bundlePath) fail(where, "an app that is not running needs a \"bundlePath\" to be opened by");
  if (j.contains("policy"))
    a.policy = choice<platform::ActivationPolicy>(j["policy"], where + ".policy",
                                                  {{"regular", platform::ActivationPolicy::regular},
                                                   {"accessory", platform::ActivationPolicy::accessory},
                                                   {"prohibited", platform::ActivationPolicy::prohibited}});
  if (j.contains("launchedAgo") && j["launchedAgo"].is_null()) {
    facts.noLaunchDate = true;
  } else if (j.contains("launchedAgo")) {
    const double ago = number(j["launchedAgo"], where + ".launchedAgo");
    if (ago < 0) fail(where + ".launchedAgo", "expected a number of seconds, 0 or more");
    a.launchDate = -ago;  // made absolute when applied
  }
  if (j.contains("hidden")) a.hidden = boolean(j["hidden"], where + ".hidden");
  if (j.contains("iconColor")) a.iconColor = color(j["iconColor"], where + ".iconColor");
  if (j.contains("quit"))
    a.quitBehavior = choice<QuitBehavior>(
        j["quit"], where + ".quit",
        {{"quits", QuitBehavior::quits}, {"refuses", QuitBehavior::refuses}, {"ignores", QuitBehavior::ignores}});
  if (j.contains("quitDelay")) {
    a.quitDelay = number(j["quitDelay"], where + ".quitDelay");
    if (a.quitDelay < 0) fail(where + ".quitDelay", "expected a number of seconds, 0 or more");
  }
  if (j.contains("opensFirstWindow")) a.opensFirstWindow = boolean(j["opensFirstWindow"], where + ".opensFirstWindow");
  if (j.contains("firstWindowDisplay"))
    a.firstWindowDisplay =
        static_cast<std::uint32_t>(integer(j["firstWindowDisplay"], where + ".firstWindowDisplay", 1, 0xFFFFFFFF));
  if (j.contains("hung")) a.accessibilityHung = boolean(j["hung"], where + ".hung");
  if (j.contains("launchServicesPID"))
    a.launchServicesPID = boolean(j["launchServicesPID"], where + ".launchServicesPID");
  if (j.contains("terminated")) facts.terminated = boolean(j["terminated"], where + ".terminated");
  if (facts.terminated && (!running || own))
    fail(where + ".terminated", "only a running app other than the program can have ended");
  if (j.contains("focusedWindow"))
    facts.focusedWindow =
        static_cast<std::uint32_t>(integer(j["focusedWindow"], where + ".focusedWindow", 1, 0xFFFFFF));
  if (j.contains("accessibilityErrors")) {
    const json& errors = j["accessibilityErrors"];
    const std::string at = where + ".accessibilityErrors";
    expectObject(errors, at);
    for (const auto& [name, error] : errors.items()) {
      if (name.empty()) fail(at, "expected attribute, action or function names as keys");
      facts.accessibilityErrors.emplace_back(name, accessibilityError(error, at + "[\"" + name + "\"]"));
    }
  }
  if ((facts.focusedWindow || !facts.accessibilityErrors.empty() || facts.noLaunchDate) && !running)
    fail(where, "an app that is not running has no windows, answers nothing and has no launch date");
  return a;
}

Window readWindow(const json& j, const std::string& where) {
  expectObject(j, where);
  onlyFields(j, where,
             {"number", "app", "title", "frame", "layer", "alpha", "subrole", "spaces", "minimized", "orderedIn",
              "fullScreen", "color", "accessible", "sharingState", "emptyName", "accessibilityTitle", "listed",
              "glyph", "clear"});
  Window w;
  if (!j.contains("app")) fail(where, "expected an \"app\" (the owner's pid)");
  if (!j.contains("frame")) fail(where, "expected a \"frame\"");
  w.pid = static_cast<std::int32_t>(integer(j["app"], where + ".app", 1, 99999));
  w.bounds = rect(j["frame"], where + ".frame");
  if (j.contains("number")) w.number = static_cast<std::uint32_t>(integer(j["number"], where + ".number", 1, 0xFFFFFF));
  if (j.contains("title")) w.title = string(j["title"], where + ".title");
  if (j.contains("layer"))
    w.layer = static_cast<std::int32_t>(integer(j["layer"], where + ".layer", INT32_MIN, INT32_MAX));
  if (j.contains("alpha")) {
    w.alpha = number(j["alpha"], where + ".alpha");
    if (w.alpha < 0 || w.alpha > 1) fail(where + ".alpha", "expected a number from 0 to 1");
  }
  if (j.contains("subrole")) w.subrole = string(j["subrole"], where + ".subrole");
  if (j.contains("spaces")) {
    const json& s = j["spaces"];
    if (s.is_string() && s.get<std::string>() == "all") {
      w.allSpaces = true;
    } else {
      if (!s.is_array() || s.empty()) fail(where + ".spaces", "expected \"all\" or an array of Space ids");
      for (std::size_t i = 0; i < s.size(); ++i)
        w.spaces.push_back(
            static_cast<std::uint64_t>(integer(s[i], where + ".spaces[" + std::to_string(i) + "]", 1, INT64_MAX)));
    }
  }
  if (j.contains("minimized")) w.minimized = boolean(j["minimized"], where + ".minimized");
  if (j.contains("orderedIn")) w.orderedIn = boolean(j["orderedIn"], where + ".orderedIn");
  if (w.minimized) w.orderedIn = false;
  if (j.contains("fullScreen")) w.fullScreen = boolean(j["fullScreen"], where + ".fullScreen");
  if (j.contains("color")) w.color = color(j["color"], where + ".color");
  if (j.contains("clear")) w.clear = boolean(j["clear"], where + ".clear");
  if (j.contains("glyph")) {
    w.glyph = string(j["glyph"], where + ".glyph");
    if (w.glyph.size() > 32) fail(where + ".glyph", "expected at most 8 characters");
  }
  if (j.contains("accessible")) w.accessible = boolean(j["accessible"], where + ".accessible");
  if (j.contains("sharingState")) w.sharingState = integer(j["sharingState"], where + ".sharingState", 0, 2);
  if (j.contains("emptyName")) w.emptyName = boolean(j["emptyName"], where + ".emptyName");
  if (w.emptyName && !w.title.empty()) fail(where + ".emptyName", "a window with an empty name has no \"title\"");
  if (j.contains("accessibilityTitle"))
    w.accessibilityTitle = string(j["accessibilityTitle"], where + ".accessibilityTitle");
  if (j.contains("listed")) w.listed = boolean(j["listed"], where + ".listed");
  if (!w.listed && !w.accessible)
    fail(where + ".listed", "a window neither the window server nor its app lists does not exist");
  if (!w.listed && j.contains("number"))
    fail(where + ".number", "a window the window server does not list has no number");
  return w;
}

}  // namespace

const std::vector<const char*>& deskScenarioSections() {
  static const std::vector<const char*> names = {"sharedSpaces", "followsSpace",          "spaces",
                                                 "apps",         "frontmost",             "frontmostRaisesWindow",
                                                 "windows",      "unmatchedDisplays"};
  return names;
}

namespace {

/// What the sections of a desk share while they are read: the displays it is laid out
/// on (the scenario's own: it always lists them), the Spaces read so far (id to type) and
/// the processes windows and "frontmost" may name.
struct DeskReading {
  const json& root;
  const World& world;
  DeskScenario& d;
  std::set<std::uint32_t> displays;
  std::map<std::uint64_t, std::int32_t> spaceTypes;
  std::set<std::int32_t> running;
  bool knowsApps = false;

  std::string missing(std::int32_t pid) const {
    return "no running app has pid " + std::to_string(pid) +
           (root.contains("apps") || !root.contains("windows")
                ? ""
                : " (a \"windows\" section clears the desk: list its apps under \"apps\")");
  }
  bool ended(std::int32_t pid) const {
    for (const DeskScenario::AppFacts& f : d.appFacts) {
      if (f.pid == pid) return f.terminated;
    }
    return false;
  }
};

void readSpaceLists(DeskReading& r) {
  const json& root = r.root;
  DeskScenario& d = r.d;
  // With shared Spaces one list serves every display: a second entry would replace the
  // first and strand the windows on its Spaces.
  WindowServer* server = r.world.windowServer();
  const bool shared = d.shared.value_or(server && server->sharedSpaces());
  const json& list = expectArray(root["spaces"], "spaces");
  std::set<std::uint32_t> seenDisplays;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = "spaces[" + std::to_string(i) + "]";
    if (shared && i > 0)
      fail(where, "with shared Spaces every display shows the one list of spaces[0]; give only one entry");
    expectObject(list[i], where);
    onlyFields(list[i], where, {"display", "current", "spaces"});
    if (!list[i].contains("display") || !list[i].contains("spaces"))
      fail(where, "expected \"display\" and \"spaces\"");
    DeskScenario::DisplaySpaceList entry;
    entry.display = static_cast<std::uint32_t>(integer(list[i]["display"], where + ".display", 1, 0xFFFFFFFF));
    if (!r.displays.count(entry.display)) fail(where + ".display", "no display " + std::to_string(entry.display));
    if (!seenDisplays.insert(entry.display).second)
      fail(where + ".display", "display " + std::to_string(entry.display) + " is listed twice");
    const json& spaces = expectArray(list[i]["spaces"], where + ".spaces");
    if (spaces.empty()) fail(where + ".spaces", "a display needs at least one Space");
    for (std::size_t k = 0; k < spaces.size(); ++k) {
      const std::string at = where + ".spaces[" + std::to_string(k) + "]";
      expectObject(spaces[k], at);
      onlyFields(spaces[k], at, {"id", "type", "uuid", "desktopColor"});
      if (!spaces[k].contains("id")) fail(at, "expected an \"id\"");
      Space s;
      s.id = static_cast<std::uint64_t>(integer(spaces[k]["id"], at + ".id", 1, 0xFFFFFFFF));
      if (r.spaceTypes.count(s.id)) fail(at + ".id", "Space " + std::to_string(s.id) + " is listed twice");
      if (spaces[k].contains("type")) s.type = spaceType(spaces[k]["type"], at + ".type");
      if (spaces[k].contains("uuid")) s.uuid = string(spaces[k]["uuid"], at + ".uuid");
      if (spaces[k].contains("desktopColor")) s.desktopColor = color(spaces[k]["desktopColor"], at + ".desktopColor");
      r.spaceTypes[s.id] = s.type;
      entry.spaces.push_back(s);
    }
    if (list[i].contains("current")) {
      entry.current = static_cast<std::uint64_t>(integer(list[i]["current"], where + ".current", 1, 0xFFFFFFFF));
      if (std::none_of(entry.spaces.begin(), entry.spaces.end(),
                       [&](const Space& s) { return s.id == *entry.current; }))
        fail(where + ".current", "Space " + std::to_string(*entry.current) + " is not one of this display's");
    }
    d.spaces.push_back(std::move(entry));
  }
}

void readApps(DeskReading& r) {
  DeskScenario& d = r.d;
  const json& list = expectArray(r.root["apps"], "apps");
  d.apps.emplace();
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = "apps[" + std::to_string(i) + "]";
    bool runs = true, own = false;
    DeskScenario::AppFacts facts;
    App a = readApp(list[i], where, runs, own, facts);
    if (own) {
      if (d.own) fail(where + ".own", "only one app can be the program itself");
      if (a.pid && a.pid != WindowServer::kOwnPID && (a.pid == WindowServer::kWindowServerPID || r.running.count(a.pid)))
        fail(where + ".pid", "pid " + std::to_string(a.pid) + " is taken");
      d.own = a;
      if (a.pid) r.running.insert(a.pid);
      continue;
    }
    if (runs) {
      if (a.pid == WindowServer::kOwnPID || a.pid == WindowServer::kWindowServerPID || !r.running.insert(a.pid).second)
        fail(where + ".pid", "pid " + std::to_string(a.pid) + " is taken");
    }
    if (a.firstWindowDisplay && !r.displays.count(*a.firstWindowDisplay))
      fail(where + ".firstWindowDisplay", "no display " + std::to_string(*a.firstWindowDisplay));
    if (runs) {
      facts.pid = a.pid;
      facts.where = where;
      d.appFacts.push_back(std::move(facts));
    }
    d.apps->emplace_back(std::move(a), runs);
  }
}

void readWindows(DeskReading& r) {
  const json& list = expectArray(r.root["windows"], "windows");
  r.d.windows.emplace();
  std::set<std::uint32_t> numbers;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = "windows[" + std::to_string(i) + "]";
    Window w = readWindow(list[i], where);
    if (r.knowsApps && !r.running.count(w.pid) && w.pid != WindowServer::kWindowServerPID)
      fail(where + ".app", r.missing(w.pid));
    if (r.ended(w.pid)) fail(where + ".app", "app " + std::to_string(w.pid) + " has terminated: its windows are gone");
    if (w.number && !numbers.insert(w.number).second)
      fail(where + ".number", "window " + std::to_string(w.number) + " is listed twice");
    for (std::size_t k = 0; k < w.spaces.size(); ++k) {
      if (!r.spaceTypes.empty() && !r.spaceTypes.count(w.spaces[k]))
        fail(where + ".spaces[" + std::to_string(k) + "]", "no Space " + std::to_string(w.spaces[k]));
    }
    if (w.fullScreen) {
      if (w.spaces.size() != 1 ||
          (r.spaceTypes.count(w.spaces[0]) && r.spaceTypes[w.spaces[0]] != kSpaceTypeFullScreen))
        fail(where + ".fullScreen", "a full-screen window lies on exactly one full-screen Space");
    }
    r.d.windows->push_back(std::move(w));
  }
}

/// An app's focused window is one of its own windows of this file, one it reports.
void checkFocusedWindows(const DeskScenario& d) {
  for (const DeskScenario::AppFacts& f : d.appFacts) {
    if (!f.focusedWindow) continue;
    const bool mine = d.windows && std::any_of(d.windows->begin(), d.windows->end(), [&](const Window& w) {
                        return w.number == *f.focusedWindow && w.pid == f.pid && w.accessible;
                      });
    if (!mine)
      fail(f.where + ".focusedWindow",
           "window " + std::to_string(*f.focusedWindow) + " is not one of this app's accessible windows");
  }
}

/// One entry of "unmatchedDisplays": its Spaces as the window server describes a display's.
platform::PlistDictionary readUnmatchedDisplay(const json& entry, const std::string& where,
                                               const std::set<std::string>& screens, std::set<std::uint64_t>& taken) {
  expectObject(entry, where);
  onlyFields(entry, where, {"uuid", "current", "spaces"});
  if (!entry.contains("uuid") || !entry.contains("spaces")) fail(where, "expected \"uuid\" and \"spaces\"");
  const std::string uuid = string(entry["uuid"], where + ".uuid");
  if (uuid.empty() || screens.count(uuid) || uuid == "Main")
    fail(where + ".uuid", "\"" + uuid + "\" must be a uuid no screen has");
  const json& spaces = expectArray(entry["spaces"], where + ".spaces");
  platform::PlistArray described;
  std::optional<platform::PlistDictionary> current;
  const std::optional<std::uint64_t> wanted =
      entry.contains("current")
          ? std::optional<std::uint64_t>(integer(entry["current"], where + ".current", 1, 0xFFFFFFFF))
          : std::nullopt;
  for (std::size_t k = 0; k < spaces.size(); ++k) {
    const std::string at = where + ".spaces[" + std::to_string(k) + "]";
    expectObject(spaces[k], at);
    onlyFields(spaces[k], at, {"id", "type", "uuid"});
    if (!spaces[k].contains("id")) fail(at, "expected an \"id\"");
    const auto id = static_cast<std::uint64_t>(integer(spaces[k]["id"], at + ".id", 1, 0xFFFFFFFF));
    if (!taken.insert(id).second) fail(at + ".id", "Space " + std::to_string(id) + " is listed twice");
    const std::int32_t type = spaces[k].contains("type") ? spaceType(spaces[k]["type"], at + ".type") : 0;
    const std::string spaceUUID = spaces[k].contains("uuid") ? string(spaces[k]["uuid"], at + ".uuid") : "";
    platform::PlistDictionary space{{"id64", platform::PlistValue(static_cast<long long>(id))},
                                    {"ManagedSpaceID", platform::PlistValue(static_cast<long long>(id))},
                                    {"type", type},
                                    {"uuid", spaceUUID}};
    if (wanted ? *wanted == id : k == 0) current = space;
    described.push_back(std::move(space));
  }
  if (wanted && !current) fail(where + ".current", "Space " + std::to_string(*wanted) + " is not one of this entry's");
  return platform::PlistDictionary{
      {"Display Identifier", uuid}, {"Spaces", described}, {"Current Space", current.value_or(platform::PlistDictionary{})}};
}

void readUnmatchedDisplays(DeskReading& r) {
  const json& root = r.root;
  // The uuids a screen has: the scenario's displays.
  std::set<std::string> screens;
  if (root.contains("displays") && root["displays"].is_array()) {
    for (const json& display : root["displays"]) {
      if (display.is_object() && display.contains("uuid") && display["uuid"].is_string())
        screens.insert(display["uuid"].get<std::string>());
    }
  }
  // Space ids are the desk's: this file's, or without a "spaces" section those it has.
  std::set<std::uint64_t> taken;
  for (const auto& [id, type] : r.spaceTypes) taken.insert(id);
  WindowServer* server = r.world.windowServer();
  if (server && !root.contains("spaces")) {
    for (const DisplaySpaces& display : server->displays()) {
      for (const Space& space : display.spaces) taken.insert(space.id);
    }
  }
  const json& list = expectArray(root["unmatchedDisplays"], "unmatchedDisplays");
  r.d.unmatchedDisplays.emplace();
  for (std::size_t i = 0; i < list.size(); ++i) {
    r.d.unmatchedDisplays->push_back(
        readUnmatchedDisplay(list[i], "unmatchedDisplays[" + std::to_string(i) + "]", screens, taken));
  }
}

}  // namespace

DeskScenario readDeskScenario(const json& root, const World& world) {
  DeskScenario d;
  if (!root.is_object()) return d;
  DeskReading r{root, world, d};
  if (root.contains("displays") && root["displays"].is_array()) {
    for (const json& display : root["displays"]) {
      if (display.is_object() && display.contains("id") && display["id"].is_number_unsigned())
        r.displays.insert(display["id"].get<std::uint32_t>());
    }
  }

  if (root.contains("sharedSpaces")) d.shared = boolean(root["sharedSpaces"], "sharedSpaces");
  if (root.contains("followsSpace"))
    d.follow = choice<SpaceFollow>(
        root["followsSpace"], "followsSpace",
        {{"follows", SpaceFollow::follows}, {"late", SpaceFollow::followsLate}, {"never", SpaceFollow::doesNotFollow}});
  if (root.contains("spaces")) readSpaceLists(r);

  // The processes windows and "frontmost" may name: the listed apps, the program itself,
  // and without an "apps" section the desk's own apps, unless a "windows" section clears
  // the desk (and with it every app but the program). A world without a window server
  // takes no desk, so nothing is checked against one.
  r.knowsApps = root.contains("apps") || world.windowServer();
  const bool replacesApps = root.contains("apps") || root.contains("windows");
  r.running.insert(WindowServer::kOwnPID);
  if (WindowServer* server = world.windowServer()) {
    r.running.insert(server->ownProcessIdentifier());
    if (!replacesApps) {
      for (const App& app : server->apps()) r.running.insert(app.pid);
    }
  }
  if (root.contains("apps")) readApps(r);

  if (root.contains("frontmostRaisesWindow"))
    d.frontmostRaisesWindow = boolean(root["frontmostRaisesWindow"], "frontmostRaisesWindow");
  if (root.contains("frontmost")) {
    d.frontmost = static_cast<std::int32_t>(integer(root["frontmost"], "frontmost", 1, 99999));
    if (r.knowsApps && !r.running.count(*d.frontmost)) fail("frontmost", r.missing(*d.frontmost));
    if (r.ended(*d.frontmost)) fail("frontmost", "app " + std::to_string(*d.frontmost) + " has terminated");
  }
  if (root.contains("windows")) readWindows(r);
  checkFocusedWindows(d);
  if (root.contains("unmatchedDisplays")) readUnmatchedDisplays(r);
  return d;
}

void applyDeskScenario(World& world, const DeskScenario& d) {
  WindowServer* ws = world.windowServer();
  if (!ws) return;
  if (d.apps || d.windows) ws->resetDesk();
  if (d.shared) ws->setSharedSpaces(*d.shared);
  if (d.follow) ws->setSpaceFollow(*d.follow);
  for (const auto& entry : d.spaces) ws->setSpaces(entry.display, entry.spaces, entry.current);
  const double now = platform::now();
  if (d.own) {
    App own = *d.own;
    if (own.pid) ws->setOwnPID(own.pid);
    own.launchDate = now + own.launchDate.value_or(0);  // the program started just now unless told
    ws->setOwnApp(own);
  }
  if (d.apps) {
    // Apps without a launch time started one after the other, ten minutes apart, in the listed order.
    double step = 600.0 * static_cast<double>(d.apps->size() + 1);
    for (const auto& [listed, runs] : *d.apps) {
      App a = listed;
      a.launchDate = now + a.launchDate.value_or(-step);
      step -= 600;
      if (runs) {
        ws->addApp(a);
      } else {
        a.pid = 0;
        a.launchDate.reset();
        ws->addInstalledApp(a);
      }
    }
  }
  if (d.windows) {
    // Each window goes in front of those before it, so the list is added back to front.
    for (auto it = d.windows->rbegin(); it != d.windows->rend(); ++it) {
      Window w = *it;
      if (w.fullScreen && !w.spaces.empty()) {
        if (auto display = ws->displayOfSpace(w.spaces.front())) {
          for (const DisplaySpaces& ds : ws->displays()) {
            if (ds.displayID != *display) continue;
            w.bounds = ds.frame;
            w.restoreBounds = ds.frame.insetBy(ds.frame.width() / 8, ds.frame.height() / 8);
            for (const Space& s : ds.spaces) {
              if (s.type == kSpaceTypeDesktop) {
                w.restoreSpace = s.id;
                break;
              }
            }
          }
        }
      }
      ws->addWindow(w);
    }
  }
  for (const DeskScenario::AppFacts& f : d.appFacts) {
    if (f.noLaunchDate) ws->updateApp(f.pid, [](App& a) { a.launchDate.reset(); });
    if (f.focusedWindow) ws->updateApp(f.pid, [&](App& a) { a.focusedWindow = *f.focusedWindow; });
    if (auto* accessibility = dynamic_cast<AccessibilityServer*>(ws->accessibility())) {
      for (const auto& [name, error] : f.accessibilityErrors) accessibility->setError(f.pid, name, error);
    }
    if (f.terminated) {
      ws->updateApp(f.pid, [](App& a) { a.listedAfterExit = true; });
      ws->terminate(f.pid);
    }
  }
  if (d.unmatchedDisplays) ws->setUnmatchedManagedDisplays(*d.unmatchedDisplays);
  if (d.frontmost) ws->makeFrontmost(*d.frontmost, d.frontmostRaisesWindow);
  // The scenario's own setting-up is not something for tests to find in the records.
  ws->clearChanges();
}

// ---------------------------------------------------------------------------------------------
// The built-in desk

namespace {

// Two displays (1: the built-in one at the origin, 3: a wide one to its right, reaching
// 458 points above it in window-server coordinates). Display 1 has three desktops and a
// full-screen Space; display 3 has two desktops.
constexpr const char* kDefaultDesk = R"json(
  "followsSpace": "follows",
  "spaces": [
    {"display": 1, "current": 1, "spaces": [
      {"id": 1, "type": "desktop", "uuid": "B1C04A52-6D0E-4F1A-9C36-2E8D5B7A1F01"},
      {"id": 4, "type": "desktop", "uuid": "B1C04A52-6D0E-4F1A-9C36-2E8D5B7A1F04", "desktopColor": "#3C6E47"},
      {"id": 5, "type": "fullScreen", "uuid": "B1C04A52-6D0E-4F1A-9C36-2E8D5B7A1F05"},
      {"id": 6, "type": "desktop", "uuid": "B1C04A52-6D0E-4F1A-9C36-2E8D5B7A1F06", "desktopColor": "#6A4C93"}
    ]},
    {"display": 3, "current": 2, "spaces": [
      {"id": 2, "type": "desktop", "uuid": "B1C04A52-6D0E-4F1A-9C36-2E8D5B7A1F02"},
      {"id": 7, "type": "desktop", "uuid": "B1C04A52-6D0E-4F1A-9C36-2E8D5B7A1F07", "desktopColor": "#8A5A2B"}
    ]}
  ],
  "apps": [
    {"own": true, "name": "Trelliq", "bundleIdentifier": "app.ondrel.trelliq", "bundlePath": "/Applications/Trelliq.app",
     "policy": "accessory", "launchedAgo": 120, "iconColor": "#4F7F6A"},
    {"pid": 160, "name": "Dock", "bundleIdentifier": "com.apple.dock", "bundlePath": "/System/Library/CoreServices/Dock.app",
     "policy": "prohibited", "launchedAgo": 86400, "iconColor": "#505050"},
    {"pid": 201, "name": "Finder", "bundleIdentifier": "com.apple.finder",
     "bundlePath": "/System/Library/CoreServices/Finder.app", "launchedAgo": 86000, "iconColor": "#1E90FF", "quit": "refuses"},
    {"pid": 301, "name": "Quill", "bundleIdentifier": "com.example.quill", "bundlePath": "/Applications/Quill.app",
     "launchedAgo": 7200, "iconColor": "#E0A526"},
    {"pid": 302, "name": "Lumen", "bundleIdentifier": "com.example.lumen", "bundlePath": "/Applications/Lumen.app",
     "launchedAgo": 7000, "iconColor": "#2A7FD4"},
    {"pid": 303, "name": "Harbor Mail", "bundleIdentifier": "com.example.harbor", "bundlePath": "/Applications/Harbor Mail.app",
     "launchedAgo": 6800, "iconColor": "#3B8EA5", "quit": "ignores"},
    {"pid": 304, "name": "Tally", "bundleIdentifier": "com.example.tally", "bundlePath": "/Applications/Tally.app",
     "launchedAgo": 6000, "iconColor": "#2E8B57"},
    {"pid": 305, "name": "Cadence", "bundleIdentifier": "com.example.cadence", "bundlePath": "/Applications/Cadence.app",
     "launchedAgo": 5400, "iconColor": "#D94F70", "quitDelay": 1.5},
    {"pid": 306, "name": "Slate", "bundleIdentifier": "com.example.slate", "bundlePath": "/Applications/Utilities/Slate.app",
     "launchedAgo": 5000, "iconColor": "#333333"},
    {"pid": 307, "name": "Chatter", "bundleIdentifier": "com.example.chatter", "bundlePath": "/Applications/Chatter.app",
     "launchedAgo": 4000, "iconColor": "#7B68EE", "hidden": true},
    {"pid": 308, "name": "Easel", "bundleIdentifier": "com.example.easel", "bundlePath": "/Applications/Easel.app",
     "launchedAgo": 3000, "iconColor": "#FF8C42", "firstWindowDisplay": 3},
    {"pid": 309, "name": "Meterbar", "bundleIdentifier": "com.example.meterbar", "bundlePath": "/Applications/Meterbar.app",
     "policy": "accessory", "launchedAgo": 80000, "iconColor": "#708090"},
    {"pid": 310, "name": "Viewer", "bundleIdentifier": "com.example.viewer", "bundlePath": "/Applications/Viewer.app",
     "launchedAgo": 2000, "iconColor": "#9ACD32"},
    {"pid": 311, "name": "Agenda", "bundleIdentifier": "com.example.agenda", "bundlePath": "/Applications/Agenda.app",
     "launchedAgo": 1500, "iconColor": "#DC143C"},
    {"pid": 312, "name": "Palette", "bundleIdentifier": "com.example.palette", "bundlePath": "/Applications/Palette.app",
     "launchedAgo": 900, "iconColor": "#C71585"},
    {"name": "Atlas", "bundleIdentifier": "com.example.atlas", "bundlePath": "/Applications/Atlas.app",
     "running": false, "iconColor": "#20B2AA"}
  ],
  "frontmost": 301,
  "windows": [
    {"number": 9301, "app": 309, "title": "Meterbar", "frame": [1344, 0, 30, 37], "layer": 25, "spaces": "all",
     "accessible": false, "subrole": "", "color": "#708090", "glyph": "\u25D4"},
    {"number": 2101, "app": 301, "title": "Draft.txt", "frame": [300, 90, 900, 700], "spaces": [1], "color": "#FFF8E7"},
    {"number": 1101, "app": 201, "title": "Documents", "frame": [120, 140, 820, 520], "spaces": [1], "color": "#F5F5F5"},
    {"number": 2103, "app": 301, "title": "Old Letter.txt", "frame": [260, 120, 760, 600], "spaces": [1],
     "minimized": true, "color": "#FFF8E7"},
    {"number": 2102, "app": 301, "title": "Notes.txt", "frame": [200, 120, 800, 600], "spaces": [4], "color": "#FFF8E7"},
    {"number": 4101, "app": 303, "title": "Inbox – Harbor Mail", "frame": [100, 60, 1100, 760], "spaces": [4],
     "color": "#E8F1F5"},
    {"number": 5101, "app": 304, "title": "Budget 2026.tally", "frame": [0, 0, 1512, 982], "spaces": [5],
     "fullScreen": true, "color": "#E9F5EC"},
    {"number": 9401, "app": 312, "title": "Swatches", "frame": [900, 400, 420, 380], "spaces": [6],
     "color": "#F3E5F0"},
    {"number": 9101, "app": 310, "title": "Harbour at Dusk.png", "frame": [250, 150, 700, 500], "spaces": [6],
     "color": "#DDE8C8"},
    {"number": 7102, "app": 306, "title": "Slate — build", "frame": [2400, 100, 900, 560], "spaces": [2],
     "color": "#1E1E1E"},
    {"number": 3101, "app": 302, "title": "Start Page – Lumen", "frame": [1700, -380, 1400, 900], "spaces": [2],
     "color": "#FFFFFF"},
    {"number": 6101, "app": 305, "title": "Cadence", "frame": [3000, 200, 900, 600], "spaces": [2], "color": "#FBE3EA"},
    {"number": 7101, "app": 306, "title": "Slate — ~/projects", "frame": [2300, -200, 900, 560], "spaces": [2],
     "color": "#1E1E1E"},
    {"number": 9201, "app": 311, "title": "Agenda", "frame": [1600, 300, 1000, 600], "spaces": [2], "color": "#FDF2F2"},
    {"number": 6102, "app": 305, "frame": [3900, 900, 1, 1], "spaces": [2], "accessible": false, "subrole": "",
     "clear": true},
    {"number": 3102, "app": 302, "title": "Release Notes – Lumen", "frame": [1800, -300, 1300, 850], "spaces": [7],
     "color": "#FFFFFF"},
    {"number": 8101, "app": 307, "title": "Chatter", "frame": [2000, 0, 700, 800], "spaces": [7], "color": "#EEEAFB"},
    {"number": 8102, "app": 307, "title": "", "frame": [2000, 0, 700, 800], "spaces": [7], "alpha": 0,
     "accessible": false, "subrole": "", "color": "#EEEAFB"}
  ]
)json";

}  // namespace

std::string withDefaultDesk(const std::string& scenarioText) {
  const auto close = scenarioText.rfind('}');
  if (close == std::string::npos) return scenarioText;
  std::string text = scenarioText.substr(0, close);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text + "," + kDefaultDesk + "}\n";
}

}  // namespace sim
