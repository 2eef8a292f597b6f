#pragma once
// Fades windows' alpha frame by frame on the main queue. A newer fade of a window takes
// it over from an older one, as a new animation of the same property replaces the running
// one; fades still running when the fader goes stop touching their windows. Main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/AppKitWindows.h"

namespace trelliq {

class AlphaFader {
 public:
  AlphaFader() = default;
  AlphaFader(const AlphaFader&) = delete;
  AlphaFader& operator=(const AlphaFader&) = delete;

  /// Sets the windows' alpha to `alpha` over `duration` seconds (the end values once it has
  /// passed), then calls `done` on the main queue; never once the fader is gone. The
  /// windows must outlive the fader.
  void fade(const std::vector<NSWindow*>& windows, double alpha, double duration, std::function<void()> done);

 private:
  struct Fade;
  struct Latest {
    /// Per window, the id of its latest fade.
    std::map<const NSWindow*, std::uint64_t> ids;
    std::uint64_t next = 0;
  };
  std::shared_ptr<Latest> latest_ = std::make_shared<Latest>();
};

}  // namespace trelliq
