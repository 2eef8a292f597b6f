// The IOKit first-match notifications of the simulated multitouch hardware; the double
// tap's tests drive the devices through the private framework.

#include <gtest/gtest.h>

#include "platform/IOKit.h"
#include "platform/sim/EventServer.h"
#include "support/Scene.h"

namespace {

using Devices = sim::MultitouchDevices;

TEST(MultitouchTest, ADevicePluggedInIsAnnouncedOnlyOnceTheIteratorWasDrained) {
  Scene scene;
  Devices& devices = sim::EventServer::active()->multitouch();
  devices.addDevice();
  auto port = IONotificationPortCreate(kIOMainPortDefault);
  CFRunLoopAddSource(CFRunLoopGetMain(), IONotificationPortGetRunLoopSource(port), kCFRunLoopDefaultMode);
  int told = 0, seen = 0;
  auto drain = [&](io_iterator_t it) {
    for (io_object_t o; (o = IOIteratorNext(it)); ++seen) IOObjectRelease(o);
  };
  io_iterator_t iterator = 0;
  ASSERT_EQ(IOServiceAddMatchingNotification(
                port, kIOFirstMatchNotification, IOServiceMatching(Devices::kServiceClass),
                [&](void*, io_iterator_t it) { ++told, drain(it); }, nullptr, &iterator),
            KERN_SUCCESS);
  devices.addDevice();  // joins the undrained iterator silently
  scene.clock.runUntilIdle();
  EXPECT_EQ(told, 0);
  drain(iterator);
  EXPECT_EQ(seen, 2);
  devices.addDevice(Devices::kMouse);
  EXPECT_EQ(told, 0) << "told on the run loop, not at once";
  scene.clock.runUntilIdle();
  EXPECT_EQ(told, 1);
  EXPECT_EQ(seen, 3);
  IONotificationPortDestroy(port);
  devices.addDevice();
  scene.clock.runUntilIdle();
  EXPECT_EQ(told, 1);
}

}  // namespace
