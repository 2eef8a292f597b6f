#include "selftest/HandoffModes.h"

#include <vector>

#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/UserActions.h"
#include "selftest/WorldReader.h"

namespace trelliq {

namespace {

// ⌘⇥ let go at once, well under the show delay; then time for the switch to land.
void quickCommandTab() {
  UserActions::commandTab();
  UserActions::key(keys::command, keys::release, 0, keys::modifier);
  ModeClock::pump(1.2);
}

}  // namespace

int HandoffModes::handoffTest(const std::string& out) {
  UserActions::commandOptionTap();
  ModeClock::pump(0.8);
  const std::size_t open = WorldReader::count("Trelliq", 101);
  UserActions::press(keys::tab);
  ModeClock::pump(1.0);
  const std::size_t after = WorldReader::count("Trelliq", 101);
  const std::size_t dock = WorldReader::count("Dock", 20);
  UserActions::escapeAndLetGo();
  return ModeReport::status(
      ModeReport::write(out, {"ours open: " + std::to_string(open) + " windows; after ⌘⇥: ours " +
                              std::to_string(after) + ", Dock overlay windows " + std::to_string(dock)}));
}

int HandoffModes::toggleTest(const std::string& out) {
  std::vector<std::string> lines{"start: " + WorldReader::frontName()};
  quickCommandTab();
  lines.push_back("after ⌘⇥: " + WorldReader::frontName());
  quickCommandTab();
  lines.push_back("after ⌘⇥ again: " + WorldReader::frontName());
  return ModeReport::status(ModeReport::write(out, lines));
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
