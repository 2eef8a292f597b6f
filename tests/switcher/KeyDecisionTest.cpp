// The binding table of the event tap, as one pure decision: which rule takes a key first,
// whether the key is consumed, what opens and what the main thread is asked to do.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "switcher/model/KeyDecision.h"

namespace trelliq {
namespace {

constexpr CGEventFlags kShift = kCGEventFlagMaskShift, kControl = kCGEventFlagMaskControl,
                       kOption = kCGEventFlagMaskAlternate, kCommand = kCGEventFlagMaskCommand;
using Kind = KeyCommand::Kind;
using Opening = KeyDecision::Opening;

OpenState closed() { return {}; }
OpenState open(CGEventFlags holding = kCommand) {
  OpenState state;
  state.open = true;
  state.holding = holding;
  return state;
}
OpenState windowTiles(CGEventFlags holding) {
  OpenState state = open(holding);
  state.clusterSession = true;
  return state;
}
OpenState appWindows() {
  OpenState state = open(kOption);
  state.appSession = true;
  return state;
}
OpenState staying() {
  OpenState state = open();
  state.staysOpen = true;
  return state;
}
TapOptions tiles(CGEventFlags modifier) { return {modifier, modifier == kCommand, false}; }
TapOptions graveOn() { return {0, false, true}; }

KeyPress key(CGKeyCode code, CGEventFlags flags, std::u16string text = u"", bool repeat = false) {
  return {code, flags, repeat, std::move(text)};
}

struct Row {
  const char* what;
  KeyPress press;
  OpenState state;
  TapOptions options;
  KeyRule rule;
  bool consumes;
  std::optional<Opening> opens;
  KeyCommand command;
};

TEST(KeyDecisionTest, FirstMatchingRuleDecides) {
  const CGKeyCode tab = SwitcherKeys::tab, grave = SwitcherKeys::grave;
  const std::vector<Row> rows{
      {"⌘⇥ opens one step back",
       key(tab, kCommand),
       closed(),
       {},
       KeyRule::commandTab,
       true,
       Opening{SessionAction::cycle(1), kCommand},
       {}},
      {"⌘⇧⇥ opens backwards",
       key(tab, kCommand | kShift),
       closed(),
       {},
       KeyRule::commandTab,
       true,
       Opening{SessionAction::cycle(-1), kCommand},
       {}},
      {"⌘⌃⇥ opens the tray",
       key(tab, kCommand | kControl),
       closed(),
       {},
       KeyRule::commandTab,
       true,
       Opening{SessionAction::tray(), kCommand},
       {}},
      {"a held ⇥ opens nothing", key(tab, kCommand, u"", true), closed(), {}, KeyRule::commandTab, true, {}, {}},
      {"style windows: ⌘⇥ opens window tiles",
       key(tab, kCommand),
       closed(),
       tiles(kCommand),
       KeyRule::windowTileTab,
       true,
       Opening{SessionAction::clusters(1), kCommand},
       {}},
      {"style both: ⌥⌃⇥ opens the tile tray",
       key(tab, kOption | kControl),
       closed(),
       tiles(kOption),
       KeyRule::windowTileTab,
       true,
       Opening{SessionAction::clusterTray(), kOption},
       {}},
      {"style apps: ⌥⇥ is no trigger", key(tab, kOption), closed(), tiles(0), KeyRule::closedPassesOn, false, {}, {}},
      {"⌥` opens the app's windows",
       key(grave, kOption),
       closed(),
       graveOn(),
       KeyRule::appWindowKeys,
       true,
       Opening{SessionAction::appWindows(1), kOption},
       {}},
      {"⌥` without the option passes", key(grave, kOption), closed(), {}, KeyRule::closedPassesOn, false, {}, {}},
      {"open: ⌥⇥ steps the app's windows",
       key(tab, kOption),
       appWindows(),
       tiles(kOption),
       KeyRule::appWindowKeys,
       true,
       {},
       {Kind::stepAppWindow, 1}},
      {"open: a held ⌘⇥ steps",
       key(tab, kCommand, u"", true),
       open(),
       {},
       KeyRule::commandTab,
       true,
       {},
       {Kind::stepTiles, 1}},
      {"open: ⌥⇧⇥ steps window tiles back",
       key(tab, kOption | kShift),
       windowTiles(kOption),
       {},
       KeyRule::windowTileTab,
       true,
       {},
       {Kind::stepWindowTiles, -1}},
      {"open: ⌘⇥ in an ⌥ tile session is no tile step",
       key(tab, kCommand),
       windowTiles(kOption),
       {},
       KeyRule::commandTab,
       true,
       {},
       {Kind::stepTiles, 1}},
      {"holding let go: keys are swallowed", key(0, 0, u"a"), open(), {}, KeyRule::holdingReleased, true, {}, {}},
      {"esc cancels even without ⌘",
       key(SwitcherKeys::escape, 0),
       open(),
       {},
       KeyRule::escapeCancels,
       true,
       {},
       {Kind::cancel}},
      {"Return passes in an ordinary session",
       key(SwitcherKeys::returnKey, kCommand, u"\r"),
       open(),
       {},
       KeyRule::openPassesOn,
       false,
       {},
       {}},
      {"Enter commits a stays-open session",
       key(SwitcherKeys::enter, 0, u"\x03"),
       staying(),
       {},
       KeyRule::returnCommits,
       true,
       {},
       {Kind::commit}},
      {"⌘` steps windows",
       key(grave, kCommand, u"`"),
       open(),
       {},
       KeyRule::graveStepsWindows,
       true,
       {},
       {Kind::stepWindow, 1}},
      {"⌘⌃` passes", key(grave, kCommand | kControl, u"`"), open(), {}, KeyRule::openPassesOn, false, {}, {}},
      {"⌘⌥` in a ⌘ tile session passes",
       key(grave, kCommand | kOption, u"`"),
       windowTiles(kCommand),
       {},
       KeyRule::openPassesOn,
       false,
       {},
       {}},
      {"a held ← steps",
       key(SwitcherKeys::left, kCommand, u"", true),
       open(),
       {},
       KeyRule::arrowsStepAlong,
       true,
       {},
       {Kind::stepAlong, -1}},
      {"↑ enters full screen",
       key(SwitcherKeys::up, kCommand),
       open(),
       {},
       KeyRule::arrowsFullScreen,
       true,
       {},
       {Kind::toggleFullScreen, 1}},
      {"a held ↓ toggles nothing",
       key(SwitcherKeys::down, kCommand, u"", true),
       open(),
       {},
       KeyRule::arrowsFullScreen,
       true,
       {},
       {}},
      {"٣ picks window 3", key(20, kCommand, u"٣"), open(), {}, KeyRule::typedKeys, true, {}, {Kind::pickWindow, 3}},
      {"Q quits", key(12, kCommand | kShift, u"Q"), open(), {}, KeyRule::typedKeys, true, {}, {Kind::quitApp}},
      {"a held h does nothing", key(4, kCommand, u"h", true), open(), {}, KeyRule::typedKeys, true, {}, {}},
      {"other letters are swallowed", key(7, kCommand, u"x"), open(), {}, KeyRule::typedKeys, true, {}, {}},
      {"punctuation passes", key(47, kCommand, u"."), open(), {}, KeyRule::openPassesOn, false, {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const KeyDecision d = decide(row.press, row.state, row.options);
    EXPECT_EQ(d.rule, row.rule);
    EXPECT_EQ(d.consumes, row.consumes);
    EXPECT_EQ(d.opens, row.opens);
    EXPECT_EQ(d.command, row.command);
    // The trigger keys and every key of a closed switcher spoil a waiting ⌥ tap; only the
    // ending keys close the switcher before the main thread hears of it.
    EXPECT_EQ(d.forgetsPendingTap, !row.state.open || row.rule == KeyRule::appWindowKeys ||
                                       row.rule == KeyRule::windowTileTab || row.rule == KeyRule::commandTab);
    EXPECT_EQ(d.closesGate, row.rule == KeyRule::escapeCancels || row.rule == KeyRule::returnCommits);
  }
}

}  // namespace
}  // namespace trelliq
