#include "switcher/model/KeyDecision.h"

#include "platform/Unicode.h"

namespace trelliq {
namespace {

using namespace modifierbits;

using Kind = KeyCommand::Kind;

// The terms every rule reads, computed once per key.
struct Terms {
  CGKeyCode key;
  CGEventFlags flags;  // a stays-open session behaves as if its holding modifier were down
  bool repeat;
  bool open;
  int step;
  bool holdingHeld;
  bool tab;
  bool grave;
};

Terms termsOf(const KeyPress& press, const OpenState& state) {
  CGEventFlags flags = press.flags;
  if (state.open && state.staysOpen) flags |= state.holding;
  return Terms{press.key,
               flags,
               press.repeat,
               state.open,
               (flags & kShift) ? -1 : 1,
               (flags & state.holding) == state.holding,
               press.key == SwitcherKeys::tab,
               press.key == SwitcherKeys::grave};
}

KeyDecision consumed(KeyRule rule, KeyCommand command = {}) {
  KeyDecision decision;
  decision.rule = rule;
  decision.consumes = true;
  decision.command = command;
  return decision;
}

KeyDecision passed(KeyRule rule) {
  KeyDecision decision;
  decision.rule = rule;
  return decision;
}

// A trigger key: steps while open, opens while closed (a held key opens nothing); either
// way it spoils a pending ⌥ tap.
KeyDecision trigger(KeyRule rule, const Terms& t, KeyCommand whileOpen, SessionAction opens, CGEventFlags holding) {
  KeyDecision decision = consumed(rule);
  decision.forgetsPendingTap = true;
  if (t.open) {
    decision.command = whileOpen;
  } else if (!t.repeat) {
    decision.opens = KeyDecision::Opening{opens, holding};
  }
  return decision;
}

// The keys that open a session while closed and step while open.
std::optional<KeyDecision> triggerKeys(const Terms& t, const OpenState& state, const TapOptions& options) {
  if ((t.tab || t.grave) && (t.flags & (kControl | kOption | kCommand)) == kOption &&
      (t.open ? state.appSession : t.grave && options.appWindows)) {
    return trigger(KeyRule::appWindowKeys, t, {Kind::stepAppWindow, t.step}, SessionAction::appWindows(t.step),
                   kOption);
  }
  if (t.tab) {
    const CGEventFlags m = t.open ? (state.clusterSession ? state.holding : 0) : options.windowTileModifier;
    const CGEventFlags other = (kCommand | kOption) & ~m;
    if (m != 0 && (t.flags & m) == m && (t.flags & other) == 0) {
      const SessionAction opens = (t.flags & kControl) ? SessionAction::clusterTray() : SessionAction::clusters(t.step);
      return trigger(KeyRule::windowTileTab, t, {Kind::stepWindowTiles, t.step}, opens, m);
    }
  }
  if (t.tab && (t.flags & kCommand) && !(t.flags & kOption)) {
    const SessionAction opens = (t.flags & kControl) ? SessionAction::tray() : SessionAction::cycle(t.step);
    return trigger(KeyRule::commandTab, t, {Kind::stepTiles, t.step}, opens, kCommand);
  }
  if (!t.open) {
    KeyDecision decision = passed(KeyRule::closedPassesOn);
    decision.forgetsPendingTap = true;
    return decision;
  }
  return std::nullopt;
}

// The grave-accent key steps the windows of the selected tile.
bool graveSteps(const Terms& t, const OpenState& state) {
  if (t.flags & kControl) return false;
  if (state.clusterSession) {
    return t.holdingHeld && (state.holding == kCommand ? !(t.flags & kOption) : !(t.flags & kCommand));
  }
  return (t.flags & (kCommand | kOption)) == kCommand;
}

// esc and Return end the session; the switcher closes before the main thread hears of it.
std::optional<KeyDecision> endingKeys(const Terms& t, const OpenState& state) {
  if (t.key != SwitcherKeys::escape && !t.holdingHeld) return consumed(KeyRule::holdingReleased);
  std::optional<KeyDecision> decision;
  if (t.key == SwitcherKeys::escape) {
    decision = consumed(KeyRule::escapeCancels, {Kind::cancel});
  } else if ((t.key == SwitcherKeys::returnKey || t.key == SwitcherKeys::enter) && state.staysOpen) {
    decision = consumed(KeyRule::returnCommits, {Kind::commit});
  }
  if (decision) decision->closesGate = true;
  return decision;
}

// A held key steps only where stepping again is what holding means (the arrows).
KeyCommand unlessRepeat(const Terms& t, KeyCommand command) { return t.repeat ? KeyCommand{} : command; }

KeyDecision steeringKeys(const Terms& t, const OpenState& state, const std::u16string& text) {
  if (t.grave && graveSteps(t, state)) {
    return consumed(KeyRule::graveStepsWindows, unlessRepeat(t, {Kind::stepWindow, t.step}));
  }
  if (t.key == SwitcherKeys::right || t.key == SwitcherKeys::left) {
    return consumed(KeyRule::arrowsStepAlong, {Kind::stepAlong, t.key == SwitcherKeys::right ? 1 : -1});
  }
  if (t.key == SwitcherKeys::down || t.key == SwitcherKeys::up) {
    return consumed(KeyRule::arrowsFullScreen, unlessRepeat(t, {Kind::toggleFullScreen, t.key == SwitcherKeys::up}));
  }
  const TypedKey typed = classify(text);
  if (!typed.letterOrNumber) return passed(KeyRule::openPassesOn);
  KeyCommand command;
  if (typed.digit) {
    command = {Kind::pickWindow, *typed.digit};
  } else if (typed.lowered == u"q") {
    command = {Kind::quitApp};
  } else if (typed.lowered == u"h") {
    command = {Kind::hideApp};
  } else if (typed.lowered == u"w") {
    command = {Kind::closeWindow};
  }
  return consumed(KeyRule::typedKeys, unlessRepeat(t, command));
}

}  // namespace

KeyDecision decide(const KeyPress& press, const OpenState& state, const TapOptions& options) {
  const Terms t = termsOf(press, state);
  if (auto decision = triggerKeys(t, state, options)) return *decision;
  if (auto decision = endingKeys(t, state)) return *decision;
  return steeringKeys(t, state, press.text);
}

TypedKey classify(const std::u16string& text) {
  TypedKey result;
  result.lowered = platform::Unicode::lowercased(text);
  const std::u32string points = platform::Unicode::codePoints(result.lowered);
  if (points.empty()) return result;
  const char32_t first = points.front();
  result.letterOrNumber = platform::Unicode::isLetterOrNumber(first);
  if (const auto digit = platform::Unicode::digitValue(first); digit && *digit >= 1 && *digit <= 9) {
    result.digit = digit;
  }
  return result;
}

}  // namespace trelliq
