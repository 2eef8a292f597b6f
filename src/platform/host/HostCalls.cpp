// The host's handlers of requests, found by name. The calls of the two ports are made
// from their rows in platform/PortCalls.h, or written here when the row says `own`; the
// host's own requests (the screen's, reading ahead, tests' looks at shared state) and the
// private functions follow.

#include <sys/socket.h>

#include <poll.h>

#include <cerrno>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/PrivateSymbols.h"
#include "platform/SharedSurface.h"
#include "platform/host/CallTable.h"
#include "platform/host/Host.h"
#include "platform/host/HostClient.h"
#include "platform/host/HostMultitouch.h"
#include "platform/host/HostReads.h"
#include "platform/host/PictureMemory.h"
#include "platform/host/SharedCount.h"
#include "platform/host/WireValues.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/MultitouchDevices.h"
#include "platform/sim/WindowServer.h"
#include "platform/sim/World.h"

namespace host {

using nlohmann::json;
using platform::PlistValue;
using wire::field;
using wire::read;

namespace {

/// Every window `client` owns read again: all rows (`changed` false), or those that differ
/// from what it was sent last with the numbers of the windows gone. Under ownWindowsMutex.
json everyOwnWindowOf(Host::Client& client, bool changed) {
  std::set<std::uint32_t> numbers;
  {
    std::lock_guard lock(client.mutex);
    numbers = client.windows;
  }
  json table = client.reads->ownWindows(numbers);
  std::map<std::uint32_t, json> now;
  for (json& row : table["w"]) now.emplace(row[0].get<std::uint32_t>(), std::move(row[1]));
  json rows = json::array();
  json gone = json::array();
  for (auto& [number, status] : now) {
    auto sent = client.sentWindows.find(number);
    if (!changed || sent == client.sentWindows.end() || sent->second != status) {
      rows.push_back(json::array({number, status}));
    }
  }
  for (const auto& [number, status] : client.sentWindows) {
    if (!now.count(number)) gone.push_back(number);
  }
  client.sentWindows = std::move(now);
  table["w"] = std::move(rows);
  if (changed) table["x"] = std::move(gone);
  return table;
}

/// The rows of `changes` that differ from what `client` was sent last, and the numbers of
/// the windows gone (or no longer its own). Under ownWindowsMutex.
json changedOwnWindowsOf(Host::Client& client, HostReads::OwnWindowChanges& changes) {
  std::vector<bool> owned;
  owned.reserve(changes.windows.size());
  {
    // A window being made is the program's only once its maker says so, and it is read
    // again then (`made`); one let go of is no longer, before the server has let it go.
    std::lock_guard lock(client.mutex);
    for (const auto& [number, status] : changes.windows) owned.push_back(client.windows.count(number) != 0);
  }
  json rows = json::array();
  json gone = json::array();
  for (std::size_t i = 0; i < changes.windows.size(); ++i) {
    auto& [number, status] = changes.windows[i];
    const auto sent = client.sentWindows.find(number);
    if (owned[i] && !status.is_null()) {
      if (sent != client.sentWindows.end() && sent->second == status) continue;
      rows.push_back(json::array({number, status}));
      client.sentWindows[number] = std::move(status);
    } else if (sent != client.sentWindows.end()) {
      gone.push_back(number);
      client.sentWindows.erase(sent);
    }
  }
  return json{{"g", changes.tag}, {"w", std::move(rows)}, {"x", std::move(gone)}};
}

/// The state of the windows `client` owns ({"g": count, "w": rows, "s": how many times it
/// was sent}): after a request of its own changed one only the rows that differ from what
/// it was sent last, with the numbers of the windows gone ("d": true, "x": numbers), else
/// all of them. The program keeps it (OwnWindowTable), so reading it back costs no round
/// trip. What changed is what the window server says may have (`made`, the window the
/// request made, among it), so a program that makes many windows is neither sent nor read
/// all of them again each time; after any other change of the desk all are read again.
json ownWindowsOf(Host::Client& client, bool changed = true, std::uint32_t made = 0) {
  std::lock_guard lock(client.ownWindowsMutex);  // the state sent, in the order it is sent
  HostReads::OwnWindowChanges changes = client.reads->ownWindowChanges(made);
  json table = !changed || changes.all ? everyOwnWindowOf(client, changed) : changedOwnWindowsOf(client, changes);
  table["s"] = ++client.sentWindowsCount;
  if (changed) table["d"] = true;
  return table;
}

ProcessSerialNumber psnOf(const json& j) {
  ProcessSerialNumber psn;
  psn.highLongOfPSN = field<std::uint32_t>(j, "hi");
  psn.lowLongOfPSN = field<std::uint32_t>(j, "lo");
  return psn;
}

/// The owner column: which of the program's own sets the first argument must be in.
struct NoOwner {
  template <typename Arguments>
  void check(Host::Client&, const Arguments&) const {}
};
template <auto set, bool take>
struct Owned {
  const char* what;
  template <typename Arguments>
  void check(Host::Client& client, const Arguments& arguments) const {
    if constexpr (take) {
      client.takeOwn(client.*set, std::get<0>(arguments), what);
    } else {
      client.requireOwn(client.*set, std::get<0>(arguments), what);
    }
  }
};
/// A preference domain's name as a program gives it, refused past what any domain's is.
const std::string& domainName(const std::string& domain) {
  if (domain.size() > sim::DefaultsStore::kMaxDomainBytes) {
    throw wire::BadValue("a domain name of " + std::to_string(domain.size()) + " bytes; a domain's name has at most " +
                         std::to_string(sim::DefaultsStore::kMaxDomainBytes));
  }
  return domain;
}
/// The column's `domain`: the first argument names preference domains (one, or a search
/// list), each refused past what a domain's name may be.
struct DomainNames {
  template <typename Arguments>
  void check(Host::Client&, const Arguments& arguments) const {
    const auto& first = std::get<0>(arguments);
    if constexpr (std::is_same_v<std::decay_t<decltype(first)>, std::string>) {
      domainName(first);
    } else {
      for (const std::string& domain : first) domainName(domain);
    }
  }
};
#define TRELLIQ_OWNER_none NoOwner{}
#define TRELLIQ_OWNER_domain DomainNames{}
#define TRELLIQ_OWNER_requireTap Owned<&Host::Client::taps, false>{"tap"}
#define TRELLIQ_OWNER_takeTap Owned<&Host::Client::taps, true>{"tap"}
#define TRELLIQ_OWNER_requireObserver Owned<&Host::Client::observers, false>{"observer"}
#define TRELLIQ_OWNER_takeObserver Owned<&Host::Client::observers, true>{"observer"}
#define TRELLIQ_OWNER_requireIterator Owned<&Host::Client::iterators, false>{"iterator"}

/// An own window's state as a program gives it, refused when a number of its frame is not
/// finite or lies past Host::kMaxOwnWindowPoints.
platform::OwnWindowState withSaneFrame(platform::OwnWindowState state) {
  const CGRect& f = state.frame;
  for (const double n : {f.origin.x, f.origin.y, f.size.width, f.size.height}) {
    if (std::isfinite(n) && std::abs(n) <= Host::kMaxOwnWindowPoints) continue;
    std::ostringstream frame;
    frame << "{" << f.origin.x << ", " << f.origin.y << ", " << f.size.width << ", " << f.size.height << "}";
    throw wire::BadValue("the window's frame " + frame.str() + " is not within " +
                         std::to_string(static_cast<long>(Host::kMaxOwnWindowPoints)) + " points of the desk");
  }
  return state;
}

platform::PlistArray arrayField(const json& v, const char* key) {
  auto value = field<PlistValue>(v, key);
  if (!value.asArray()) throw wire::BadValue(std::string(key) + " is not an array");
  return *value.asArray();
}

}  // namespace

struct Host::Calls {
  struct Context {
    Host& host;
    const std::shared_ptr<Client>& client;
    const json& v;
    wire::Descriptor* descriptor;             // came with the request
    std::shared_ptr<wire::Descriptor>& memory;  // goes back beside the answer
    std::uint32_t lane = 0;                     // answered on
  };
  using Handler = json (*)(Context&);

  template <typename Implementation>
  static Implementation& implementation(Host& host) {
    if constexpr (std::is_same_v<Implementation, sim::World>) {
      return host.world_;
    } else {
      return host.server_;
    }
  }

  /// A row made into a handler: the arguments read from the body by the row's fields, the
  /// owner checked, the world's implementation called and its result encoded.
  template <auto method, calls::Via via, std::size_t N, typename Owner>
  static json serve(Context& c, const std::array<const char*, N>& names, Owner owner) {
    using Member = calls::Member<decltype(method)>;
    auto arguments = Member::read(c.v, names);
    owner.check(*c.client, arguments);
    auto& world = implementation<typename Member::Class>(c.host);
    auto invoke = [&](auto&... a) { return (world.*method)(a...); };
    if constexpr (std::is_void_v<typename Member::Result>) {
      std::apply(invoke, arguments);
      return nullptr;
    } else if constexpr (via == calls::Via::picture) {
      return c.host.pictureReply(std::apply(invoke, arguments), c.memory);
    } else {
      return wire::encode(std::apply(invoke, arguments));
    }
  }

  /// Programs keep what they read while this count stands (PreferenceCache); a file
  /// written behind the host's back changes its stamp, which they look at themselves.
  static void preferencesChanged(Host& host) {
    if (host.changes_) host.changes_->raise(SharedCount::preferences);
  }

  // ---- SystemPort rows written here ----
  static json setPreferenceValue(Context& c) {
    const bool saved =
        c.host.world_.setPreferenceValue(domainName(field<std::string>(c.v, "domain")), field<std::string>(c.v, "key"),
                                         field<std::optional<PlistValue>>(c.v, "value"));
    preferencesChanged(c.host);
    return saved;
  }
  static json setPreferenceValues(Context& c) {
    const auto values = field<PlistValue>(c.v, "values");
    if (!values.asDictionary()) throw wire::BadValue("values is not a dictionary");
    const bool saved =
        c.host.world_.setPreferenceValues(domainName(field<std::string>(c.v, "domain")), *values.asDictionary());
    preferencesChanged(c.host);
    return saved;
  }
  static json synchronizePreferences(Context& c) {
    c.host.world_.synchronizePreferences(domainName(read<std::string>(c.v)));
    preferencesChanged(c.host);
    return nullptr;
  }
  static json symbol(Context& c) {
    return c.host.world_.symbol(field<std::string>(c.v, "path"), field<std::string>(c.v, "name")) != nullptr;
  }
  static json launchProcess(Context& c) {
    const std::uint64_t token = field<std::uint64_t>(c.v, "token");
    std::weak_ptr<Client> weak = c.client;
    auto started = c.host.world_.launchProcess(
        field<std::string>(c.v, "executable"), field<std::vector<std::string>>(c.v, "arguments"),
        [weak, token](int status) {
          if (auto client = weak.lock()) client->push("terminated", json{{"token", token}, {"status", status}});
        });
    if (auto* pid = std::get_if<std::int32_t>(&started)) return json{{"pid", *pid}};
    return json{{"error", std::get<std::string>(started)}};
  }

  // ---- WindowServerPort rows written here ----
  static json createEventTap(Context& c) {
    const auto key = field<std::uint64_t>(c.v, "key");
    std::weak_ptr<Client> weak = c.client;
    auto tap = c.host.server_.createEventTap(
        field<platform::EventTapRequest>(c.v, "request"),
        [weak, key](CGEventType type, CGEvent event, platform::EventTapReply reply) {
          auto client = weak.lock();
          if (!client) {
            reply(event);
            return;
          }
          const std::uint64_t push = client->newPushID();
          {
            std::lock_guard lock(client->mutex);
            if (client->closing) {
              reply(event);
              return;
            }
            client->pendingTaps[push] = {reply, event};
          }
          if (!client->push("tap", json{{"key", key}, {"type", type}, {"event", wire::encode(event)}}, push)) {
            std::lock_guard lock(client->mutex);
            if (client->pendingTaps.erase(push)) reply(event);
          }
        });
    if (!tap) return nullptr;
    std::lock_guard lock(c.client->mutex);
    c.client->taps.insert(*tap);
    return *tap;
  }
  static json applicationBody(Context& c, const platform::RunningApplicationInfo& app) {
    json one = wire::encode(app);
    one["icon"] = c.client->pictureByReference(app.icon);
    return one;
  }
  static json runningApplications(Context& c) {
    json apps = json::array();
    for (const auto& app : c.host.server_.runningApplications()) apps.push_back(applicationBody(c, app));
    return apps;
  }
  static json application(Context& c) {
    auto app = c.host.server_.application(read<std::int32_t>(c.v));
    return app ? applicationBody(c, *app) : json(nullptr);
  }
  static json openApplication(Context& c) {
    const std::uint64_t token = field<std::uint64_t>(c.v, "token");
    std::weak_ptr<Client> weak = c.client;
    c.host.server_.openApplication(
        field<std::string>(c.v, "path"), field<bool>(c.v, "activates"),
        [weak, token](std::optional<std::int32_t> pid, std::optional<std::string> error) {
          if (auto client = weak.lock()) {
            client->push("opened", json{{"token", token}, {"pid", wire::encode(pid)}, {"error", wire::encode(error)}});
          }
        });
    return nullptr;
  }
  static json createOwnWindow(Context& c) {
    const auto state = withSaneFrame(read<platform::OwnWindowState>(c.v));
    {
      // Counted before it is made, so threads making windows at once stay within the limit.
      std::lock_guard lock(c.client->mutex);
      if (c.client->windows.size() + c.client->windowsMaking >= kMaxOwnWindows) {
        throw wire::BadValue("the program has " + std::to_string(kMaxOwnWindows) +
                             " own windows, as many as one program may have");
      }
      ++c.client->windowsMaking;
    }
    const std::uint32_t number = c.host.server_.createOwnWindow(state);
    {
      std::lock_guard lock(c.client->mutex);
      --c.client->windowsMaking;
      c.client->windows.insert(number);
    }
    return json{{"n", number}, {"own", ownWindowsOf(*c.client, true, number)}};
  }
  static json updateOwnWindow(Context& c) {
    const auto number = field<std::uint32_t>(c.v, "n");
    c.client->requireOwn(c.client->windows, number, "window");
    c.host.server_.updateOwnWindow(number, withSaneFrame(field<platform::OwnWindowState>(c.v, "state")));
    return ownWindowsOf(*c.client);
  }
  static json orderOwnWindow(Context& c) {
    const int order = field<int>(c.v, "order");
    if (order < 0 || order > static_cast<int>(platform::OwnWindowOrder::out)) throw wire::BadValue("bad order");
    const auto number = field<std::uint32_t>(c.v, "n");
    c.client->requireOwn(c.client->windows, number, "window");
    c.host.server_.orderOwnWindow(number, static_cast<platform::OwnWindowOrder>(order));
    return ownWindowsOf(*c.client);
  }
  static json setOwnKeyWindow(Context& c) {
    const auto number = read<std::uint32_t>(c.v);
    if (number != 0) c.client->requireOwn(c.client->windows, number, "window");  // 0: none is key
    c.host.server_.setOwnKeyWindow(number);
    return ownWindowsOf(*c.client);
  }
  static json destroyOwnWindow(Context& c) {
    const auto number = read<std::uint32_t>(c.v);
    c.client->takeOwn(c.client->windows, number, "window");
    c.host.server_.destroyOwnWindow(number);
    return ownWindowsOf(*c.client);
  }
  static json ownWindows(Context& c) { return ownWindowsOf(*c.client, false); }
  static json setOwnWindowSurface(Context& c) {
    const auto number = field<std::uint32_t>(c.v, "n");
    c.client->requireOwn(c.client->windows, number, "window");
    if (!c.descriptor) {
      c.host.server_.setOwnWindowSurface(number, nullptr);
      return nullptr;
    }
    // The program's memory, mapped here read-only: pictures of the window read it and
    // never ask the program.
    std::string problem;
    auto surface = platform::SharedSurface::map(c.descriptor->release(), &problem);
    if (!surface) throw wire::BadValue(problem);
    c.host.server_.setOwnWindowSurface(number, std::move(surface));
    return nullptr;
  }
  static json ownWindowSurfacePublished(Context& c) {
    c.host.tellScreens();
    return nullptr;
  }
  static json axCopyAttribute(Context& c) {
    auto answer = c.host.server_.axCopyAttribute(field<AXElementID>(c.v, "e"), field<std::string>(c.v, "a"),
                                                 axTimeoutOf(c.v));
    return json{{"error", answer.error}, {"value", wire::encode(answer.value)}};
  }
  static json axSetAttribute(Context& c) {
    return c.host.server_.axSetAttribute(field<AXElementID>(c.v, "e"), field<std::string>(c.v, "a"),
                                         field<AXValue>(c.v, "value"), axTimeoutOf(c.v));
  }
  static json axPerformAction(Context& c) {
    return c.host.server_.axPerformAction(field<AXElementID>(c.v, "e"), field<std::string>(c.v, "a"),
                                          axTimeoutOf(c.v));
  }
  static json axCreateObserver(Context& c) {
    const auto key = field<std::uint64_t>(c.v, "key");
    std::weak_ptr<Client> weak = c.client;
    auto [error, observer] = c.host.server_.axCreateObserver(
        field<std::int32_t>(c.v, "pid"), [weak, key](AXElementID element, const std::string& notification) {
          if (auto client = weak.lock()) {
            client->push("ax", json{{"key", key}, {"e", wire::encode(element)}, {"n", notification}});
          }
        });
    if (observer) {
      std::lock_guard lock(c.client->mutex);
      c.client->observers.insert(observer);
    }
    return json::array({error, observer});
  }
  static json addServiceMatching(Context& c) {
    const auto key = field<std::uint64_t>(c.v, "key");
    std::weak_ptr<Client> weak = c.client;
    auto iterator = c.host.server_.addServiceMatching(field<std::string>(c.v, "class"), [weak, key] {
      if (auto client = weak.lock()) client->push("arrived", key);
    });
    if (iterator) {
      std::lock_guard lock(c.client->mutex);
      c.client->iterators.insert(*iterator);
    }
    return wire::encode(iterator);
  }
  static json releaseIOObject(Context& c) {
    const auto object = read<std::uint32_t>(c.v);
    {
      // Services (what an iterator hands out) are released too; only the world's matching
      // is anybody's to end, and only the program's own.
      std::lock_guard lock(c.client->mutex);
      if (!c.client->iterators.erase(object)) return nullptr;
    }
    c.host.server_.releaseIOObject(object);
    return nullptr;
  }

  // ---- The screen's window (not a port: what a monitor shows needs no capture grant) ----
  static json screenAttach(Context&) { return true; }  // the screen says what it is (see settleRole)
  static json screenGeneration(Context& c) {
    {
      std::lock_guard lock(c.client->mutex);
      // The screen looks: what changes from now on is told again (one sent its frames says
      // when it showed them).
      if (!c.client->screenTakesFrames || !c.client->screenAsk) c.client->screenTold = false;
    }
    return c.host.server_.generation();
  }
  static json screenDoubleTap(Context& c) {
    const int fingers = read<int>(c.v);
    if (fingers != 3 && fingers != 4) return false;
    sim::MultitouchDevices* devices = sim::MultitouchDevices::active();
    return devices && devices->doubleTap(fingers);
  }
  static json screenWatch(Context& c) {
    std::lock_guard lock(c.client->mutex);
    if (!c.client->watchesScreen) c.host.screenWatchers_.fetch_add(1, std::memory_order_release);
    c.client->watchesScreen = true;
    c.client->screenTakesFrames = c.v.is_object() && c.v.value("frames", false);
    return true;
  }
  static json screenFrames(Context& c) {
    {
      std::lock_guard lock(c.client->mutex);
      c.client->screenTold = false;  // what changes from now on is told again
      c.client->screenOwed = false;  // this answer shows it
      if (c.client->screenTakesFrames) {
        c.client->screenAsk = std::make_shared<const json>(c.v);
        c.client->screenLane = c.lane;
      }
    }
    // The count moves with every frame a program publishes, the displays seldom: a screen
    // is sent them only when they differ from those it holds.
    json answer = *c.host.screenFrames(c.v, c.client->screenSurfaces, false);
    c.client->keepScreensSent(answer);
    return answer;
  }
  static json screenReady(Context& c) {
    {
      std::lock_guard lock(c.client->mutex);
      if (!c.client->screenTakesFrames) return nullptr;
      c.client->screenTold = false;
      if (!std::exchange(c.client->screenOwed, false)) return nullptr;
    }
    c.host.tellScreen(*c.client);  // what changed while it showed the last frames
    return nullptr;
  }
  static json screenSurface(Context& c) { return c.host.screenSurface(c.v, c.client->screenSurfaces, c.memory); }

  // ---- What the host tells tests about the world's shared state (not a port either) ----
  static json eventTaps(Context&) {
    json ids = json::array();
    if (sim::EventServer* events = sim::EventServer::active())
      for (const auto& tap : events->taps()) ids.push_back(tap.id);
    return ids;
  }
  static json eventTapStates(Context&) {
    json states = json::array();
    if (sim::EventServer* events = sim::EventServer::active())
      for (const auto& tap : events->taps())
        states.push_back({{"id", tap.id}, {"pid", tap.owner}, {"enabled", tap.enabled}, {"timeouts", tap.timeouts}});
    return states;
  }
  static json hotKeysEnabled(Context&) {
    return json::array({sim::WindowServer::symbolicHotKeyEnabled(1), sim::WindowServer::symbolicHotKeyEnabled(2)});
  }
  static json preferencesFolder(Context& c) { return c.host.world_.preferencesFolder(); }

  // ---- Reading ahead (HostReads), and the program's channels ----
  static json changeCount(Context& c) { return c.host.changes_ ? json(c.host.changesPath_) : json(nullptr); }
  static json readAhead(Context& c) {
    return c.client->reads->read(c.v, [&](const std::string& method, const json& body) {
      if (method == "read" || method == "rows") throw wire::BadValue("a read of a read");
      std::shared_ptr<wire::Descriptor> memory;
      json answer = c.host.call(c.client, method, body, c.lane, nullptr, memory);
      if (memory) throw wire::BadValue("a read of what comes in shared memory");
      return answer;
    });
  }
  static json rows(Context& c) { return c.client->reads->rows(c.v); }
  static json signalChannel(Context& c);
  static json listen(Context& c) {
    // Which pushes the program wants: "workspace", "ownEvents", "notifications", "appleEvents".
    const bool on = field<bool>(c.v, "on");
    const std::string kind = field<std::string>(c.v, "kind");
    static const std::map<std::string, bool Client::*, std::less<>> kinds = {
        {"workspace", &Client::workspace},
        {"ownEvents", &Client::ownEvents},
        {"notifications", &Client::notifications},
        {"appleEvents", &Client::appleEvents}};
    auto it = kinds.find(kind);
    if (it == kinds.end()) throw wire::BadValue("unknown push kind " + kind);
    std::lock_guard lock(c.client->mutex);
    (*c.client).*(it->second) = on;
    return nullptr;
  }
  static json hwCaptureWindow(Context& c) {
    // SLSHWCaptureWindowList one window at a time, so each picture has memory of its own.
    auto f = privateFunction<SLSHWCaptureWindowList_t>(c.host.world_, kSkyLightPath, "SLSHWCaptureWindowList");
    if (!f) throw wire::BadValue("the world has no SLSHWCaptureWindowList");
    const auto window = field<std::uint32_t>(c.v, "window");
    const auto pictures = f(field<CGSConnectionID>(c.v, "cid"), &window, 1, field<std::uint32_t>(c.v, "options"));
    return c.host.pictureReply(pictures && !pictures->empty() ? pictures->front() : CGImageRef(), c.memory);
  }

  static json privateCall(Context& c, const std::string& name);
  static const std::unordered_map<std::string_view, Handler>& handlers();
};

json Host::Calls::signalChannel(Context& c) {
  if (!c.descriptor) throw wire::BadValue("no socket came with the request");
  const int fd = c.descriptor->get();
  int type = 0;
  socklen_t length = sizeof(type);
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_SEQPACKET) {
    throw wire::BadValue("the signal channel is not a record socket");
  }
  Client& client = *c.client;
  std::scoped_lock lock(client.mutex, client.signalMutex);
  if (client.signalFD >= 0 || client.closing) throw wire::BadValue("the program has its signal channel already");
  // No thread for it: the call fails (a std::system_error) and the program goes on
  // without the channel; its hot keys still come back when it ends.
  client.signalReader = startThread([host = &c.host, client = &client, fd] {
    pollfd watch{fd, POLLIN, 0};
    while (true) {
      if (::poll(&watch, 1, -1) < 0 && errno != EINTR) return;
      host->readSignals(*client);
      if (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) return;
    }
  });
  client.signalFD = c.descriptor->release();
  return nullptr;
}

// ---- Private functions, called with the world's own registered addresses ----

namespace {

using PrivateHandler = json (*)(sim::World& world, const json& v);

/// The world's function `name` of the library at `path`; throws when the world has none.
template <typename Function>
Function* privateOf(sim::World& world, const char* path, const char* name) {
  auto f = privateFunction<Function>(world, path, name);
  if (!f) throw wire::BadValue(std::string("the world has no ") + name);
  return f;
}

const std::unordered_map<std::string_view, PrivateHandler> kPrivateHandlers = {
    {"SLSMainConnectionID",
     [](sim::World& w, const json&) -> json {
       return privateOf<SLSMainConnectionID_t>(w, kSkyLightPath, "SLSMainConnectionID")();
     }},
    {"SLSCopyManagedDisplaySpaces",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<SLSCopyManagedDisplaySpaces_t>(w, kSkyLightPath, "SLSCopyManagedDisplaySpaces");
       auto r = f(read<CGSConnectionID>(v));
       return r ? wire::encode(PlistValue(*r)) : json(nullptr);
     }},
    {"SLSCopySpacesForWindows",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<SLSCopySpacesForWindows_t>(w, kSkyLightPath, "SLSCopySpacesForWindows");
       auto windows = field<PlistValue>(v, "windows");
       if (!windows.asArray()) throw wire::BadValue("windows is not an array");
       auto r = f(field<CGSConnectionID>(v, "cid"), field<std::int32_t>(v, "mask"), *windows.asArray());
       return r ? wire::encode(PlistValue(*r)) : json(nullptr);
     }},
    {"SLSWindowIsOrderedIn",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<SLSWindowIsOrderedIn_t>(w, kSkyLightPath, "SLSWindowIsOrderedIn");
       bool in = false;
       const auto error = f(field<CGSConnectionID>(v, "cid"), field<std::uint32_t>(v, "window"), &in);
       return json::array({error, in});
     }},
    {"_SLPSSetFrontProcessWithOptions",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<SLPSSetFrontProcessWithOptions_t>(w, kSkyLightPath, "_SLPSSetFrontProcessWithOptions");
       ProcessSerialNumber psn = psnOf(field<json>(v, "psn"));
       return f(&psn, field<std::uint32_t>(v, "window"), field<std::uint32_t>(v, "options"));
     }},
    {"SLPSPostEventRecordTo",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<SLPSPostEventRecordTo_t>(w, kSkyLightPath, "SLPSPostEventRecordTo");
       ProcessSerialNumber psn = psnOf(field<json>(v, "psn"));
       const json& record = v.at("record");
       if (!record.is_binary() || record.get_binary().size() != 248) throw wire::BadValue("a record is 248 bytes");
       return f(&psn, record.get_binary().data());
     }},
    {"SLSSpaceCreate",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<SLSSpaceCreate_t>(w, kSkyLightPath, "SLSSpaceCreate");
       auto options = field<std::optional<PlistValue>>(v, "options");
       const platform::PlistDictionary* dictionary = options ? options->asDictionary() : nullptr;
       return f(field<CGSConnectionID>(v, "cid"), field<std::int32_t>(v, "type"), dictionary);
     }},
    {"SLSSpaceSetAbsoluteLevel",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<SLSSpaceSetAbsoluteLevel_t>(w, kSkyLightPath, "SLSSpaceSetAbsoluteLevel");
       return f(field<CGSConnectionID>(v, "cid"), field<CGSSpaceID>(v, "space"), field<std::int32_t>(v, "level"));
     }},
    {"SLSShowSpaces",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<SLSShowSpaces_t>(w, kSkyLightPath, "SLSShowSpaces");
       return f(field<CGSConnectionID>(v, "cid"), arrayField(v, "spaces"));
     }},
    {"SLSAddWindowsToSpaces",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<SLSAddWindowsToSpaces_t>(w, kSkyLightPath, "SLSAddWindowsToSpaces");
       return f(field<CGSConnectionID>(v, "cid"), arrayField(v, "windows"), arrayField(v, "spaces"));
     }},
    {"SLSMoveWindowsToManagedSpace",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<SLSMoveWindowsToManagedSpace_t>(w, kSkyLightPath, "SLSMoveWindowsToManagedSpace");
       return f(field<CGSConnectionID>(v, "cid"), arrayField(v, "windows"), field<CGSSpaceID>(v, "space"));
     }},
    {"_AXUIElementGetWindow",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<AXUIElementGetWindow_t>(w, kApplicationServicesPath, "_AXUIElementGetWindow");
       std::uint32_t window = 0;
       const AXError error = f(AXUIElementMake(read<AXElementID>(v)), &window);
       return json::array({error, window});
     }},
    {"_AXUIElementCreateWithRemoteToken",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<AXUIElementCreateWithRemoteToken_t>(w, kApplicationServicesPath,
                                                              "_AXUIElementCreateWithRemoteToken");
       if (!v.is_binary()) throw wire::BadValue("a token is data");
       auto element = f(platform::PlistData(v.get_binary().begin(), v.get_binary().end()));
       return element ? wire::encode(element->identity()) : json(nullptr);
     }},
    {"GetProcessForPID",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<GetProcessForPID_t>(w, kApplicationServicesPath, "GetProcessForPID");
       ProcessSerialNumber psn;
       const auto error = f(read<std::int32_t>(v), &psn);
       return json::array({error, psn.highLongOfPSN, psn.lowLongOfPSN});
     }},
    {"_LSCopyApplicationArrayInFrontToBackOrder",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<LSCopyApplicationArrayInFrontToBackOrder_t>(w, kCoreServicesPath,
                                                                      "_LSCopyApplicationArrayInFrontToBackOrder");
       auto r = f(read<std::int32_t>(v));
       return r ? wire::encode(PlistValue(*r)) : json(nullptr);
     }},
    {"_LSCopyApplicationInformationItem",
     [](sim::World& w, const json& v) -> json {
       auto f = privateOf<LSCopyApplicationInformationItem_t>(w, kCoreServicesPath,
                                                              "_LSCopyApplicationInformationItem");
       return wire::encode(
           f(field<std::int32_t>(v, "session"), field<PlistValue>(v, "app"), field<std::string>(v, "key")));
     }},
    {"_kLSPIDKey",
     [](sim::World& w, const json&) -> json {
       auto key = reinterpret_cast<const LSPIDKey_t*>(w.symbol(kCoreServicesPath, "_kLSPIDKey"));
       if (!key) throw wire::BadValue("the world has no _kLSPIDKey");
       return *key;
     }},
};

}  // namespace

json Host::Calls::privateCall(Context& c, const std::string& name) {
  if (HostMultitouch::serves(name)) {
    std::weak_ptr<Client> weak = c.client;
    auto push = [weak](const std::string& method, json body) {
      auto client = weak.lock();
      return client && client->push(method, std::move(body));
    };
    return c.host.multitouch_->call(c.client->number, push, name, c.v);
  }
  if (name == "SLSSetSymbolicHotKeyEnabled") {
    // The host's own: the program holds the hot key off until it turns it on or ends.
    auto status = c.host.switchHotKey(*c.client, field<std::uint32_t>(c.v, "key"), field<bool>(c.v, "on"));
    if (!status) throw wire::BadValue("the world has no " + name);
    return *status;
  }
  auto it = kPrivateHandlers.find(name);
  if (it == kPrivateHandlers.end()) throw wire::BadValue("unknown method");
  return it->second(c.host.world_, c.v);
}

// ---- The table's rows, and the host's own requests, by name ----

#define TRELLIQ_HANDLER(Implementation, remote, host, name, Result, params, args, fields, via, fallback, owner) \
  TRELLIQ_HANDLER_##host(Implementation, name, fields, via, owner)
#define TRELLIQ_HANDLER_gen(Implementation, name, fields, via, owner)                               \
  {#name, [](Host::Calls::Context& c) -> json {                                                      \
     return Host::Calls::serve<&Implementation::name, calls::Via::via>(c, calls::fieldNames fields,  \
                                                                        TRELLIQ_OWNER_##owner);     \
   }},
#define TRELLIQ_HANDLER_own(Implementation, name, fields, via, owner) {#name, &Host::Calls::name},
#define TRELLIQ_HANDLER_none(...)
#define TRELLIQ_SYSTEM_HANDLER(...) TRELLIQ_HANDLER(sim::World, __VA_ARGS__)
#define TRELLIQ_WINDOW_SERVER_HANDLER(...) TRELLIQ_HANDLER(sim::WindowServer, __VA_ARGS__)
#define TRELLIQ_HOST_HANDLER(name) {#name, &Host::Calls::name},

const std::unordered_map<std::string_view, Host::Calls::Handler>& Host::Calls::handlers() {
  static const std::unordered_map<std::string_view, Handler> table = {
      PLATFORM_SYSTEM_CALLS(TRELLIQ_SYSTEM_HANDLER)
      PLATFORM_WINDOW_SERVER_CALLS(TRELLIQ_WINDOW_SERVER_HANDLER)
      TRELLIQ_HOST_HANDLER(ownWindows)
      TRELLIQ_HOST_HANDLER(screenAttach)
      TRELLIQ_HOST_HANDLER(screenGeneration)
      TRELLIQ_HOST_HANDLER(screenDoubleTap)
      TRELLIQ_HOST_HANDLER(screenWatch)
      TRELLIQ_HOST_HANDLER(screenFrames)
      TRELLIQ_HOST_HANDLER(screenReady)
      TRELLIQ_HOST_HANDLER(screenSurface)
      TRELLIQ_HOST_HANDLER(eventTaps)
      TRELLIQ_HOST_HANDLER(eventTapStates)
      TRELLIQ_HOST_HANDLER(hotKeysEnabled)
      TRELLIQ_HOST_HANDLER(preferencesFolder)
      TRELLIQ_HOST_HANDLER(changeCount)
      {"read", &Host::Calls::readAhead},
      TRELLIQ_HOST_HANDLER(rows)
      TRELLIQ_HOST_HANDLER(signalChannel)
      TRELLIQ_HOST_HANDLER(listen)
      TRELLIQ_HOST_HANDLER(hwCaptureWindow)
  };
  return table;
}

json Host::call(const std::shared_ptr<Client>& client, const std::string& method, const json& v, std::uint32_t lane,
                wire::Descriptor* descriptor, std::shared_ptr<wire::Descriptor>& memory) {
  Calls::Context context{*this, client, v, descriptor, memory, lane};
  const AnsweringFor answering(*client);
  if (method.starts_with("private.")) return Calls::privateCall(context, method.substr(8));
  const auto& handlers = Calls::handlers();
  auto it = handlers.find(method);
  if (it == handlers.end()) throw wire::BadValue("unknown method");
  return it->second(context);
}

}  // namespace host
