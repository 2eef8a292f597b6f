// The private functions as the program finds and calls them: each can be taken away,
// and each records what it was asked.

#include <gtest/gtest.h>

#include <QImage>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"
#include "platform/SystemPort.h"
#include "support/Scene.h"
#include "support/Served.h"

namespace {

using platform::PlistArray;
using platform::PlistValue;

template <typename F>
F* symbol(const char* library, const char* name) {
  return platform::symbolAs<F>(platform::dlopen(library, platform::RTLD_NOW_), name);
}

constexpr std::int32_t kCID = sim::WindowServer::kConnectionID;

class UnpublishedTest : public ::testing::TestWithParam<Served> {
 protected:
  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
  Attachment attachment{scene, GetParam()};
};

}  // namespace

TEST_P(UnpublishedTest, EachFunctionCanBeTakenAwayAlone) {
  const std::vector<std::pair<const char*, const char*>> all = {
      {kSkyLightPath, "SLSMainConnectionID"},
      {kSkyLightPath, "SLSCopyManagedDisplaySpaces"},
      {kSkyLightPath, "SLSCopySpacesForWindows"},
      {kSkyLightPath, "SLSWindowIsOrderedIn"},
      {kSkyLightPath, "_SLPSSetFrontProcessWithOptions"},
      {kSkyLightPath, "SLPSPostEventRecordTo"},
      {kSkyLightPath, "SLSHWCaptureWindowList"},
      {kSkyLightPath, "SLSSpaceCreate"},
      {kSkyLightPath, "SLSSpaceSetAbsoluteLevel"},
      {kSkyLightPath, "SLSShowSpaces"},
      {kSkyLightPath, "SLSAddWindowsToSpaces"},
      {kSkyLightPath, "SLSMoveWindowsToManagedSpace"},
      {kSkyLightPath, "SLSSetSymbolicHotKeyEnabled"},
      {kApplicationServicesPath, "GetProcessForPID"},
      {kCoreServicesPath, "_LSCopyApplicationArrayInFrontToBackOrder"},
      {kCoreServicesPath, "_LSCopyApplicationInformationItem"},
      {kCoreServicesPath, "_kLSPIDKey"},
  };
  for (std::size_t i = 0; i < all.size(); ++i) {
    ASSERT_NE(platform::dlsym(platform::dlopen(all[i].first, 2), all[i].second), nullptr) << all[i].second;
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    scene.world.removeSymbol(all[i].first, all[i].second);
    EXPECT_EQ(platform::dlsym(platform::dlopen(all[i].first, 2), all[i].second), nullptr) << all[i].second;
    for (std::size_t k = i + 1; k < all.size(); ++k)
      EXPECT_NE(platform::dlsym(platform::dlopen(all[k].first, 2), all[k].second), nullptr) << all[k].second;
  }
  // The libraries stay: a missing symbol is not a missing library.
  EXPECT_NE(platform::dlopen(kSkyLightPath, 2), nullptr);
}

TEST_P(UnpublishedTest, AFocusRecordHandsTheKeyboardToItsWindow) {
  ProcessSerialNumber psn;
  ASSERT_EQ(symbol<GetProcessForPID_t>(kApplicationServicesPath, "GetProcessForPID")(302, &psn), 0);
  std::array<std::uint8_t, 0xF8> record{};
  record[0x04] = 0xF8;
  record[0x08] = 1;
  for (int i = 0x20; i < 0x30; ++i) record[i] = 0xFF;
  record[0x3A] = 0x10;
  const std::uint32_t window = 3102;
  std::memcpy(&record[0x3C], &window, 4);
  EXPECT_EQ(symbol<SLPSPostEventRecordTo_t>(kSkyLightPath, "SLPSPostEventRecordTo")(&psn, record.data()), 0);
  EXPECT_EQ(server.app(302)->focusedWindow, 3102u);

  ProcessSerialNumber nobody;
  EXPECT_NE(symbol<GetProcessForPID_t>(kApplicationServicesPath, "GetProcessForPID")(99999, &nobody), 0);
  server.terminate(311);
  EXPECT_NE(symbol<GetProcessForPID_t>(kApplicationServicesPath, "GetProcessForPID")(311, &nobody), 0);
}

TEST_P(UnpublishedTest, WindowCapturesRecordTheirOptionsAndShowTheWindow) {
  auto capture = symbol<SLSHWCaptureWindowList_t>(kSkyLightPath, "SLSHWCaptureWindowList");
  const std::uint32_t draft = 2101;
  auto full = capture(kCID, &draft, 1, 0x80900);
  auto reduced = capture(kCID, &draft, 1, 0x80a00);
  ASSERT_TRUE(full && reduced);
  ASSERT_EQ(full->size(), 1u);
  // Display 1 has two pixels per point; the reduced picture is in points.
  EXPECT_EQ((*full)[0]->width(), 1800);
  EXPECT_EQ((*full)[0]->height(), 1400);
  EXPECT_EQ((*reduced)[0]->width(), 900);
  // The body has the window's colour; the title bar across its top is darker.
  const std::uint32_t body = (*reduced)[0]->pixel(450, 500) & 0xFFFFFF;
  EXPECT_EQ(body, 0xFFF8E7u);
  EXPECT_LT((*reduced)[0]->pixel(5, 5) & 0xFF, body & 0xFF);

  const auto calls = server.privateCalls("SLSHWCaptureWindowList");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].arguments[2], PlistValue(0x80900));
  EXPECT_EQ(calls[1].arguments[2], PlistValue(0x80a00));
  EXPECT_EQ(calls[0].arguments[1], PlistValue(PlistArray{2101}));

  // A window on another Space or minimized is captured too; unknown ones and a missing permission give nothing.
  const std::uint32_t minimized = 2103, unknown = 424242;
  EXPECT_TRUE(capture(kCID, &minimized, 1, 0x80a00));
  EXPECT_FALSE(capture(kCID, &unknown, 1, 0x80a00));
  EXPECT_FALSE(capture(kCID + 1, &draft, 1, 0x80a00));
  scene.world.setScreenCaptureAllowed(false);
  EXPECT_FALSE(capture(kCID, &draft, 1, 0x80a00));
}

namespace {

// Whether `bytes` lie in a picture's memory that the host shared with this process.
bool inHostsMemory(const void* bytes) {
  std::ifstream maps("/proc/self/maps");
  const auto at = reinterpret_cast<std::uintptr_t>(bytes);
  for (std::string line; std::getline(maps, line);) {
    unsigned long from = 0, to = 0;
    if (line.find("memfd:trelliq-picture") != std::string::npos && std::sscanf(line.c_str(), "%lx-%lx", &from, &to) == 2 &&
        at >= from && at < to) {
      return true;
    }
  }
  return false;
}

}  // namespace

// Attached, a capture's pixels never travel in the reply: a reply that size holds up every
// other answer the program waits for meanwhile.
TEST_P(UnpublishedTest, AWindowListIsCapturedInOrderEachPictureInTheHostsMemory) {
  auto capture = symbol<SLSHWCaptureWindowList_t>(kSkyLightPath, "SLSHWCaptureWindowList");
  const std::array<std::uint32_t, 3> windows = {3102, 424242, 2101};
  const auto pictures = capture(kCID, windows.data(), 3, 0x80a00);
  ASSERT_TRUE(pictures);
  ASSERT_EQ(pictures->size(), 2u) << "the unknown window left out";
  EXPECT_EQ((*pictures)[0]->width(), 1300);
  EXPECT_EQ((*pictures)[1]->width(), 900);
  for (const CGImageRef& picture : *pictures) {
    EXPECT_EQ(inHostsMemory(picture->qimage().constBits()), GetParam() == Served::remote);
  }
}

TEST_P(UnpublishedTest, OverlayCallsAreRecordedAndCheckTheirConnection) {
  auto create = symbol<SLSSpaceCreate_t>(kSkyLightPath, "SLSSpaceCreate");
  EXPECT_EQ(create(kCID + 1, 1, nullptr), 0u);
  const CGSSpaceID overlay = create(kCID, 1, nullptr);
  EXPECT_NE(overlay, 0u);
  EXPECT_NE(create(kCID, 1, nullptr), overlay);  // each call makes another
  EXPECT_EQ(symbol<SLSSpaceSetAbsoluteLevel_t>(kSkyLightPath, "SLSSpaceSetAbsoluteLevel")(kCID, overlay, 100), 0);
  EXPECT_NE(symbol<SLSSpaceSetAbsoluteLevel_t>(kSkyLightPath, "SLSSpaceSetAbsoluteLevel")(kCID, 1, 100), 0);
  EXPECT_EQ(server.space(overlay)->absoluteLevel, 100);
  EXPECT_FALSE(server.space(overlay)->managed);

  const PlistArray spaces{PlistValue(static_cast<long long>(overlay))};
  symbol<SLSShowSpaces_t>(kSkyLightPath, "SLSShowSpaces")(kCID, spaces);
  symbol<SLSAddWindowsToSpaces_t>(kSkyLightPath, "SLSAddWindowsToSpaces")(kCID, PlistArray{}, spaces);
  const auto shown = server.privateCalls("SLSShowSpaces");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].arguments[1], PlistValue(spaces));
  const auto added = server.privateCalls("SLSAddWindowsToSpaces");
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0].arguments[1], PlistValue(PlistArray{}));  // an empty list is still a call
  EXPECT_EQ(server.privateCalls("SLSSpaceCreate")[1].arguments[1], PlistValue(1));
}

TEST_P(UnpublishedTest, SymbolicHotKeysAreSwitchedWithoutLocks) {
  auto set = symbol<SLSSetSymbolicHotKeyEnabled_t>(kSkyLightPath, "SLSSetSymbolicHotKeyEnabled");
  EXPECT_TRUE(sim::WindowServer::symbolicHotKeyEnabled(1));
  EXPECT_EQ(set(1, false), 0);
  EXPECT_EQ(set(2, false), 0);
  // An attached program sends the switch without waiting (a signal handler cannot wait);
  // the host answers its next question only after it.
  platform::windowServer().frontmostApplication();
  EXPECT_FALSE(sim::WindowServer::symbolicHotKeyEnabled(1));
  EXPECT_FALSE(sim::WindowServer::symbolicHotKeyEnabled(2));
  EXPECT_EQ(set(2, true), 0);
  platform::windowServer().frontmostApplication();
  EXPECT_TRUE(sim::WindowServer::symbolicHotKeyEnabled(2));
  EXPECT_NE(set(100000, false), 0);
  // A new simulated Mac starts with every hot key on.
  scene.restart(Scene::Start::defaultScenario);
  EXPECT_TRUE(sim::WindowServer::symbolicHotKeyEnabled(1));
}

TRELLIQ_SERVED_BOTH_WAYS(UnpublishedTest);
