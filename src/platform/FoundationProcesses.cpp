#include "platform/FoundationProcesses.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>
#include <variant>

using platform::PlistValue;

struct Process::State {
  std::mutex mutex;
  std::string executable;
  std::vector<std::string> arguments;
  std::function<void(const Process&)> handler;
  bool started = false;
  bool running = false;
  bool ended = false;
  std::int32_t pid = 0;
  int status = 0;
};

Process::Process() : state_(std::make_shared<State>()) {}

void Process::setExecutableURL(std::string path) {
  std::lock_guard lock(state_->mutex);
  state_->executable = std::move(path);
}

const std::string& Process::executableURL() const { return state_->executable; }

void Process::setArguments(std::vector<std::string> arguments) {
  std::lock_guard lock(state_->mutex);
  state_->arguments = std::move(arguments);
}

const std::vector<std::string>& Process::arguments() const { return state_->arguments; }

void Process::setTerminationHandler(std::function<void(const Process&)> handler) {
  std::lock_guard lock(state_->mutex);
  state_->handler = std::move(handler);
}

std::optional<NSError> Process::run() {
  std::string executable;
  std::vector<std::string> arguments;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->started) return NSError{"The process was already started."};
    if (state_->executable.empty()) return NSError{"The process has no executable."};
    state_->started = true;
    executable = state_->executable;
    arguments = state_->arguments;
  }
  // The system keeps the process object alive until it has ended.
  auto answer = platform::system().launchProcess(executable, arguments, [state = state_](int status) {
    std::function<void(const Process&)> handler;
    {
      std::lock_guard lock(state->mutex);
      state->running = false;
      state->ended = true;
      state->status = status;
      handler = std::move(state->handler);
    }
    if (handler) handler(Process(state));
  });
  if (const std::string* error = std::get_if<std::string>(&answer)) return NSError{*error};
  std::lock_guard lock(state_->mutex);
  state_->pid = std::get<std::int32_t>(answer);
  // The end may already have been reported on another thread.
  state_->running = !state_->ended;
  return std::nullopt;
}

std::int32_t Process::processIdentifier() const {
  std::lock_guard lock(state_->mutex);
  return state_->pid;
}

bool Process::isRunning() const {
  std::lock_guard lock(state_->mutex);
  return state_->running;
}

int Process::terminationStatus() const {
  std::lock_guard lock(state_->mutex);
  return state_->status;
}

Bundle& Bundle::main() {
  static Bundle bundle;
  return bundle;
}

std::string Bundle::bundlePath() const { return platform::system().mainBundlePath(); }

std::string Bundle::executableURL() const { return platform::system().mainExecutablePath(); }

std::string Bundle::bundleIdentifier() const { return platform::system().applicationDomainName(); }

int proc_pidpath(std::int32_t pid, void* buffer, std::uint32_t size) {
  const auto path = platform::system().processPath(pid);
  if (!path || !buffer || path->size() >= size) return 0;
  std::memcpy(buffer, path->c_str(), path->size() + 1);
  return static_cast<int>(path->size());
}

namespace platform {

void exitProgram(int status) { system().exitProgram(status); }

}  // namespace platform

// ---- Distributed notifications ----

NSDistributedNotificationCenter& NSDistributedNotificationCenter::defaultCenter() {
  static NSDistributedNotificationCenter* center = new NSDistributedNotificationCenter();  // outlives every queue
  return *center;
}

NSDistributedNotificationToken NSDistributedNotificationCenter::addObserver(
    const std::string& name, platform::Executor& queue, std::function<void(const std::string& name)> block) {
  listen();
  std::lock_guard lock(mutex_);
  const std::uint64_t id = nextID_++;
  observers_.push_back({id, name, &queue, std::make_shared<std::function<void(const std::string&)>>(std::move(block))});
  return {id};
}

void NSDistributedNotificationCenter::removeObserver(NSDistributedNotificationToken token) {
  std::lock_guard lock(mutex_);
  std::erase_if(observers_, [&](const Observer& o) { return o.id == token.id; });
}

void NSDistributedNotificationCenter::listen() {
  const std::uint64_t generation = platform::systemGeneration();
  {
    std::lock_guard lock(mutex_);
    if (listening_ == generation) return;
    listening_ = generation;
  }
  platform::system().setDistributedNotificationListener([this](const std::string& name) { deliver(name); });
}

void NSDistributedNotificationCenter::deliver(const std::string& name) {
  std::lock_guard lock(mutex_);
  for (const Observer& o : observers_) {
    if (!o.name.empty() && o.name != name) continue;
    o.queue->async([block = o.block, name] { (*block)(name); });
  }
}

// ---- Apple events ----

std::optional<NSAppleEventDescriptor> NSAppleEventDescriptor::attributeDescriptor(AEKeyword keyword) const {
  auto it = event_.attributes.find(keyword);
  if (it == event_.attributes.end()) return std::nullopt;
  return NSAppleEventDescriptor(event_, it->second);
}

std::int32_t NSAppleEventDescriptor::int32Value() const {
  if (!value_) return 0;
  const auto number = value_->asInteger();
  if (!number || *number < INT32_MIN || *number > INT32_MAX) return 0;
  return static_cast<std::int32_t>(*number);
}

NSAppleEventManager& NSAppleEventManager::shared() {
  static NSAppleEventManager manager;
  return manager;
}

std::optional<NSAppleEventDescriptor> NSAppleEventManager::currentAppleEvent() const {
  if (!current_) return std::nullopt;
  return NSAppleEventDescriptor(*current_);
}

void NSAppleEventManager::dispatch(const platform::AppleEvent& event, const std::function<void()>& handle) {
  auto previous = std::exchange(current_, event);
  handle();
  current_ = std::move(previous);
}
