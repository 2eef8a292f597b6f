#include "app/PermissionStatus.h"

#include "app/AppDelegate.h"
#include "platform/AppKitWorkspace.h"

namespace trelliq {

namespace {

constexpr const char* kGranted = "Granted";
constexpr const char* kCheck = "checkmark.circle.fill";
constexpr const char* kRestart = "Restart Trelliq";
constexpr const char* kAllow = "Allow\u2026";

}  // namespace

PermissionStatus PermissionStatus::of(Kind kind, bool granted, bool needsRestart) {
  if (kind == Kind::card) {
    if (needsRestart) return {true, kGranted, kCheck, kRestart, Action::restart};
    if (granted) return {true, kGranted, kCheck, "", Action::none};
    return {false, "", "", kAllow, Action::request};
  }
  if (needsRestart) return {true, kGranted, kCheck, kRestart, Action::restart};
  if (granted) return {true, kGranted, kCheck, "Change\u2026", Action::openSettings};
  return {false, "Not granted", "xmark.circle.fill", kAllow, Action::request};
}

void PermissionStatus::perform(Action action, Permission permission) {
  switch (action) {
    case Action::none:
      return;
    case Action::request:
      permission.request();
      return;
    case Action::openSettings:
      NSWorkspace::shared().open(permission.settings());
      return;
    case Action::restart:
      AppDelegate::restart();
      return;
  }
}

}  // namespace trelliq
