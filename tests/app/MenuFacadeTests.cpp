#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ShellDesk.h"
#include "platform/AppKitMenus.h"

namespace {

std::shared_ptr<NSMenuItem> item(const std::string& title, int* counter = nullptr) {
  auto entry = std::make_shared<NSMenuItem>(title, "act:", "");
  if (counter) entry->setTarget([counter] { ++*counter; });
  return entry;
}

std::vector<std::string> titles(const NSMenu& menu) {
  std::vector<std::string> out;
  for (const auto& entry : menu.items()) out.push_back(entry->isSeparatorItem() ? "—" : entry->title());
  return out;
}

TEST(MenuFacadeTest, EntriesBelongToOneMenuAtATime) {
  NSMenu first, second;
  auto a = item("a");
  first.addItem(a);
  first.addItem(item("b"));
  second.insertItem(a, 5);
  EXPECT_EQ(titles(first), std::vector<std::string>{"b"});
  EXPECT_EQ(titles(second), std::vector<std::string>{"a"});
  EXPECT_EQ(a->menu(), &second);
  EXPECT_EQ(first.indexOfItem(*a), -1);

  second.insertItem(item("z"), -3);
  EXPECT_EQ(titles(second), (std::vector<std::string>{"z", "a"})) << "the index is clamped";
  second.removeItemAtIndex(7);
  second.removeItemAtIndex(-1);
  EXPECT_EQ(second.numberOfItems(), 2);
  second.removeItem(*a);
  EXPECT_EQ(a->menu(), nullptr);
  EXPECT_EQ(second.itemAtIndex(1), nullptr);
}

TEST(MenuFacadeTest, OnlyEnabledEntriesWithATargetActAndCloseTheMenu) {
  ShellDesk desk;
  int hits = 0;
  NSMenu menu;
  menu.addItem(item("live", &hits));
  menu.addItem(item("nobody"));
  menu.addItem(NSMenuItem::separatorItem());
  auto off = item("off", &hits);
  off->setEnabled(false);
  menu.addItem(off);

  menu.popUp();
  EXPECT_FALSE(menu.performActionForItemAtIndex(1)) << "an action nobody takes";
  EXPECT_FALSE(menu.performActionForItemAtIndex(2));
  EXPECT_FALSE(menu.performActionForItemAtIndex(3));
  EXPECT_TRUE(menu.isTracking());
  EXPECT_EQ(hits, 0);
  EXPECT_TRUE(menu.performActionForItemAtIndex(0));
  EXPECT_EQ(hits, 1);
  EXPECT_FALSE(menu.isTracking());

  // Without a target, "terminate:" reaches the application, which ends the program.
  menu.addItem(std::make_shared<NSMenuItem>("Quit", "terminate:", "q"));
  EXPECT_TRUE(menu.performActionForItemAtIndex(4));
  EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
}

TEST(MenuFacadeTest, AFreshSimulatedMacHasAnEmptyStatusBarAndBundle) {
  {
    ShellDesk desk;
    platform::addBundleImage("Icon", {NSImageRep{4, 2, nullptr}});
    auto status = NSStatusBar::systemStatusBar().statusItemWithLength(NSVariableStatusItemLength);
    EXPECT_FALSE(status->click()) << "no menu to open";
    ASSERT_TRUE(NSImage::imageNamed("Icon"));
    EXPECT_EQ(NSImage::imageNamed("Icon")->size(), (CGSize{4, 2}));
    EXPECT_NE(NSImage::imageNamed("Icon"), NSImage::imageNamed("Icon")) << "each lookup is a new image";
    EXPECT_EQ(NSStatusBar::systemStatusBar().items().size(), 1u);
  }
  ShellDesk desk;
  EXPECT_TRUE(NSStatusBar::systemStatusBar().items().empty());
  EXPECT_FALSE(NSImage::imageNamed("Icon"));
}

}  // namespace
