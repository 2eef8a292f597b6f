#include "settings/DiagnosticScreenshots.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "platform/AppKit.h"
#include "platform/Clock.h"
#include "platform/CoreGraphics.h"
#include "platform/Files.h"
#include "platform/ScreenCaptureKit.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "settings/DefaultsKeys.h"

namespace trelliq {

using platform::FileManager;

namespace {

constexpr std::string_view kDisplayMark = "-display";
constexpr std::string_view kPng = ".png";
constexpr int kFirstUnmatchedNumber = 9;

bool endsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// Only the program's own plain files are ever removed, one by one.
void prune(const std::string& folder) {
  std::vector<DiagnosticScreenshots::File> files;
  for (const std::string& name : FileManager::contentsOfDirectory(folder).value_or(std::vector<std::string>{})) {
    const std::string path = platform::joinPath(folder, name);
    if (!FileManager::isRegularFile(path)) continue;
    if (DiagnosticScreenshots::isCaptureName(name, DiagnosticScreenshots::CaptureFile::temporary)) {
      // Under the folder's lock no capture is being written: this one was interrupted.
      FileManager::removeFile(path);
      continue;
    }
    // Every picture counts towards the captures kept; `expired` names only captures.
    if (!endsWith(name, kPng)) continue;
    files.push_back({name, FileManager::modificationDate(path).value_or(0)});
  }
  for (const std::string& name : DiagnosticScreenshots::expired(files, Diagnostics::keepShots)) {
    FileManager::removeFile(platform::joinPath(folder, name));
  }
}

// Runs on the screenshot queue: one picture per display, then the pruning.
void captureDisplays(const std::string& folder, const std::string& stamp, const std::vector<std::uint32_t>& order) {
  // A link in the folder's place may lead to the user's own pictures: nothing is written
  // or removed through it.
  if (FileManager::isSymbolicLink(folder)) return;
  FileManager::createDirectory(folder);
  // Held while one capture writes and prunes, so captures of several copies of the
  // program never meet halfway.
  const platform::FolderLock lock(folder);
  if (!lock.opened()) return;
  const auto content = SCShareableContent::current(false, true);
  if (!content) return;
  std::vector<std::uint32_t> captured;
  for (const SCDisplay& display : content->displays) captured.push_back(display.displayID);
  const std::vector<int> numbers = DiagnosticScreenshots::numbers(order, captured);
  for (std::size_t i = 0; i < content->displays.size(); ++i) {
    const SCDisplay& display = content->displays[i];
    SCContentFilter wholeDisplay;  // the whole display, no window left out
    wholeDisplay.display = display;
    SCStreamConfiguration configuration;
    configuration.width = display.width;
    configuration.height = display.height;
    configuration.showsCursor = true;
    const CGImageRef image = SCScreenshotManager::captureImageNow(wholeDisplay, configuration);
    if (!image) continue;
    const auto png = image->pngData();
    if (!png) continue;
    FileManager::writeAtomically(platform::joinPath(folder, DiagnosticScreenshots::fileName(stamp, numbers[i])),
                                 png->data(), png->size());
  }
  prune(folder);
}

}  // namespace

std::vector<int> DiagnosticScreenshots::numbers(const std::vector<std::uint32_t>& leftToRight,
                                                const std::vector<std::uint32_t>& captured) {
  std::vector<int> result(captured.size(), -1);
  std::set<int> taken;
  for (std::size_t i = 0; i < captured.size(); ++i) {
    const auto found = std::find(leftToRight.begin(), leftToRight.end(), captured[i]);
    if (found == leftToRight.end()) continue;
    result[i] = static_cast<int>(found - leftToRight.begin());
    taken.insert(result[i]);
  }
  int next = kFirstUnmatchedNumber;
  for (int& number : result) {
    if (number >= 0) continue;
    while (taken.count(next)) ++next;
    number = next;
    taken.insert(next);
  }
  return result;
}

std::string DiagnosticScreenshots::fileName(const std::string& stamp, int number) {
  return stamp + std::string(kDisplayMark) + std::to_string(number) + std::string(kPng);
}

bool DiagnosticScreenshots::isCaptureName(std::string_view name, CaptureFile file) {
  if (file == CaptureFile::temporary) {
    // "." + name + ".tmp-" + six characters of mkstemp.
    constexpr std::string_view kTemporary = ".tmp-";
    if (name.size() < 1 + kTemporary.size() + 6 || name.front() != '.') return false;
    const std::string_view rest = name.substr(name.size() - 6 - kTemporary.size());
    if (rest.substr(0, kTemporary.size()) != kTemporary) return false;
    return isCaptureName(name.substr(1, name.size() - 1 - kTemporary.size() - 6));
  }
  // HH-mm-ss.SSS: digits everywhere but the separators at 2, 5 and 8.
  constexpr std::string_view kStampShape = "00-00-00.000";
  if (name.size() < kStampShape.size()) return false;
  for (std::size_t i = 0; i < kStampShape.size(); ++i) {
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (kStampShape[i] == '0' ? !digit : name[i] != kStampShape[i]) return false;
  }
  std::string_view rest = name.substr(kStampShape.size());
  if (!rest.starts_with(kDisplayMark) || !endsWith(rest, kPng)) return false;
  const std::string_view number = rest.substr(kDisplayMark.size(), rest.size() - kDisplayMark.size() - kPng.size());
  return !number.empty() && number.size() <= 10 &&
         std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> DiagnosticScreenshots::expired(const std::vector<File>& files, int keep) {
  std::map<std::string, double> newest;  // stamp -> newest modification time among its files
  for (const File& file : files) {
    if (!endsWith(file.name, kPng)) continue;
    auto [entry, added] = newest.emplace(file.name.substr(0, file.name.find(kDisplayMark)), file.modified);
    if (!added) entry->second = std::max(entry->second, file.modified);
  }
  if (keep < 0 || newest.size() <= static_cast<std::size_t>(keep)) return {};

  std::vector<std::pair<double, std::string>> byAge;
  for (const auto& [stamp, modified] : newest) byAge.emplace_back(modified, stamp);
  // Newest first; on equal times the later stamp counts as newer.
  std::sort(byAge.begin(), byAge.end(), [](const auto& a, const auto& b) { return a > b; });
  std::set<std::string> old;
  for (std::size_t i = static_cast<std::size_t>(keep); i < byAge.size(); ++i) old.insert(byAge[i].second);

  std::vector<std::string> doomed;
  for (const File& file : files) {
    if (isCaptureName(file.name) && old.count(file.name.substr(0, file.name.find(kDisplayMark)))) {
      doomed.push_back(file.name);
    }
  }
  return doomed;
}

std::string Diagnostics::shots() { return platform::joinPath(platform::parentPath(url()), "Trelliq"); }

std::optional<std::string> Diagnostics::screenshot() {
  if (!Settings::defaults().boolForKey(defaultskey::diagnosticScreenshots) || !CGPreflightScreenCaptureAccess()) {
    return std::nullopt;
  }
  std::string name = stamp(platform::clock().now());
  std::replace(name.begin(), name.end(), ':', '-');

  std::vector<NSScreen> screens = NSScreen::screens();
  std::stable_sort(screens.begin(), screens.end(),
                   [](const NSScreen& a, const NSScreen& b) { return a.frame().minX() < b.frame().minX(); });
  std::vector<std::uint32_t> order;
  for (const NSScreen& screen : screens) {
    if (const auto number = screen.displayNumber()) order.push_back(*number);
  }
  // One queue for all captures, so two close calls never prune under each other.
  platform::clock().queue("diagnostic screenshots").async([folder = shots(), name, order] {
    captureDisplays(folder, name, order);
  });
  return name;
}

}  // namespace trelliq
