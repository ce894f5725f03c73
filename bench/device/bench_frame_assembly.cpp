// Cost of the receive callback alone: one frame's 58 reports fed straight into the link.

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstring>

#include "device/controller_link.h"
#include "platform/usb_port.h"

namespace {

using namespace varnex2;

// A port that accepts every resubmission and does nothing else.
class NullPort : public platform::UsbPort {
 public:
  int Init() override { return 0; }
  void Exit() override {}
  int Open(std::uint16_t, std::uint16_t) override { return -5; }
  bool IsOpen() const override { return false; }
  int GetDeviceDescriptor(platform::UsbDeviceDescriptor&) override { return -5; }
  int ClaimInterface(int) override { return 0; }
  int ReleaseInterface(int) override { return 0; }
  int GetStringDescriptorAscii(std::uint8_t, std::string&) override { return -5; }
  int InterruptWrite(std::uint8_t, std::span<const std::uint8_t>, int&, std::chrono::milliseconds) override {
    return -5;
  }
  int AllocInTransfer(std::uint8_t, std::size_t, platform::InTransferCallback) override { return 0; }
  int SubmitInTransfer() override { return 0; }
  int CancelInTransfer() override { return 0; }
  void FreeInTransfer() override {}
  int HandleEvents(std::chrono::milliseconds) override { return 0; }
  void InterruptEventHandling() override {}
  void Close() override {}
};

void BM_FrameReports(benchmark::State& state) {
  NullPort port;
  device::ControllerLink link(port);
  std::array<device::ControllerReport, 58> reports{};
  reports[0] = {0x01, 0xE1};
  for (int p = 1; p <= 56; ++p) {
    device::ControllerReport& r = reports[static_cast<std::size_t>(p)];
    r[0] = 0x02;
    r[1] = static_cast<std::uint8_t>(p);
    r[2] = 0x38;
    for (std::size_t i = 3; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i * p);
  }
  reports[57] = {0x01, 0xE2};
  for (auto _ : state) {
    for (const auto& r : reports) link.OnControllerReport(platform::TransferStatus::Completed, r);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 58);
}

}  // namespace

BENCHMARK(BM_FrameReports)->Unit(benchmark::kMicrosecond);
