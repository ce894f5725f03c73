// The libusb back-end and the udev monitor against the simulated box's umockdev devices.

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/device_monitor.h"
#include "platform/interface_path.h"
#include "platform/usb_port.h"
#include "sim/box_identity.h"
#include "test_umockdev_support.h"

namespace varnex2::sim {
namespace {

using namespace std::chrono_literals;
using platform::TransferStatus;
using testing::WaitQueue;

struct InReport {
  TransferStatus status = TransferStatus::Completed;
  std::vector<std::uint8_t> data;
};

class UmockdevUsb : public ::testing::Test {
 public:
  void SetUp() override {
    box_ = std::make_shared<SimBox>(options_);
    testbed_ = testing::MakeTestbed(box_);
    ASSERT_NE(testbed_, nullptr);
    port_ = platform::CreateLibusbPort();
    ASSERT_EQ(port_->Init(), 0);
  }

  void TearDown() override {
    StopEvents();
    if (port_) {
      port_->Close();
      port_->FreeInTransfer();
      port_->Exit();
    }
    port_.reset();
    testbed_.reset();
  }

  void OpenAndClaim() {
    ASSERT_EQ(port_->Open(kControllerVendorId, kControllerProductId), 0);
    ASSERT_EQ(port_->ClaimInterface(kControllerInterface), 0);
  }

  // The IN transfer kept submitted, and an event thread, as the controller link runs them.
  void StartReception(std::function<void(const InReport&)> onReport = nullptr) {
    onReport_ = std::move(onReport);
    ASSERT_EQ(port_->AllocInTransfer(kControllerInEndpoint, 64,
                                     [this](TransferStatus status, std::span<const std::uint8_t> data) {
                                       InReport r{status, {data.begin(), data.end()}};
                                       if (onReport_) onReport_(r);
                                       received_.Push(r);
                                       if (status == TransferStatus::Completed) port_->SubmitInTransfer();
                                     }),
              0);
    ASSERT_EQ(port_->SubmitInTransfer(), 0);
    stop_ = false;
    events_ = std::thread([this] {
      while (!stop_) {
        if (port_->HandleEvents(100ms) < 0) break;
      }
    });
  }

  void StopEvents() {
    stop_ = true;
    if (events_.joinable()) events_.join();
  }

  int Send(std::vector<std::uint8_t> request) {
    request.resize(64, 0);
    int transferred = 0;
    const int rc = port_->InterruptWrite(kControllerOutEndpoint, request, transferred, 200ms);
    if (rc == 0 && transferred != 64) return -1;
    return rc;
  }

  // The next non-zero report, or an empty one after the wait.
  InReport NextReport(std::chrono::milliseconds wait = 2000ms) {
    InReport r;
    const auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      if (!received_.Pop(r, 100ms)) continue;
      if (r.status != TransferStatus::Completed) return r;
      bool zero = true;
      for (auto b : r.data) zero = zero && b == 0;
      if (!zero) return r;
    }
    return {TransferStatus::TimedOut, {}};
  }

  SimBoxOptions options_;
  std::shared_ptr<SimBox> box_;
  std::unique_ptr<UmockdevBox> testbed_;
  std::unique_ptr<platform::UsbPort> port_;
  WaitQueue<InReport> received_;
  std::function<void(const InReport&)> onReport_;
  std::atomic<bool> stop_{false};
  std::thread events_;
};

TEST_F(UmockdevUsb, OpensByIdsAndReadsDescriptorStringsAndClaims) {
  EXPECT_EQ(port_->Open(0x1234, 0x5678), platform::kUsbErrorNotFound);
  EXPECT_FALSE(port_->IsOpen());
  ASSERT_EQ(port_->Open(kControllerVendorId, kControllerProductId), 0);
  EXPECT_TRUE(port_->IsOpen());

  platform::UsbDeviceDescriptor d{};
  ASSERT_EQ(port_->GetDeviceDescriptor(d), 0);
  EXPECT_EQ(d, SimBox::DeviceDescriptor(BoxFunction::Controller));
  EXPECT_EQ(d[7], 64);  // report size bound

  std::string text;
  EXPECT_EQ(port_->GetStringDescriptorAscii(1, text), static_cast<int>(kControllerManufacturer.size()));
  EXPECT_EQ(text, kControllerManufacturer);
  EXPECT_EQ(port_->GetStringDescriptorAscii(2, text), static_cast<int>(kControllerProduct.size()));
  EXPECT_EQ(text, kControllerProduct);
  EXPECT_LT(port_->GetStringDescriptorAscii(9, text), 0);  // no such string: a stall

  EXPECT_EQ(port_->ClaimInterface(kControllerInterface), 0);
  // Claims detach a kernel driver first (DISCONNECT_CLAIM); for an unknown interface the
  // kernel answers EINVAL, which libusb reports as an invalid parameter.
  EXPECT_EQ(port_->ClaimInterface(7), platform::kUsbErrorInvalidParam);
  EXPECT_EQ(port_->ReleaseInterface(kControllerInterface), 0);
  port_->Close();
  EXPECT_FALSE(port_->IsOpen());
}

TEST_F(UmockdevUsb, RegisterReadOfTheInformationBlock) {
  OpenAndClaim();
  StartReception();
  ASSERT_EQ(Send({0x01, 0x51, 0x02, 7, 0x00, 0x00}), 0);
  const InReport answer = NextReport();
  ASSERT_EQ(answer.status, TransferStatus::Completed);
  ASSERT_EQ(answer.data.size(), 64u);
  EXPECT_EQ(answer.data[1], 0);  // status: success
  const auto expected = box_->ReadMemory(0, 7);
  ASSERT_EQ(expected.size(), 7u);
  EXPECT_EQ(std::vector<std::uint8_t>(answer.data.begin() + 3, answer.data.begin() + 10), expected);
  EXPECT_EQ(answer.data[0 + 3], 0xA2);  // family id of the default controller
}

// One frame as the controller link acquires it: mode byte, start request, 56 pages, and the end
// request sent from the completion callback after page 1.
void RunFullFrame(UmockdevUsb& t);

TEST_F(UmockdevUsb, FullFrameWithTheEndRequestSentFromTheCallback) { RunFullFrame(*this); }

class UmockdevUsbPaced : public UmockdevUsb {
 protected:
  UmockdevUsbPaced() { options_.paced = true; }  // one report per millisecond each way
};

TEST_F(UmockdevUsbPaced, FullFrameAtEndpointPace) { RunFullFrame(*this); }

TEST_F(UmockdevUsb, UnplugEndsThePendingTransferWithNoDevice) {
  OpenAndClaim();
  StartReception();
  std::this_thread::sleep_for(50ms);  // the IN transfer is waiting inside the device
  box_->Unplug(BoxFunction::Controller);
  const InReport r = NextReport();
  EXPECT_EQ(r.status, TransferStatus::NoDevice);
  int transferred = 0;
  std::array<std::uint8_t, 64> request{0x01, 0x51, 0x02, 7};
  EXPECT_EQ(port_->InterruptWrite(kControllerOutEndpoint, request, transferred, 200ms), platform::kUsbErrorNoDevice);
}

TEST_F(UmockdevUsb, CancelEndsThePendingTransferWithCancelled) {
  OpenAndClaim();
  StartReception();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(port_->CancelInTransfer(), 0);
  EXPECT_EQ(NextReport().status, TransferStatus::Cancelled);
  // Not resubmitted after the cancel: a second cancel finds nothing in flight.
  EXPECT_NE(port_->CancelInTransfer(), 0);
  EXPECT_EQ(port_->SubmitInTransfer(), 0);  // and it can be submitted again
  ASSERT_EQ(Send({0x01, 0x51, 0x02, 7, 0x00, 0x00}), 0);
  EXPECT_EQ(NextReport().status, TransferStatus::Completed);
}

TEST_F(UmockdevUsb, ReopensAfterReplug) {
  box_->Unplug(BoxFunction::Controller);
  EXPECT_EQ(port_->Open(kControllerVendorId, kControllerProductId), platform::kUsbErrorNotFound);
  box_->Plug(BoxFunction::Controller);
  std::this_thread::sleep_for(100ms);  // libusb learns of the device through its hotplug thread
  OpenAndClaim();
  StartReception();
  ASSERT_EQ(Send({0x01, 0x51, 0x02, 7, 0x00, 0x00}), 0);
  const InReport answer = NextReport();
  ASSERT_EQ(answer.status, TransferStatus::Completed);
  EXPECT_EQ(answer.data[3], 0xA2);
}

class UmockdevUsbReset : public UmockdevUsb {
 protected:
  UmockdevUsbReset() { options_.resetDowntime = std::chrono::milliseconds(200); }
};

// A T6 reset drops the controller off the bus from inside the request that asked for it.
TEST_F(UmockdevUsbReset, ResetCommandDropsTheDeviceAndItComesBack) {
  OpenAndClaim();
  StartReception();
  const std::uint16_t t6 = box_->ObjectAddress(6);
  ASSERT_NE(t6, 0);
  ASSERT_EQ(
      Send({0x01, 0x51, 0x03, 0x00, static_cast<std::uint8_t>(t6 & 0xFF), static_cast<std::uint8_t>(t6 >> 8), 0x01}),
      0);
  InReport r;
  do {
    r = NextReport();
  } while (r.status == TransferStatus::Completed);
  EXPECT_EQ(r.status, TransferStatus::NoDevice);
  EXPECT_EQ(box_->ResetCount(), 1u);
  StopEvents();
  port_->Close();

  for (int i = 0; i < 50 && !box_->IsPresent(BoxFunction::Controller); ++i) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(box_->IsPresent(BoxFunction::Controller));
  std::this_thread::sleep_for(100ms);  // libusb's hotplug thread adds the device
  OpenAndClaim();
  StartReception();
  ASSERT_EQ(Send({0x01, 0x51, 0x02, 7, 0x00, 0x00}), 0);
  r = NextReport();
  ASSERT_EQ(r.status, TransferStatus::Completed);
  EXPECT_EQ(r.data[3], 0xA2);
}

void RunFullFrame(UmockdevUsb& t) {
  t.OpenAndClaim();
  // The end request goes out from the completion callback, as the controller link does it.
  t.StartReception([&t](const InReport& r) {
    if (r.status == TransferStatus::Completed && r.data.size() == 64 && r.data[0] == 0x02 && r.data[1] == 1 &&
        r.data[2] == 0x38) {
      std::array<std::uint8_t, 64> end{0x01, 0xE2};
      EXPECT_EQ(t.port_->InterruptWriteAsync(kControllerOutEndpoint, end), 0);
    }
  });
  const std::uint16_t address = t.box_->CommandAddress();
  ASSERT_NE(address, 0);
  ASSERT_EQ(t.Send({0x01, 0x51, 0x03, 0x00, static_cast<std::uint8_t>(address & 0xFF),
                    static_cast<std::uint8_t>(address >> 8), 0x20}),
            0);
  InReport r = t.NextReport();
  ASSERT_EQ(r.status, TransferStatus::Completed);
  EXPECT_EQ(r.data[1], 4);  // write status: success
  ASSERT_EQ(t.Send({0x01, 0xE1}), 0);

  r = t.NextReport();
  ASSERT_EQ(r.status, TransferStatus::Completed);
  EXPECT_EQ(r.data[0], 0x01);
  EXPECT_EQ(r.data[1], 0xE1);
  std::vector<int> pages;
  bool ended = false;
  while (!ended) {
    r = t.NextReport();
    ASSERT_EQ(r.status, TransferStatus::Completed) << "after " << pages.size() << " pages";
    if (r.data[0] == 0x02 && r.data[2] == 0x38) {
      pages.push_back(r.data[1]);
    } else if (r.data[0] == 0x01 && r.data[1] == 0xE2) {
      ended = true;
    } else {
      ADD_FAILURE() << "unexpected report " << int(r.data[0]) << " " << int(r.data[1]);
      break;
    }
  }
  ASSERT_EQ(pages.size(), 56u);
  for (int p = 1; p <= 56; ++p) EXPECT_EQ(pages[static_cast<std::size_t>(p - 1)], p);
}

TEST(UmockdevHotplug, MonitorReportsControllerAndBridgeArrivalAndRemoval) {
  auto box = std::make_shared<SimBox>();
  auto testbed = testing::MakeTestbed(box);
  ASSERT_NE(testbed, nullptr);
  WaitQueue<platform::DeviceEvent> events;
  auto monitor = platform::CreateUdevMonitor();
  ASSERT_EQ(monitor->Start([&](const platform::DeviceEvent& e) { events.Push(e); }), 0);
  // The testbed's own arrivals may still reach a monitor started just after it;
  // only the events of the unplugs and plugs below are the test's.
  for (platform::DeviceEvent early; events.Pop(early, 300ms);) {
  }

  auto expectBridge = [&](platform::DeviceEventKind kind) {
    platform::DeviceEvent e;
    ASSERT_TRUE(events.Pop(e)) << "bridge";
    EXPECT_EQ(e.kind, kind);
    const auto c = platform::ClassifyInterfacePath(e.interfacePath);
    EXPECT_TRUE(c.bridge) << e.interfacePath;
    EXPECT_FALSE(c.controllerMain || c.IsControllerOther()) << e.interfacePath;
  };
  // The controller as a real host shows it: the USB device (the main function) and the hidraw
  // nodes of its two HID interfaces (MI_00, MI_01), which arrive after the device. At an unplug
  // they leave first; the monitor may take such a removal handled while the interface is still
  // in sysfs for a driver detach and leave it out, so only the device's removal is certain.
  auto expectController = [&](platform::DeviceEventKind kind) {
    std::vector<std::string> order;
    while (order.empty() || order.back() != "main" ||
           (kind == platform::DeviceEventKind::Arrival && order.size() < 3)) {
      platform::DeviceEvent e;
      ASSERT_TRUE(events.Pop(e)) << "controller event " << order.size();
      EXPECT_EQ(e.kind, kind);
      const auto c = platform::ClassifyInterfacePath(e.interfacePath);
      EXPECT_FALSE(c.bridge) << e.interfacePath;
      if (c.controllerMain) {
        order.push_back("main");
      } else if (c.otherMatched[1]) {
        order.push_back("MI_00");
      } else if (c.otherMatched[2]) {
        order.push_back("MI_01");
      } else {
        order.push_back(e.interfacePath);
      }
      if (order.size() > 3) break;
      if (kind == platform::DeviceEventKind::Arrival && order.size() == 3) break;
    }
    if (kind == platform::DeviceEventKind::Removal) {
      ASSERT_FALSE(order.empty());
      EXPECT_EQ(order.back(), "main");
      for (std::size_t n = 0; n + 1 < order.size(); ++n)
        EXPECT_TRUE(order[n] == "MI_00" || order[n] == "MI_01") << order[n];
    } else {
      EXPECT_EQ(order, (std::vector<std::string>{"main", "MI_00", "MI_01"}));
    }
  };

  box->Unplug(BoxFunction::Controller);
  expectController(platform::DeviceEventKind::Removal);
  box->Plug(BoxFunction::Controller);
  expectController(platform::DeviceEventKind::Arrival);
  box->Unplug(BoxFunction::Bridge);
  expectBridge(platform::DeviceEventKind::Removal);
  box->Plug(BoxFunction::Bridge);
  expectBridge(platform::DeviceEventKind::Arrival);

  monitor->Stop();
  platform::DeviceEvent extra;
  EXPECT_FALSE(events.Pop(extra, 100ms)) << extra.interfacePath;
}

// A monitor that falls behind handles the bridge's remove events after its sysfs entries are
// gone; the USB device node, whose interfaces can then no longer be read, must not pass for a
// second device leaving.
TEST(UmockdevHotplug, LateHandledBridgeRemovalIsReportedOnce) {
  auto box = std::make_shared<SimBox>();
  auto testbed = testing::MakeTestbed(box);
  ASSERT_NE(testbed, nullptr);
  WaitQueue<platform::DeviceEvent> events;
  std::mutex gateMutex;
  std::condition_variable gateCv;
  bool held = false;
  auto monitor = platform::CreateUdevMonitor();
  ASSERT_EQ(monitor->Start([&](const platform::DeviceEvent& e) {
    std::unique_lock lock(gateMutex);
    gateCv.wait_for(lock, 5s, [&] { return !held; });
    events.Push(e);
  }),
            0);
  for (platform::DeviceEvent early; events.Pop(early, 300ms);) {
  }

  {
    std::lock_guard lock(gateMutex);
    held = true;
  }
  box->Unplug(BoxFunction::Bridge);  // returns with the uevents sent and sysfs removed
  std::this_thread::sleep_for(100ms);
  {
    std::lock_guard lock(gateMutex);
    held = false;
  }
  gateCv.notify_all();

  platform::DeviceEvent e;
  ASSERT_TRUE(events.Pop(e));
  EXPECT_EQ(e.kind, platform::DeviceEventKind::Removal);
  EXPECT_TRUE(platform::ClassifyInterfacePath(e.interfacePath).bridge) << e.interfacePath;
  platform::DeviceEvent extra;
  EXPECT_FALSE(events.Pop(extra, 500ms)) << extra.interfacePath;
  monitor->Stop();
}

}  // namespace
}  // namespace varnex2::sim
