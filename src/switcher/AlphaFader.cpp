#include "switcher/AlphaFader.h"

#include <algorithm>
#include <utility>

#include "platform/Clock.h"
#include "switcher/SwitcherTiming.h"

namespace trelliq {

// One running fade; each frame re-posts itself until the duration has passed.
struct AlphaFader::Fade {
  std::weak_ptr<Latest> latest;
  std::vector<std::pair<NSWindow*, std::uint64_t>> windows;  // with the fade's id
  std::vector<double> from;
  double to = 1;
  double start = 0;
  double duration = 0;
  std::function<void()> done;

  void step(const std::shared_ptr<Fade>& self) {
    auto ids = latest.lock();
    if (!ids) return;  // the windows went with their fader
    const double elapsed = platform::clock().monotonicSeconds() - start;
    const double progress = duration <= 0 ? 1 : std::min(1.0, elapsed / duration);
    for (std::size_t i = 0; i < windows.size(); ++i) {
      auto [window, id] = windows[i];
      if (ids->ids[window] != id) continue;
      window->setAlphaValue(progress >= 1 ? to : from[i] + (to - from[i]) * progress);
    }
    if (progress < 1) {
      platform::mainQueue().asyncAfter(SwitcherTiming::fadeFrame, [self] { self->step(self); });
      return;
    }
    if (done) done();
  }
};

void AlphaFader::fade(const std::vector<NSWindow*>& windows, double alpha, double duration,
                      std::function<void()> done) {
  auto fade = std::make_shared<Fade>();
  fade->latest = latest_;
  fade->to = alpha;
  fade->start = platform::clock().monotonicSeconds();
  fade->duration = duration;
  fade->done = std::move(done);
  for (NSWindow* window : windows) {
    const std::uint64_t id = ++latest_->next;
    latest_->ids[window] = id;
    fade->windows.emplace_back(window, id);
    fade->from.push_back(window->alphaValue());
  }
  platform::mainQueue().async([fade] { fade->step(fade); });
}

}  // namespace trelliq
