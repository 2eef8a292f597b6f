#pragma once
// What WindowServer keeps behind its mutex besides the desk: reaction settings,
// listeners and generated icons. Shared by the window server's implementation files.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <shared_mutex>

#include "platform/SharedSurface.h"
#include "platform/sim/Desk.h"
#include "platform/sim/WindowServer.h"

namespace sim {

struct WindowServer::Lifetime {
  std::shared_mutex mutex;  // held shared while delayed work runs
  bool alive = true;
};

struct WindowServer::State {
  Desk desk;
  Timings timings;
  std::map<Reaction, Failure> failures;
  SpaceFollow follow = SpaceFollow::follows;
  bool pointerSet = false;
  /// Each program's key window (by pid), and when it was made key: the newest shown
  /// non-activating key panel has the keyboard while another application is active.
  struct OwnKey {
    std::uint32_t number = 0;
    std::uint64_t made = 0;
  };
  std::map<std::int32_t, OwnKey> ownKeys;
  std::uint64_t keysMade = 0;
  /// Apps asked to become frontmost whose activation has not taken place yet.
  std::map<std::int32_t, int> activating;
  std::uint64_t nextListener = 1;
  std::map<std::uint64_t, std::shared_ptr<std::function<void(const DeskChange&)>>> listeners;
  std::shared_ptr<std::function<void(const platform::WorkspaceEvent&)>> workspaceListener;
  std::shared_ptr<std::function<void(const CGEvent&, std::uint32_t)>> ownEventListener;
  std::shared_ptr<std::function<void(const CGEvent&, std::uint32_t, std::int32_t)>> programEventListener;
  std::map<std::int32_t, CGImageRef> icons;
  platform::PlistArray unmatchedManagedDisplays;
  /// The surfaces the own windows' content is published in, by window number.
  std::map<std::uint32_t, std::shared_ptr<const platform::SharedSurface>> ownSurfaces;
  /// Surfaces handed over or taken away so far (a new one may start at an old sequence).
  std::uint64_t surfaceChanges = 0;
  /// The frames published in surfaces no longer held, so the generation never goes back
  /// when a surface is replaced by one that starts again from its first frame.
  std::uint64_t retiredFrames = 0;

  /// Lets go of a window's surface, keeping the count of the frames it published.
  void retireSurface(std::uint32_t number) {
    if (auto it = ownSurfaces.find(number); it != ownSurfaces.end()) {
      retiredFrames += it->second->sequence();
      ownSurfaces.erase(it);
    }
  }
  /// Which own windows' state (ownWindowStatus) may have changed since their program last
  /// took them (WindowServer::takeOwnWindowChanges), for each program that takes them. An
  /// own-window request marks the windows it changes and says so (`ownMarked`); any other
  /// change of the desk may change any of them (a Space switch, a display, another app's
  /// window) and moves `deskChanges` instead, after which each program reads all of its
  /// windows again. Those are rare beside a program's own requests, so a program that makes
  /// many windows is told about each one alone.
  struct OwnChanges {
    std::set<std::uint32_t> windows;
    std::uint64_t deskChanges = 0;  // as of its last take
  };
  std::map<std::int32_t, OwnChanges> ownChanges;
  std::uint64_t deskChanges = 1;
  /// Every access that changed the desk or may have (any edit), so a display frame knows
  /// whether anything it was composed from moved since, whatever the change was.
  std::uint64_t edits = 0;
  bool ownMarked = false;  // the change under way marked what it changed

  void markOwn(std::int32_t pid, std::uint32_t number) {
    if (auto it = ownChanges.find(pid); it != ownChanges.end()) it->second.windows.insert(number);
  }
  /// Marks the own windows `cover` may hide or have hidden: those lying wholly inside it.
  void markOwnInside(const Desk& d, const CGRect& cover) {
    if (ownChanges.empty()) return;
    for (const auto& [number, own] : d.ownStates) {
      if (const Window* w = d.window(number); w && cover.contains(w->bounds)) markOwn(w->pid, number);
    }
  }

  /// The desk's windows front to back, all and by owner. Every edit drops it, so it is
  /// only for reads: an edit must ask Desk::ordered() after its own changes.
  struct Order {
    std::vector<const Window*> all;
    std::map<std::int32_t, std::vector<const Window*>> byOwner;
    /// The window list as last described (WindowServer::windowList), until the next change.
    mutable std::optional<std::vector<platform::WindowEntry>> entries;
  };
  std::optional<Order> order;

  const Order& ordered() {
    if (!order) {
      order.emplace();
      order->all = desk.ordered();
      for (const Window* w : order->all) order->byOwner[w->pid].push_back(w);
    }
    return *order;
  }

  Failure failureOf(Reaction r) const {
    auto it = failures.find(r);
    return it == failures.end() ? Failure::none : it->second;
  }
};

/// A generated application icon: a rounded square in the app's colour with its initial.
CGImageRef makeAppIcon(const App& app);

}  // namespace sim
