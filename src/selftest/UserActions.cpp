#include "selftest/UserActions.h"

#include <memory>
#include <optional>

#include "selftest/ModeClock.h"
#include "selftest/WorldReader.h"
#include "workspace/Focus.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {

namespace {

// Whether another running copy of the program shows a switcher panel; nothing when no
// copy runs (none of its windows, its status item's included, is listed).
std::optional<bool> copysPanelShows() {
  bool running = false;
  for (const WorldReader::Listed& w : WorldReader::windowList(kCGWindowListOptionAll)) {
    if (!w.otherCopy()) continue;
    if (w.onScreen && w.layer == 101 && w.alphaText != "0") return true;
    running = true;
  }
  return running ? std::optional<bool>(false) : std::nullopt;
}

// Before the keys of a new session: waits until the copy shows no switcher panel, so a
// panel the copy has not yet taken down after the last session (it lags on a loaded
// machine) cannot pass for the new session's. At once when no copy runs or none shows.
void awaitCopysPanelGone() {
  ModeClock::pumpUntil([] { return !copysPanelShows().value_or(false); }, 0.01, 5.0);
}

}  // namespace

// ---- Keys -------------------------------------------------------------------------------

bool UserActions::post(CGKeyCode code, keys::Stroke stroke, CGEventFlags flags, keys::KeyKind kind) {
  const CGEventRef event = CGEventCreateKeyboardEvent(nullptr, code, stroke == keys::press);
  if (!event) return false;
  if (kind == keys::modifier) CGEventSetType(event, kCGEventFlagsChanged);
  CGEventSetFlags(event, flags);
  CGEventPost(kCGHIDEventTap, event);
  return true;
}

void UserActions::key(CGKeyCode code, keys::Stroke stroke, CGEventFlags flags, keys::KeyKind kind) {
  if (post(code, stroke, flags, kind)) ModeClock::pump(0.05);
}

void UserActions::press(CGKeyCode code) {
  key(code, keys::press, keys::commandFlag, keys::plain);
  key(code, keys::release, keys::commandFlag, keys::plain);
}

void UserActions::tapUnderCommand(CGKeyCode code, CGEventFlags flags) {
  key(code, keys::press, flags, keys::modifier);
  key(code, keys::release, keys::commandFlag, keys::modifier);
}

void UserActions::commandTab() {
  awaitCopysPanelGone();
  key(keys::command, keys::press, keys::commandFlag, keys::modifier);
  key(keys::tab, keys::press, keys::commandFlag, keys::plain);
  key(keys::tab, keys::release, keys::commandFlag, keys::plain);
}

void UserActions::commandOptionTap() {
  awaitCopysPanelGone();
  key(keys::command, keys::press, keys::commandFlag, keys::modifier);
  key(keys::option, keys::press, keys::commandOption, keys::modifier);
  key(keys::option, keys::release, keys::commandFlag, keys::modifier);
}

void UserActions::escapeAndLetGo() {
  press(keys::escape);
  key(keys::command, keys::release, 0, keys::modifier);
}

// ---- Pointer and windows ----------------------------------------------------------------

bool UserActions::movePointer(CGPoint point) {
  const CGEventRef event = CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, point, kCGMouseButtonLeft);
  if (!event) return false;
  CGEventPost(kCGHIDEventTap, event);
  return true;
}

bool UserActions::jumpToSpaceOf(std::uint32_t window) {
  auto done = std::make_shared<bool>(false);
  if (!SpaceSwipe::jumpToSpaceOf(window, false, [done](bool) { *done = true; })) return false;
  ModeClock::pumpUntil([done] { return *done; });
  return true;
}

void UserActions::lookOnceCopysPanelShows(double pause) {
  if (copysPanelShows() == false) ModeClock::pumpUntil([] { return copysPanelShows().value_or(false); }, 0.01, 5.0);
  ModeClock::pump(pause);
}

void UserActions::go(std::uint32_t window) {
  const auto found = WorldReader::owner(window);
  if (!found) return;
  jumpToSpaceOf(window);
  activate(found->first, found->second);
  ModeClock::pump(1.0);
}

}  // namespace trelliq
