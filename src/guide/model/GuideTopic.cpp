#include "guide/model/GuideTopic.h"

namespace trelliq {
namespace {

using Step = Demo::Step;
const std::string kTab = "⇥";
const std::string kShift = "⇧";
const std::string kOption = "⌥";
const std::string kControl = "⌃";
const std::string kBackquote = "`";

Step tap(const std::string& key, int app, int window = 0) { return {.tap = key, .app = app, .window = window}; }
Step shiftTap(int app, int window = 0) { return {.held = {kShift}, .tap = kTab, .app = app, .window = window}; }
Step bottomTap(const std::string& key, int app) { return {.tap = key, .app = app, .bottom = true}; }
Step scroll(double dx, double dy, int app, int window = 0, bool bottom = false) {
  return {.app = app, .bottom = bottom, .window = window, .move = TrackpadMove::scroll(dx, dy)};
}
Step closed() { return {.open = false}; }
Step opened() { return {}; }

std::vector<Step> sideways(bool tiles) {
  return {scroll(1, 0, tiles ? 0 : 1, tiles ? 1 : 0), scroll(1, 0, tiles ? 1 : 2),
          scroll(1, 0, tiles ? 1 : 3, tiles ? 1 : 0), scroll(1, 0, 0)};
}

Demo trackpadDemo(bool tiles, std::vector<Step> steps, int bottomApps = 0) {
  return {.steps = std::move(steps), .bottomApps = bottomApps, .tiles = tiles, .trackpad = true};
}

}  // namespace

const GuideVariant& GuideTopic::variant(const std::optional<std::string>& name) const {
  if (name) {
    for (const GuideVariant& v : variants) {
      if (v.name == *name) return v;
    }
  }
  return variants.front();
}

std::vector<GuideTopic> GuideTopic::all(Settings::Tiles tiles, std::optional<Settings::Gesture> gesture) {
  switch (tiles) {
    case Settings::Tiles::apps:
      return {apps(),     spaces(),         appWindows("Windows"),          tray(false),
              displays(), scrolling(false), withoutKeyboard(false, gesture)};
    case Settings::Tiles::windows:
      return {windows("Windows", "⌘"),       oneDesktop("⌘"), tray(true), displays(), scrolling(true),
              withoutKeyboard(true, gesture)};
    case Settings::Tiles::both:
      break;
  }
  return {apps(),
          spaces(),
          appWindows("An app's windows"),
          windows("Window tiles", kOption),
          oneDesktop(kOption),
          tray(false),
          displays(),
          scrolling(false),
          withoutKeyboard(false, gesture)};
}

const GuideTopic& GuideTopic::apps() {
  static const GuideTopic topic{
      "Apps",
      "Step through your apps",
      {{"Forward", Demo{.keys = {"⌘", kTab}, .steps = {tap(kTab, 1), tap(kTab, 2), tap(kTab, 3), tap(kTab, 0)}},
        "Each press of ⇥ steps right, Space by Space"},
       {"Backward", Demo{.keys = {"⌘", kShift, kTab}, .steps = {shiftTap(2), shiftTap(1), shiftTap(0), shiftTap(3)}},
        "Hold ⇧ too to step back left"}}};
  return topic;
}

const GuideTopic& GuideTopic::spaces() {
  static const GuideTopic topic{"Spaces",
                                "Jump straight to the next Space",
                                {{"Spaces", Demo{.keys = {"⌘", kOption}, .steps = {tap(kOption, 2), tap(kOption, 0)}},
                                  "Tap ⌥ to land on the next Space"}}};
  return topic;
}

GuideTopic GuideTopic::displays() {
  return {"Displays",
          "Switch on any display",
          {{"Displays", GuideVariant::Displays{},
            "Tap fn, or move the pointer, to steer another display\nLetting go switches only that one"}}};
}

GuideTopic GuideTopic::appWindows(const std::string& title) {
  return {title,
          "Pick one of an app's windows",
          {{"Windows",
            Demo{.keys = {"⌘", kBackquote},
                 .steps = {tap(kBackquote, 1, 1), tap(kBackquote, 1, 2), tap(kBackquote, 1, 0)},
                 .windows = 3},
            "Press ` for the app's next window"}}};
}

GuideTopic GuideTopic::tray(bool tiles) {
  return {
      "Apps without windows",
      "Open an app that has none open",
      {{"Apps without windows",
        Demo{.keys = {"⌘", kControl, kTab},
             .steps = {bottomTap(kControl, 0), bottomTap(kTab, 1), bottomTap(kTab, 2), tap(kControl, tiles ? 0 : 1)},
             .bottomApps = 3,
             .tiles = tiles},
        "Tap ⌃ for the row below, then press ⇥ along it\nTap ⌃ again to go back up"}}};
}

GuideTopic GuideTopic::scrolling(bool tiles) {
  return {"Scrolling",
          "Scroll through the tiles",
          {{"Sideways", trackpadDemo(tiles, sideways(tiles)),
            "Scroll with two fingers on a trackpad, or one on a Magic Mouse"},
           {"Up and down",
            trackpadDemo(tiles, {scroll(0, 1, 0, 0, true), scroll(1, 0, 1, 0, true), scroll(0, -1, tiles ? 0 : 1)}, 3),
            "Scroll down for the row below, and up to go back"}}};
}

GuideTopic GuideTopic::withoutKeyboard(bool tiles, std::optional<Settings::Gesture> gesture) {
  GuideTopic topic{"Without the keyboard", gesture ? "Open it with a double-tap" : "Opened from a hot corner", {}};
  if (gesture) {
    const int n = gesture->fingers();
    Step tapOpen{.move = TrackpadMove::doubleTap(n)};
    Step tapClose{.move = TrackpadMove::doubleTap(n), .open = false};
    topic.variants.push_back({"Open and close", trackpadDemo(tiles, {closed(), tapOpen, opened(), tapClose}),
                              std::string(gesture->title()) + " to open it, and again to close it"});
  }
  topic.variants.push_back(
      {"Scroll", trackpadDemo(tiles, sideways(tiles)), "Scroll with two fingers to move to another tile"});
  const int app = tiles ? 1 : 2;
  const int window = tiles ? 1 : 0;
  Step click{.app = app, .window = window, .move = TrackpadMove::rightClick(), .open = false};
  topic.variants.push_back(
      {"Two-finger click", trackpadDemo(tiles, {closed(), opened(), scroll(1, 0, 1), scroll(1, 0, app, window), click}),
       "Click with two fingers, or right-click, to go to what's selected"});
  return topic;
}

GuideTopic GuideTopic::windows(const std::string& title, const std::string& hold) {
  return {title,
          "Step through every window",
          {{"Forward",
            Demo{.keys = {hold, kTab},
                 .steps = {tap(kTab, 0, 1), tap(kTab, 1, 0), tap(kTab, 1, 1), tap(kTab, 0, 0)},
                 .hold = hold,
                 .tiles = true},
            "Each press of ⇥ goes to the next window, then on to the next desktop"},
           {"Backward",
            Demo{.keys = {hold, kShift, kTab},
                 .steps = {shiftTap(1, 1), shiftTap(1, 0), shiftTap(0, 1), shiftTap(0, 0)},
                 .hold = hold,
                 .tiles = true},
            "Hold ⇧ too to step back"}}};
}

GuideTopic GuideTopic::oneDesktop(const std::string& hold) {
  return {"One desktop",
          "Step through one desktop's windows",
          {{"One desktop",
            Demo{.keys = {hold, kBackquote},
                 .steps = {tap(kBackquote, 0, 1), tap(kBackquote, 0, 0)},
                 .hold = hold,
                 .tiles = true},
            "Press ` for the next window on the same desktop"}}};
}

}  // namespace trelliq
