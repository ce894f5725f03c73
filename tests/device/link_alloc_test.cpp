// The link's receive path allocates nothing per report. Global operator new is replaced in this
// executable and counts allocations made while a thread is inside the IN-transfer callback.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "device/controller_link.h"
#include "device/controller_ops.h"
#include "fake_controller.h"
#include "fake_usb_port.h"
#include "forwarding_usb_port.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"

namespace {
thread_local bool tCounting = false;
std::atomic<long> gAllocations{0};
}  // namespace

void* operator new(std::size_t n) {
  if (tCounting) ++gAllocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace varnex2::device {
namespace {

using platform::TransferStatus;
using testing::FakeController;
using testing::Report;

// A port decorator that marks the time spent inside the link's callback.
class CountingPort : public testing::ForwardingUsbPort {
 public:
  explicit CountingPort(platform::UsbPort& inner) : ForwardingUsbPort(inner) {}
  int AllocInTransfer(std::uint8_t e, std::size_t n, platform::InTransferCallback cb) override {
    callback_ = std::move(cb);
    return Inner().AllocInTransfer(e, n, [this](TransferStatus s, std::span<const std::uint8_t> d) {
      tCounting = true;
      callback_(s, d);
      tCounting = false;
      ++calls;
    });
  }

  std::atomic<long> calls{0};

 private:
  platform::InTransferCallback callback_;
};

TEST(LinkAllocations, NoneInTheCallbackWithTheSimulatedBox) {
  auto box = std::make_shared<sim::SimBox>();
  auto inner = sim::CreateSimUsbPort(box);
  CountingPort port(*inner);
  ControllerLink link(port);
  std::atomic<int> pages{0};
  link.SetPageCallback([&](int, int) { ++pages; });
  ASSERT_EQ(link.OpenController(), 0);
  ASSERT_EQ(ReadInfoBlock(link, *link.Record()), 0);
  std::vector<std::uint16_t> frame(kMaxNodes);
  int x = 0, y = 0;
  ASSERT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), 0);  // warm-up
  gAllocations = 0;
  const long before = port.calls;
  for (int i = 0; i < 20; ++i) ASSERT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), 0);
  std::vector<std::uint8_t> regs(200);
  ASSERT_EQ(link.ReadRegisters(0, regs), 0);
  EXPECT_GE(port.calls - before, 20 * 58);
  EXPECT_EQ(gAllocations.load(), 0);
  link.CloseController();
}

TEST(LinkAllocations, NoneForAnyKindOfReport) {
  testing::FakeUsbPort port;
  ControllerLink link(port);
  link.SetLostCallback([](int) {});
  Report page = FakeController::Page(std::vector<std::uint16_t>(kMaxNodes, 7), 1);
  port.SubmitInTransfer();  // the fake's own bookkeeping allocates on first use
  tCounting = true;
  gAllocations = 0;
  for (int round = 0; round < 3; ++round) {
    link.OnControllerReport(TransferStatus::Completed, Report{});
    link.OnControllerReport(TransferStatus::Completed, Report{0x01, 0xE1});
    for (int p = 1; p <= 60; ++p) {
      page[1] = static_cast<std::uint8_t>(p);
      link.OnControllerReport(TransferStatus::Completed, page);
    }
    link.OnControllerReport(TransferStatus::Completed, Report{0x01, 0xE2});
    link.OnControllerReport(TransferStatus::Completed, Report{0x01, 0x00, 0x02, 1, 2});
    link.OnControllerReport(TransferStatus::Completed, std::span<const std::uint8_t>(page.data(), 3));
  }
  link.OnControllerReport(TransferStatus::Cancelled, {});
  link.OnControllerReport(TransferStatus::NoDevice, {});
  tCounting = false;
  EXPECT_EQ(gAllocations.load(), 0);
}

}  // namespace
}  // namespace varnex2::device
