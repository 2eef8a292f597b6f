#include "switcher/PanelSelfCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

#include "platform/AppKitWorkspace.h"
#include "platform/CGWindow.h"
#include "settings/Diagnostics.h"
#include "workspace/Private.h"
#include "workspace/SpaceList.h"

namespace trelliq {

namespace {

std::string truncated(double value) {
  if (!std::isfinite(value)) return "0";
  return std::to_string(static_cast<long long>(std::trunc(value)));
}

const char* yesNo(bool value) { return value ? "true" : "false"; }

// The numbers of the windows on screen now.
std::set<std::int64_t> onScreenNumbers() {
  std::set<std::int64_t> onScreen;
  if (const auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly, kCGNullWindowID)) {
    for (const platform::PlistValue& entry : *list) {
      const platform::PlistDictionary* info = entry.asDictionary();
      if (!info) continue;
      if (const auto number = platform::integerEntry(*info, kCGWindowNumber)) onScreen.insert(*number);
    }
  }
  return onScreen;
}

// The windows above `panel` that overlap `glass` (top-left coordinates), described as
// "Owner #number layer n x,y wxh"; the preview panel never counts.
std::vector<std::string> coveringWindows(std::int64_t panel, const CGRect& glass, std::int64_t preview) {
  std::vector<std::string> found;
  const auto above = CGWindowListCopyWindowInfo(
      kCGWindowListOptionOnScreenOnly | kCGWindowListOptionOnScreenAboveWindow, static_cast<CGWindowID>(panel));
  if (!above) return found;
  for (const platform::PlistValue& entry : *above) {
    const platform::PlistDictionary* info = entry.asDictionary();
    if (!info) continue;
    const platform::PlistDictionary* boundsEntry = platform::dictionaryEntry(*info, kCGWindowBounds);
    CGRect bounds;
    if (!boundsEntry || !CGRectMakeWithDictionaryRepresentation(*boundsEntry, &bounds)) continue;
    if (!bounds.intersects(glass)) continue;
    if (const platform::PlistValue* alpha = entry.find(kCGWindowAlpha); alpha && alpha->isNumber()) {
      if (alpha->asDouble().value_or(0) <= 0) continue;
    }
    const auto number = platform::integerEntry(*info, kCGWindowNumber);
    if (number && *number == preview) continue;
    const auto owner = platform::stringEntry(*info, kCGWindowOwnerName);
    const auto layer = platform::integerEntry(*info, kCGWindowLayer);
    found.push_back((owner ? Diagnostics::escapeForeign(*owner) : std::string("?")) + " #" +
                    (number ? std::to_string(*number) : std::string("?")) + " layer " +
                    (layer ? std::to_string(*layer) : std::string("?")) + " " + truncated(bounds.origin.x) + "," +
                    truncated(bounds.origin.y) + " " + truncated(bounds.size.width) + "x" +
                    truncated(bounds.size.height));
  }
  return found;
}

// What the check found on one display's panel.
struct PanelFindings {
  std::string line;
  bool ok = false;
};

PanelFindings panelLine(const SwitcherModel& model, const DisplayPanels& panels, std::size_t index,
                        const std::set<std::int64_t>& onScreen, double top, std::int64_t preview) {
  const DisplayGroup& group = model.workspace().displays[index];
  const SwitcherPanel& window = *panels.at(index).window;
  const std::int64_t number = window.windowNumber();
  const std::optional<CGRect> glass = panels.contentFrame(static_cast<int>(index));

  std::vector<std::string> above;
  if (glass) above = coveringWindows(number, platform::flipRect(*glass, top), preview);

  const bool visible = window.isVisible();
  const bool listed = onScreen.count(number) > 0;
  const bool unoccluded = (window.occlusionState() & NSWindowOcclusionStateVisible) != 0;
  const bool ok = visible && listed && unoccluded && glass && window.frame() == group.screen.frame();

  std::string line =
      std::string("  ") + (ok ? "ok" : "PROBLEM") + " " + Diagnostics::escapeForeign(group.screen.localizedName());
  if (static_cast<int>(index) == model.focused()) line += " (steered)";
  line += ": panel #" + std::to_string(number);
  line += std::string(" visible=") + yesNo(visible) + " onScreen=" + yesNo(listed) + " unoccluded=" + yesNo(unoccluded);
  line += std::string(" activeSpace=") + yesNo(window.isOnActiveSpace());
  line += " spaces=" + spaceListText(Private::spaces(static_cast<std::uint32_t>(std::max<std::int64_t>(number, 0))));
  line += " frame=" + platform::describe(window.frame()) + " screen=" + platform::describe(group.screen.frame());
  line += " glass=" + (glass ? platform::describe(*glass) : std::string("none"));
  line += " alpha=" + platform::describe(window.alphaValue());
  line += " clusters=" + std::to_string(group.clusters().size());
  if (!above.empty()) {
    line += " above it: ";
    for (std::size_t k = 0; k < above.size(); ++k) line += (k ? "; " : "") + above[k];
  }
  return {std::move(line), ok};
}

// The entry's first line: whether a panel is missing, the screenshot, the Spaces showing
// and the front app.
std::string headline(bool problem) {
  const std::optional<std::string> shot = Diagnostics::screenshot();
  std::string entry = "opened";
  if (problem) entry += " WITH A MISSING PANEL";
  entry += ": ";
  if (shot) entry += "screenshot " + *shot + ", ";
  entry += "showing " + spaceListText(currentSpacesSorted()) + ", front ";
  const auto front = NSWorkspace::shared().frontmostApplication();
  // Names come from other programs: escaped, so they cannot start a forged line.
  entry += front && front->localizedName() ? Diagnostics::escapeForeign(*front->localizedName()) : std::string("?");
  return entry;
}

}  // namespace

std::optional<std::string> PanelSelfCheck::entry(const SwitcherModel& model, const DisplayPanels& panels,
                                                 const NSWindow& preview) {
  const std::vector<NSScreen> screens = NSScreen::screens();
  if (screens.empty()) return std::nullopt;
  const double top = screens.front().frame().maxY();
  const std::set<std::int64_t> onScreen = onScreenNumbers();

  const std::size_t displays = model.workspace().displays.size();
  bool problem = false;
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < displays && i < panels.count(); ++i) {
    PanelFindings found = panelLine(model, panels, i, onScreen, top, preview.windowNumber());
    if (!found.ok) problem = true;
    lines.push_back(std::move(found.line));
  }
  if (panels.count() < displays || screens.size() != displays) {
    lines.push_back("  PROBLEM " + std::to_string(displays) + " displays loaded, " + std::to_string(screens.size()) +
                    " screens, " + std::to_string(panels.count()) + " panels");
    problem = true;
  }

  std::string entry = headline(problem);
  for (const std::string& line : lines) entry += "\n" + line;
  return entry;
}

}  // namespace trelliq
