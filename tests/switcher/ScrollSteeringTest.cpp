// Scrolls turned into steps: the dead zone, the first and later thresholds, the axis lock,
// wheels, natural scrolling and momentum, one gesture per row.

#include <gtest/gtest.h>

#include <vector>

#include "switcher/model/ScrollSteering.h"

namespace trelliq {
namespace {

using Step = ScrollSteering::Step;
using Axis = Step::Axis;
constexpr std::int64_t kBegan = 1, kChanged = 2;

ScrollEvent points(double across, double down, std::int64_t phase = kChanged) {
  ScrollEvent event;
  event.phase = phase;
  event.continuous = true;
  event.pointAcross = across;
  event.pointDown = down;
  return event;
}
ScrollEvent notch(double across, double down) {
  ScrollEvent event;
  event.lineAcross = across;
  event.lineDown = down;
  return event;
}
ScrollEvent momentum() {
  ScrollEvent event;
  event.continuous = true;
  event.momentum = 1;
  event.pointAcross = 40;
  return event;
}
// A gesture of `count` equal moves, the first one beginning it.
std::vector<ScrollEvent> swipe(int count, double across, double down) {
  std::vector<ScrollEvent> events;
  for (int i = 0; i < count; ++i) events.push_back(points(across, down, i == 0 ? kBegan : kChanged));
  return events;
}

struct Row {
  const char* what;
  std::vector<ScrollEvent> events;
  bool open;
  bool natural;
  std::vector<Step> steps;
  bool swallowsLast;
};

TEST(ScrollSteeringTest, GesturesStepAtTheirThresholds) {
  const Step right{Axis::sideways, 1}, left{Axis::sideways, -1}, down{Axis::rows, 1}, up{Axis::rows, -1};
  const std::vector<Row> rows{
      {"closed: a wheel passes", {notch(1, 0)}, false, true, {}, false},
      {"a sideways notch steps once", {notch(1, 0)}, true, true, {right}, true},
      {"natural scrolling off reverses", {notch(1, 0)}, true, false, {left}, true},
      {"a vertical notch changes rows", {notch(0, -2)}, true, true, {up}, true},
      {"under 8 points makes no step", swipe(3, 2, 0.5), true, true, {}, true},
      {"120 points: at 8, then every 50", swipe(12, 10, 0), true, true, {right, right, right}, true},
      {"mostly vertical: no row step before 30", swipe(3, 1, 9), true, true, {}, true},
      {"mostly vertical goes by rows, first at 30", swipe(4, 1, 9), true, true, {down}, true},
      {"a quick swipe keeps its remainder",
       {points(10, 0, kBegan), points(130, 0)},
       true,
       true,
       {right, right, right},
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScrollSteering steering;
    std::vector<Step> steps;
    bool swallowed = false;
    for (const ScrollEvent& event : row.events) {
      swallowed = steering.scrolled(
          event, row.open, [&] { return row.natural; }, [&](Step step) { steps.push_back(step); });
    }
    EXPECT_EQ(steps, row.steps);
    EXPECT_EQ(swallowed, row.swallowsLast);
  }
}

TEST(ScrollSteeringTest, MomentumIsSwallowedOnlyAfterAGestureThatBeganOpen) {
  const auto natural = [] { return true; };
  std::vector<Step> steps;
  const auto record = [&](Step step) { steps.push_back(step); };
  ScrollSteering ours;
  ours.scrolled(points(0, 0, kBegan), true, natural, record);
  EXPECT_TRUE(ours.scrolled(momentum(), true, natural, record));
  EXPECT_TRUE(ours.scrolled(momentum(), false, natural, record)) << "the switcher closed under the fingers";
  ScrollSteering theirs;
  theirs.scrolled(points(0, 0, kBegan), false, natural, record);
  EXPECT_FALSE(theirs.scrolled(momentum(), false, natural, record));
  EXPECT_TRUE(steps.empty()) << "momentum never steps";
}

}  // namespace
}  // namespace trelliq
