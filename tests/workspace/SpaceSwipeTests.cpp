// Changing Spaces on the default desk through the simulated Dock and the window server:
// the events of both swipe layouts down to the companion's bytes, jumps that land and
// jumps that miss, the slide through the program's own panel and its fallback, and a
// completion that comes exactly once and tells whether the Space showed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppKitWindows.h"
#include "platform/Files.h"
#include "platform/PrivateSymbols.h"
#include "platform/sim/EventServer.h"
#include "settings/Diagnostics.h"
#include "support/Scene.h"
#include "workspace/SpaceSlide.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {
namespace {

using platform::PlistData;

// Display 1 (0, 0, 1512 × 982): Spaces 1 (showing), 4, 5 (full screen), 6.
// Display 3 (1512, −458, 2560 × 1440): Spaces 2 (showing), 7.
constexpr std::uint32_t kBuiltIn = 1, kWide = 3;
const CGPoint kBuiltInCentre{756, 491}, kWideCentre{2792, 262};

std::uint32_t le32(const PlistData& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | std::uint32_t{b.at(at + 3)} << 24;
}
double real(const CGEvent& e, CGEventField f) { return CGEventGetDoubleValueField(std::make_shared<CGEvent>(e), f); }

class SpaceJump : public ::testing::Test {
 protected:
  SpaceJump() { scene_.world.setAccessibilityTrusted(true); }

  SpaceSwipe::Done done() {
    return [this](bool landed) {
      landed_.push_back(landed);
      doneAt_.push_back(scene_.clock.monotonicSeconds() - 1);
    };
  }
  std::uint64_t current(std::uint32_t display) { return server().currentSpace(display).value_or(0); }
  sim::WindowServer& server() { return scene_.windowServer; }
  sim::EventServer& events() { return *sim::EventServer::active(); }
  std::vector<CGEvent> swipeEvents() {
    std::vector<CGEvent> result;
    for (const auto& p : events().posted()) {
      if (p.event.type == SpaceSwipe::dockControlEvent || p.event.type == SpaceSwipe::gestureEvent) {
        EXPECT_EQ(p.tap, kCGSessionEventTap);
        result.push_back(p.event);
      }
    }
    return result;
  }
  std::vector<std::string> logLines() const {
    std::vector<std::string> lines;
    const auto bytes = platform::FileManager::contents(Diagnostics::url());
    std::string text = bytes ? std::string(bytes->begin(), bytes->end()) : "";
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
      end = text.find('\n', at);
      lines.push_back(text.substr(at + 13, end - at - 13));  // without the time stamp
    }
    return lines;
  }
  std::vector<std::uint32_t> ownWindows() {
    std::vector<std::uint32_t> result;
    for (const auto& w : server().windows()) {
      if (w.own) result.push_back(w.number);
    }
    return result;
  }
  void miss(std::int64_t space) {
    const std::size_t before = landed_.size();
    ASSERT_TRUE(SpaceSwipe::jump(space, false, done()));
    scene_.clock.advance(3);  // long enough for a slide and its fallback
    ASSERT_EQ(landed_.size(), before + 1);
    ASSERT_FALSE(landed_.back());
  }

  Scene scene_{Scene::Start::defaultScenario};
  std::vector<bool> landed_;
  std::vector<double> doneAt_;  // seconds since the scene began
};

TEST_F(SpaceJump, OlderLayoutSignsItsFieldsByDirectionAlone) {
  ASSERT_TRUE(server().switchSpace(6, sim::SwitchStyle::instant));
  ASSERT_TRUE(SpaceSwipe::jump(4, false, done()));
  // Two Spaces to the left: two whole swipes; natural scrolling (unset: on) plays no part.
  const auto posted = swipeEvents();
  ASSERT_EQ(posted.size(), 6u);
  const std::int64_t phases[] = {1, 2, 4, 1, 2, 4};
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(posted[i].type, 30u);
    EXPECT_EQ(real(posted[i], SpaceSwipe::hidType), 23);
    EXPECT_EQ(real(posted[i], SpaceSwipe::phase), phases[i]);
    EXPECT_EQ(real(posted[i], SpaceSwipe::swipeMotion), 1);
    EXPECT_DOUBLE_EQ(real(posted[i], SpaceSwipe::swipeProgress), -1.6e-5);
    EXPECT_EQ(real(posted[i], SpaceSwipe::velocityX), -2000);
    EXPECT_EQ(real(posted[i], SpaceSwipe::velocityY), -2000);
    EXPECT_EQ(posted[i].location, kBuiltInCentre);
  }
  scene_.clock.advance(1);
  EXPECT_EQ(current(kBuiltIn), 4u);
  EXPECT_EQ(current(kWide), 2u);
  EXPECT_EQ(landed_, std::vector<bool>{true});
  EXPECT_EQ(SpaceSwipe::misses(), 0);
}

TEST_F(SpaceJump, NewerLayoutPostsACompanionBeforeEachGestureEvent) {
  scene_.world.setOSVersion({27, 0, 0});
  ASSERT_TRUE(SpaceSwipe::jumpToSpaceOf(3102, false, done()));  // on Space 7, to the right
  auto posted = swipeEvents();
  ASSERT_EQ(posted.size(), 6u);
  for (int i = 0; i < 3; ++i) {
    const CGEvent &companion = posted[2 * i], &gesture = posted[2 * i + 1];
    const bool ended = i == 2;
    EXPECT_EQ(companion.type, 30u);
    EXPECT_EQ(real(companion, SpaceSwipe::phaseAlias), real(companion, SpaceSwipe::phase));
    // Natural scrolling turns the values round.
    EXPECT_DOUBLE_EQ(real(companion, SpaceSwipe::swipeProgress), -1.6e-5);
    EXPECT_EQ(real(companion, SpaceSwipe::velocityX), ended ? -9999 : 0);
    EXPECT_EQ(companion.location, kWideCentre);
    ASSERT_EQ(companion.extraRecords.size(), 1u);
    EXPECT_EQ(companion.extraRecords[0].payload.size(), ended ? 96u : 68u);
    EXPECT_EQ(gesture.type, 29u);
    EXPECT_EQ(gesture.location, kWideCentre);
  }
  scene_.clock.advance(1);
  EXPECT_EQ(current(kWide), 7u);

  // Natural scrolling turned off while the program runs: read afresh, the values follow.
  ASSERT_TRUE(scene_.world.writeForeignPreference(sim::World::kGlobalDomain, "com.apple.swipescrolldirection",
                                                  platform::PlistValue(false)));
  events().clearRecords();
  ASSERT_TRUE(SpaceSwipe::jump(4, false, done()));  // to the right again, on the other display
  posted = swipeEvents();
  ASSERT_EQ(posted.size(), 6u);
  EXPECT_DOUBLE_EQ(real(posted[0], SpaceSwipe::swipeProgress), 1.6e-5);
  EXPECT_EQ(real(posted[4], SpaceSwipe::velocityX), 9999);
  EXPECT_EQ(posted[0].location, kBuiltInCentre);
  scene_.clock.advance(1);
  EXPECT_EQ(current(kBuiltIn), 4u);
  EXPECT_EQ(landed_, (std::vector<bool>{true, true}));
}

TEST_F(SpaceJump, TheCompanionRecordByteByByte) {
  auto event = std::make_shared<CGEvent>();
  event->timestamp = 0x0102030405;
  CGEventSetIntegerValueField(event, SpaceSwipe::phase, SpaceSwipe::began);
  CGEventSetIntegerValueField(event, SpaceSwipe::swipeMotion, 0x2'0001);     // low 16 bits go out
  CGEventSetIntegerValueField(event, SpaceSwipe::swipeMask, 0x1'0000'0007);  // low 32 bits
  CGEventSetDoubleValueField(event, SpaceSwipe::positionX, 0.1);
  CGEventSetDoubleValueField(event, SpaceSwipe::swipeProgress, -1.6e-5);
  const PlistData form = *CGEventCreateData(nullptr, event);
  PlistData data = *SpaceSwipe::augmentedData(form, event);
  ASSERT_EQ(data.size(), form.size() + 4 + 68);
  EXPECT_TRUE(std::equal(form.begin(), form.end(), data.begin()));
  PlistData r(data.begin() + form.size(), data.end());
  EXPECT_EQ(PlistData(r.begin(), r.begin() + 4), (PlistData{0x00, 0x44, 0x10, 0x6D}));
  r.erase(r.begin(), r.begin() + 4);
  const std::uint32_t expected[] = {0x02030405, 0x01, 0, 0, 0, 0, 1, 40, 23, 0x01000000, 0, 6553, 0, 0, 7, 0x30001};
  for (std::size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(le32(r, 4 * i), expected[i]) << "offset " << 4 * i;
  EXPECT_EQ(static_cast<std::int32_t>(le32(r, 64)), -1);  // −1.6e-5 keeps its sign

  // The ended phase moves: flag 2 and the motion block.
  CGEventSetIntegerValueField(event, SpaceSwipe::phase, SpaceSwipe::ended);
  CGEventSetDoubleValueField(event, SpaceSwipe::velocityX, -9999);
  data = *SpaceSwipe::augmentedData(form, event);
  r.assign(data.begin() + form.size(), data.end());
  EXPECT_EQ(PlistData(r.begin(), r.begin() + 4), (PlistData{0x00, 0x60, 0x10, 0x6D}));
  r.erase(r.begin(), r.begin() + 4);
  ASSERT_EQ(r.size(), 96u);
  EXPECT_EQ(le32(r, 24), 2u);
  EXPECT_EQ(le32(r, 36), 0x04000000u);
  const std::uint32_t motion[] = {28, 9, 0, 1, static_cast<std::uint32_t>(-9999 * 65536), 0, 0};
  for (std::size_t i = 0; i < std::size(motion); ++i) EXPECT_EQ(le32(r, 68 + 4 * i), motion[i]);

  // Another serialised form gives no companion.
  PlistData other = form;
  other[3] = 3;
  EXPECT_FALSE(SpaceSwipe::augmentedData(other, event));
  EXPECT_FALSE(SpaceSwipe::augmentedData({0, 0, 0}, event));
}

TEST_F(SpaceJump, FixedPointTruncatesClampsAndKeepsTheSign) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, std::int32_t> cases[] = {
      {1.6e-5, 1},        {1e-9, 1},           {-1e-9, -1},      {-1.6e-5, -1},
      {0.1, 6553},        {-0.1, -6553},       {0, 0},           {32767.5, 2147450880},
      {32768, INT32_MAX}, {-1e300, INT32_MIN}, {inf, INT32_MAX}, {-inf, INT32_MIN},
      {std::nan(""), 0}};
  for (auto [x, fixed] : cases) EXPECT_EQ(SpaceSwipe::fixed(x), fixed) << x;
}

TEST_F(SpaceJump, NoJumpWhenNoneIsNeededOrPossible) {
  EXPECT_FALSE(SpaceSwipe::jump(1, false, done()));  // shows already
  EXPECT_FALSE(SpaceSwipe::jump(2, true, done()));   // shows on the other display
  EXPECT_FALSE(SpaceSwipe::jump(999, false, done()));
  EXPECT_FALSE(SpaceSwipe::jumpToSpaceOf(2101, false, done()));  // on the showing Space
  EXPECT_FALSE(SpaceSwipe::jumpToSpaceOf(77777, false, done()));
  SpaceSwipe::swipe(999, done());  // a swipe answers at once: not landed
  SpaceSwipe::swipe(1, done());    // landed: it shows
  scene_.clock.advance(3);
  EXPECT_EQ(landed_, (std::vector<bool>{false, true}));
  EXPECT_TRUE(swipeEvents().empty());
  EXPECT_EQ(SpaceSwipe::misses(), 0);
}

TEST_F(SpaceJump, MissesAreReportedOnceAsNotLandedAndThreeTurnJumpsIntoSlides) {
  scene_.world.setAccessibilityTrusted(false);  // posted events are dropped
  ASSERT_TRUE(SpaceSwipe::jump(4, false, done()));
  scene_.clock.advance(0.5);
  EXPECT_TRUE(landed_.empty()) << "gave up early";
  scene_.clock.advance(3);
  EXPECT_EQ(landed_, std::vector<bool>{false});
  EXPECT_NEAR(doneAt_[0], 0.51, 1e-9);
  miss(6);
  miss(4);
  EXPECT_EQ(SpaceSwipe::misses(), 3);
  EXPECT_EQ(logLines(),
            (std::vector<std::string>{"instant jump to space 4 didn't land (1 in a row)",
                                      "instant jump to space 6 didn't land (2 in a row)",
                                      "instant jump to space 4 didn't land (3 in a row); sliding from now on"}));

  // The next jump slides although an instant one was asked for; landing keeps the count.
  events().clearRecords();
  ASSERT_TRUE(SpaceSwipe::jump(4, false, done()));
  EXPECT_EQ(server().privateCalls("SLSMoveWindowsToManagedSpace").size(), 1u);
  scene_.clock.advance(2);
  EXPECT_TRUE(swipeEvents().empty());
  EXPECT_EQ(current(kBuiltIn), 4u);
  EXPECT_EQ(landed_.back(), true);
  EXPECT_EQ(SpaceSwipe::misses(), 3);

  // A failed slide whose swipe misses too: the fourth line has no suffix.
  server().setSpaceFollow(sim::SpaceFollow::doesNotFollow);
  miss(1);
  EXPECT_EQ(logLines().back(), "instant jump to space 1 didn't land (4 in a row)");
  // Once a fallback swipe lands, the count starts over and jumps are instant again.
  scene_.world.setAccessibilityTrusted(true);
  ASSERT_TRUE(SpaceSwipe::jump(1, false, done()));
  scene_.clock.advance(3);
  EXPECT_EQ(landed_.back(), true);
  EXPECT_EQ(SpaceSwipe::misses(), 0);
  EXPECT_EQ(landed_.size(), 6u);
  scene_.restart(Scene::Start::defaultScenario);  // and a new system starts from 0
  EXPECT_EQ(SpaceSwipe::misses(), 0);
}

TEST_F(SpaceJump, ASlideMovesOnlyTheProgramsOwnPanel) {
  std::map<std::uint32_t, std::vector<std::uint64_t>> before;
  for (const auto& w : server().windows()) before[w.number] = w.spaces;

  ASSERT_TRUE(SpaceSwipe::jump(6, true, done()));
  ASSERT_EQ(ownWindows().size(), 1u);
  const std::uint32_t panel = ownWindows()[0];
  EXPECT_EQ(server().spacesOfWindow(panel), std::vector<std::uint64_t>{6});
  ASSERT_NE(NSApp().keyWindow(), nullptr);
  EXPECT_EQ(NSApp().keyWindow()->windowNumber(), panel);
  EXPECT_EQ(NSApp().keyWindow()->frame(), CGRect(756, 491, 2, 2));
  const auto fronts = server().privateCalls("_SLPSSetFrontProcessWithOptions");
  ASSERT_EQ(fronts.size(), 1u);
  EXPECT_EQ(fronts[0].arguments.at(1), platform::PlistValue(panel));

  scene_.clock.advance(2);
  EXPECT_EQ(current(kBuiltIn), 6u);
  EXPECT_EQ(landed_, std::vector<bool>{true});
  EXPECT_LT(doneAt_[0], 1.0);
  EXPECT_FALSE(server().isOnScreen(panel));
  EXPECT_TRUE(swipeEvents().empty());
  EXPECT_TRUE(logLines().empty());
  for (const auto& w : server().windows()) {
    if (!w.own) EXPECT_EQ(w.spaces, before[w.number]) << w.number;
  }
}

TEST_F(SpaceJump, ASlideThatDoesNotHappenClosesItsPanelAndSwipes) {
  server().setSpaceFollow(sim::SpaceFollow::doesNotFollow);
  ASSERT_TRUE(SpaceSwipe::jump(4, true, done()));
  const std::uint32_t panel = ownWindows().at(0);
  std::optional<std::size_t> swipesWhenClosed;
  const auto id = server().addChangeListener([&](const sim::DeskChange& c) {
    if (c.window == panel && !swipesWhenClosed && !server().isOnScreen(panel)) swipesWhenClosed = swipeEvents().size();
  });
  scene_.clock.advance(1.5);
  EXPECT_TRUE(logLines().empty());
  scene_.clock.advance(3);
  server().removeChangeListener(id);
  EXPECT_EQ(logLines(), std::vector<std::string>{
                            "no slide to space 4 (1 along; our window on [4] at (756.0, 491.0, 2.0, 2.0)); jumping"});
  EXPECT_EQ(swipesWhenClosed, 0u);
  EXPECT_EQ(current(kBuiltIn), 4u);
  EXPECT_EQ(landed_, std::vector<bool>{true});
  EXPECT_GT(doneAt_[0], 1.51);
}

TEST_F(SpaceJump, WithoutTheMoveFunctionASlideSwipesAtOnceAndQuietly) {
  scene_.world.removeSymbol(kSkyLightPath, "SLSMoveWindowsToManagedSpace");
  SpaceSlide::go(4, done());
  EXPECT_TRUE(ownWindows().empty());
  EXPECT_EQ(swipeEvents().size(), 3u);
  scene_.clock.advance(1);
  EXPECT_EQ(landed_, std::vector<bool>{true});
  EXPECT_TRUE(logLines().empty());
}

}  // namespace
}  // namespace trelliq
