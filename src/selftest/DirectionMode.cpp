#include "selftest/DirectionMode.h"

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "platform/Files.h"
#include "platform/ScreenCaptureKit.h"
#include "selftest/Dispatch.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/Repeating.h"
#include "selftest/UserActions.h"
#include "selftest/WorldReader.h"
#include "workspace/Private.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {

namespace {

constexpr int kWidth = DirectionMode::sampleWidth, kHeight = DirectionMode::sampleHeight;

// Every wait of this mode hands the routed events on, 5 ms at a time.
void pump(double seconds) { ModeClock::pumpEvents(seconds, 0.005); }

// Runs until `done`, 0.01 s at a time; a completion that never comes ends the wait after 10 s.
template <typename Done>
void pumpUntil(Done done, double limit = 10) {
  const double start = ModeClock::seconds();
  while (!done() && ModeClock::seconds() - start < limit) pump(0.01);
}

// A jump to `space`, waited for when it started.
void jump(std::int64_t space, bool slide) {
  auto done = std::make_shared<bool>(false);
  if (SpaceSwipe::jump(space, slide, [done](bool) { *done = true; })) pumpUntil([done] { return *done; });
}

void key(CGKeyCode code, CGEventFlags flags) {
  UserActions::post(code, keys::press, flags, keys::modifier);
  pump(0.05);
}

// One capture as grey bytes at the sample size; nothing when it cannot be taken.
std::optional<std::vector<std::uint8_t>> sample(const SCDisplay& display) {
  SCContentFilter filter;
  filter.display = display;
  SCStreamConfiguration configuration;
  configuration.width = kWidth;
  configuration.height = kHeight;
  configuration.showsCursor = false;
  const CGImageRef image = SCScreenshotManager::captureImageNow(filter, configuration);
  if (!image || image->width() <= 0 || image->height() <= 0) return std::nullopt;
  const QImage grey = image->qimage()
                          .scaled(kWidth, kHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                          .convertToFormat(QImage::Format_Grayscale8);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) std::memcpy(pixels.data() + y * kWidth, grey.constScanLine(y), kWidth);
  return pixels;
}

// What the sampler and the main thread share.
struct Box {
  std::mutex lock;
  std::vector<DirectionMode::Frame> frames;
  std::optional<SCDisplay> display;
};

// Goes to the Space the run starts from and lets the desk settle there.
void startAt(std::int64_t from) {
  jump(from, false);
  pump(0.5);
}

// The number of the display that shows `space`; none when the Space is unknown.
std::optional<std::uint32_t> displayOf(std::int64_t space) {
  const std::optional<Private::SpaceScreen> place = Private::screenOfSpace(space);
  return place ? place->screen.displayNumber() : std::nullopt;
}

// Samples the display `displayID` into `box` every 5 ms until stopped, timed from `start`.
// Until the display is found among the shareable content, a round takes no sample.
std::shared_ptr<Repeating> startSampling(std::shared_ptr<Box> box, std::optional<std::uint32_t> displayID,
                                         double start) {
  return Repeating::start("direction samples", 0.005, [box, displayID, start] {
    if (!box->display) {
      const std::optional<SCShareableContent> content = SCShareableContent::current(false, true);
      if (!content || !displayID) return false;
      for (const SCDisplay& d : content->displays) {
        if (d.displayID == *displayID) box->display = d;
      }
      if (!box->display) return false;
    }
    if (auto pixels = sample(*box->display)) {
      std::lock_guard lock(box->lock);
      box->frames.push_back(DirectionMode::Frame{(ModeClock::seconds() - start) * 1000, std::move(*pixels)});
    }
    return true;
  });
}

// Changes to `space`: a jump of this process without `taps`; with them, the other copy's
// switcher under a held ⌘ with that many ⌥ taps, waited for until the Space is current.
void change(std::int64_t space, std::optional<std::int64_t> taps) {
  if (!taps) {
    jump(space, true);
    return;
  }
  key(keys::command, keys::commandFlag);
  for (std::int64_t i = 0; i < *taps; ++i) {
    key(keys::option, keys::commandOption);
    key(keys::option, keys::commandFlag);
    pump(0.2);
  }
  pump(0.3);
  key(keys::command, 0);
  pumpUntil([space] { return Private::currentSpaces().contains(space); }, 2.5);
}

// Lets the sampler watch the change settle for a second, stops it and takes its samples.
std::vector<DirectionMode::Frame> stopSampling(Repeating& sampler, Box& box) {
  pump(1.0);
  sampler.stop();
  pump(0.1);
  pumpUntil([&] { return sampler.finished(); });
  std::lock_guard lock(box.lock);
  return std::move(box.frames);
}

// "<verdict>, shifts <t>ms:<s> …" for the motion the samples show.
std::string describe(const DirectionMode::Motion& motion) {
  std::string shifts;
  for (const std::string& s : motion.shifts) shifts += (shifts.empty() ? "" : " ") + s;
  const char* verdict = motion.sum < 0   ? "moved left (went right)"
                        : motion.sum > 0 ? "moved right (went left)"
                                         : "no sideways motion";
  return verdict + std::string(", shifts ") + shifts;
}

// Appends `line` to the log at `out`: the log grows by one line a run, and a log that is
// not there yet starts with it.
int append(const std::string& out, const std::string& line) {
  if (std::optional<platform::FileHandle> log = platform::FileHandle::forWriting(out, true)) {
    if (log->write(line)) return 0;
    return ModeReport::failed("cannot append to " + out);
  }
  return ModeReport::status(ModeReport::save(out, std::vector<std::uint8_t>(line.begin(), line.end())));
}

}  // namespace

DirectionMode::How DirectionMode::How::fromEnvironment() {
  How how;
  if (const char* from = std::getenv("FROM")) how.from = parseInteger(from);
  if (const char* taps = std::getenv("TAPS")) how.taps = parseInteger(taps);
  return how;
}

std::optional<std::int64_t> DirectionMode::back(std::int64_t space, const std::optional<std::string>& argument) {
  if (argument) return parseInteger(*argument);
  const std::optional<Private::SpaceScreen> place = Private::screenOfSpace(space);
  if (!place) return std::nullopt;
  return Private::currentSpace(place->screen);
}

double DirectionMode::cost(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  long sum = 0;
  for (int y = 0; y < kHeight; y += 2) {
    for (int x = 0; x < kWidth; x += 2) sum += std::abs(int{a[y * kWidth + x]} - int{b[y * kWidth + x]});
  }
  return static_cast<double>(sum) / 5184;
}

int DirectionMode::bestShift(const std::vector<std::uint8_t>& current, const std::vector<std::uint8_t>& previous) {
  int best = 0;
  double bestCost = 0;
  for (int s = -90; s <= 90; ++s) {
    long sum = 0, pairs = 0;
    for (int y = 0; y < kHeight; y += 2) {
      for (int x = std::max(0, s); x < std::min(kWidth, kWidth + s); x += 2) {
        sum += std::abs(int{current[y * kWidth + x]} - int{previous[y * kWidth + x - s]});
        ++pairs;
      }
    }
    const double shifted = pairs > 1 ? static_cast<double>(sum) / static_cast<double>(pairs) : static_cast<double>(sum);
    if (s == -90 || shifted < bestCost) {
      best = s;
      bestCost = shifted;
    }
  }
  return best;
}

DirectionMode::Motion DirectionMode::analyse(const std::vector<Frame>& frames) {
  Motion motion;
  for (std::size_t i = 1; i < frames.size(); ++i) {
    if (cost(frames[i].pixels, frames[i - 1].pixels) <= 2.0) continue;
    const int s = bestShift(frames[i].pixels, frames[i - 1].pixels);
    if (s == 0) continue;
    motion.sum += s;
    motion.shifts.push_back(std::to_string(static_cast<long long>(frames[i].t)) + "ms:" + std::to_string(s));
  }
  return motion;
}

int DirectionMode::run(const std::string& out, std::int64_t space, std::optional<std::int64_t> back, const How& how) {
  NSApplication& app = NSApp();
  app.setActivationPolicy(NSApplicationActivationPolicyAccessory);
  app.finishLaunching();
  app.setDispatchesEventsAutomatically(false);
  if (how.from) startAt(*how.from);
  const std::string from = WorldReader::spaces();
  const std::optional<Private::Steps> steps = Private::steps(space);
  const int along = steps ? steps->steps : 0;
  const std::optional<std::uint32_t> displayID = displayOf(space);

  auto box = std::make_shared<Box>();
  const double start = ModeClock::seconds();
  const std::shared_ptr<Repeating> sampler = startSampling(box, displayID, start);
  pump(0.3);
  const std::int64_t fired = ModeClock::millisecondsSince(start);
  change(space, how.taps);
  const std::int64_t landed = ModeClock::millisecondsSince(start);
  const std::vector<Frame> frames = stopSampling(*sampler, *box);

  std::string line = "from " + from + " to " + std::to_string(space) + " (" + std::to_string(along) +
                     " along): " + describe(analyse(frames)) + "; fired " + std::to_string(fired) + "ms, landed " +
                     std::to_string(landed) + "ms, " + std::to_string(frames.size()) + " samples, now " +
                     WorldReader::spaces();
  if (back && *back != space) {
    jump(*back, false);
    pump(0.3);
  }
  line += ", back " + WorldReader::spaces() + "\n";
  app.setDispatchesEventsAutomatically(true);
  return append(out, line);
}

std::vector<SelfTestMode> DirectionMode::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--direction-test", "out space [back]", both(knownSpaceAt(2), optionalParsesAt(3, 3, isInteger)),
       [](const Args& args, std::size_t at) {
         const std::int64_t space = *parseInteger(args[at + 2]);
         return run(args[at + 1], space, back(space, optionalAt(args, at, 3)), How::fromEnvironment());
       }},
  };
}

}  // namespace trelliq
