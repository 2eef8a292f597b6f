#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "ServedDesk.h"
#include "platform/CGEvent.h"

namespace {

using Desk = ServedDesk;
using sim::SwipeRecord;

constexpr std::uint64_t kA = 10, kB = 11, kC = 12;
constexpr CGPoint kCentre{720, 450};
constexpr std::int64_t kBegan = 1, kChanged = 2, kEnded = 4;
const std::vector<std::int64_t> kWholeSwipe = {kBegan, kChanged, kEnded};

// Three desktops with the middle one showing.
void threeSpaces(Desk& desk, std::uint64_t current = kB) {
  desk.server.setSpaces(Desk::kDisplay, {Desk::space(kA), Desk::space(kB), Desk::space(kC)}, current);
}

CGEventRef dockControl(CGPoint at, std::int64_t phase) {
  const auto e = CGEventCreate(nullptr);
  CGEventSetLocation(e, at);
  CGEventSetIntegerValueField(e, 55, 30);
  CGEventSetIntegerValueField(e, 110, 23);
  CGEventSetIntegerValueField(e, 132, phase);
  CGEventSetIntegerValueField(e, 123, 1);
  return e;
}

// One phase of the older layout; `sign` +1 goes right.
CGEventRef olderPhase(std::int64_t phase, double sign, CGPoint at = kCentre) {
  const auto e = dockControl(at, phase);
  CGEventSetDoubleValueField(e, 124, sign * 1.6e-5);
  CGEventSetDoubleValueField(e, 129, sign * 2000);
  CGEventSetDoubleValueField(e, 130, sign * 2000);
  return e;
}

void postOlder(double sign, CGPoint at = kCentre, const std::vector<std::int64_t>& phases = kWholeSwipe) {
  for (std::int64_t phase : phases) CGEventPost(kCGSessionEventTap, olderPhase(phase, sign, at));
}

std::int32_t fixed(double x) {
  double v = std::trunc(x * 65536.0);
  v = std::clamp(v, -2147483648.0, 2147483647.0);
  auto r = static_cast<std::int32_t>(v);
  if (r == 0 && x != 0) r = x > 0 ? 1 : -1;
  return r;
}

void putLE(platform::PlistData& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The gesture record a sender appends to the serialised base event.
platform::PlistData gestureRecord(const CGEventRef& base) {
  const std::int64_t phase = CGEventGetIntegerValueField(base, 132);
  const double vx = CGEventGetDoubleValueField(base, 129), vy = CGEventGetDoubleValueField(base, 130);
  const bool moving = phase == kEnded || vx != 0 || vy != 0;
  const auto fixedOf = [&](CGEventField f) {
    return static_cast<std::uint32_t>(fixed(CGEventGetDoubleValueField(base, f)));
  };
  platform::PlistData r;
  putLE(r, CGEventGetTimestamp(base), 8);
  putLE(r, 0, 8);
  putLE(r, 0, 8);
  putLE(r, moving ? 2 : 1, 4);
  putLE(r, 40, 4);
  putLE(r, 23, 4);
  putLE(r, static_cast<std::uint64_t>(phase) << 24, 4);
  putLE(r, 0, 4);
  putLE(r, fixedOf(125), 4);
  putLE(r, fixedOf(126), 4);
  putLE(r, 0, 4);
  putLE(r, static_cast<std::uint32_t>(CGEventGetIntegerValueField(base, 115)), 4);
  putLE(r, static_cast<std::uint16_t>(CGEventGetIntegerValueField(base, 123)), 2);
  putLE(r, 3, 2);
  putLE(r, fixedOf(124), 4);
  if (moving) {
    putLE(r, 28, 4);
    putLE(r, 9, 4);
    putLE(r, 0, 4);
    putLE(r, 1, 4);
    putLE(r, static_cast<std::uint32_t>(fixed(vx)), 4);
    putLE(r, static_cast<std::uint32_t>(fixed(vy)), 4);
    putLE(r, 0, 4);
  }
  return r;
}

struct NewerPhase {
  CGEventRef companion;
  CGEventRef gesture;
};

// One phase of the newer layout; `p` is the direction value the sender puts in the fields.
NewerPhase newerPhase(std::int64_t phase, double p, CGPoint at = kCentre,
                      const std::function<void(platform::PlistData&)>& spoil = nullptr) {
  const auto base = dockControl(at, phase);
  CGEventSetDoubleValueField(base, 124, p * 1.6e-5);
  CGEventSetIntegerValueField(base, 134, phase);
  CGEventSetDoubleValueField(base, 138, 3.0);
  CGEventSetDoubleValueField(base, 169, static_cast<double>(mach_absolute_time()));
  CGEventSetDoubleValueField(base, 125, 0.1);
  if (phase == kEnded) CGEventSetDoubleValueField(base, 129, p * 9999);
  auto data = *CGEventCreateData(kCFAllocatorDefault, base);
  auto record = gestureRecord(base);
  if (spoil) spoil(record);
  data.insert(data.end(), {0x00, static_cast<std::uint8_t>(record.size()), 0x10, 0x6D});
  data.insert(data.end(), record.begin(), record.end());
  const auto gesture = CGEventCreate(nullptr);
  CGEventSetIntegerValueField(gesture, 55, 29);
  CGEventSetLocation(gesture, at);
  return {CGEventCreateFromData(kCFAllocatorDefault, data), gesture};
}

void postNewer(double p, CGPoint at = kCentre, const std::vector<std::int64_t>& phases = kWholeSwipe) {
  for (std::int64_t phase : phases) {
    const NewerPhase events = newerPhase(phase, p, at);
    CGEventPost(kCGSessionEventTap, events.companion);
    CGEventPost(kCGSessionEventTap, events.gesture);
  }
}

// ---- The older layout ---------------------------------------------------------------------

TEST(DockSwipeOlderTest, OneWholeSwipeMovesOneSpaceAtOnce) {
  Desk desk;
  threeSpaces(desk);
  postOlder(+1);
  EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kB) << "nothing before the events are delivered";
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kC);
  EXPECT_TRUE(desk.server.isSliding(Desk::kDisplay)) << "only the picture still moves into place";
  desk.scene.clock.advance(desk.server.timings().settle);
  EXPECT_FALSE(desk.server.isSliding(Desk::kDisplay));

  const auto swipes = desk.events->swipes();
  ASSERT_EQ(swipes.size(), 1u);
  EXPECT_EQ(swipes[0].outcome, SwipeRecord::Outcome::landed);
  EXPECT_EQ(swipes[0].layout, SwipeRecord::Layout::older);
  EXPECT_EQ(swipes[0].direction, 1);
  EXPECT_EQ(swipes[0].display, Desk::kDisplay);
  EXPECT_EQ(swipes[0].from, kB);
  EXPECT_EQ(swipes[0].to, kC);
  EXPECT_EQ(swipes[0].events.size(), 3u);

  postOlder(-1);
  postOlder(-1);
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kA);
  EXPECT_EQ(desk.events->swipes().size(), 3u);
}

TEST(DockSwipeOlderTest, NoSpaceBeyondTheEdge) {
  Desk desk;
  threeSpaces(desk, kA);
  postOlder(-1);
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kA);
  ASSERT_EQ(desk.events->swipes().size(), 1u);
  EXPECT_EQ(desk.events->swipes()[0].outcome, SwipeRecord::Outcome::atEdge);
}

TEST(DockSwipeOlderTest, OnlyTheDisplayUnderTheSwipeMoves) {
  Desk desk;
  threeSpaces(desk);
  desk.scene.world.addDisplay(sim::makeDisplay(2, CGRect(1440, 0, 1920, 1080), "External"));
  desk.server.setSpaces(2, {Desk::space(20), Desk::space(21)}, 20);
  postOlder(+1, CGPoint{1440 + 960, 540});
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(desk.server.currentSpace(2), 21u);
  EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kB);
}

TEST(DockSwipeOlderTest, AnythingButOneCleanSetIsIgnored) {
  struct Case {
    const char* name;
    std::function<void()> post;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"velocities against the progress",
       [] {
         for (std::int64_t phase : kWholeSwipe) {
           const auto e = olderPhase(phase, +1);
           CGEventSetDoubleValueField(e, 129, -2000);
           CGEventSetDoubleValueField(e, 130, -2000);
           CGEventPost(kCGSessionEventTap, e);
         }
       },
       "wrong sign"},
      {"direction turning round mid-set",
       [] {
         postOlder(+1, kCentre, {kBegan});
         postOlder(-1, kCentre, {kChanged, kEnded});
       },
       "wrong sign"},
      {"no changed phase",
       [] {
         postOlder(+1, kCentre, {kBegan, kEnded});
       },
       "incomplete"},
      {"no began phase",
       [] {
         postOlder(+1, kCentre, {kChanged, kEnded});
       },
       "incomplete"},
      {"a stray field",
       [] {
         for (std::int64_t phase : kWholeSwipe) {
           const auto e = olderPhase(phase, +1);
           CGEventSetIntegerValueField(e, 115, 2);
           CGEventPost(kCGSessionEventTap, e);
         }
       },
       "stray field 115"},
      {"a bigger progress",
       [] {
         for (std::int64_t phase : kWholeSwipe) {
           const auto e = olderPhase(phase, +1);
           CGEventSetDoubleValueField(e, 124, 1.6e-4);
           CGEventPost(kCGSessionEventTap, e);
         }
       },
       "field 124 differs"},
      {"an unknown phase",
       [] {
         postOlder(+1, kCentre, {kBegan, 3, kEnded});
       },
       ""},
      {"the newer layout on an older system", [] { postNewer(-1); }, ""},
  };
  for (const Case& c : cases) {
    Desk desk;
    threeSpaces(desk);
    c.post();
    desk.scene.clock.runUntilIdle();
    EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kB) << c.name;
    const auto swipes = desk.events->swipes();
    ASSERT_FALSE(swipes.empty()) << c.name;
    for (const SwipeRecord& s : swipes) EXPECT_EQ(s.outcome, SwipeRecord::Outcome::ignored) << c.name;
    if (!c.reason.empty()) {
      EXPECT_EQ(swipes.front().reason, c.reason) << c.name;
    }
  }
}

TEST(DockSwipeOlderTest, ABrokenSetDoesNotSpoilTheNextOne) {
  Desk desk;
  threeSpaces(desk);
  postOlder(+1, kCentre, {kBegan, kChanged});
  postOlder(+1);
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kC);
  const auto swipes = desk.events->swipes();
  ASSERT_EQ(swipes.size(), 2u);
  EXPECT_EQ(swipes[0].reason, "incomplete");
  EXPECT_EQ(swipes[0].events.size(), 2u);
  EXPECT_EQ(swipes[1].outcome, SwipeRecord::Outcome::landed);
}

TEST(DockSwipeOlderTest, OtherEventsInBetweenDoNotMatter) {
  Desk desk;
  threeSpaces(desk);
  CGEventPost(kCGSessionEventTap, olderPhase(kBegan, +1));
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, kCentre, 0));
  CGEventPost(kCGSessionEventTap, olderPhase(kChanged, +1));
  CGEventPost(kCGSessionEventTap, olderPhase(kEnded, +1));
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kC);
}

TEST(DockSwipeOlderTest, WithoutPermissionNothingArrives) {
  Desk desk;
  threeSpaces(desk);
  desk.scene.world.setAccessibilityTrusted(false);
  postOlder(+1);
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kB);
  EXPECT_TRUE(desk.events->swipes().empty());
}

// ---- The newer layout ---------------------------------------------------------------------

TEST(DockSwipeNewerTest, DirectionFollowsNaturalScrolling) {
  struct Case {
    std::optional<bool> natural;
    double p;
    std::uint64_t lands;
  };
  const Case cases[] = {
      {std::nullopt, -1, kC},  // unset counts as natural: the fingers move against the Spaces
      {true, -1, kC},         {true, +1, kA}, {false, +1, kC}, {false, -1, kA},
  };
  for (const Case& c : cases) {
    Desk desk;
    desk.scene.world.setOSVersion({27, 0, 0});
    threeSpaces(desk);
    if (c.natural) {
      desk.scene.world.writeForeignPreference(sim::World::kGlobalDomain, "com.apple.swipescrolldirection", *c.natural);
    }
    postNewer(c.p);
    desk.scene.clock.runUntilIdle();
    EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), c.lands) << c.natural.value_or(true) << " " << c.p;
    const auto swipes = desk.events->swipes();
    ASSERT_EQ(swipes.size(), 1u);
    EXPECT_EQ(swipes[0].layout, SwipeRecord::Layout::newer);
    EXPECT_EQ(swipes[0].events.size(), 6u);
  }
}

TEST(DockSwipeNewerTest, AnythingButCompanionThenGestureIsIgnored) {
  struct Case {
    const char* name;
    std::function<void()> post;
  };
  const auto postPhases = [](const std::function<void(std::int64_t, NewerPhase&)>& change) {
    for (std::int64_t phase : kWholeSwipe) {
      NewerPhase events = newerPhase(phase, -1);
      change(phase, events);
      if (events.companion) CGEventPost(kCGSessionEventTap, events.companion);
      if (events.gesture) CGEventPost(kCGSessionEventTap, events.gesture);
    }
  };
  const std::vector<Case> cases = {
      {"the older layout on a newer system", [] { postOlder(+1); }},
      {"no gesture event after the changed companion",
       [&] {
         postPhases([](std::int64_t phase, NewerPhase& e) {
           if (phase == kChanged) e.gesture = nullptr;
         });
       }},
      {"a gesture event without its companion",
       [&] {
         postPhases([](std::int64_t phase, NewerPhase& e) {
           if (phase == kBegan) e.companion = nullptr;
         });
       }},
      {"a gesture event somewhere else",
       [&] {
         postPhases([](std::int64_t, NewerPhase& e) { CGEventSetLocation(e.gesture, {kCentre.x + 1, kCentre.y}); });
       }},
      {"a gesture event with a field",
       [&] { postPhases([](std::int64_t, NewerPhase& e) { CGEventSetIntegerValueField(e.gesture, 132, 2); }); }},
      {"a record that says it is not moving on the ended phase",
       [&] {
         for (std::int64_t phase : kWholeSwipe) {
           NewerPhase events = newerPhase(phase, -1, kCentre, [](platform::PlistData& r) { r[24] = 1; });
           CGEventPost(kCGSessionEventTap, events.companion);
           CGEventPost(kCGSessionEventTap, events.gesture);
         }
       }},
      {"a companion without the phase alias",
       [&] { postPhases([](std::int64_t, NewerPhase& e) { e.companion->integerFields.erase(134); }); }},
      {"velocity before the end",
       [&] {
         postPhases([](std::int64_t phase, NewerPhase& e) {
           if (phase == kChanged) CGEventSetDoubleValueField(e.companion, 129, -9999);
         });
       }},
  };
  for (const Case& c : cases) {
    Desk desk;
    desk.scene.world.setOSVersion({27, 0, 0});
    threeSpaces(desk);
    c.post();
    desk.scene.clock.runUntilIdle();
    EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kB) << c.name;
    const auto swipes = desk.events->swipes();
    EXPECT_FALSE(swipes.empty()) << c.name;
    for (const SwipeRecord& s : swipes) EXPECT_EQ(s.outcome, SwipeRecord::Outcome::ignored) << c.name;
  }
}

TEST(DockSwipeNewerTest, TwoSetsCrossTwoSpaces) {
  Desk desk;
  desk.scene.world.setOSVersion({27, 1, 0});
  threeSpaces(desk, kC);
  postNewer(+1);
  postNewer(+1);
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(desk.server.currentSpace(Desk::kDisplay), kA);
  const auto swipes = desk.events->swipes();
  ASSERT_EQ(swipes.size(), 2u);
  EXPECT_EQ(swipes[0].to, kB);
  EXPECT_EQ(swipes[1].to, kA);
}

}  // namespace
