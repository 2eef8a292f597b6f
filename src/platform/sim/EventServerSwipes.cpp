// The Dock's reading of Space swipes (see EventServer.h).

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "platform/sim/EventServer.h"
#include "platform/sim/World.h"

namespace sim {

namespace {

constexpr std::size_t kMaxRecords = 10'000;

template <typename T>
void trim(std::vector<T>& records) {
  if (records.size() >= kMaxRecords) records.erase(records.begin(), records.begin() + kMaxRecords / 2);
}

constexpr CGEventType kGestureType = 29;
constexpr CGEventType kDockControlType = 30;
constexpr std::int64_t kDockSwipeHIDType = 23;
constexpr std::int64_t kBegan = 1, kChanged = 2, kEnded = 4;

// Field numbers of a Dock swipe.
constexpr CGEventField kHIDType = 110, kSwipeMask = 115, kMotion = 123, kProgressField = 124, kPositionX = 125,
                       kPositionY = 126, kVelocityX = 129, kVelocityY = 130, kPhase = 132, kPhaseAlias = 134,
                       kZoomDeltaY = 138, kTimestampAlias = 169;
constexpr std::uint8_t kGestureRecordTag = 0x6D;

bool same(double a, double b) { return a == b || std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b)); }

double doubleField(const CGEvent& e, CGEventField f) {
  auto it = e.doubleFields.find(f);
  return it == e.doubleFields.end() ? 0 : it->second;
}

std::int64_t integerField(const CGEvent& e, CGEventField f) {
  auto it = e.integerFields.find(f);
  return it == e.integerFields.end() ? 0 : it->second;
}

// 16.16 fixed point, clamped, never rounding a non-zero value to zero.
std::int32_t fixed(double x) {
  if (!std::isfinite(x)) return 0;
  double scaled = std::trunc(x * 65536.0);
  scaled = std::clamp(scaled, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                      static_cast<double>(std::numeric_limits<std::int32_t>::max()));
  auto result = static_cast<std::int32_t>(scaled);
  if (result == 0 && x != 0) result = x > 0 ? 1 : -1;
  return result;
}

void put(platform::PlistData& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The gesture record the Dock expects after a companion's own records, made from its fields.
platform::PlistData expectedGestureRecord(const CGEvent& e) {
  const std::int64_t phase = integerField(e, kPhase);
  const double vx = doubleField(e, kVelocityX), vy = doubleField(e, kVelocityY);
  const bool moving = phase == kEnded || vx != 0 || vy != 0;
  platform::PlistData r;
  put(r, e.timestamp, 8);
  put(r, 0, 8);
  put(r, 0, 4);
  put(r, 0, 4);
  put(r, moving ? 2 : 1, 4);
  put(r, 40, 4);
  put(r, 23, 4);
  put(r, static_cast<std::uint32_t>(phase) << 24, 4);
  put(r, 0, 4);
  put(r, static_cast<std::uint32_t>(fixed(doubleField(e, kPositionX))), 4);
  put(r, static_cast<std::uint32_t>(fixed(doubleField(e, kPositionY))), 4);
  put(r, 0, 4);
  put(r, static_cast<std::uint32_t>(integerField(e, kSwipeMask)), 4);
  put(r, static_cast<std::uint16_t>(integerField(e, kMotion)), 2);
  put(r, 3, 2);
  put(r, static_cast<std::uint32_t>(fixed(doubleField(e, kProgressField))), 4);
  if (moving) {
    put(r, 28, 4);
    put(r, 9, 4);
    put(r, 0, 4);
    put(r, 1, 4);
    put(r, static_cast<std::uint32_t>(fixed(vx)), 4);
    put(r, static_cast<std::uint32_t>(fixed(vy)), 4);
    put(r, 0, 4);
  }
  return r;
}

// What one Dock-control event of a swipe must hold. Integer and double fields are
// compared exactly (doubles up to rounding); any other non-zero field is stray.
struct Expected {
  std::map<CGEventField, std::int64_t> integers;
  std::map<CGEventField, double> doubles;
  std::set<CGEventField> anyPositive;  // doubles that only need to be > 0
};

std::string mismatch(const CGEvent& e, const Expected& expected) {
  for (const auto& [field, value] : expected.integers) {
    auto it = e.integerFields.find(field);
    if (it == e.integerFields.end() || it->second != value) return "field " + std::to_string(field) + " differs";
  }
  for (const auto& [field, value] : expected.doubles) {
    auto it = e.doubleFields.find(field);
    if (it == e.doubleFields.end()) return "field " + std::to_string(field) + " missing";
    if (same(-it->second, value) && value != 0) return "wrong sign";
    if (!same(it->second, value)) return "field " + std::to_string(field) + " differs";
  }
  for (CGEventField field : expected.anyPositive) {
    auto it = e.doubleFields.find(field);
    if (it == e.doubleFields.end() || !(it->second > 0)) return "field " + std::to_string(field) + " differs";
  }
  for (const auto& [field, value] : e.integerFields) {
    if (value != 0 && !expected.integers.count(field)) return "stray field " + std::to_string(field);
  }
  for (const auto& [field, value] : e.doubleFields) {
    if (value != 0 && !expected.doubles.count(field) && !expected.anyPositive.count(field)) {
      return "stray field " + std::to_string(field);
    }
  }
  return "";
}

// The direction sign of a swipe event: the sign of its progress field, or 0 when absent.
int progressSign(const CGEvent& e) {
  const double p = doubleField(e, kProgressField);
  return p > 0 ? 1 : p < 0 ? -1 : 0;
}

std::string checkOlder(const CGEvent& e, int sign) {
  const std::int64_t phase = integerField(e, kPhase);
  if (phase != kBegan && phase != kChanged && phase != kEnded) return "no swipe phase";
  Expected x;
  x.integers = {{kHIDType, kDockSwipeHIDType}, {kMotion, 1}, {kPhase, phase}};
  x.doubles = {{kProgressField, sign * EventServer::kProgress},
               {kVelocityX, sign * EventServer::kOlderVelocity},
               {kVelocityY, sign * EventServer::kOlderVelocity}};
  if (!e.extraRecords.empty()) return "stray record";
  return mismatch(e, x);
}

std::string checkCompanion(const CGEvent& e, int sign) {
  const std::int64_t phase = integerField(e, kPhase);
  if (phase != kBegan && phase != kChanged && phase != kEnded) return "no swipe phase";
  Expected x;
  x.integers = {{kHIDType, kDockSwipeHIDType}, {kMotion, 1}, {kPhase, phase}, {kPhaseAlias, phase}};
  x.doubles = {{kProgressField, sign * EventServer::kProgress}, {kZoomDeltaY, 3.0}, {kPositionX, 0.1}};
  if (phase == kEnded) x.doubles[kVelocityX] = sign * EventServer::kNewerVelocity;
  x.anyPositive = {kTimestampAlias};
  if (std::string reason = mismatch(e, x); !reason.empty()) return reason;
  if (e.extraRecords.size() != 1) return "no gesture record";
  const CGEventRecord& record = e.extraRecords.front();
  if (record.kind != 0x10 || record.tag != kGestureRecordTag) return "no gesture record";
  if (record.payload != expectedGestureRecord(e)) return "gesture record differs";
  return "";
}

std::string checkGesture(const CGEvent& e, const CGEvent& companion) {
  for (const auto& [field, value] : e.integerFields) {
    if (value != 0) return "stray field " + std::to_string(field);
  }
  for (const auto& [field, value] : e.doubleFields) {
    if (value != 0) return "stray field " + std::to_string(field);
  }
  if (!e.extraRecords.empty()) return "stray record";
  if (!(e.location == companion.location)) return "gesture event elsewhere";
  return "";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The Dock

bool EventServer::newerSwipeLayout() { return server_.operatingSystemVersion().majorVersion > 26; }

bool EventServer::naturalScrolling() {
  const auto value = server_.world().preferenceValue(World::kGlobalDomain, "com.apple.swipescrolldirection");
  if (!value) return true;
  if (auto b = value->numberBoolValue()) return *b;
  if (const std::string* s = value->asString()) {
    if (strcasecmp(s->c_str(), "no") == 0 || strcasecmp(s->c_str(), "false") == 0 || *s == "0") return false;
  }
  return true;
}

void EventServer::dock(const CGEvent& event) {
  // Everything the server is asked is asked before the Dock's state is locked.
  const bool newer = newerSwipeLayout();
  const std::uint32_t display = server_.displayAt(event.location).value_or(0);
  std::vector<SwipeRecord> done;
  {
    std::lock_guard lock(mutex_);
    swipeLayout_ = newer ? SwipeRecord::Layout::newer : SwipeRecord::Layout::older;
    if (newer) {
      dockNewer(event, display, done);
    } else {
      dockOlder(event, display, done);
    }
  }
  for (SwipeRecord& record : done) {
    if (record.outcome != SwipeRecord::Outcome::ignored) land(record);
  }
  std::lock_guard lock(mutex_);
  for (SwipeRecord& record : done) {
    trim(swipes_);
    swipes_.push_back(std::move(record));
  }
}

void EventServer::dockOlder(const CGEvent& event, std::uint32_t display, std::vector<SwipeRecord>& done) {
  if (event.type != kDockControlType) return abandon("gesture event in the older layout", display, done, {event});
  const int sign = progressSign(event);
  const std::string reason = sign == 0 ? "no progress" : checkOlder(event, sign);
  if (!reason.empty()) return abandon(reason, display, done, {event});
  takePhase({event}, integerField(event, kPhase), sign, SwipeRecord::Layout::older, display, done);
}

void EventServer::dockNewer(const CGEvent& event, std::uint32_t display, std::vector<SwipeRecord>& done) {
  if (event.type == kDockControlType) {
    if (companion_) abandon("companion without gesture event", display, done, {});
    const int sign = progressSign(event);
    const std::string reason = sign == 0 ? "no progress" : checkCompanion(event, sign);
    if (!reason.empty()) return abandon(reason, display, done, {event});
    companion_ = event;
    return;
  }
  if (!companion_) return abandon("gesture event without companion", display, done, {event});
  const CGEvent companion = *companion_;
  companion_.reset();
  if (std::string reason = checkGesture(event, companion); !reason.empty()) {
    return abandon(reason, display, done, {companion, event});
  }
  takePhase({companion, event}, integerField(companion, kPhase), progressSign(companion), SwipeRecord::Layout::newer,
            display, done);
}

void EventServer::takePhase(std::vector<CGEvent> events, std::int64_t phase, int sign, SwipeRecord::Layout layout,
                            std::uint32_t display, std::vector<SwipeRecord>& done) {
  if (phase == kBegan) {
    if (gathering_) abandon("incomplete", display, done, {});
    gathering_.emplace();
    gathering_->record.layout = layout;
    gathering_->record.direction = sign;
    gathering_->record.display = display;
    gathering_->record.events = std::move(events);
    gathering_->lastPhase = kBegan;
    return;
  }
  const std::int64_t wanted = phase == kChanged ? kBegan : kChanged;
  if (!gathering_ || gathering_->lastPhase != wanted) return abandon("incomplete", display, done, events);
  if (gathering_->record.direction != sign) return abandon("wrong sign", display, done, events);
  if (gathering_->record.display != display) return abandon("moved to another display", display, done, events);
  auto& record = gathering_->record;
  record.events.insert(record.events.end(), events.begin(), events.end());
  gathering_->lastPhase = phase;
  if (phase == kEnded) {
    record.outcome = SwipeRecord::Outcome::landed;  // settled by land()
    done.push_back(std::move(record));
    gathering_.reset();
  }
}

// Ends the set under way (with the waiting companion and `extra`) as ignored.
void EventServer::abandon(const std::string& reason, std::uint32_t display, std::vector<SwipeRecord>& done,
                          const std::vector<CGEvent>& extra) {
  SwipeRecord record;
  record.layout = swipeLayout_;
  record.display = display;
  if (gathering_) {
    record = std::move(gathering_->record);
    gathering_.reset();
  }
  if (companion_) {
    record.events.push_back(*companion_);
    companion_.reset();
  }
  record.events.insert(record.events.end(), extra.begin(), extra.end());
  if (record.events.empty()) return;
  record.outcome = SwipeRecord::Outcome::ignored;
  record.reason = reason;
  done.push_back(std::move(record));
}

void EventServer::land(SwipeRecord& record) {
  // The newer layout carries the finger movement, which natural scrolling turns round.
  if (record.layout == SwipeRecord::Layout::newer && naturalScrolling()) record.direction = -record.direction;
  record.from = server_.currentSpace(record.display).value_or(0);
  const auto target = record.direction > 0 ? server_.spaceToRight(record.display) : server_.spaceToLeft(record.display);
  if (!target || !server_.switchSpace(*target, SwitchStyle::swipe)) {
    record.outcome = SwipeRecord::Outcome::atEdge;
    record.to = record.from;
    return;
  }
  record.outcome = SwipeRecord::Outcome::landed;
  record.to = *target;
}

}  // namespace sim
