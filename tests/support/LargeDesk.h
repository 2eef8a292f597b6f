#pragma once
// A large synthetic desk for benchmarks and scale tests: three displays side by side.

#include "support/Scene.h"

struct LargeDeskSize {
  int spacesPerDisplay = 8;  // the last Space of each display is full screen
  int apps = 60;
  int windows = 1600;
  double scale = 1;  // every display's backing scale

  static LargeDeskSize large() { return {8, 60, 1600}; }
  static LargeDeskSize quarter() { return {2, 15, 400}; }
};

/// Fills the scene's world with three displays, `spacesPerDisplay` Spaces each, `apps`
/// regular apps and `windows` windows dealt round-robin over the apps and the ordinary
/// Spaces (every 17th minimized), with both permissions granted. Answers the apps' pids.
std::vector<std::int32_t> buildLargeDesk(Scene& scene, LargeDeskSize size);

/// Switches the simulated Mac's call logs (accessibility and private calls) on or off.
/// Timed loops switch them off: the real system keeps no such log, so its bookkeeping
/// would only blur what the program itself costs.
void keepCallLogs(Scene& scene, bool keep);
