#include "selftest/NativeModes.h"

#include <optional>
#include <set>

#include "platform/CGWindow.h"
#include "platform/Files.h"
#include "platform/Geometry.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "selftest/UserActions.h"
#include "workspace/Private.h"

namespace trelliq {

namespace {

std::optional<std::uint32_t> numberOf(const platform::PlistDictionary& entry) {
  const auto it = entry.find(kCGWindowNumber);
  if (it == entry.end()) return std::nullopt;
  const std::optional<std::int64_t> n = it->second.asInteger();
  if (!n || *n < 0 || *n > 0xFFFFFFFFll) return std::nullopt;
  return static_cast<std::uint32_t>(*n);
}

// ⌘⇥: the system's switcher opens on the next application.
void openSwitcher() {
  UserActions::commandTab();
  ModeClock::pump(1.0);
}

}  // namespace

std::vector<platform::PlistDictionary> NativeModes::dockWindows() {
  std::vector<platform::PlistDictionary> found;
  const std::optional<platform::PlistArray> list = CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly, 0);
  if (!list) return found;
  for (const platform::PlistValue& value : *list) {
    const platform::PlistDictionary* entry = value.asDictionary();
    if (!entry) continue;
    const platform::PlistValue* owner = value.find(kCGWindowOwnerName);
    const std::string* name = owner ? owner->asString() : nullptr;
    if (name && *name == "Dock") found.push_back(*entry);
  }
  return found;
}

std::string NativeModes::describe(std::uint32_t number, const platform::PlistDictionary& entry) {
  std::string layer = "?";
  if (const auto it = entry.find(kCGWindowLayer); it != entry.end()) {
    if (const std::optional<std::int64_t> l = it->second.asInteger()) layer = std::to_string(*l);
  }
  std::string name;
  if (const auto it = entry.find(kCGWindowName); it != entry.end()) {
    if (const std::string* n = it->second.asString()) name = *n;
  }
  CGRect bounds;
  if (const auto it = entry.find(kCGWindowBounds); it != entry.end()) {
    const platform::PlistDictionary* d = it->second.asDictionary();
    if (!d || !CGRectMakeWithDictionaryRepresentation(*d, &bounds)) bounds = CGRect();
  }
  return "window " + std::to_string(number) + " layer " + layer + " name '" + name + "' bounds " +
         platform::describe(bounds);
}

int NativeModes::nativeTest(const std::string& dir) {
  std::set<std::uint32_t> before;
  for (const platform::PlistDictionary& entry : dockWindows()) {
    if (const auto n = numberOf(entry)) before.insert(*n);
  }
  openSwitcher();
  std::vector<std::string> lines;
  bool written = true;
  for (const platform::PlistDictionary& entry : dockWindows()) {
    const std::optional<std::uint32_t> number = numberOf(entry);
    if (!number || before.contains(*number)) continue;
    lines.push_back(describe(*number, entry));
    const CGImageRef image = Private::capture(*number, true);
    if (!image) continue;
    if (const auto png = image->pngData()) {
      if (!ModeReport::save(dir + "/native-" + std::to_string(*number) + ".png", *png)) written = false;
    }
    lines.push_back("  saved " + std::to_string(image->width()) + "x" + std::to_string(image->height()));
  }
  UserActions::escapeAndLetGo();
  if (!ModeReport::write(dir + "/native.txt", lines)) written = false;
  return ModeReport::status(written);
}

int NativeModes::nativeShot(const std::string& dir) {
  openSwitcher();
  const ModeReport::Shots shots = ModeReport::debugScreenshot(dir + "/native-shot.png");
  UserActions::escapeAndLetGo();
  return shots.status("--native-shot");
}

std::vector<SelfTestMode> NativeModes::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--native-test", "dir", {}, [](const Args& args, std::size_t at) { return nativeTest(args[at + 1]); }},
      {"--native-shot", "dir", {}, [](const Args& args, std::size_t at) { return nativeShot(args[at + 1]); }},
  };
}

}  // namespace trelliq
