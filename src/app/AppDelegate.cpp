#include "app/AppDelegate.h"

#include <atomic>
#include <cstdint>
#include <iostream>
#include <vector>

#include "app/NativeSwitcher.h"
#include "app/Permission.h"
#include "platform/AppKitWorkspace.h"
#include "platform/ApplicationServices.h"
#include "platform/CGEvent.h"
#include "platform/DispatchSource.h"
#include "platform/OncePerSystem.h"
#include "platform/Refusals.h"
#include "settings/Diagnostics.h"

namespace trelliq {

namespace {

// Set once a relaunch is under way. A new simulated Mac is a new process: it starts unset.
std::atomic<bool>& leavingFlag() {
  static auto& flag = *new platform::OncePerSystem<std::atomic<bool>>();
  return flag.get();
}

bool leaving() { return leavingFlag().load(); }

const char* text(bool value) { return value ? "true" : "false"; }

void launchShell(std::vector<std::string> arguments) {
  Process shell;
  shell.setExecutableURL(AppDelegate::shell);
  shell.setArguments(std::move(arguments));
  // A failed launch is not reported: the old process ends anyway.
  (void)shell.run();
}

}  // namespace

AppDelegate::AppDelegate(AppWindow& permissions, AppWindow& preferences)
    : permissions_(permissions), preferences_(preferences) {}

AppDelegate::~AppDelegate() {
  if (accessibilityTimer_) accessibilityTimer_->invalidate();
  // Its menu's entries act on this delegate.
  if (statusItem_) NSStatusBar::systemStatusBar().removeStatusItem(statusItem_);
  if (accessibilityWatch_) accessibilityWatch_->cancel();
  if (accessibilityNote_) NSDistributedNotificationCenter::defaultCenter().removeObserver(*accessibilityNote_);
  if (NSApp().delegate() == this) NSApp().setDelegate(nullptr);
}

platform::Executor& AppDelegate::watchQueue() { return platform::clock().queue(watchQueueLabel); }

void AppDelegate::watchAccessibility() {
  if (accessibilityWatch_) accessibilityWatch_->cancel();
  auto watch = DispatchSourceTimer::makeTimerSource(watchQueue());
  auto lastState = std::make_shared<std::string>();
  watch->setEventHandler([lastState] { tick(*lastState); });
  watch->schedule(0, watchInterval, watchLeeway);
  watch->resume();
  accessibilityWatch_ = std::move(watch);

  if (accessibilityNote_) return;
  accessibilityNote_ = NSDistributedNotificationCenter::defaultCenter().addObserver(
      accessibilityNotification, platform::clock().queue("accessibility list changes"), [](const std::string&) {
        // Only said for the log: the next tick acts on the change.
        Diagnostics::log(std::string("accessibility: macOS says the list changed (trusted=") +
                         text(AXIsProcessTrusted()) + ")");
      });
}

std::string AppDelegate::stateString(const AccessState& state) {
  return std::string("trusted=") + text(state.trusted) + " canFilter=" + text(state.canFilter) +
         " listen=" + text(state.listen) + " post=" + text(state.post);
}

void AppDelegate::tick(std::string& lastState) {
  if (leaving()) return;
  const platform::RefusalWatch refusals;
  const bool trusted = AXIsProcessTrusted();
  const bool canFilter = trusted && Permission::canFilterEvents();
  const std::string state = stateString({.trusted = trusted,
                                         .canFilter = canFilter,
                                         .listen = CGPreflightListenEventAccess(),
                                         .post = CGPreflightPostEventAccess()});
  // Once a stop signal has arrived, a system that does not answer in time gives its empty
  // answer: read as lost access, it would start a second copy and end the process from
  // this queue while the main thread still runs. The stop ends the program anyway.
  if (DispatchSourceSignal::workPendingSince() != 0) return;
  // A refused check is no answer: the access may well be there. Said once, and tried
  // again at the next tick.
  if (const auto& refusal = refusals.refused()) {
    uncheckable(lastState, *refusal);
    return;
  }
  if (state != lastState) {
    Diagnostics::log("accessibility: " + state);
    lastState = state;
  }
  if (!canFilter) accessibilityLost();
}

void AppDelegate::uncheckable(std::string& lastState, const platform::Refusal& refusal) {
  const std::string said = "accessibility: cannot be checked now, " + platform::describe(refusal) +
                           "; checking again in a second";
  if (said == lastState) return;
  lastState = said;
  Diagnostics::log(Diagnostics::escapeForeign(said));
  std::cerr << "trelliq: " << Diagnostics::escapeForeign(said) << std::endl;
}

void AppDelegate::accessibilityLost() {
  if (leavingFlag().exchange(true)) return;
  Diagnostics::log("accessibility: went away while running; quitting and starting again");
  launchShell({"-c", relaunchScript, Bundle::main().bundlePath()});

  // The exit waits for the hot keys without blocking this queue: whichever comes first,
  // their restore or the time limit, ends the process. It ends on the main thread, as a
  // quit from the menu does, once the work that thread is doing is done: ended from here,
  // the exit would destroy what that work still uses.
  auto exited = std::make_shared<std::atomic<bool>>(false);
  auto leave = [exited] {
    if (!exited->exchange(true)) platform::mainQueue().async([] { platform::exitProgram(0); });
  };
  platform::clock().queue("global (user-interactive)").async([leave] {
    NativeSwitcher::set(true);
    watchQueue().async(leave);
  });
  watchQueue().asyncAfter(restoreWait, leave);
}

NSApplicationTerminateReply AppDelegate::applicationShouldTerminate(NSApplication& sender) {
  const auto event = NSAppleEventManager::shared().currentAppleEvent();
  if (!event || event->eventClass() != kCoreEventClass || event->eventID() != kAEQuitApplication) {
    return NSApplicationTerminateReply::terminateNow;
  }
  const auto sender_ = event->attributeDescriptor(keySenderPIDAttr);
  const std::int32_t pid = sender_ ? sender_->int32Value() : 0;
  std::vector<char> buffer(PROC_PIDPATHINFO_MAXSIZE, 0);
  const int length = proc_pidpath(pid, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  const std::string path = length < 1 ? "pid " + std::to_string(pid) : std::string(buffer.data());
  for (const char* settings : settingsPaths) {
    if (path.find(settings) != std::string::npos) reopenAfterQuit_ = true;
  }
  Diagnostics::log("asked to quit by " + Diagnostics::escapeForeign(path) +
                   (reopenAfterQuit_ ? "; opening again once quit" : ""));
  return NSApplicationTerminateReply::terminateNow;
}

void AppDelegate::applicationWillTerminate() {
  NativeSwitcher::set(true);
  if (reopenAfterQuit_) reopen();
}

void AppDelegate::reopen() {
  std::optional<std::string> flag;
  if (permissions_.isVisible()) {
    flag = "--show-permissions";
  } else if (preferences_.isVisible()) {
    flag = "--show-preferences";
  }
  const std::string script = "while kill -0 " + std::to_string(NSProcessInfo::processInfo().processIdentifier()) +
                             " 2>/dev/null; do sleep 0.1; done; sleep 0.5; /usr/bin/open \"$0\" \"$@\"";
  std::vector<std::string> arguments{"-c", script, Bundle::main().bundlePath()};
  if (flag) {
    arguments.push_back("--args");
    arguments.push_back(*flag);
  }
  launchShell(std::move(arguments));
}

void AppDelegate::restart() {
  if (auto* delegate = dynamic_cast<AppDelegate*>(NSApp().delegate())) delegate->reopenAfterQuit_ = true;
  NSApp().terminate(nullptr);
}

}  // namespace trelliq
