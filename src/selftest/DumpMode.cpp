#include "selftest/DumpMode.h"

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Geometry.h"
#include "selftest/ModeReport.h"
#include "settings/Diagnostics.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

std::string windowLine(const WindowInfo& w) {
  std::string line = "      " + (w.windowID ? std::to_string(*w.windowID) : std::string("?"));
  if (w.minimized) line += " minimized";
  if (!w.element) line += " off-Space";
  line += " '" + Diagnostics::escapeForeign(w.title.value_or("")) + "' ";
  if (w.bounds) {
    line += ModeReport::whole(w.bounds->origin.x) + "," + ModeReport::whole(w.bounds->origin.y) + " " +
            ModeReport::whole(w.bounds->size.width) + "x" + ModeReport::whole(w.bounds->size.height);
  }
  return line;
}

}  // namespace

std::vector<std::string> DumpMode::lines(const Workspace& workspace, std::int64_t milliseconds, bool sharedSpaces) {
  std::vector<std::string> out;
  out.push_back("loaded in " + std::to_string(milliseconds) +
                "ms, shared Spaces: " + (sharedSpaces ? "true" : "false"));
  for (const DisplayGroup& display : workspace.displays) {
    const CGRect f = display.screen.frame();
    out.push_back("display " + Diagnostics::escapeForeign(display.screen.localizedName()) + " " +
                  platform::describe(f) + " here=" + display.here.value_or("-"));
    for (const SpaceGroup& space : display.spaces) {
      out.push_back("  " + Diagnostics::escapeForeign(space.label) + " [space " + std::to_string(space.id) +
                    (space.fullScreen ? ", full screen" : "") + (space.current ? ", showing" : "") + "]");
      for (const Cluster& c : space.clusters) {
        out.push_back("    " + Diagnostics::escapeForeign(c.name()) + " (" + c.id + ")" +
                      (c.hidden() ? " hidden" : "") + ", last #" +
                      (c.lastWindow ? std::to_string(*c.lastWindow) : std::string("-")));
        for (const WindowInfo& w : c.windows) out.push_back(windowLine(w));
      }
    }
  }
  std::string tray = "tray: ";
  for (std::size_t i = 0; i < workspace.tray.size(); ++i) {
    if (i > 0) tray += ", ";
    tray += Diagnostics::escapeForeign(workspace.tray[i].name);
  }
  out.push_back(tray);
  return out;
}

int DumpMode::run(const std::string& out) {
  const std::uint64_t start = platform::clock().monotonicNanos();
  const Workspace snapshot = Workspace::load(true);
  const std::uint64_t finish = platform::clock().monotonicNanos();
  const auto milliseconds = static_cast<std::int64_t>((finish - start) / 1000000);
  const bool shared = Private::displayLayout().shared;
  return ModeReport::status(ModeReport::write(out, lines(snapshot, milliseconds, shared)));
}

std::vector<SelfTestMode> DumpMode::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--dump", "out", {}, [](const Args& args, std::size_t at) { return run(args[at + 1]); }},
  };
}

}  // namespace trelliq
