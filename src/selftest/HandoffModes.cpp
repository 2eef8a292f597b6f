#include "selftest/HandoffModes.h"

#include <vector>

#include "selftest/Toolkit.h"

namespace trelliq {

namespace {

// ⌘⇥ let go at once, well under the show delay; then time for the switch to land.
void quickCommandTab() {
  Toolkit::commandTab();
  Toolkit::key(keys::command, keys::release, 0, keys::modifier);
  Toolkit::pump(1.2);
}

}  // namespace

int HandoffModes::handoffTest(const std::string& out) {
  Toolkit::commandOptionTap();
  Toolkit::pump(0.8);
  const std::size_t open = Toolkit::count("Trelliq", 101);
  Toolkit::press(keys::tab);
  Toolkit::pump(1.0);
  const std::size_t after = Toolkit::count("Trelliq", 101);
  const std::size_t dock = Toolkit::count("Dock", 20);
  Toolkit::escapeAndLetGo();
  return Toolkit::status(
      Toolkit::write(out, {"ours open: " + std::to_string(open) + " windows; after ⌘⇥: ours " + std::to_string(after) +
                           ", Dock overlay windows " + std::to_string(dock)}));
}

int HandoffModes::toggleTest(const std::string& out) {
  std::vector<std::string> lines{"start: " + Toolkit::frontName()};
  quickCommandTab();
  lines.push_back("after ⌘⇥: " + Toolkit::frontName());
  quickCommandTab();
  lines.push_back("after ⌘⇥ again: " + Toolkit::frontName());
  return Toolkit::status(Toolkit::write(out, lines));
}

std::vector<SelfTestMode> HandoffModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--handoff-test", "out", {}, [](const Args& args, std::size_t at) { return handoffTest(args[at + 1]); }},
      {"--toggle-test", "out", {}, [](const Args& args, std::size_t at) { return toggleTest(args[at + 1]); }},
  };
}

}  // namespace trelliq
