#include "platform/sim/Processes.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/sim/WindowServer.h"
#include "platform/sim/World.h"

namespace sim {

namespace {

constexpr const char* kDefaultBundle = "/Applications/Trelliq.app";

// "/Applications/Notes.app" -> "Notes".
std::string bundleName(const std::string& bundle) {
  std::string name = bundle.substr(bundle.find_last_of('/') + 1);
  if (name.size() > 4 && name.ends_with(".app")) name.resize(name.size() - 4);
  return name;
}

}  // namespace

Processes::Processes(World& world) : world_(world) {}

std::variant<std::int32_t, std::string> Processes::launch(const std::string& executable,
                                                          const std::vector<std::string>& arguments,
                                                          std::function<void(int)> terminated) {
  // Asked before taking the lock: the world answers under its own.
  const bool isCheck =
      executable == mainExecutablePath() && arguments.size() == 1 && arguments[0] == "--screen-recording-check";
  const bool allowed = isCheck && world_.screenCaptureForNewProcesses();
  std::int32_t pid = 0;
  {
    std::lock_guard lock(mutex_);
    if (launchError_) return *launchError_;
    pid = nextPID_++;
    launches_.push_back({{pid, executable, arguments, std::nullopt}, std::move(terminated)});
    if (!isCheck || hold_) return pid;
  }
  platform::clock().queue(kQueueLabel).asyncAfter(kCheckSeconds, [this, alive = std::weak_ptr(alive_), pid, allowed] {
    if (alive.lock()) finish(pid, allowed ? 0 : 1);
  });
  return pid;
}

std::string Processes::mainBundlePath() const {
  if (WindowServer* server = world_.windowServer()) {
    const auto own = server->app(server->ownProcessIdentifier());
    if (own && own->bundlePath) return *own->bundlePath;
  }
  return kDefaultBundle;
}

std::string Processes::mainExecutablePath() const {
  const std::string bundle = mainBundlePath();
  return bundle + "/Contents/MacOS/" + bundleName(bundle);
}

std::optional<std::string> Processes::path(std::int32_t pid) const {
  {
    std::lock_guard lock(mutex_);
    if (auto it = others_.find(pid); it != others_.end()) return it->second;
    for (const Running& r : launches_) {
      if (r.launch.pid == pid) return r.launch.status ? std::nullopt : std::optional(r.launch.executable);
    }
  }
  WindowServer* server = world_.windowServer();
  if (!server) return std::nullopt;
  const auto app = server->app(pid);
  if (!app || app->terminated || !app->bundlePath) return std::nullopt;
  return *app->bundlePath + "/Contents/MacOS/" + app->name.value_or(bundleName(*app->bundlePath));
}

void Processes::exitProgram(int status) {
  std::function<void(int)> handler;
  {
    std::lock_guard lock(mutex_);
    exits_.push_back(status);
    handler = exitHandler_;
  }
  if (handler) handler(status);
}

void Processes::setDistributedNotificationListener(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(mutex_);
  notificationListener_ =
      listener ? std::make_shared<std::function<void(const std::string&)>>(std::move(listener)) : nullptr;
}

void Processes::setAppleEventListener(std::function<void(const platform::AppleEvent&)> listener) {
  std::lock_guard lock(mutex_);
  appleEventListener_ =
      listener ? std::make_shared<std::function<void(const platform::AppleEvent&)>>(std::move(listener)) : nullptr;
}

std::vector<Processes::Launch> Processes::launches() const {
  std::lock_guard lock(mutex_);
  std::vector<Launch> result;
  for (const Running& r : launches_) result.push_back(r.launch);
  return result;
}

bool Processes::finish(std::int32_t pid, int status) {
  std::function<void(int)> terminated;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(launches_.begin(), launches_.end(), [&](const Running& r) { return r.launch.pid == pid; });
    if (it == launches_.end() || it->launch.status) return false;
    it->launch.status = status;
    terminated = std::move(it->terminated);
  }
  if (terminated) {
    platform::clock().queue(kQueueLabel).async([terminated = std::move(terminated), status] { terminated(status); });
  }
  return true;
}

void Processes::failLaunches(std::optional<std::string> description) {
  std::lock_guard lock(mutex_);
  launchError_ = std::move(description);
}

void Processes::holdAll(bool hold) {
  std::lock_guard lock(mutex_);
  hold_ = hold;
}

void Processes::addProcess(std::int32_t pid, std::string executable) {
  std::lock_guard lock(mutex_);
  others_[pid] = std::move(executable);
}

std::vector<int> Processes::exits() const {
  std::lock_guard lock(mutex_);
  return exits_;
}

void Processes::setExitHandler(std::function<void(int)> handler) {
  std::lock_guard lock(mutex_);
  exitHandler_ = std::move(handler);
}

void Processes::postDistributedNotification(const std::string& name) {
  std::shared_ptr<std::function<void(const std::string&)>> listener;
  {
    std::lock_guard lock(mutex_);
    listener = notificationListener_;
  }
  if (listener) (*listener)(name);
}

bool Processes::sendAppleEvent(const platform::AppleEvent& event) {
  std::shared_ptr<std::function<void(const platform::AppleEvent&)>> listener;
  {
    std::lock_guard lock(mutex_);
    listener = appleEventListener_;
  }
  if (!listener) return false;
  (*listener)(event);
  return true;
}

}  // namespace sim
