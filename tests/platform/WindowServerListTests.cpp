// The window list as the program reads it: order, keys, options and titles.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>

#include "platform/CGWindow.h"
#include "platform/WindowServerPort.h"
#include "support/Scene.h"
#include "support/Served.h"

namespace {

using platform::PlistArray;
using platform::PlistDictionary;

std::vector<std::uint32_t> numbers(const PlistArray& list) {
  std::vector<std::uint32_t> result;
  for (const auto& v : list)
    result.push_back(static_cast<std::uint32_t>(*integerEntry(*v.asDictionary(), kCGWindowNumber)));
  return result;
}

const PlistDictionary* entry(const PlistArray& list, std::uint32_t number) {
  for (const auto& v : list) {
    if (integerEntry(*v.asDictionary(), kCGWindowNumber) == number) return v.asDictionary();
  }
  return nullptr;
}

std::ptrdiff_t position(const std::vector<std::uint32_t>& list, std::uint32_t number) {
  return std::find(list.begin(), list.end(), number) - list.begin();
}

class WindowListTest : public ::testing::TestWithParam<Served> {
 protected:
  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
  Attachment attachment{scene, GetParam()};
};

}  // namespace

TEST_P(WindowListTest, ListRunsFrontToBackWithHigherLayersFirst) {
  auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionAll, kCGNullWindowID);
  ASSERT_TRUE(list);
  std::int64_t previous = INT64_MAX;
  for (const auto& v : *list) {
    const auto layer = integerEntry(*v.asDictionary(), kCGWindowLayer);
    ASSERT_TRUE(layer);
    EXPECT_LE(*layer, previous) << v.describe();
    previous = *layer;
  }
  // Within layer 0 the frontmost window of the frontmost app leads; raising another changes that.
  auto order = numbers(*list);
  EXPECT_LT(position(order, 2101), position(order, 1101));
  server.raiseWindow(1101);
  order = numbers(*CGWindowListCopyWindowInfo(kCGWindowListOptionAll, kCGNullWindowID));
  EXPECT_LT(position(order, 1101), position(order, 2101));
  // Ordered-out windows (minimized, hidden apps, other Spaces) are listed too.
  for (std::uint32_t n : {2103u, 8101u, 2102u})
    EXPECT_LT(position(order, n), static_cast<std::ptrdiff_t>(order.size()));
}

TEST_P(WindowListTest, EntriesCarryTheKeysOnlyWhenTheyApply) {
  auto list = *CGWindowListCopyWindowInfo(kCGWindowListOptionAll, kCGNullWindowID);
  const PlistDictionary* draft = entry(list, 2101);
  ASSERT_TRUE(draft);
  for (const char* key :
       {kCGWindowNumber, kCGWindowStoreType, kCGWindowLayer, kCGWindowBounds, kCGWindowSharingState, kCGWindowAlpha,
        kCGWindowOwnerPID, kCGWindowMemoryUsage, kCGWindowOwnerName, kCGWindowName, kCGWindowIsOnscreen})
    EXPECT_TRUE(draft->count(key)) << key;
  EXPECT_EQ(stringEntry(*draft, kCGWindowName), "Draft.txt");
  EXPECT_EQ(stringEntry(*draft, kCGWindowOwnerName), "Quill");
  CGRect bounds;
  ASSERT_TRUE(CGRectMakeWithDictionaryRepresentation(*dictionaryEntry(*draft, kCGWindowBounds), &bounds));
  EXPECT_EQ(bounds, CGRect(300, 90, 900, 700));

  // "On screen" is left out, not false, for windows that are not; untitled windows have no name.
  EXPECT_FALSE(entry(list, 2102)->count(kCGWindowIsOnscreen));  // another Space
  EXPECT_FALSE(entry(list, 2103)->count(kCGWindowIsOnscreen));  // minimized
  EXPECT_FALSE(entry(list, 6102)->count(kCGWindowName));
  EXPECT_EQ(doubleEntry(*entry(list, 8102), kCGWindowAlpha), 0.0);
}

TEST_P(WindowListTest, TitlesNeedTheScreenCapturePermission) {
  scene.world.setScreenCaptureAllowed(false);
  auto list = *CGWindowListCopyWindowInfo(kCGWindowListOptionAll, kCGNullWindowID);
  ASSERT_FALSE(list.empty());
  for (const auto& v : list) EXPECT_FALSE(v.asDictionary()->count(kCGWindowName)) << v.describe();
  EXPECT_EQ(stringEntry(*entry(list, 2101), kCGWindowOwnerName), "Quill");  // owners stay readable
  scene.world.setScreenCaptureAllowed(true);
  EXPECT_EQ(stringEntry(*entry(*CGWindowListCopyWindowInfo(0, 0), 2101), kCGWindowName), "Draft.txt");
}

TEST_P(WindowListTest, OnScreenAndDesktopOptionsFilter) {
  const auto all = numbers(*CGWindowListCopyWindowInfo(kCGWindowListOptionAll, 0));
  const auto onScreen = numbers(*CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly, 0));
  const auto noDesktop = numbers(*CGWindowListCopyWindowInfo(kCGWindowListExcludeDesktopElements, 0));
  const auto both =
      numbers(*CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, 0));

  for (std::uint32_t n : onScreen) EXPECT_TRUE(server.isOnScreen(n)) << n;
  EXPECT_EQ(position(onScreen, 2102), static_cast<std::ptrdiff_t>(onScreen.size()));
  EXPECT_LT(position(onScreen, 7102),
            static_cast<std::ptrdiff_t>(onScreen.size()));  // the other display's current Space

  std::set<std::uint32_t> desktop;
  for (const sim::Window& w : server.windows()) {
    if (w.desktopElement) desktop.insert(w.number);
  }
  EXPECT_GE(desktop.size(), 2u + 5u);  // a Finder desktop per display, a desktop picture per desktop
  for (std::uint32_t n : noDesktop) EXPECT_FALSE(desktop.count(n)) << n;
  EXPECT_EQ(noDesktop.size() + desktop.size(), all.size());
  for (std::uint32_t n : both) EXPECT_TRUE(server.isOnScreen(n) && !desktop.count(n));
}

TEST_P(WindowListTest, AboveBelowAndIncludingAreRelativeToTheAnchor) {
  const auto onScreen = numbers(*CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly, 0));
  const auto anchor = position(onScreen, 1101);
  ASSERT_LT(anchor, static_cast<std::ptrdiff_t>(onScreen.size()));

  const auto above = numbers(*CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenAboveWindow, 1101));
  EXPECT_EQ(above, std::vector<std::uint32_t>(onScreen.begin(), onScreen.begin() + anchor));
  const auto below = numbers(*CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenBelowWindow, 1101));
  EXPECT_EQ(below, std::vector<std::uint32_t>(onScreen.begin() + anchor + 1, onScreen.end()));
  const auto withIt = numbers(
      *CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenBelowWindow | kCGWindowListOptionIncludingWindow, 1101));
  ASSERT_FALSE(withIt.empty());
  EXPECT_EQ(withIt.front(), 1101u);

  // An anchor that is not on screen still anchors; including it alone gives that one entry.
  EXPECT_EQ(numbers(*CGWindowListCopyWindowInfo(kCGWindowListOptionIncludingWindow, 2103)),
            std::vector<std::uint32_t>{2103});
  EXPECT_TRUE(CGWindowListCopyWindowInfo(kCGWindowListOptionIncludingWindow, 999999)->empty());
  EXPECT_TRUE(CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenAboveWindow, kCGNullWindowID)->empty());
}

TEST_P(WindowListTest, SpecialWindowsAreWhereTheProgramLooksForThem) {
  auto list = *CGWindowListCopyWindowInfo(kCGWindowListOptionAll, 0);
  const std::int64_t iconLevel = CGWindowLevelForKey(kCGDesktopIconWindowLevelKey);
  int finderDesktops = 0, wallpapers = 0, backdrops = 0, windowServer = 0;
  for (const auto& v : list) {
    const PlistDictionary& d = *v.asDictionary();
    const std::string owner = stringEntry(d, kCGWindowOwnerName).value_or("");
    const std::string name = stringEntry(d, kCGWindowName).value_or("");
    CGRect bounds;
    CGRectMakeWithDictionaryRepresentation(*dictionaryEntry(d, kCGWindowBounds), &bounds);
    if (owner == "Finder" && integerEntry(d, kCGWindowLayer) == iconLevel) {
      ++finderDesktops;
      EXPECT_TRUE(bounds == CGRect(0, 0, 1512, 982) || bounds == CGRect(1512, -458, 2560, 1440)) << v.describe();
    }
    if (owner == "Dock" && name.rfind("Wallpaper", 0) == 0) {
      ++wallpapers;
      EXPECT_EQ(integerEntry(d, kCGWindowLayer), CGWindowLevelForKey(kCGDesktopWindowLevelKey));
    }
    if (name == "Fullscreen Backdrop") ++backdrops;
    if (owner == "Window Server") ++windowServer;
  }
  EXPECT_EQ(finderDesktops, 2);
  EXPECT_EQ(wallpapers, 5);  // one per desktop, none for the full-screen Space
  EXPECT_EQ(backdrops, 1);
  EXPECT_GE(windowServer, 1);

  // Before OS 14 the desktop pictures have their older names.
  scene.world.setOSVersion({13, 6, 0});
  server.addSpace(1, sim::Space{});  // any change to the Spaces remakes the system's windows
  bool older = false;
  const auto renamed = *CGWindowListCopyWindowInfo(0, 0);
  for (const auto& v : renamed) {
    older = older || stringEntry(*v.asDictionary(), kCGWindowName).value_or("").rfind("Desktop Picture - ", 0) == 0;
  }
  EXPECT_TRUE(older);
}

// The server keeps what it worked out between questions; each change must show in the
// very next answer, whatever was asked before it.
TEST_P(WindowListTest, EveryChangeShowsInTheNextAnswer) {
  const std::int32_t quill = server.window(2101)->pid;
  const auto windowsOfQuill = [&] {
    std::vector<std::uint32_t> result;
    for (const sim::Window& w : server.windowsOf(quill)) result.push_back(w.number);
    return result;
  };
  const auto before = windowsOfQuill();
  ASSERT_GE(before.size(), 2u);
  const std::uint32_t back = before.back();

  // Lifted to a higher layer, the app's backmost window leads its windows and the list.
  server.updateWindow(back, [](sim::Window& w) { w.layer = 3; });
  EXPECT_EQ(windowsOfQuill().front(), back);
  auto order = numbers(*CGWindowListCopyWindowInfo(kCGWindowListOptionAll, kCGNullWindowID));
  EXPECT_LT(position(order, back), position(order, 1101));

  // A new window is listed at once, and gone at once when removed.
  sim::Window added;
  added.pid = quill;
  added.title = "Notes.txt";
  const std::uint32_t number = server.addWindow(added);
  EXPECT_EQ(position(windowsOfQuill(), number), 1);  // in front of layer 0, behind the lifted one
  server.removeWindow(number);
  EXPECT_EQ(position(windowsOfQuill(), number), static_cast<std::ptrdiff_t>(before.size()));

  // A display the world moves takes its desktop window along; a new one gets a desktop.
  const auto finderDesktop = [&](const CGRect& frame) {
    for (const sim::Window& w : server.windows())
      if (w.desktopElement && w.layer == CGWindowLevelForKey(kCGDesktopIconWindowLevelKey) && w.bounds == frame)
        return true;
    return false;
  };
  const std::uint32_t second = server.displays()[1].displayID;
  const CGRect old = server.displays()[1].frame;
  ASSERT_TRUE(finderDesktop(old));
  std::optional<sim::Display> moved = scene.world.display(second);
  ASSERT_TRUE(moved);
  moved->screen.frame.size = CGSize(1920, 1080);
  ASSERT_TRUE(scene.world.replaceDisplay(second, *moved));
  const CGRect now = server.displays()[1].frame;
  EXPECT_EQ(now.size, CGSize(1920, 1080));
  EXPECT_TRUE(finderDesktop(now));
  EXPECT_FALSE(finderDesktop(old));
  scene.world.addDisplay(sim::makeDisplay(99, CGRect(-800, 0, 800, 600), "Projector"));
  const auto displays = server.displays();
  ASSERT_EQ(displays.size(), 3u);
  EXPECT_EQ(displays[2].spaces.size(), 1u);

  // A desk started afresh forgets every window read before.
  server.resetDesk();
  EXPECT_TRUE(server.windowsOf(quill).empty());
  EXPECT_FALSE(server.window(2101));
}

TEST(WindowListWithoutServerTest, NoServerAnswersNothing) {
  Scene scene;
  platform::installWindowServer(nullptr);
  EXPECT_FALSE(CGWindowListCopyWindowInfo(kCGWindowListOptionAll, 0));
  platform::installWindowServer(&scene.windowServer);
  EXPECT_TRUE(CGWindowListCopyWindowInfo(kCGWindowListOptionAll, 0));
}

TEST(WindowListRectTest, BoundsDictionariesRoundTripAndRejectGaps) {
  const CGRect r(-12.5, 40, 300, 0.5);
  CGRect back;
  ASSERT_TRUE(CGRectMakeWithDictionaryRepresentation(CGRectCreateDictionaryRepresentation(r), &back));
  EXPECT_EQ(back, r);
  PlistDictionary missing = CGRectCreateDictionaryRepresentation(r);
  missing.erase("Height");
  CGRect untouched(1, 2, 3, 4);
  EXPECT_FALSE(CGRectMakeWithDictionaryRepresentation(missing, &untouched));
  PlistDictionary wrong = CGRectCreateDictionaryRepresentation(r);
  wrong["X"] = "12";
  EXPECT_FALSE(CGRectMakeWithDictionaryRepresentation(wrong, &untouched));
  EXPECT_EQ(untouched, CGRect(1, 2, 3, 4));
}

TRELLIQ_SERVED_BOTH_WAYS(WindowListTest);
