// Frame assembly and the receive callback fed arbitrary report sequences.
// Input: byte 0 and 1 choose the matrix (X, Y); then records of one selector byte and up to 64
// report bytes. A selector of 0xF9 or more makes a failed or cancelled transfer status.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/controller_link.h"
#include "device/controller_ops.h"
#include "sync_port.h"

using namespace varnex2;
using varnex2::device::fuzzing::SyncPort;

namespace {

std::vector<std::uint8_t> MemoryMap(std::uint8_t x, std::uint8_t y) {
  std::vector<std::uint8_t> m(4096, 0);
  const std::uint8_t head[] = {0xA2, 0x00, 0x20, 0xAB, x, y, 1};
  std::copy(std::begin(head), std::end(head), m.begin());
  const std::uint8_t t6[] = {6, 0x00, 0x02, 5, 0, 1};  // T6 at 0x200
  std::copy(std::begin(t6), std::end(t6), m.begin() + 7);
  const std::uint32_t crc = device::InfoBlockChecksum(std::span(m).first(13));
  m[13] = static_cast<std::uint8_t>(crc);
  m[14] = static_cast<std::uint8_t>(crc >> 8);
  m[15] = static_cast<std::uint8_t>(crc >> 16);
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::vector<std::uint8_t> memory = MemoryMap(data[0], data[1]);
  const std::span<const std::uint8_t> script(data + 2, size - 2);
  SyncPort port;
  device::ControllerLink link(port);
  int pages = 0;
  link.SetPageCallback([&](int, int) { ++pages; });
  link.SetLostCallback([](int) {});
  bool streamed = false;
  port.onRequest = [&](const SyncPort::Report& req) {
    if (req[1] == 0x51) {
      device::fuzzing::AnswerRegister(port, memory, req);
      return;
    }
    if (req[1] != 0xE1 || streamed) return;
    streamed = true;
    std::size_t i = 0;
    while (i < script.size()) {
      const std::uint8_t selector = script[i++];
      const std::size_t n = std::min<std::size_t>(64, script.size() - i);
      const auto report = script.subspan(i, n);
      i += n;
      platform::TransferStatus status = platform::TransferStatus::Completed;
      if (selector >= 0xF9) status = static_cast<platform::TransferStatus>(selector - 0xF9);  // 0..6
      port.Deliver(status, report);
      if (status != platform::TransferStatus::Completed) break;  // the transfer is not resubmitted
    }
    // Whatever came before, this ends any frame transfer.
    const std::uint8_t start[2] = {0x01, 0xE1};
    const std::uint8_t end[2] = {0x01, 0xE2};
    port.Deliver(platform::TransferStatus::Completed, start);
    port.Deliver(platform::TransferStatus::Completed, end);
  };
  if (link.OpenController() != 0) return 0;
  const int info = device::ReadInfoBlock(link, *link.Record());
  std::vector<std::uint16_t> frame(device::kMaxNodes);
  int x = 0, y = 0;
  if (info == 0 || info == device::kErrMatrixTooLarge) link.AcquireFrame(*link.Record(), frame, x, y, 0x20);
  link.CloseController();
  return 0;
}
