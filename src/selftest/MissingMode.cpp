#include "selftest/MissingMode.h"

#include <cstdlib>
#include <set>

#include "platform/CGEvent.h"
#include "platform/CGWindow.h"
#include "selftest/Dispatch.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/UserActions.h"
#include "selftest/WorldReader.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

std::string where() { return "spaces showing " + WorldReader::spaces() + ", front " + WorldReader::frontName(); }

// The log and the pictures of one run.
struct Run {
  std::string dir;
  std::vector<std::string> log;
  bool written = true;

  // ⌘⇥, a look at what shows once the copy has shown it, a picture, then esc and ⌘ up.
  void session(const std::string& name) {
    UserActions::commandTab();
    UserActions::lookOnceCopysPanelShows(0.6);
    log.push_back(name + ": " + where());
    for (std::string& line : MissingMode::copyWindows()) log.push_back(std::move(line));
    written &= !ModeReport::debugScreenshot(dir + "/" + name + ".png").unwritable;
    UserActions::escapeAndLetGo();
    ModeClock::pump(0.5);
  }

  // ⌘ held with a quick ⌥ tap (the copy's Spaces trigger) or a ⇥, then let go: the copy switches.
  void viaSwitcher(bool tab) {
    if (tab) {
      UserActions::commandTab();
    } else {
      UserActions::commandOptionTap();
    }
    ModeClock::pump(0.6);
    UserActions::key(keys::command, keys::release, 0, keys::modifier);
    ModeClock::pump(1.5);
    log.push_back(std::string(tab ? "switched with ⌘⇥: " : "switched with keys: ") + where());
  }
};

}  // namespace

MissingMode::Move MissingMode::move(const std::optional<std::string>& how) {
  if (how == "keys") return Move::keys;
  if (how == "tab") return Move::tab;
  return Move::direct;
}

std::optional<CGPoint> MissingMode::pointer(const char* value) {
  if (!value) return std::nullopt;
  std::vector<double> numbers;
  for (const std::string& item : ModeReport::items(value)) {
    if (const std::optional<double> n = parseDecimal(item)) numbers.push_back(*n);
  }
  if (numbers.size() != 2) return std::nullopt;
  return CGPoint(numbers[0], numbers[1]);
}

std::vector<std::string> MissingMode::copyWindows() {
  std::set<std::uint32_t> shown;
  for (const WorldReader::Listed& w : WorldReader::windowList(kCGWindowListOptionOnScreenOnly)) {
    if (w.number) shown.insert(*w.number);
  }
  std::vector<std::string> lines;
  for (const WorldReader::Listed& w : WorldReader::windowList(kCGWindowListOptionAll)) {
    if (!w.otherCopy()) continue;
    const std::uint32_t n = w.number.value_or(0);
    const CGRect b = w.bounds.value_or(CGRect());
    std::vector<std::int64_t> spaces = Private::spaces(n);
    lines.push_back("  " + std::to_string(n) + " layer " + w.layerText + " " + ModeReport::whole(b.minX()) + "," +
                    ModeReport::whole(b.minY()) + " " + ModeReport::whole(b.size.width) + "x" +
                    ModeReport::whole(b.size.height) + " alpha " + w.alphaText + " " +
                    (shown.contains(n) ? "ON SCREEN" : "off") +
                    " ordered=" + ModeReport::text(Private::isOrderedIn(n)) + " spaces " + ModeReport::list(spaces));
  }
  return lines;
}

int MissingMode::run(const std::string& dir, std::uint32_t w1, std::uint32_t w2, Move move,
                     std::optional<CGPoint> pointer) {
  Run run{dir, {}};
  if (move == Move::tab) UserActions::go(w1);
  UserActions::go(w2);
  run.session("before");
  if (pointer) {
    CGWarpMouseCursorPosition(*pointer);
    UserActions::movePointer(*pointer);
  }
  switch (move) {
    case Move::keys:
      run.viaSwitcher(false);
      break;
    case Move::tab:
      run.viaSwitcher(true);
      break;
    case Move::direct:
      UserActions::go(w1);
      break;
  }
  run.session("fullscreen");
  run.session("fullscreen-again");
  UserActions::go(w2);
  run.session("after");
  run.written &= ModeReport::write(dir + "/log.txt", run.log);
  return ModeReport::status(run.written);
}

std::vector<SelfTestMode> MissingMode::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--missing-test", "dir w1 w2 [how]", windowNumbersAt({2, 3}),
       [](const Args& args, std::size_t at) {
         return run(args[at + 1], *parseWindowNumber(args[at + 2]), *parseWindowNumber(args[at + 3]),
                    MissingMode::move(optionalAt(args, at, 4)), pointer(std::getenv("POINTER")));
       }},
  };
}

}  // namespace trelliq
