#include "switcher/OpenGate.h"

#include <utility>

namespace trelliq {

// ---- Faces
// ---------------------------------------------------------------------------------

bool OpenGate::isOpen() const {
  std::lock_guard lock(openLock);
  return lockedState.open;
}

void OpenGate::setOpen(bool open) {
  std::lock_guard lock(openLock);
  lockedState.open = open;
}

bool OpenGate::staysOpen() const {
  std::lock_guard lock(openLock);
  return lockedState.staysOpen;
}

bool OpenGate::isRenaming() const {
  std::lock_guard lock(openLock);
  return lockedState.renaming;
}

bool OpenGate::tapStopped() const {
  std::lock_guard lock(openLock);
  return lockedState.tapStopped;
}

void OpenGate::setTapStopped(bool stopped) {
  std::lock_guard lock(openLock);
  lockedState.tapStopped = stopped;
}

std::vector<ClickTarget> OpenGate::clickTargets() const {
  std::lock_guard lock(openLock);
  return clickTargetsValue;
}

void OpenGate::setClickTargets(std::vector<ClickTarget> targets) {
  std::lock_guard lock(openLock);
  clickTargetsValue = std::move(targets);
}

OpenState OpenGate::openState() const {
  std::lock_guard lock(openLock);
  return lockedState;
}

CFMachPortRef OpenGate::tapPort() const {
  std::lock_guard lock(openLock);
  return tap;
}

void OpenGate::installTap(CFMachPortRef port) {
  std::lock_guard lock(openLock);
  tap = std::move(port);
  lockedState.tapStopped = false;
}

CFMachPortRef OpenGate::removeTap() {
  std::lock_guard lock(openLock);
  CFMachPortRef port = std::move(tap);
  tap = nullptr;
  return port;
}

// ---- Locked steps
// --------------------------------------------------------------------------

std::optional<std::uint64_t> OpenGate::tryOpen(CGEventFlags holding, const SessionAction& action, Staying staying) {
  std::lock_guard lock(openLock);
  if (lockedState.open || lockedState.renaming) return std::nullopt;
  lockedState.open = true;
  lockedState.staysOpen = staying == Staying::open;
  lockedState.holding = holding;
  lockedState.clusterSession = action.isClusters();
  lockedState.appSession = action.isAppWindows();
  return ++lockedState.generation;
}

bool OpenGate::endOpen(std::optional<std::uint64_t> generation) {
  std::lock_guard lock(openLock);
  if (generation && lockedState.generation != *generation) return false;
  lockedState.open = false;
  lockedState.staysOpen = false;
  lockedState.renaming = false;
  clickTargetsValue.clear();
  return true;
}

bool OpenGate::lockForRenaming(std::uint64_t generation) {
  std::lock_guard lock(openLock);
  if (lockedState.generation != generation || !lockedState.open || lockedState.renaming) return false;
  lockedState.open = false;
  lockedState.renaming = true;
  return true;
}

bool OpenGate::unlockAfterRenaming(Holding holding, std::uint64_t generation) {
  std::lock_guard lock(openLock);
  if (lockedState.generation != generation || !lockedState.renaming) return false;
  lockedState.renaming = false;
  lockedState.open = true;
  if (holding == Holding::released) lockedState.staysOpen = true;
  return true;
}

}  // namespace trelliq
