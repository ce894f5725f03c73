// The in-process seams over the simulated box: libusb, hidapi and device-monitor semantics.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sim/sim_ports.h"

namespace varnex2::sim {
namespace {

using namespace std::chrono_literals;
using platform::TransferStatus;

struct Completion {
  TransferStatus status;
  std::vector<std::uint8_t> data;
};

class SimUsbPort : public ::testing::Test {
 protected:
  void SetUp() override {
    SimBoxOptions o;
    o.resetDowntime = 100ms;
    box = std::make_shared<SimBox>(o);
    usb = CreateSimUsbPort(box);
    ASSERT_EQ(usb->Init(), 0);
    ASSERT_EQ(usb->Open(0x03EB, 0x212C), 0);
    ASSERT_EQ(usb->ClaimInterface(1), 0);
    ASSERT_EQ(usb->AllocInTransfer(0x81, 64,
                                   [this](TransferStatus s, std::span<const std::uint8_t> d) {
                                     std::lock_guard lk(m);
                                     completions.push_back({s, std::vector<std::uint8_t>(d.begin(), d.end())});
                                     if (s == TransferStatus::Completed && resubmit) usb->SubmitInTransfer();
                                   }),
              0);
  }

  int Write(std::vector<std::uint8_t> report) {
    report.resize(64, 0);
    int transferred = 0;
    const int r = usb->InterruptWrite(0x02, report, transferred, 200ms);
    if (r == 0) {
      EXPECT_EQ(transferred, 64);
    }
    return r;
  }

  std::vector<Completion> Taken() {
    std::lock_guard lk(m);
    return completions;
  }

  std::shared_ptr<SimBox> box;
  std::unique_ptr<platform::UsbPort> usb;
  std::mutex m;
  std::vector<Completion> completions;
  bool resubmit = false;
};

TEST_F(SimUsbPort, IdentityMatchesTheBox) {
  platform::UsbDeviceDescriptor d{};
  ASSERT_EQ(usb->GetDeviceDescriptor(d), 0);
  EXPECT_EQ(d[7], 64);  // bMaxPacketSize0
  EXPECT_EQ(d[8] | (d[9] << 8), 0x03EB);
  EXPECT_EQ(d[10] | (d[11] << 8), 0x212C);
  std::string s;
  EXPECT_EQ(usb->GetStringDescriptorAscii(d[14], s), 5);
  EXPECT_EQ(s, "Atmel");
  EXPECT_GT(usb->GetStringDescriptorAscii(d[15], s), 0);
  EXPECT_EQ(s, "Atmel maXTouch Control");
  EXPECT_LT(usb->GetStringDescriptorAscii(9, s), 0);
  EXPECT_EQ(usb->ClaimInterface(0), 0);  // both declared interfaces can be claimed
  EXPECT_EQ(usb->ReleaseInterface(0), 0);
  EXPECT_EQ(usb->ClaimInterface(2), platform::kUsbErrorNotFound);
}

// The configuration descriptor declares what it holds: bNumInterfaces interfaces numbered
// 0 and 1, each HID class with a HID descriptor whose report length is that interface's report
// descriptor, two interrupt endpoints, and the control interface's string.
TEST(SimBoxDescriptors, ConfigurationsDeclareTheirInterfacesConsistently) {
  for (const BoxFunction f : {BoxFunction::Controller, BoxFunction::Bridge}) {
    const auto config = SimBox::ConfigurationDescriptor(f);
    ASSERT_GE(config.size(), 9u);
    ASSERT_EQ(config.size(), static_cast<std::size_t>(config[2] | (config[3] << 8)));
    std::vector<int> numbers;
    std::vector<int> endpoints;
    int current = -1;
    for (std::size_t pos = 9; pos < config.size(); pos += config[pos]) {
      ASSERT_GE(config[pos], 2);
      ASSERT_LE(pos + config[pos], config.size());
      if (config[pos + 1] == 0x04) {
        current = config[pos + 2];
        numbers.push_back(current);
        EXPECT_EQ(config[pos + 5], 3) << "interface " << current << " is HID class";
        EXPECT_EQ(config[pos + 4], 2);
        if (f == BoxFunction::Controller) {
          std::string text;
          ASSERT_TRUE(SimBox::StringDescriptor(f, config[pos + 8], text));
          EXPECT_EQ(text, "Atmel maXTouch Control");
        }
      } else if (config[pos + 1] == 0x21) {
        EXPECT_EQ(static_cast<std::size_t>(config[pos + 7] | (config[pos + 8] << 8)),
                  SimBox::HidReportDescriptor(f, current).size());
      } else if (config[pos + 1] == 0x05) {
        endpoints.push_back(config[pos + 2]);
      }
    }
    EXPECT_EQ(static_cast<std::size_t>(config[4]), numbers.size());
    EXPECT_EQ(numbers, SimBox::InterfaceNumbers(f));
    if (f == BoxFunction::Controller) {
      EXPECT_EQ(numbers, (std::vector<int>{0, 1}));
      EXPECT_EQ(endpoints, (std::vector<int>{0x83, 0x04, 0x81, 0x02}));
      EXPECT_NE(SimBox::HidReportDescriptor(f, 0), SimBox::HidReportDescriptor(f, 1));
    } else {
      EXPECT_EQ(numbers, (std::vector<int>{0}));
    }
  }
}

TEST_F(SimUsbPort, OpenFailsForOtherIdsAndAnAbsentDevice) {
  auto other = CreateSimUsbPort(box);
  ASSERT_EQ(other->Init(), 0);
  EXPECT_EQ(other->Open(0x03EB, 0x2100), platform::kUsbErrorNotFound);
  box->Unplug(BoxFunction::Controller);
  EXPECT_EQ(other->Open(0x03EB, 0x212C), platform::kUsbErrorNotFound);
  EXPECT_FALSE(other->IsOpen());
}

TEST_F(SimUsbPort, InTransferCompletesWithEachReport) {
  ASSERT_EQ(usb->SubmitInTransfer(), 0);
  EXPECT_EQ(usb->SubmitInTransfer(), platform::kUsbErrorBusy);
  ASSERT_EQ(Write({0x01, 0x51, 0x02, 0x07, 0x00, 0x00}), 0);
  ASSERT_EQ(usb->HandleEvents(1000ms), 0);
  auto c = Taken();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].status, TransferStatus::Completed);
  ASSERT_EQ(c[0].data.size(), 64u);
  EXPECT_EQ(c[0].data[1], 0x00);
  EXPECT_EQ(c[0].data[3], 0xA2);
}

TEST_F(SimUsbPort, StreamedFrameArrivesThroughResubmittedTransfer) {
  resubmit = true;
  ASSERT_EQ(usb->SubmitInTransfer(), 0);
  ASSERT_EQ(Write({0x01, 0x51, 0x03, 0x00, static_cast<std::uint8_t>(box->CommandAddress() & 0xFF),
                   static_cast<std::uint8_t>(box->CommandAddress() >> 8), 0x20}),
            0);
  ASSERT_EQ(Write({0x01, 0xE1}), 0);
  ASSERT_EQ(Write({0x01, 0xE2}), 0);
  for (int i = 0; i < 100 && Taken().size() < 59; ++i) usb->HandleEvents(100ms);
  auto c = Taken();
  ASSERT_EQ(c.size(), 59u);  // write answer, start, 56 pages, end
  EXPECT_EQ(c[0].data[1], 0x04);
  EXPECT_EQ(c[1].data[1], 0xE1);
  for (int p = 1; p <= 56; ++p) EXPECT_EQ(c[static_cast<std::size_t>(1 + p)].data[1], p);
  EXPECT_EQ(c[58].data[1], 0xE2);
}

TEST_F(SimUsbPort, CancelCompletesWithCancelledOnTheEventThread) {
  EXPECT_EQ(usb->CancelInTransfer(), platform::kUsbErrorNotFound);
  ASSERT_EQ(usb->SubmitInTransfer(), 0);
  std::atomic<bool> returned{false};
  const auto start = std::chrono::steady_clock::now();
  std::thread events([&] {
    usb->HandleEvents(30s);
    returned = true;
  });
  std::this_thread::sleep_for(20ms);
  ASSERT_EQ(usb->CancelInTransfer(), 0);
  events.join();
  // Woken by the cancellation, not by the 30 s time-out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  auto c = Taken();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].status, TransferStatus::Cancelled);
  EXPECT_TRUE(c[0].data.empty());
  // The transfer can be submitted again afterwards.
  EXPECT_EQ(usb->SubmitInTransfer(), 0);
}

TEST_F(SimUsbPort, UnplugCompletesThePendingTransferWithNoDevice) {
  ASSERT_EQ(usb->SubmitInTransfer(), 0);
  std::thread events([&] { usb->HandleEvents(30s); });
  std::this_thread::sleep_for(20ms);
  box->Unplug(BoxFunction::Controller);
  events.join();
  auto c = Taken();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].status, TransferStatus::NoDevice);
  EXPECT_EQ(Write({0x01, 0xE1}), platform::kUsbErrorNoDevice);
  EXPECT_EQ(usb->SubmitInTransfer(), platform::kUsbErrorNoDevice);
  std::string s;
  EXPECT_EQ(usb->GetStringDescriptorAscii(1, s), platform::kUsbErrorNoDevice);
  // Plugged back, the old handle stays dead; a new open works.
  box->Plug(BoxFunction::Controller);
  EXPECT_EQ(Write({0x01, 0xE1}), platform::kUsbErrorNoDevice);
  usb->Close();
  EXPECT_EQ(usb->Open(0x03EB, 0x212C), 0);
  EXPECT_EQ(Write({0x01, 0xE1}), 0);
}

TEST_F(SimUsbPort, ResetWriteDropsTheDeviceAndItReturns) {
  ASSERT_EQ(usb->SubmitInTransfer(), 0);
  const std::uint16_t t6 = box->ObjectAddress(6);
  ASSERT_EQ(
      Write({0x01, 0x51, 0x03, 0x00, static_cast<std::uint8_t>(t6 & 0xFF), static_cast<std::uint8_t>(t6 >> 8), 1}), 0);
  usb->HandleEvents(1000ms);
  auto c = Taken();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].status, TransferStatus::NoDevice);
  usb->Close();
  int r = platform::kUsbErrorNotFound;
  for (int i = 0; i < 50 && r != 0; ++i) {
    std::this_thread::sleep_for(50ms);
    r = usb->Open(0x03EB, 0x212C);
  }
  EXPECT_EQ(r, 0);
}

TEST_F(SimUsbPort, HandleEventsWithoutWorkReturnsAfterItsTimeout) {
  EXPECT_EQ(usb->HandleEvents(10ms), 0);
  ASSERT_EQ(usb->SubmitInTransfer(), 0);
  EXPECT_EQ(usb->HandleEvents(10ms), 0);
  EXPECT_TRUE(Taken().empty());
}

TEST_F(SimUsbPort, CloseWakesTheEventThread) {
  ASSERT_EQ(usb->SubmitInTransfer(), 0);
  const auto start = std::chrono::steady_clock::now();
  std::thread events([&] { usb->HandleEvents(30s); });
  std::this_thread::sleep_for(20ms);
  usb->Close();
  events.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  EXPECT_FALSE(usb->IsOpen());
}

TEST(SimHidPort, EnumerateOpenReadWriteFollowPresence) {
  auto box = std::make_shared<SimBox>();
  auto hid = CreateSimHidPort(box);
  auto list = hid->Enumerate(0x04B4, 0xE006);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].manufacturer, u"VarnexTestBox01");
  EXPECT_EQ(list[0].product, u"ZorvatBridgeV4");
  EXPECT_TRUE(hid->Enumerate(0x03EB, 0x212C).empty());
  ASSERT_EQ(hid->Open(list[0].path), 0);
  EXPECT_LT(hid->Open("/dev/nothing"), 0);
  ASSERT_EQ(hid->Open(list[0].path), 0);

  std::array<std::uint8_t, 65> report{};
  EXPECT_EQ(hid->Read(report, 5ms), 0);  // nothing to read
  report[1] = 0xAA;
  report[2] = 0x55;
  report[3] = 0x24;  // read output block
  EXPECT_EQ(hid->Write(report), 65);
  std::array<std::uint8_t, 65> in{};
  EXPECT_EQ(hid->Read(in, 1000ms), 65);
  EXPECT_EQ(in[0], 0);

  box->Unplug(BoxFunction::Bridge);
  EXPECT_TRUE(hid->Enumerate(0x04B4, 0xE006).empty());
  EXPECT_LT(hid->Write(report), 0);
  EXPECT_LT(hid->Read(in, 5ms), 0);
  box->Plug(BoxFunction::Bridge);
  EXPECT_LT(hid->Write(report), 0);  // the old handle stays dead
  hid->Close();
  EXPECT_FALSE(hid->IsOpen());
}

TEST(SimHidPort, ReopenDiscardsReportsNobodyRead) {
  auto box = std::make_shared<SimBox>();
  auto hid = CreateSimHidPort(box);
  const std::string path = SimBox::InterfacePath(BoxFunction::Bridge, 0);
  ASSERT_EQ(hid->Open(path), 0);
  std::array<std::uint8_t, 65> report{};
  report[1] = 0xAA;
  report[2] = 0x55;
  report[3] = 0x24;
  ASSERT_EQ(hid->Write(report), 65);  // an answer is now queued, never read
  hid->Close();
  ASSERT_EQ(hid->Open(path), 0);
  std::array<std::uint8_t, 65> in{};
  EXPECT_EQ(hid->Read(in, 5ms), 0);
}

TEST(SimHidPort, CloseWakesABlockedRead) {
  auto box = std::make_shared<SimBox>();
  auto hid = CreateSimHidPort(box);
  ASSERT_EQ(hid->Open(SimBox::InterfacePath(BoxFunction::Bridge, 0)), 0);
  std::atomic<int> result{1};
  std::thread reader([&] {
    std::array<std::uint8_t, 65> in{};
    result = hid->Read(in, std::chrono::milliseconds(-1));
  });
  std::this_thread::sleep_for(20ms);
  hid->Close();
  reader.join();
  EXPECT_LT(result, 0);
}

class EventLog {
 public:
  void Add(const platform::DeviceEvent& e) {
    std::lock_guard lk(m_);
    events_.push_back(e);
    cv_.notify_all();
  }
  bool WaitFor(std::size_t n) {
    std::unique_lock lk(m_);
    return cv_.wait_for(lk, 5s, [&] { return events_.size() >= n; });
  }
  std::vector<platform::DeviceEvent> Events() {
    std::lock_guard lk(m_);
    return events_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<platform::DeviceEvent> events_;
};

TEST(SimDeviceMonitor, ReportsInterfacesWithWindowsStylePaths) {
  auto box = std::make_shared<SimBox>();
  auto monitor = CreateSimDeviceMonitor(box);
  EventLog log;
  ASSERT_EQ(monitor->Start([&](const platform::DeviceEvent& e) { log.Add(e); }), 0);
  EXPECT_NE(monitor->Start([](const platform::DeviceEvent&) {}), 0);
  box->Unplug(BoxFunction::Controller);
  box->Unplug(BoxFunction::Bridge);
  box->Plug(BoxFunction::Bridge);
  ASSERT_TRUE(log.WaitFor(4));
  auto e = log.Events();
  EXPECT_EQ(e[0].kind, platform::DeviceEventKind::Removal);
  EXPECT_EQ(e[0].vendorId, 0x03EB);
  EXPECT_EQ(e[0].interfaceNumber, 1);
  EXPECT_EQ(e[0].interfacePath.rfind("\\\\?\\HID#VID_03EB&PID_212C&MI_01&COL01#", 0), 0u) << e[0].interfacePath;
  EXPECT_EQ(e[1].interfaceNumber, 0);
  EXPECT_NE(e[1].interfacePath.find("&MI_00#"), std::string::npos);
  EXPECT_EQ(e[1].interfacePath.find("COL01"), std::string::npos);
  EXPECT_EQ(e[2].kind, platform::DeviceEventKind::Removal);
  EXPECT_EQ(e[2].interfacePath.rfind("\\\\?\\HID#VID_04B4&PID_E006#", 0), 0u);
  EXPECT_EQ(e[3].kind, platform::DeviceEventKind::Arrival);
  EXPECT_EQ(e[3].productId, 0xE006);
  for (const auto& ev : e) {
    EXPECT_NE(ev.interfacePath.find("{4d1e55b2-f16f-11cf-88cb-001111000030}"), std::string::npos);
  }

  monitor->Stop();
  box->Plug(BoxFunction::Controller);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(log.Events().size(), 4u);  // nothing after Stop
}

TEST(SimDeviceMonitor, StopFromTheCallbackEndsDeliveryAndAllowsARestart) {
  auto box = std::make_shared<SimBox>();
  auto monitor = CreateSimDeviceMonitor(box);
  EventLog log;
  ASSERT_EQ(monitor->Start([&](const platform::DeviceEvent& e) {
    log.Add(e);
    monitor->Stop();
  }),
            0);
  box->Unplug(BoxFunction::Controller);
  ASSERT_TRUE(log.WaitFor(1));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(log.Events().size(), 1u);
  EventLog second;
  ASSERT_EQ(monitor->Start([&](const platform::DeviceEvent& e) { second.Add(e); }), 0);
  box->Plug(BoxFunction::Controller);
  ASSERT_TRUE(second.WaitFor(2));
  EXPECT_EQ(second.Events()[0].kind, platform::DeviceEventKind::Arrival);
  monitor->Stop();
}

}  // namespace
}  // namespace varnex2::sim
