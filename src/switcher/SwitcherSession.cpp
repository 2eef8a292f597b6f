// The controller's life: the shared instance, construction and the workspace observers,
// the hop to the main queue, and the corner and gesture openers. A session's own life is
// `Session`'s.

#include <mutex>
#include <thread>
#include <utility>

#include "platform/AppKitWorkspace.h"
#include "platform/CoreGraphics.h"
#include "platform/OncePerSystem.h"
#include "settings/Settings.h"
#include "switcher/Gestures.h"
#include "switcher/Switcher.h"

namespace trelliq {

namespace {

// The controller of the installed system, and the ones of earlier systems: those are
// stopped and kept, since their delayed work and tap threads may still hold them.
struct SharedSlot {
  std::mutex mutex;
  std::shared_ptr<Switcher> current;
  platform::SystemStamp system;
  std::vector<std::shared_ptr<Switcher>> retired;
};

SharedSlot& sharedSlot() {
  static auto& slot = *new SharedSlot();  // never destroyed: see above
  return slot;
}

}  // namespace

// The workspace observers hold the controller weakly, so they are registered once the
// controller is owned by a shared pointer. They hop to the main queue themselves, taken
// when a notification arrives: a queue taken at registration would outlive its clock in
// a process that installs a fresh simulated system.
void Switcher::observeWorkspace() {
  auto& center = NSWorkspace::shared().notificationCenter();
  auto hop = [weak = weak()](auto work) {
    return [weak, work](const NSNotification& note) {
      platform::mainQueue().async([weak, work, note] {
        if (auto strong = weak.lock()) work(*strong, note);
      });
    };
  };
  notificationTokens.push_back(center.addObserver(NSWorkspaceDidTerminateApplicationNotification, nullptr, nullptr,
                                                  hop([](Switcher& s, const NSNotification& note) {
                                                    if (note.application)
                                                      s.actions_.appQuit(note.application->processIdentifier());
                                                  })));
  // Hidden apps draw differently on their tiles; a no-op edit announces the snapshot.
  auto redraw = hop([](Switcher& s, const NSNotification&) {
    if (s.session_.isActive()) s.model_.workspace.modify([](Workspace&) {});
  });
  notificationTokens.push_back(center.addObserver(NSWorkspaceDidHideApplicationNotification, nullptr, nullptr, redraw));
  notificationTokens.push_back(
      center.addObserver(NSWorkspaceDidUnhideApplicationNotification, nullptr, nullptr, redraw));
}

void Switcher::stopObservingWorkspace() {
  auto& center = NSWorkspace::shared().notificationCenter();
  for (const NSNotificationToken& token : notificationTokens) center.removeObserver(token);
  notificationTokens.clear();
}

// ---- Lifecycle ---------------------------------------------------------------------------

Switcher& Switcher::shared() {
  SharedSlot& slot = sharedSlot();
  std::lock_guard lock(slot.mutex);
  const platform::SystemStamp system = platform::SystemStamp::now();
  if (!slot.current || slot.system != system) {
    if (slot.current) {
      // Its tap belongs to the system that is gone: it must not re-enable itself there,
      // nor hear of the new system's apps.
      slot.current->gate_.setTapStopped(true);
      slot.current->stopObservingWorkspace();
      slot.retired.push_back(std::move(slot.current));
    }
    slot.current = make();
    // The process's switcher also opens from the hot corners and the double tap.
    slot.current->setWatches(triggerWatches());
    slot.system = system;
  }
  return *slot.current;
}

std::shared_ptr<Switcher> Switcher::make() {
  // The parts' queued work runs on the main queue and checks only that its part is still
  // there, so the parts must die on that queue's thread, between two pieces of work.
  const std::thread::id maker = std::this_thread::get_id();
  std::shared_ptr<Switcher> made(new Switcher(), [maker](Switcher* switcher) {
    if (std::this_thread::get_id() == maker) {
      delete switcher;
    } else {
      platform::mainQueue().async([switcher] { delete switcher; });
    }
  });
  made->observeWorkspace();
  return made;
}

Switcher::Switcher() {
  // The model belongs to this controller, so the subscription may use its parts directly.
  modelObserver = model_.subscribe([this](const ModelChange&) { session_.scheduleModelChanged(); });
  model_.pictureKeeping().setOnDrawnChange([this] { pictures_.schedulePictureKeeping(); });
}

Switcher::~Switcher() {
  model_.unsubscribe(modelObserver);
  model_.pictureKeeping().setOnDrawnChange(nullptr);
  stopObservingWorkspace();
  if (CFMachPortRef port = gate_.tapPort()) CFMachPortInvalidate(port);
}

void Switcher::onMain(std::function<void(Switcher&)> work) {
  const std::uint64_t generation = gate_.openState().generation;
  platform::mainQueue().async([weak = weak(), generation, work = std::move(work)] {
    auto strong = weak.lock();
    if (!strong || !strong->session_.isActive() || strong->session_.generation() != generation) return;
    work(*strong);
  });
}

// ---- The corner and the double tap ---------------------------------------------------------

void Switcher::openFromCorner(const NSScreen& screen) {
  if (!gate_.tapPort()) return;
  if (session_.isActive()) {
    if (gate_.staysOpen() && !gate_.isRenaming()) session_.cancel(false);
    return;
  }
  const bool windowTiles = Settings::tiles() == Settings::Tiles::windows;
  session_.open(windowTiles ? Action::clusters(1) : Action::cycle(1), kCGEventFlagMaskCommand, Staying::open, screen);
}

void Switcher::toggleFromGesture() {
  if (!gate_.tapPort()) return;
  if (session_.isActive()) {
    if (!gate_.isRenaming()) session_.cancel(false);
    return;
  }
  const bool windowTiles = Settings::tiles() == Settings::Tiles::windows;
  session_.open(windowTiles ? Action::clusters(1) : Action::cycle(1), kCGEventFlagMaskCommand, Staying::open,
                std::nullopt);
}

}  // namespace trelliq
