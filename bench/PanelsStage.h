#pragma once
// The stage of the panel benchmarks: the large desk with every display at scale 2, the
// program's own panel views and layout, the switcher's event tap started, and keys posted
// at the HID point as a keyboard sends them. The virtual clock is run as the program's
// threads would run: each piece of main-queue work is timed on this thread's CPU clock
// (and on the wall clock beside it), while the work of every other executor (the tap's
// thread, the capture queue, background tasks) runs untimed, as it would on a thread of
// its own. A paint is the program's: the pending paint passes of its windows drawn into
// their shared surfaces and published, as the running program does between events.

#include <time.h>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/CGEvent.h"
#include "platform/Foundation.h"
#include "platform/OwnWindowSurface.h"
#include "settings/Settings.h"
#include "support/LargeDesk.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"
#include "switcher/Switcher.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/QtPanelViews.h"
#include "workspace/DesktopFrames.h"

namespace panels {

constexpr double kScale = 2;
constexpr double kFrame = 1.0 / 60;

/// Main-thread time: CPU seconds of this thread, CPU seconds of the whole process (what
/// helper threads such as a painter's pool did meanwhile counts there) and wall seconds.
struct Cost {
  double cpu = 0, process = 0, wall = 0;
  Cost& operator+=(const Cost& o) {
    cpu += o.cpu, process += o.process, wall += o.wall;
    return *this;
  }
};

inline double clockSeconds(clockid_t id) {
  timespec t{};
  clock_gettime(id, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
inline double threadSeconds() { return clockSeconds(CLOCK_THREAD_CPUTIME_ID); }

template <class F>
Cost timed(F&& work) {
  const double cpu = threadSeconds(), process = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const auto wall = std::chrono::steady_clock::now();
  work();
  return {threadSeconds() - cpu, clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - process,
          std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count()};
}

/// Per-session figures of one benchmark: the median and the mean of the sessions after the
/// first (a first session that builds what later ones reuse would otherwise be most of a
/// mean of twenty).
struct Sessions {
  std::vector<double> values;
  void add(double seconds) { values.push_back(seconds); }
  double median() const {
    if (values.empty()) return 0;
    std::vector<double> v = values;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
  }
  double meanAfterFirst() const {
    if (values.size() < 2) return values.empty() ? 0 : values.front();
    double sum = 0;
    for (std::size_t i = 1; i < values.size(); ++i) sum += values[i];
    return sum / static_cast<double>(values.size() - 1);
  }
  double worst() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

inline LargeDeskSize largeAtScale2() {
  LargeDeskSize size = LargeDeskSize::large();
  size.scale = kScale;
  return size;
}

class Stage {
 public:
  enum class Tiles { apps, windows, both };
  /// The "preview" option's choices.
  enum class Preview { none, thumbnail, fullScreen };
  /// The built-in desk the program runs on (the default scenario), not the large one.
  struct BuiltIn {};

  Stage(LargeDeskSize size, Tiles tiles, Preview preview = Preview::thumbnail) {
    begin();
    const std::vector<std::int32_t> pids = buildLargeDesk(*scene, size);
    scene->windowServer.makeFrontmost(pids.front());
    keepCallLogs(*scene, false);
    start(tiles, preview);
  }
  Stage(BuiltIn, Tiles tiles, Preview preview) {
    begin(Scene::Start::defaultScenario);
    keepCallLogs(*scene, false);
    start(tiles, preview);
  }

 private:
  void begin(Scene::Start desk = Scene::Start::empty) {
    trelliq::test::ensureWidgets();
    views_ = std::make_unique<trelliq::views::QtPanelViews>([this](const trelliq::scene::PanelLayoutInput& input) {
      ++layouts;
      return trelliq::scene::layoutPanel(input);
    });
    trelliq::PanelViews::install(views_.get());
    scene = std::make_unique<Scene>(desk);
    trelliq::DesktopFrames::reset();
  }
  void start(Tiles tiles, Preview preview) {
    trelliq::Settings::registerDefaults();
    if (tiles != Tiles::apps) UserDefaults::standard().set("tiles", tiles == Tiles::windows ? "windows" : "both");
    if (preview != Preview::thumbnail)
      UserDefaults::standard().set("preview", preview == Preview::none ? "none" : "fullScreen");
    switcher = trelliq::Switcher::make();
    switcher->startTap();
    run(0.05);
    // The first session after launch makes the panels, their views and the preview.
    open();
    first = toShown;
    first += paint();
    close();
  }

 public:
  ~Stage() {
    if (switcher->gate().tapPort()) switcher->stopTap();
    switcher->session().cancel(false);
    // The views' mirrors let go of the controller's layers before the controller goes.
    trelliq::PanelViews::install(nullptr);
    views_.reset();
    switcher.reset();
    scene->clock.advance(5);
    trelliq::DesktopFrames::reset();
  }

  /// Lets `seconds` pass, or less when `stop` (asked after each piece of main work with
  /// that piece's cost) answers true; answers what the main queue's work cost.
  Cost run(double seconds, const std::function<bool(const Cost&)>& stop = nullptr) {
    platform::VirtualClock& clock = scene->clock;
    const std::uint64_t end = clock.monotonicNanos() + static_cast<std::uint64_t>(seconds * 1e9 + 0.5);
    Cost total;
    for (;;) {
      clock.advanceExcept("main", 0);  // what the other threads have due now
      bool ran = false;
      const Cost piece = timed([&] { ran = clock.step("main"); });
      if (ran) {
        total += piece;
        if (stop && stop(piece)) return total;
        continue;
      }
      const double next = clock.nextDue();
      const std::uint64_t now = clock.monotonicNanos();
      if (next < 0 || now + static_cast<std::uint64_t>(next * 1e9) > end) {
        if (end > now) clock.elapse(static_cast<double>(end - now) / 1e9);
        return total;
      }
      clock.elapse(std::max(next, 1e-9));
    }
  }

  // ---- Keys, posted at the HID point ------------------------------------------------
  static void post(CGEventRef event) { CGEventPost(kCGHIDEventTap, event); }
  static void modifiers(CGEventFlags flags) {
    CGEventRef event = CGEventCreateKeyboardEvent(nullptr, 55, flags != 0);
    CGEventSetType(event, kCGEventFlagsChanged);
    CGEventSetFlags(event, flags);
    post(event);
  }
  static void press(CGKeyCode key, CGEventFlags flags) {
    for (const bool down : {true, false}) {
      CGEventRef event = CGEventCreateKeyboardEvent(nullptr, key, down);
      CGEventSetFlags(event, flags);
      post(event);
    }
  }

  /// ⌘ down and ⇥ pressed, run until the panels show and the main queue has done what
  /// that instant holds. Sets `beginCost` (the piece that began the session) and
  /// `toShown` (everything from the key on); answers the show and what followed it.
  Cost open() {
    modifiers(kCGEventFlagMaskCommand);
    press(trelliq::SwitcherKeys::tab, kCGEventFlagMaskCommand);
    beginCost = {};
    bool began = false;
    Cost show;
    toShown = run(0.5, [&](const Cost& piece) {
      if (!began && switcher->session().isActive()) began = true, beginCost = piece;
      if (switcher->session().isShown()) show = piece;
      return switcher->session().isShown();
    });
    const Cost rest = run(0);
    toShown += rest;
    return show += rest;
  }
  /// ⌘⇥ with the panels shown, from the ⇥ to the end of that instant.
  Cost step() {
    press(trelliq::SwitcherKeys::tab, kCGEventFlagMaskCommand);
    return run(0);
  }
  /// Escape, then ⌘ up; the session's leftovers run out untimed.
  void close() {
    press(trelliq::SwitcherKeys::escape, kCGEventFlagMaskCommand);
    modifiers(0);
    run(1);
  }

  /// The program's paint: every pending paint pass of its windows (the switcher's panels
  /// and preview among them) drawn into their surfaces and published.
  Cost paint() {
    const Cost cost = timed([] { platform::OwnWindowSurface::publishAll(); });
    if (keepPictures) {
      for (const trelliq::DisplayPanel& p : switcher->panels()) keepPicture(*p.window);
      keepPicture(switcher->preview().window());
    }
    return cost;
  }
  bool animating() const {
    for (const trelliq::DisplayPanel& p : switcher->panels()) {
      const auto* view = dynamic_cast<const trelliq::views::DisplayPanelView*>(p.window->contentView());
      if (view && p.window->isVisible() && view->animator().isAnimating()) return true;
    }
    return false;
  }

  std::unique_ptr<Scene> scene;
  std::shared_ptr<trelliq::Switcher> switcher;
  long layouts = 0;
  Cost beginCost, toShown;
  Cost first;  // key to painted, the first session after launch
  /// The last picture composed of each window, by number (kept only when `keepPictures`).
  bool keepPictures = false;
  std::vector<std::pair<std::int64_t, QImage>> pictures;

 private:
  // What the window server shows of the window, at its pixel size.
  void keepPicture(NSWindow& window) {
    if (!window.isVisible() || window.windowNumber() <= 0) return;
    const CGRect frame = window.frame();
    const int width = static_cast<int>(frame.width() * kScale), height = static_cast<int>(frame.height() * kScale);
    pictures.emplace_back(window.windowNumber(), scene->windowServer.composeWindow(
                                                     static_cast<std::uint32_t>(window.windowNumber()), width, height));
  }

  std::unique_ptr<trelliq::views::QtPanelViews> views_;
};

}  // namespace panels
