#include "selftest/FullScreenModes.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "platform/CGWindow.h"
#include "platform/ScreenCaptureKit.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/Repeating.h"
#include "selftest/UserActions.h"
#include "selftest/WorldReader.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

namespace {

// To the window's Space if needed, then 0.6 s of run loop in every case, so the jump's
// slide has settled before anything is counted.
void jump(std::uint32_t window) {
  UserActions::jumpToSpaceOf(window);
  ModeClock::pump(0.6);
}

// Whether one of the copy's panels shows now.
bool panelShows() {
  for (const std::string& line : WorldReader::ours()) {
    if (WorldReader::isPanel(line)) return true;
  }
  return false;
}

// JPEG frames of the main display at half its size, for 2 s from now, numbered without
// gaps; the files are written here once the sampler is done.
bool recordFrames(const std::string& dir, const std::string& direction) {
  struct Frames {
    std::mutex lock;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
    std::optional<SCDisplay> display;
    int counter = 0;
  };
  auto frames = std::make_shared<Frames>();
  const double start = ModeClock::seconds();
  auto sampler = Repeating::start("frames", 0.005, [frames, start, dir, direction] {
    std::lock_guard lock(frames->lock);
    if (!frames->display) {
      const std::optional<SCShareableContent> content = SCShareableContent::current(false, true);
      if (!content) return false;
      for (const SCDisplay& d : content->displays) {
        if (d.displayID == CGMainDisplayID()) frames->display = d;
      }
      if (!frames->display) return false;
    }
    if (ModeClock::seconds() - start >= 2.0) return false;
    SCContentFilter filter;
    filter.display = *frames->display;
    SCStreamConfiguration configuration;
    configuration.width = frames->display->width / 2;
    configuration.height = frames->display->height / 2;
    if (const CGImageRef image = SCScreenshotManager::captureImageNow(filter, configuration)) {
      const std::int64_t ms = ModeClock::millisecondsSince(start);
      char number[16];
      std::snprintf(number, sizeof number, "%02d", frames->counter);
      if (auto jpeg = image->jpegData()) {
        frames->files.emplace_back(dir + "/" + direction + "-" + number + "-" + std::to_string(ms) + "ms.jpg",
                                   std::move(*jpeg));
      }
      ++frames->counter;
    }
    return true;
  });
  ModeClock::pumpUntil([&] { return sampler->finished(); }, 0.01, 60);
  bool written = true;
  std::lock_guard lock(frames->lock);
  for (const auto& [file, bytes] : frames->files) written &= ModeReport::save(file, bytes);
  return written;
}

}  // namespace

FullScreenModes::Pictures FullScreenModes::Pictures::fromEnvironment() {
  return Pictures{ModeReport::variable("FRAMES_DIR"), ModeReport::variable("CAPTURE_DIR")};
}

std::string FullScreenModes::layout() {
  const Workspace snapshot = Workspace::load(true);
  std::string text;
  for (const DisplayGroup& display : snapshot.displays) {
    for (const SpaceGroup& space : display.spaces) {
      std::string entry = space.label + (space.fullScreen ? " (full screen)" : "") + ": ";
      for (std::size_t i = 0; i < space.clusters.size(); ++i) {
        std::vector<std::int64_t> numbers;
        for (const WindowInfo& w : space.clusters[i].windows) {
          if (w.windowID) numbers.push_back(*w.windowID);
        }
        entry += (i > 0 ? ", " : "") + space.clusters[i].name() + " " + ModeReport::list(numbers);
      }
      text += (text.empty() ? "" : " | ") + entry;
    }
  }
  return text;
}

int FullScreenModes::fullscreenTest(const std::string& out, std::uint32_t w1, std::uint32_t w2) {
  std::vector<std::string> lines{"start " + WorldReader::spaces()};
  jump(w1);
  lines.push_back("on full-screen Space " + WorldReader::spaces() + ", front: " + WorldReader::frontName());
  UserActions::commandOptionTap();
  const double start = ModeClock::seconds();
  std::optional<std::int64_t> appeared;
  while (ModeClock::seconds() - start < 2.0) {
    if (panelShows()) {
      appeared = ModeClock::millisecondsSince(start);
      break;
    }
    ModeClock::pump(0.01);
  }
  lines.push_back("panel appeared after " + (appeared ? std::to_string(*appeared) + "ms" : std::string("never (2s)")));
  ModeClock::pump(0.3);
  lines.push_back("switcher windows on screen: " + ModeReport::strings(WorldReader::ours()));
  UserActions::escapeAndLetGo();
  ModeClock::pump(0.3);
  jump(w2);
  lines.push_back("back on " + WorldReader::spaces());
  return ModeReport::status(ModeReport::write(out, lines));
}

int FullScreenModes::fullscreenKeyTest(const std::string& out, std::uint32_t window, const std::string& directions,
                                       const Pictures& pictures) {
  bool written = true;
  std::vector<std::string> lines{"start: " + layout()};
  for (const std::string& direction : ModeReport::items(directions)) {
    UserActions::go(window);
    UserActions::commandTab();
    UserActions::lookOnceCopysPanelShows(0.6);
    const CGKeyCode arrow = direction == "up" ? keys::up : keys::down;
    UserActions::key(arrow, keys::press, keys::arrows, keys::plain);
    UserActions::key(arrow, keys::release, keys::arrows, keys::plain);
    if (pictures.framesDir) written &= recordFrames(*pictures.framesDir, direction);
    // Every change of what shows, with the time it was first seen.
    const double start = ModeClock::seconds();
    std::string previous;
    do {
      const std::string watch = std::to_string(WorldReader::count("Trelliq", 101)) +
                                " switcher windows on screen, showing " + WorldReader::spaces();
      if (watch != previous) {
        lines.push_back("  +" + std::to_string(ModeClock::millisecondsSince(start)) + "ms: " + watch);
        previous = watch;
      }
      ModeClock::pump(0.02);
    } while (ModeClock::seconds() - start < 3.0);
    const bool stillOpen = WorldReader::count("Trelliq", 101) > 0;
    if (pictures.captureDir)
      written &= !ModeReport::debugScreenshot(*pictures.captureDir + "/" + direction + ".png").unwritable;
    UserActions::escapeAndLetGo();
    ModeClock::pump(0.5);
    lines.push_back(direction + ": switcher still open after 3s: " + ModeReport::text(stillOpen) + "; front " +
                    WorldReader::frontName() + "; " + layout());
  }
  UserActions::go(window);
  written &= ModeReport::write(out, lines);
  return ModeReport::status(written);
}

std::vector<SelfTestMode> FullScreenModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--fullscreen-test", "out w1 w2", windowNumbersAt({2, 3}),
       [](const Args& args, std::size_t at) {
         return fullscreenTest(args[at + 1], *parseWindowNumber(args[at + 2]), *parseWindowNumber(args[at + 3]));
       }},
      {"--fullscreen-key-test", "out w directions", windowNumbersAt({2}),
       [](const Args& args, std::size_t at) {
         return fullscreenKeyTest(args[at + 1], *parseWindowNumber(args[at + 2]), args[at + 3],
                                  Pictures::fromEnvironment());
       }},
  };
}

}  // namespace trelliq
