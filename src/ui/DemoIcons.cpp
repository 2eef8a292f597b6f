#include "ui/DemoIcons.h"

#include "platform/AppKitWorkspace.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

std::vector<CGImageRef> icons(std::initializer_list<const char*> bundles) {
  std::vector<CGImageRef> result;
  for (const char* bundle : bundles) result.push_back(DemoIcons::icon(bundle));
  return result;
}

}  // namespace

CGImageRef DemoIcons::icon(const std::string& bundleIdentifier) {
  if (auto path = NSWorkspace::shared().urlForApplication(bundleIdentifier)) {
    CGImageRef image = NSWorkspace::shared().iconForFile(*path);
    if (image && image->width() > 0) return image;
  }
  if (CGImageRef symbol = ui::symbolImage("app.fill", 64)) return symbol;
  return CGImage::empty();
}

const std::vector<CGImageRef>& DemoIcons::top() {
  static const std::vector<CGImageRef> list =
      icons({"com.apple.mail", "com.apple.Safari", "com.apple.Notes", "com.apple.iCal"});
  return list;
}

const std::vector<CGImageRef>& DemoIcons::bottom() {
  static const std::vector<CGImageRef> list = icons({"com.apple.Music", "com.apple.Photos", "com.apple.reminders"});
  return list;
}

}  // namespace trelliq
