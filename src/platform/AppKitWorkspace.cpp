#include "platform/AppKitWorkspace.h"

#include <atomic>

#include "platform/WindowServerPort.h"

namespace {

std::optional<platform::RunningApplicationInfo> ask(std::int32_t pid) {
  if (!platform::hasWindowServer()) return std::nullopt;
  return platform::windowServer().application(pid);
}

const char* notificationName(platform::WorkspaceEvent::Kind kind) {
  using K = platform::WorkspaceEvent::Kind;
  switch (kind) {
    case K::didLaunch:
      return NSWorkspaceDidLaunchApplicationNotification;
    case K::didTerminate:
      return NSWorkspaceDidTerminateApplicationNotification;
    case K::didActivate:
      return NSWorkspaceDidActivateApplicationNotification;
    case K::didDeactivate:
      return NSWorkspaceDidDeactivateApplicationNotification;
    case K::didHide:
      return NSWorkspaceDidHideApplicationNotification;
    case K::didUnhide:
      return NSWorkspaceDidUnhideApplicationNotification;
    case K::activeSpaceDidChange:
      return NSWorkspaceActiveSpaceDidChangeNotification;
    case K::didWake:
      return NSWorkspaceDidWakeNotification;
  }
  return "";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// NSRunningApplication

std::optional<NSRunningApplication> NSRunningApplication::withProcessIdentifier(std::int32_t pid) {
  auto info = ask(pid);
  if (!info) return std::nullopt;
  return NSRunningApplication(std::move(*info));
}

std::vector<NSRunningApplication> NSRunningApplication::runningApplicationsWithBundleIdentifier(
    const std::string& bundleIdentifier) {
  std::vector<NSRunningApplication> result;
  if (!platform::hasWindowServer()) return result;
  for (auto& info : platform::windowServer().runningApplications()) {
    if (info.bundleIdentifier == bundleIdentifier) result.emplace_back(std::move(info));
  }
  return result;
}

NSRunningApplication NSRunningApplication::current() {
  const std::int32_t pid = NSProcessInfo::processInfo().processIdentifier();
  if (auto info = ask(pid)) return NSRunningApplication(std::move(*info));
  platform::RunningApplicationInfo info;
  info.pid = pid;
  return NSRunningApplication(std::move(info));
}

NSApplicationActivationPolicy NSRunningApplication::activationPolicy() const {
  auto info = ask(info_.pid);
  return info ? info->activationPolicy : info_.activationPolicy;
}

bool NSRunningApplication::isHidden() const {
  auto info = ask(info_.pid);
  return info && !info->terminated && info->hidden;
}

bool NSRunningApplication::isActive() const {
  auto info = ask(info_.pid);
  return info && !info->terminated && info->active;
}

bool NSRunningApplication::isTerminated() const {
  auto info = ask(info_.pid);
  return !info || info->terminated;
}

bool NSRunningApplication::isFinishedLaunching() const {
  auto info = ask(info_.pid);
  return info && info->finishedLaunching;
}

bool NSRunningApplication::activate(NSApplicationActivationOptions options) const {
  return platform::hasWindowServer() && platform::windowServer().activateApplication(info_.pid, options);
}

bool NSRunningApplication::hide() const {
  return platform::hasWindowServer() && platform::windowServer().hideApplication(info_.pid);
}

bool NSRunningApplication::unhide() const {
  return platform::hasWindowServer() && platform::windowServer().unhideApplication(info_.pid);
}

bool NSRunningApplication::terminate() const {
  return platform::hasWindowServer() && platform::windowServer().terminateApplication(info_.pid, false);
}

bool NSRunningApplication::forceTerminate() const {
  return platform::hasWindowServer() && platform::windowServer().terminateApplication(info_.pid, true);
}

NSKeyValueObservation NSRunningApplication::observeIsTerminated(
    std::function<void(const NSRunningApplication&)> changed) const {
  NSNotificationCenter& center = NSWorkspace::shared().notificationCenter();
  const std::int32_t pid = info_.pid;
  NSRunningApplication self = *this;
  auto token = center.addObserver(NSWorkspaceDidTerminateApplicationNotification, nullptr, &platform::mainQueue(),
                                  [pid, self, changed = std::move(changed)](const NSNotification& n) {
                                    if (n.application && n.application->processIdentifier() == pid) changed(self);
                                  });
  return NSKeyValueObservation([&center, token] { center.removeObserver(token); });
}

// ---------------------------------------------------------------------------------------------
// NSNotificationCenter

NSNotificationCenter& NSNotificationCenter::defaultCenter() {
  static NSNotificationCenter center;
  return center;
}

NSNotificationToken NSNotificationCenter::addObserver(const std::string& name, const void* object,
                                                      platform::Executor* queue,
                                                      std::function<void(const NSNotification&)> block) {
  // The main queue belongs to the clock installed now, which may go before the observer
  // does (a window kept for the life of the process): it is looked up at each post.
  const bool main = queue && queue == &platform::mainQueue();
  std::lock_guard lock(mutex_);
  const std::uint64_t id = nextID_++;
  observers_.push_back({id, name, object, main ? nullptr : queue, main,
                        std::make_shared<std::function<void(const NSNotification&)>>(std::move(block))});
  return NSNotificationToken{id};
}

void NSNotificationCenter::removeObserver(NSNotificationToken token) {
  std::lock_guard lock(mutex_);
  std::erase_if(observers_, [&](const Observer& o) { return o.id == token.id; });
}

void NSNotificationCenter::post(const NSNotification& notification) {
  std::vector<Observer> matching;
  {
    std::lock_guard lock(mutex_);
    for (const Observer& o : observers_) {
      if ((o.name.empty() || o.name == notification.name) && (!o.object || o.object == notification.object))
        matching.push_back(o);
    }
  }
  for (const Observer& o : matching) {
    if (platform::Executor* queue = o.main ? &platform::mainQueue() : o.queue) {
      queue->async([block = o.block, notification] { (*block)(notification); });
    } else {
      (*o.block)(notification);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// NSWorkspace

NSWorkspace& NSWorkspace::shared() {
  static NSWorkspace workspace;
  static std::atomic<std::uint64_t> hooked{0};
  // The workspace carries the notifications of whichever window server is installed now.
  const std::uint64_t generation = platform::windowServerGeneration();
  if (platform::hasWindowServer() && hooked.exchange(generation) != generation) {
    NSNotificationCenter* center = &workspace.center_;
    platform::windowServer().setWorkspaceListener([center](const platform::WorkspaceEvent& e) {
      NSNotification n;
      n.name = notificationName(e.kind);
      if (e.pid) n.application = NSRunningApplication::withProcessIdentifier(e.pid);
      center->post(n);
    });
  }
  return workspace;
}

std::vector<NSRunningApplication> NSWorkspace::runningApplications() {
  std::vector<NSRunningApplication> result;
  if (!platform::hasWindowServer()) return result;
  for (auto& info : platform::windowServer().runningApplications()) result.emplace_back(std::move(info));
  return result;
}

std::optional<NSRunningApplication> NSWorkspace::frontmostApplication() {
  if (!platform::hasWindowServer()) return std::nullopt;
  auto pid = platform::windowServer().frontmostApplication();
  if (!pid) return std::nullopt;
  return NSRunningApplication::withProcessIdentifier(*pid);
}

void NSWorkspace::openApplication(
    const std::string& applicationURL, const NSWorkspaceOpenConfiguration& configuration,
    std::function<void(std::optional<NSRunningApplication>, std::optional<NSError>)> completionHandler) {
  if (!platform::hasWindowServer()) {
    if (completionHandler) {
      platform::mainQueue().async(
          [completionHandler] { completionHandler(std::nullopt, NSError{"The application could not be opened."}); });
    }
    return;
  }
  platform::Executor* main = &platform::mainQueue();
  const bool hides = configuration.hides;
  platform::windowServer().openApplication(
      applicationURL, configuration.activates,
      [main, hides, completionHandler](std::optional<std::int32_t> pid, std::optional<std::string> error) {
        if (pid && hides && platform::hasWindowServer()) platform::windowServer().hideApplication(*pid);
        if (!completionHandler) return;
        main->async([pid, error, completionHandler] {
          if (!pid) {
            completionHandler(std::nullopt, NSError{error.value_or("The application could not be opened.")});
            return;
          }
          completionHandler(NSRunningApplication::withProcessIdentifier(*pid), std::nullopt);
        });
      });
}

bool NSWorkspace::open(const std::string& url) {
  return platform::hasWindowServer() && platform::windowServer().openURL(url);
}

std::optional<std::string> NSWorkspace::urlForApplication(const std::string& bundleIdentifier) {
  if (!platform::hasWindowServer()) return std::nullopt;
  return platform::windowServer().applicationPath(bundleIdentifier);
}

CGImageRef NSWorkspace::iconForFile(const std::string& path) {
  CGImageRef icon = platform::hasWindowServer() ? platform::windowServer().bundleIcon(path) : nullptr;
  return icon ? icon : CGImage::empty();
}

// ---------------------------------------------------------------------------------------------
// NSProcessInfo

NSProcessInfo& NSProcessInfo::processInfo() {
  static NSProcessInfo info;
  return info;
}

std::int32_t NSProcessInfo::processIdentifier() const {
  return platform::hasWindowServer() ? platform::windowServer().ownProcessIdentifier() : 0;
}

platform::OperatingSystemVersion NSProcessInfo::operatingSystemVersion() const {
  if (!platform::hasWindowServer()) return {};
  return platform::windowServer().operatingSystemVersion();
}
