// The system's unpublished functions, registered in the world's symbol registry. Each
// one acts on the active window server and records what it was asked, so tests can
// take any of them away and check the exact arguments the program passed.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "platform/PrivateSymbols.h"
#include "platform/sim/Desk.h"
#include "platform/sim/WindowServer.h"
#include "platform/sim/WindowServerState.h"
#include "platform/sim/World.h"

namespace sim {

using platform::PlistArray;
using platform::PlistData;
using platform::PlistDictionary;
using platform::PlistValue;

namespace {

constexpr std::int32_t kErrorIllegalArgument = 1000;
constexpr std::int32_t kErrorInvalidConnection = 1002;
constexpr std::int32_t kProcessNotFound = -600;
constexpr std::uint32_t kPSNBase = 0x10000;

// Symbolic hot keys are switched from a signal handler: plain atomics, nothing else.
constexpr std::size_t kHotKeys = 256;
std::array<std::atomic<bool>, kHotKeys> gHotKeyDisabled{};

const std::string kLSPIDKeyString = "LSPID";

WindowServer* server() { return WindowServer::active(); }

void record(WindowServer* ws, const char* symbol, std::initializer_list<PlistValue> arguments) {
  if (ws && ws->keepsCallLog()) ws->recordPrivateCall({symbol, PlistArray(arguments)});
}

std::vector<std::uint32_t> windowNumbers(const PlistArray& array) {
  std::vector<std::uint32_t> result;
  for (const PlistValue& v : array) {
    if (auto n = v.asInteger(); n && *n > 0 && *n <= 0xFFFFFFFFll) result.push_back(static_cast<std::uint32_t>(*n));
  }
  return result;
}

std::vector<std::uint64_t> spaceIDs(const PlistArray& array) {
  std::vector<std::uint64_t> result;
  for (const PlistValue& v : array) {
    if (auto n = v.asInteger(); n && *n > 0) result.push_back(static_cast<std::uint64_t>(*n));
  }
  return result;
}

std::optional<std::int32_t> pidOf(const ProcessSerialNumber* psn) {
  if (!psn || psn->highLongOfPSN != 0 || psn->lowLongOfPSN <= kPSNBase) return std::nullopt;
  return static_cast<std::int32_t>(psn->lowLongOfPSN - kPSNBase);
}

PlistValue psnValue(const ProcessSerialNumber* psn) {
  if (!psn) return PlistArray{};
  return PlistArray{PlistValue(psn->highLongOfPSN), PlistValue(psn->lowLongOfPSN)};
}

PlistData applicationIdentifier(std::int32_t pid) {
  PlistData id = {'A', 'S', 'N', 0, 0, 0, 0, 0};
  std::memcpy(id.data() + 4, &pid, 4);
  return id;
}

std::optional<std::int32_t> pidOfIdentifier(const PlistValue& value) {
  const PlistData* d = value.asData();
  if (!d || d->size() != 8 || (*d)[0] != 'A' || (*d)[1] != 'S' || (*d)[2] != 'N') return std::nullopt;
  std::int32_t pid = 0;
  std::memcpy(&pid, d->data() + 4, 4);
  return pid;
}

// ---- SkyLight ----

CGSConnectionID mainConnectionID() {
  record(server(), "SLSMainConnectionID", {});
  return WindowServer::kConnectionID;
}

std::optional<PlistArray> copyManagedDisplaySpaces(CGSConnectionID cid) {
  WindowServer* ws = server();
  record(ws, "SLSCopyManagedDisplaySpaces", {cid});
  if (!ws || cid != WindowServer::kConnectionID) return std::nullopt;
  return ws->managedDisplaySpaces();
}

std::optional<PlistArray> copySpacesForWindows(CGSConnectionID cid, std::int32_t mask, const PlistArray& windows) {
  WindowServer* ws = server();
  record(ws, "SLSCopySpacesForWindows", {cid, mask, windows});
  if (!ws || cid != WindowServer::kConnectionID) return std::nullopt;
  PlistArray result;
  const auto listed = [&](std::uint64_t s) {
    return std::any_of(result.begin(), result.end(),
                       [&](const PlistValue& v) { return v.asInteger() == static_cast<std::int64_t>(s); });
  };
  ws->inspect([&](WindowServer::State& state) {
    const Desk& desk = state.desk;
    for (const PlistValue& v : windows) {
      const auto n = v.asInteger();
      if (!n || *n <= 0 || *n > 0xFFFFFFFFll) continue;  // as windowNumbers() reads them
      for (std::uint64_t s : desk.spacesOf(static_cast<std::uint32_t>(*n))) {
        const Space* sp = desk.space(s);
        if (!sp || listed(s)) continue;
        // Mask bits: 1 the user's desktops (and other managed Spaces), 2 full-screen Spaces,
        // 4 Spaces made by programs.
        const int bit = !sp->managed ? 4 : sp->type == kSpaceTypeFullScreen ? 2 : 1;
        if (!(mask & bit)) continue;
        result.emplace_back(static_cast<long long>(s));
      }
    }
  });
  return result;
}

std::int32_t windowIsOrderedIn(CGSConnectionID cid, std::uint32_t window, bool* orderedIn) {
  WindowServer* ws = server();
  record(ws, "SLSWindowIsOrderedIn", {cid, window});
  if (!ws || cid != WindowServer::kConnectionID) return kErrorInvalidConnection;
  std::optional<bool> in;
  ws->inspect([&](WindowServer::State& state) {
    if (const Window* w = state.desk.window(window)) in = w->orderedIn;
  });
  if (!in || !orderedIn) return kErrorIllegalArgument;
  *orderedIn = *in;
  return 0;
}

std::int32_t setFrontProcessWithOptions(ProcessSerialNumber* psn, std::uint32_t window, std::uint32_t options) {
  WindowServer* ws = server();
  record(ws, "_SLPSSetFrontProcessWithOptions", {psnValue(psn), window, options});
  auto pid = pidOf(psn);
  if (!ws || !pid) return kProcessNotFound;
  return ws->requestFrontProcess(*pid, window) ? 0 : kErrorIllegalArgument;
}

std::int32_t postEventRecordTo(ProcessSerialNumber* psn, const std::uint8_t* bytes) {
  WindowServer* ws = server();
  if (!bytes) {
    record(ws, "SLPSPostEventRecordTo", {psnValue(psn), PlistData{}});
    return kErrorIllegalArgument;
  }
  const std::size_t size = std::max<std::size_t>(bytes[4], 0x40);
  PlistData copy(bytes, bytes + size);
  record(ws, "SLPSPostEventRecordTo", {psnValue(psn), copy});
  auto pid = pidOf(psn);
  if (!ws || !pid || !ws->app(*pid)) return kProcessNotFound;
  // A focus record names the window that takes the keyboard within its application.
  std::uint32_t window = 0;
  std::memcpy(&window, bytes + 0x3C, 4);
  auto w = ws->window(window);
  if (w && w->pid == *pid && w->axElement && !w->minimized) {
    ws->updateApp(*pid, [&](App& a) { a.focusedWindow = window; });
  }
  return 0;
}

std::optional<std::vector<CGImageRef>> hwCaptureWindowList(CGSConnectionID cid, const std::uint32_t* windows,
                                                           std::int32_t count, std::uint32_t options) {
  WindowServer* ws = server();
  PlistArray asked;
  for (std::int32_t i = 0; windows && i < count; ++i) asked.push_back(windows[i]);
  record(ws, "SLSHWCaptureWindowList", {cid, asked, options});
  if (!ws || cid != WindowServer::kConnectionID || !windows || count <= 0) return std::nullopt;
  if (!ws->world().screenCaptureAllowed()) return std::nullopt;
  const bool full = (options & 0x200) == 0;  // 0x80a00 asks for a reduced picture
  std::vector<CGImageRef> images;
  for (std::int32_t i = 0; i < count; ++i) {
    auto w = ws->window(windows[i]);
    if (!w || w->bounds.isEmpty()) continue;
    // Full resolution is in the pixels of the display holding most of the window.
    double scale = 1;
    if (full) {
      const auto displays = ws->world().displays();
      const double top = displays.empty() ? 0 : displays.front().screen.frame.maxY();
      double best = 0;
      for (const Display& d : displays) {
        const CGRect shared = platform::flipRect(d.screen.frame, top).intersection(w->bounds);
        const double area = shared.isNull() ? 0 : shared.width() * shared.height();
        if (area > best) {
          best = area;
          scale = d.screen.backingScaleFactor;
        }
      }
    }
    const int width = std::max(1, platform::pictureSide(w->bounds.width() * scale));
    const int height = std::max(1, platform::pictureSide(w->bounds.height() * scale));
    if (auto image = ws->captureWindowPicture(windows[i], width, height)) images.push_back(image);
  }
  if (images.empty()) return std::nullopt;
  return images;
}

CGSSpaceID spaceCreate(CGSConnectionID cid, std::int32_t type, const PlistDictionary* options) {
  WindowServer* ws = server();
  record(ws, "SLSSpaceCreate", {cid, type, options ? PlistValue(*options) : PlistValue(PlistDictionary{})});
  if (!ws || cid != WindowServer::kConnectionID) return 0;
  return ws->createOverlaySpace();
}

std::int32_t spaceSetAbsoluteLevel(CGSConnectionID cid, CGSSpaceID space, std::int32_t level) {
  WindowServer* ws = server();
  record(ws, "SLSSpaceSetAbsoluteLevel", {cid, static_cast<long long>(space), level});
  if (!ws || cid != WindowServer::kConnectionID) return kErrorInvalidConnection;
  return ws->setSpaceLevel(space, level) ? 0 : kErrorIllegalArgument;
}

std::int32_t showSpaces(CGSConnectionID cid, const PlistArray& spaces) {
  WindowServer* ws = server();
  record(ws, "SLSShowSpaces", {cid, spaces});
  if (!ws || cid != WindowServer::kConnectionID) return kErrorInvalidConnection;
  ws->showSpaces(spaceIDs(spaces));
  return 0;
}

std::int32_t addWindowsToSpaces(CGSConnectionID cid, const PlistArray& windows, const PlistArray& spaces) {
  WindowServer* ws = server();
  record(ws, "SLSAddWindowsToSpaces", {cid, windows, spaces});
  if (!ws || cid != WindowServer::kConnectionID) return kErrorInvalidConnection;
  ws->addWindowsToSpaces(windowNumbers(windows), spaceIDs(spaces));
  return 0;
}

std::int32_t moveWindowsToManagedSpace(CGSConnectionID cid, const PlistArray& windows, CGSSpaceID space) {
  WindowServer* ws = server();
  record(ws, "SLSMoveWindowsToManagedSpace", {cid, windows, static_cast<long long>(space)});
  if (!ws || cid != WindowServer::kConnectionID) return kErrorInvalidConnection;
  return ws->moveWindowsToManagedSpace(windowNumbers(windows), space) ? 0 : kErrorIllegalArgument;
}

std::int32_t setSymbolicHotKeyEnabled(std::uint32_t hotKey, bool enabled) {
  if (hotKey >= kHotKeys) return kErrorIllegalArgument;
  gHotKeyDisabled[hotKey].store(!enabled, std::memory_order_relaxed);
  return 0;
}

// ---- ApplicationServices ----

std::int32_t getProcessForPID(std::int32_t pid, ProcessSerialNumber* psn) {
  WindowServer* ws = server();
  record(ws, "GetProcessForPID", {pid});
  if (!ws || !psn) return kProcessNotFound;
  auto a = ws->app(pid);
  if (!a || a->terminated || pid <= 0) return kProcessNotFound;
  psn->highLongOfPSN = 0;
  psn->lowLongOfPSN = kPSNBase + static_cast<std::uint32_t>(pid);
  return 0;
}

// ---- CoreServices ----

std::optional<PlistArray> copyApplicationArrayInFrontToBackOrder(std::int32_t session) {
  WindowServer* ws = server();
  record(ws, "_LSCopyApplicationArrayInFrontToBackOrder", {session});
  if (!ws) return std::nullopt;
  PlistArray result;
  for (std::int32_t pid : ws->activationOrder()) {
    auto a = ws->app(pid);
    if (a && !a->terminated && a->policy != platform::ActivationPolicy::prohibited)
      result.push_back(applicationIdentifier(pid));
  }
  return result;
}

std::optional<PlistValue> copyApplicationInformationItem(std::int32_t session, const PlistValue& application,
                                                         const std::string& key) {
  WindowServer* ws = server();
  record(ws, "_LSCopyApplicationInformationItem", {session, application, key});
  auto pid = pidOfIdentifier(application);
  if (!ws || !pid) return std::nullopt;
  auto a = ws->app(*pid);
  if (!a) return std::nullopt;
  if (key == kLSPIDKeyString) {
    if (!a->launchServicesPID) return std::nullopt;
    return PlistValue(a->pid);
  }
  if (key == "LSDisplayName" && a->name) return PlistValue(*a->name);
  if (key == "CFBundleIdentifier" && a->bundleIdentifier) return PlistValue(*a->bundleIdentifier);
  return std::nullopt;
}

}  // namespace

void resetSymbolicHotKeys() {
  for (auto& k : gHotKeyDisabled) k.store(false, std::memory_order_relaxed);
}

bool WindowServer::symbolicHotKeyEnabled(std::uint32_t hotKey) {
  return hotKey >= kHotKeys || !gHotKeyDisabled[hotKey].load(std::memory_order_relaxed);
}

void registerUnpublishedFunctions(World& world) {
  world.addLibrary(kSkyLightPath);
  world.addLibrary(kApplicationServicesPath);
  world.addLibrary(kCoreServicesPath);
  world.addLibrary(kMultitouchSupportPath);

  world.addFunction<SLSMainConnectionID_t>(kSkyLightPath, "SLSMainConnectionID", &mainConnectionID);
  world.addFunction<SLSCopyManagedDisplaySpaces_t>(kSkyLightPath, "SLSCopyManagedDisplaySpaces",
                                                   &copyManagedDisplaySpaces);
  world.addFunction<SLSCopySpacesForWindows_t>(kSkyLightPath, "SLSCopySpacesForWindows", &copySpacesForWindows);
  world.addFunction<SLSWindowIsOrderedIn_t>(kSkyLightPath, "SLSWindowIsOrderedIn", &windowIsOrderedIn);
  world.addFunction<SLPSSetFrontProcessWithOptions_t>(kSkyLightPath, "_SLPSSetFrontProcessWithOptions",
                                                      &setFrontProcessWithOptions);
  world.addFunction<SLPSPostEventRecordTo_t>(kSkyLightPath, "SLPSPostEventRecordTo", &postEventRecordTo);
  world.addFunction<SLSHWCaptureWindowList_t>(kSkyLightPath, "SLSHWCaptureWindowList", &hwCaptureWindowList);
  world.addFunction<SLSSpaceCreate_t>(kSkyLightPath, "SLSSpaceCreate", &spaceCreate);
  world.addFunction<SLSSpaceSetAbsoluteLevel_t>(kSkyLightPath, "SLSSpaceSetAbsoluteLevel", &spaceSetAbsoluteLevel);
  world.addFunction<SLSShowSpaces_t>(kSkyLightPath, "SLSShowSpaces", &showSpaces);
  world.addFunction<SLSAddWindowsToSpaces_t>(kSkyLightPath, "SLSAddWindowsToSpaces", &addWindowsToSpaces);
  world.addFunction<SLSMoveWindowsToManagedSpace_t>(kSkyLightPath, "SLSMoveWindowsToManagedSpace",
                                                    &moveWindowsToManagedSpace);
  world.addFunction<SLSSetSymbolicHotKeyEnabled_t>(kSkyLightPath, "SLSSetSymbolicHotKeyEnabled",
                                                   &setSymbolicHotKeyEnabled);
  world.addFunction<GetProcessForPID_t>(kApplicationServicesPath, "GetProcessForPID", &getProcessForPID);
  world.addFunction<LSCopyApplicationArrayInFrontToBackOrder_t>(
      kCoreServicesPath, "_LSCopyApplicationArrayInFrontToBackOrder", &copyApplicationArrayInFrontToBackOrder);
  world.addFunction<LSCopyApplicationInformationItem_t>(kCoreServicesPath, "_LSCopyApplicationInformationItem",
                                                        &copyApplicationInformationItem);
  world.addSymbol(kCoreServicesPath, "_kLSPIDKey", const_cast<std::string*>(&kLSPIDKeyString));
}

// ---------------------------------------------------------------------------------------------
// The answers behind them

PlistArray WindowServer::managedDisplaySpaces() {
  PlistArray result;
  read([&](const Desk& desk) {
    auto describe = [&](const Space& s) {
      return PlistDictionary{{"id64", PlistValue(static_cast<long long>(s.id))},
                             {"ManagedSpaceID", PlistValue(static_cast<long long>(s.id))},
                             {"type", s.type},
                             {"uuid", s.uuid}};
    };
    for (std::uint32_t id : desk.displayOrder()) {
      const DeskDisplay* dd = desk.display(id);
      const DeskDisplay* h = desk.holder(id);
      PlistArray spaces;
      PlistDictionary current;
      for (std::uint64_t s : h->spaces) {
        spaces.push_back(describe(*desk.space(s)));
        if (s == h->current) current = describe(*desk.space(s));
      }
      PlistDictionary entry{{"Display Identifier", desk.shared() ? std::string("Main") : dd->uuid},
                            {"Spaces", spaces},
                            {"Current Space", current}};
      result.push_back(entry);
      if (desk.shared()) break;
    }
    result.insert(result.end(), state_->unmatchedManagedDisplays.begin(), state_->unmatchedManagedDisplays.end());
  });
  return result;
}

void WindowServer::setUnmatchedManagedDisplays(PlistArray entries) {
  edit([&](Desk&) { state_->unmatchedManagedDisplays = std::move(entries); });
}

std::uint64_t WindowServer::createOverlaySpace() {
  std::uint64_t id = 0;
  edit([&](Desk& desk) { id = desk.createUnmanagedSpace(); });
  return id;
}

bool WindowServer::setSpaceLevel(std::uint64_t space, std::int32_t level) {
  bool ok = false;
  edit([&](Desk& desk) {
    auto it = desk.spaces().find(space);
    if (it == desk.spaces().end() || it->second.managed) return;
    it->second.absoluteLevel = level;
    desk.touch();
    ok = true;
  });
  return ok;
}

void WindowServer::showSpaces(const std::vector<std::uint64_t>& spaces) {
  edit([&](Desk& desk) {
    for (std::uint64_t s : spaces) {
      auto it = desk.spaces().find(s);
      if (it != desk.spaces().end() && !it->second.managed) it->second.shown = true;
    }
    desk.touch();
  });
}

void WindowServer::addWindowsToSpaces(const std::vector<std::uint32_t>& windows,
                                      const std::vector<std::uint64_t>& spaces) {
  edit([&](Desk& desk) { desk.addToSpaces(windows, spaces); });
}

bool WindowServer::moveWindowsToManagedSpace(const std::vector<std::uint32_t>& windows, std::uint64_t space) {
  bool ok = false;
  edit([&](Desk& desk) {
    const Space* s = desk.space(space);
    if (!s || !s->managed) return;
    desk.moveToManagedSpace(windows, space);
    ok = true;
  });
  return ok;
}

}  // namespace sim
