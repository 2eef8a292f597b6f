// Calls that depend on each other through the host: a program capturing its own window
// whose drawing itself asks the host, and calls of one thread sent without waiting, which
// the host answers in the order they were sent.

#include <gtest/gtest.h>

#include <QPainter>
#include <QWidget>
#include <fstream>

#include "HostProcess.h"
#include "platform/AppKitWindows.h"
#include "platform/Clock.h"
#include "platform/RealClock.h"
#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"
#include "platform/host/WireValues.h"
#include "support/WidgetsApp.h"

namespace {

const char* const kDomain = "com.example.lanes";

/// A view whose drawing reads its colour from the defaults, as the program's windows read
/// their options while they draw.
class DefaultsColoured : public QWidget {
 public:
  DefaultsColoured() { resize(120, 80); }

 protected:
  void paintEvent(QPaintEvent*) override {
    const auto value = platform::system().preferenceValue(kDomain, "colour");
    const bool blue = value && value->asString() && *value->asString() == "blue";
    QPainter(this).fillRect(rect(), blue ? QColor(0, 0, 255) : QColor(255, 0, 0));
  }
};

}  // namespace

TEST(HostLanes, AProgramCapturesItsOwnWindowWhoseDrawingReadsTheDefaults) {
  trelliq::test::ensureWidgets();
  AttachedHost stage;
  ASSERT_NO_FATAL_FAILURE(stage.start());
  auto& mac = stage.mac;
  platform::RealClock clock;
  platform::installClock(&clock);
  platform::installSystem(mac->system.get());
  platform::installWindowServer(mac->windowServer.get());
  mac->system->setPreferenceValue(kDomain, "colour", platform::PlistValue(std::string("blue")));
  {
    DefaultsColoured content;
    NSWindow window(CGRect(200, 200, 120, 80), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
    window.setContentView(&content);
    window.orderFront(nullptr);
    // On the main thread, as a picture mode captures: the drawing's calls are answered
    // while the capture is under way.
    const CGImageRef picture =
        mac->windowServer->captureWindowPicture(static_cast<std::uint32_t>(window.windowNumber()), 120, 80);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->pixel(60, 40) & 0xFFFFFF, 0x0000FFu);
  }
  platform::installWindowServer(nullptr);
  platform::installSystem(nullptr);
  platform::installClock(nullptr);
}

TEST(HostLanes, CallsOfOneThreadSentWithoutWaitingAreAnsweredInTheOrderSent) {
  AttachedHost stage;
  // An app that never answers accessibility holds the thread's lane for its time-out, so
  // what is sent next waits in line behind it.
  const std::string scenario = stage.home.path + "/stuck.json";
  std::ofstream(scenario) << R"({"displays": [], "permissions": {"accessibility": true},
                                "apps": [{"pid": 501, "name": "Stuck", "bundleIdentifier": "com.example.stuck",
                                           "bundlePath": "/Applications/Stuck.app", "hung": true}]})";
  ASSERT_NO_FATAL_FAILURE(stage.start({"--scenario", scenario}));
  host::Connection& connection = *stage.mac->connection;
  connection.tell("axCopyAttribute", {{"e", host::wire::encode(AXElementID{501, 0})}, {"a", "AXTitle"}, {"t", 1.0}});
  connection.tell("setPreferenceValue",
                  {{"domain", kDomain},
                   {"key", "k"},
                   {"value", host::wire::encode(std::optional(platform::PlistValue(std::string("written"))))}});
  const auto read = connection.call("preferenceValue", {{"domain", kDomain}, {"key", "k"}});
  ASSERT_TRUE(read);
  EXPECT_EQ(host::wire::read<std::optional<platform::PlistValue>>(*read),
            std::optional(platform::PlistValue(std::string("written"))))
      << "the read was answered before the write sent ahead of it";
}
