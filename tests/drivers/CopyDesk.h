#pragma once
// A small desk served by a real world host, with the menu-bar program running on it as
// the copy under test, warmed up by one ⌘⇥ of its own; the modes run as a third process
// against it. Two displays of 960 by 720 side by side ("Left", display 1, Spaces 1, 4 and
// the full-screen 5; "Right", display 3, Spaces 2 and 7); Quill in front unless a test
// says otherwise.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/HostProcess.h"
#include "platform/CGEvent.h"
#include "platform/WindowServerPort.h"

namespace drivers {

inline constexpr const char* kDesk = R"json({
  "displays": [
    {"id": 1, "name": "Left", "frame": [0, 0, 960, 720], "visibleFrame": [0, 40, 960, 656], "scale": 1},
    {"id": 3, "name": "Right", "frame": [960, 0, 960, 720], "visibleFrame": [960, 0, 960, 696], "scale": 1,
     "desktopColor": "#A0522D"}
  ],
  "permissions": {"screenCapture": true, "accessibility": true},
  "spaces": [
    {"display": 1, "current": 1, "spaces": [{"id": 1, "type": "desktop"},
      {"id": 4, "type": "desktop", "desktopColor": "#3C6E47"}, {"id": 5, "type": "fullScreen"}]},
    {"display": 3, "current": 2, "spaces": [{"id": 2, "type": "desktop"},
      {"id": 7, "type": "desktop", "desktopColor": "#8A5A2B"}]}
  ],
  "apps": [
    {"pid": 160, "name": "Dock", "bundleIdentifier": "com.apple.dock", "bundlePath": "/System/Library/CoreServices/Dock.app",
     "policy": "prohibited"},
    {"pid": 201, "name": "Finder", "bundleIdentifier": "com.apple.finder",
     "bundlePath": "/System/Library/CoreServices/Finder.app", "iconColor": "#1E90FF"},
    {"pid": 301, "name": "Quill", "bundleIdentifier": "com.example.quill", "bundlePath": "/Applications/Quill.app",
     "iconColor": "#E0A526"},
    {"pid": 302, "name": "Lumen", "bundleIdentifier": "com.example.lumen", "bundlePath": "/Applications/Lumen.app",
     "iconColor": "#2A7FD4"},
    {"pid": 304, "name": "Tally", "bundleIdentifier": "com.example.tally", "bundlePath": "/Applications/Tally.app",
     "iconColor": "#2E8B57"},
    {"pid": 306, "name": "Slate", "bundleIdentifier": "com.example.slate", "bundlePath": "/Applications/Slate.app",
     "iconColor": "#333333"}
  ],
  "frontmost": FRONT,
  "windows": [
    {"number": 2101, "app": 301, "title": "Draft", "frame": [60, 60, 400, 260], "spaces": [1], "color": "#FFF8E7"},
    {"number": 1101, "app": 201, "title": "Documents", "frame": [120, 100, 300, 200], "spaces": [1], "color": "#F5F5F5"},
    {"number": 2102, "app": 301, "title": "Notes", "frame": [80, 80, 400, 260], "spaces": [4], "color": "#FFF8E7"},
    {"number": 5101, "app": 304, "title": "Budget", "frame": [0, 0, 960, 720], "spaces": [5], "fullScreen": true,
     "color": "#E9F5EC"},
    {"number": 3101, "app": 302, "title": "Start Page", "frame": [1020, 60, 400, 260], "spaces": [2], "color": "#FFFFFF"},
    {"number": 7101, "app": 306, "title": "Shell", "frame": [1140, 120, 300, 200], "spaces": [2], "color": "#1E1E1E"},
    {"number": 3102, "app": 302, "title": "Release Notes", "frame": [1040, 80, 400, 260], "spaces": [7],
     "color": "#FFFFFF"}
  ]
})json";

/// The two displays' frames as the window list prints them.
inline constexpr const char* kLeftFrame = "(0.0, 0.0, 960.0, 720.0)";
inline constexpr const char* kRightFrame = "(960.0, 0.0, 960.0, 720.0)";

class CopyDesk : public ::testing::Test {
 protected:
  /// Texts of the desk and what each becomes.
  using Changes = std::vector<std::pair<std::string, std::string>>;

  /// Starts the host on the desk with the app of pid `front` in front and `changes` made,
  /// then the menu-bar program, and lets the program open and close its switcher once, so
  /// the mode meets a copy that has drawn its panels before.
  void startCopy(const std::string& front = "301", int width = 960, const Changes& changes = {}) {
    const std::string desk = home.path + "/desk.json";
    {
      std::string text = changed(deskOfWidth(width), changes);
      text.replace(text.find("FRONT"), 5, front);
      const int fd = ::open(desk.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
      ::close(fd);
    }
    host = std::make_unique<HostProcess>(home.path, std::vector<std::string>{"--scenario", desk});
    ASSERT_EQ(host->said, "ready");
    copy = std::make_unique<ProgramProcess>(home.path);
    ASSERT_TRUE(eventually([&] { return fileText(log()).find("launched") != std::string::npos; }))
        << fileText(copy->output);
    auto driver = attach(home.socket());
    ASSERT_TRUE(driver);
    const std::int32_t self = driver->windowServer->ownProcessIdentifier();
    const auto shown = [&] {
      int panels = 0;
      for (const auto& w : driver->windowServer->windowList()) {
        panels += w.ownerPID != self && w.layer == 101 && w.onScreen && w.alpha > 0 && w.bounds.width() == width ? 1 : 0;
      }
      return panels;
    };
    // A loaded copy may answer a key later than its tap may wait: the keys go again then.
    std::int32_t program = 0;
    ASSERT_TRUE(eventually([&] { return (program = copyBeside(*driver)) != 0; })) << "no copy among the apps";
    ASSERT_TRUE(holdCommandTab(*driver, program, [&] { return shown() == 2; })) << shown() << " panels\n"
                                                                                << fileText(log());
    // Its own look at the panels it showed ends the warm-up's work.
    ASSERT_TRUE(eventually([&] { return fileText(log()).find("opened") != std::string::npos; })) << fileText(log());
    key(*driver, kCGEventKeyDown, 53, kCGEventFlagMaskCommand);
    key(*driver, kCGEventKeyUp, 53, kCGEventFlagMaskCommand);
    key(*driver, kCGEventFlagsChanged, 55, 0);
    ASSERT_TRUE(eventually([&] { return shown() == 0; })) << "the warm-up session closes";
  }

  /// The desk with both displays `width` points wide, the right one and its windows moved
  /// along with the left one's edge.
  static std::string deskOfWidth(int width) {
    const std::string w = std::to_string(width);
    const Changes moves = {{"[0, 0, 960, 720]", "[0, 0, " + w + ", 720]"},
                           {"[0, 40, 960, 656]", "[0, 40, " + w + ", 656]"},
                           {"[960, 0, 960, 720]", "[" + w + ", 0, " + w + ", 720]"},
                           {"[960, 0, 960, 696]", "[" + w + ", 0, " + w + ", 696]"},
                           {"[1020, ", "[" + std::to_string(width + 60) + ", "},
                           {"[1140, ", "[" + std::to_string(width + 180) + ", "},
                           {"[1040, ", "[" + std::to_string(width + 80) + ", "}};
    return changed(kDesk, moves);
  }
  /// `text` with every occurrence of each first text of `changes` replaced by its second.
  static std::string changed(std::string text, const Changes& changes) {
    for (const auto& [from, to] : changes) {
      for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    }
    return text;
  }

  /// Runs the program with `args` (a mode) and answers its exit status; a mode still
  /// running after two minutes fails the test and is stopped.
  int run(const std::vector<std::string>& args) {
    ProgramProcess mode(home.path, args);
    const auto ended = exitStatusWithin(mode.pid, std::chrono::minutes(2));
    if (!ended) {
      mode.stop(SIGKILL);
      ADD_FAILURE() << args.front() << " still runs after two minutes:\n" << fileText(mode.output);
      return -1;
    }
    const int status = *ended;
    mode.pid = -1;
    EXPECT_TRUE(WIFEXITED(status)) << fileText(mode.output);
    EXPECT_EQ(fileText(mode.output).find("Sanitizer"), std::string::npos) << fileText(mode.output);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  /// A report's lines.
  std::vector<std::string> lines(const std::string& name) const {
    const std::string text = fileText(path(name));
    std::vector<std::string> result;
    for (std::size_t at = 0; at <= text.size();) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      result.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    return result;
  }
  std::string path(const std::string& name) const { return home.path + "/" + name; }
  std::string log() const { return home.path + "/Library/Logs/Trelliq.log"; }

  /// Waits, up to the process deadline, until the copy's log holds a match of the regular
  /// expression `pattern`; answers whether it came.
  bool logShows(const std::string& pattern) const { return logShowsInOrder({pattern}); }
  /// Waits, up to the process deadline, until the copy's log holds a match of each of
  /// `patterns`, each after the one before; answers whether they came.
  bool logShowsInOrder(const std::vector<std::string>& patterns) const {
    std::vector<std::regex> wanted;
    for (const auto& pattern : patterns) wanted.emplace_back(pattern);
    return eventually([&] {
      const std::string text = fileText(log());
      auto from = text.cbegin();
      for (const auto& expression : wanted) {
        std::smatch found;
        if (!std::regex_search(from, text.cend(), found, expression)) return false;
        from = found[0].second;
      }
      return true;
    });
  }

  /// The apps the world brings to the front while it lives, in order, as the world's
  /// workspace notices tell any attached program.
  class FrontWatch {
   public:
    explicit FrontWatch(const std::string& socket) : mac_(attach(socket)) {
      if (!mac_) return;
      mac_->windowServer->setWorkspaceListener([this](const platform::WorkspaceEvent& e) {
        if (e.kind != platform::WorkspaceEvent::Kind::didActivate) return;
        std::lock_guard lock(mutex_);
        fronts_.push_back(e.pid);
      });
    }
    bool attached() const { return mac_ != nullptr; }
    /// Waits, up to the process deadline, until the apps of `pids` came to the front in
    /// this order (others may come between); answers whether they did.
    bool cameInOrder(const std::vector<std::int32_t>& pids) const {
      return eventually([&] {
        std::lock_guard lock(mutex_);
        std::size_t next = 0;
        for (const std::int32_t pid : fronts_) next += next < pids.size() && pid == pids[next] ? 1 : 0;
        return next == pids.size();
      });
    }
    std::string seen() const {
      std::lock_guard lock(mutex_);
      std::string text;
      for (const std::int32_t pid : fronts_) text += std::to_string(pid) + " ";
      return text;
    }

   private:
    mutable std::mutex mutex_;
    std::vector<std::int32_t> fronts_;
    std::unique_ptr<host::RemoteMac> mac_;  // last, so its notices end before the list does
  };

  static void key(host::RemoteMac& mac, CGEventType type, CGKeyCode code, CGEventFlags flags) {
    CGEvent e;
    e.type = type;
    e.flags = flags;
    e.integerFields[kCGKeyboardEventKeycode] = code;
    mac.windowServer->postEvent(kCGHIDEventTap, e);
  }

  void TearDown() override {
    // The copy ends with SIGTERM as at a user's Ctrl-C; one that does not is killed.
    if (!copy) return;
    copy->stop();
    if (!exitStatusWithin(copy->pid, std::chrono::seconds(20))) {
      copy->stop(SIGKILL);  // reaped by its destructor
      ADD_FAILURE() << "the copy did not end on SIGTERM:\n" << fileText(copy->output);
      return;
    }
    copy->pid = -1;
  }

  Home home;
  std::unique_ptr<HostProcess> host;
  std::unique_ptr<ProgramProcess> copy;
};

}  // namespace drivers
