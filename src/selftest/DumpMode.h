#pragma once
// "--dump": one workspace snapshot with screen tiles, written as an indented outline of
// displays, Spaces, tiles and windows, then the tray.

#include <cstdint>
#include <string>
#include <vector>

#include "selftest/Dispatch.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class DumpMode final {
 public:
  DumpMode() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// Takes the snapshot, writes the outline to `out` (UTF-8, atomically) and answers the
  /// exit status: 0, or 1 after saying on standard error that `out` cannot be written.
  /// Main thread.
  static int run(const std::string& out);

  /// The outline's lines for `workspace`, loaded in `milliseconds`, with the shared-Spaces
  /// flag. Text from other apps and from the user is escaped, so every line stays one line.
  static std::vector<std::string> lines(const Workspace& workspace, std::int64_t milliseconds, bool sharedSpaces);

  /// A number as the outline prints frames: the shortest text that reads back the same,
  /// with ".0" for whole numbers ("1440.0", "0.5", "-0.0", "1e-05").

};

}  // namespace trelliq
