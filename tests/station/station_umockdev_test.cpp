// The station over the real back-ends (libusb, hidapi, libudev) against the simulated box's
// umockdev devices.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/device_monitor.h"
#include "platform/hid_port.h"
#include "platform/usb_port.h"
#include "sim/umockdev_box.h"
#include "station/station_texts.h"
#include "station_rig.h"

namespace varnex2::station {
namespace {

using namespace std::chrono_literals;

// Claiming the controller's interface takes the kernel's HID driver off it, and its hidraw node
// leaves: that is the station's own doing, not the box leaving. Testing goes on and nothing
// says the device is gone. Pulling the cable is still seen at once.
TEST(UmockdevStation, ItsOwnClaimIsNoUnplugAndARealUnplugIsSeenAtOnce) {
  std::unique_ptr<sim::UmockdevBox> testbed;  // outlives the rig
  RigOptions o;
  o.boxBackends = [&testbed](StationBackends& b, const std::shared_ptr<sim::SimBox>& box) {
    std::string error;
    testbed = sim::UmockdevBox::Create(box, &error);
    ASSERT_NE(testbed, nullptr) << error;
    b.usb = platform::CreateLibusbPort();
    b.hid = platform::CreateHidapiPort();
    b.monitor = platform::CreateUdevMonitor();
  };
  StationRig rig(o);
  ASSERT_NE(testbed, nullptr);
  rig.Initialise();
  ASSERT_TRUE(WaitUntil([&] { return rig.station->TestRunning(); }, 20s));
  ASSERT_TRUE(rig.WaitRepaints(5));
  const auto disconnected = [&] {
    const std::vector<std::string> titles = rig.Titles();
    return !titles.empty() && titles.back() == texts::kTitleDisconnected;
  };
  EXPECT_FALSE(disconnected());
  const std::vector<std::string> titles = rig.Titles();
  EXPECT_EQ(std::count(titles.begin(), titles.end(), std::string(texts::kTitleDisconnected)), 0);
  EXPECT_TRUE(rig.station->TestRunning());

  rig.box->Unplug(sim::BoxFunction::Controller);
  EXPECT_TRUE(WaitUntil(disconnected, 3s));
}

}  // namespace
}  // namespace varnex2::station
