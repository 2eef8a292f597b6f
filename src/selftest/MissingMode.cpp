#include "selftest/MissingMode.h"

#include <cstdlib>
#include <set>

#include "platform/CGEvent.h"
#include "platform/CGWindow.h"
#include "selftest/Dispatch.h"
#include "selftest/Toolkit.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

std::string where() { return "spaces showing " + Toolkit::spaces() + ", front " + Toolkit::frontName(); }

// The log and the pictures of one run.
struct Run {
  std::string dir;
  std::vector<std::string> log;
  bool written = true;

  // ⌘⇥, a look at what shows, a picture, then esc and ⌘ up.
  void session(const std::string& name) {
    Toolkit::commandTab();
    Toolkit::pump(0.6);
    log.push_back(name + ": " + where());
    for (std::string& line : MissingMode::copyWindows()) log.push_back(std::move(line));
    written &= !Toolkit::debugScreenshot(dir + "/" + name + ".png").unwritable;
    Toolkit::escapeAndLetGo();
    Toolkit::pump(0.5);
  }

  // ⌘ held with a quick ⌥ tap (the copy's Spaces trigger) or a ⇥, then let go: the copy switches.
  void viaSwitcher(bool tab) {
    if (tab) {
      Toolkit::commandTab();
    } else {
      Toolkit::commandOptionTap();
    }
    Toolkit::pump(0.6);
    Toolkit::key(keys::command, keys::release, 0, keys::modifier);
    Toolkit::pump(1.5);
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
  for (const std::string& item : Toolkit::items(value)) {
    if (const std::optional<double> n = parseDecimal(item)) numbers.push_back(*n);
  }
  if (numbers.size() != 2) return std::nullopt;
  return CGPoint(numbers[0], numbers[1]);
}

std::vector<std::string> MissingMode::copyWindows() {
  std::set<std::uint32_t> shown;
  for (const Toolkit::Listed& w : Toolkit::windowList(kCGWindowListOptionOnScreenOnly)) {
    if (w.number) shown.insert(*w.number);
  }
  std::vector<std::string> lines;
  for (const Toolkit::Listed& w : Toolkit::windowList(kCGWindowListOptionAll)) {
    if (!w.otherCopy()) continue;
    const std::uint32_t n = w.number.value_or(0);
    const CGRect b = w.bounds.value_or(CGRect());
    std::vector<std::int64_t> spaces = Private::spaces(n);
    lines.push_back("  " + std::to_string(n) + " layer " + w.layerText + " " + Toolkit::whole(b.minX()) + "," +
                    Toolkit::whole(b.minY()) + " " + Toolkit::whole(b.size.width) + "x" +
                    Toolkit::whole(b.size.height) + " alpha " + w.alphaText + " " +
                    (shown.contains(n) ? "ON SCREEN" : "off") + " ordered=" + Toolkit::text(Private::isOrderedIn(n)) +
                    " spaces " + Toolkit::list(spaces));
  }
  return lines;
}

int MissingMode::run(const std::string& dir, std::uint32_t w1, std::uint32_t w2, Move move,
                     std::optional<CGPoint> pointer) {
  Run run{dir, {}};
  if (move == Move::tab) Toolkit::go(w1);
  Toolkit::go(w2);
  run.session("before");
  if (pointer) {
    CGWarpMouseCursorPosition(*pointer);
    Toolkit::movePointer(*pointer);
  }
  switch (move) {
    case Move::keys:
      run.viaSwitcher(false);
      break;
    case Move::tab:
      run.viaSwitcher(true);
      break;
    case Move::direct:
      Toolkit::go(w1);
      break;
  }
  run.session("fullscreen");
  run.session("fullscreen-again");
  Toolkit::go(w2);
  run.session("after");
  run.written &= Toolkit::write(dir + "/log.txt", run.log);
  return Toolkit::status(run.written);
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
