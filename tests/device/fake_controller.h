#pragma once
// A small maXTouch-like controller behind a FakeUsbPort: a memory map with a correct information
// block, the 0x51 register protocol, frame streaming (start acknowledgement and page 1 on the
// start request, pages 2..56 and the end acknowledgement on the end request), a T44/T5 message
// queue, T6 commands, T25 self-test results and T37 diagnostic pages.

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "device/controller_link.h"
#include "device/controller_ops.h"
#include "fake_usb_port.h"

namespace varnex2::device::testing {

struct FakeObject {
  std::uint8_t type;
  std::uint16_t start;
  std::uint8_t size;
  std::uint8_t instances;
  std::uint8_t reportIds;
};

class FakeController {
 public:
  static constexpr std::uint16_t kT37 = 0x0200, kT44 = 0x0300, kT5 = 0x0310, kT6 = 0x0320, kT38 = 0x0330, kT7 = 0x0380,
                                 kT9 = 0x0390, kT15 = 0x03E0, kT22 = 0x03F0, kT25 = 0x0410, kT48 = 0x0420;
  static constexpr std::uint8_t kT5Size = 10, kT37Size = 130;

  explicit FakeController(FakeUsbPort& port, std::uint8_t x = 32, std::uint8_t y = 52) : memory(65536), port_(port) {
    objects = {
        {kT37Diagnostic, kT37, kT37Size, 1, 0},
        {kT44MessageCount, kT44, 1, 1, 0},
        {kT5MessageProcessor, kT5, kT5Size, 1, 0},
        {kT6CommandProcessor, kT6, 6, 1, 1},
        {kT38UserData, kT38, 64, 1, 0},
        {kT7Power, kT7, 4, 1, 0},
        {kT9Touchscreen, kT9, 36, 2, 10},
        {kT15KeyArray, kT15, 11, 1, 1},
        {kT22NoiseSuppression, kT22, 17, 1, 1},
        {kT25SelfTest, kT25, 14, 1, 1},
        {kT48NoiseSuppression, kT48, 10, 1, 1},
    };
    info = {0xA2, 0x00, 0x20, 0xAB, x, y, 0};
    BuildInfoBlock();
    frame.assign(static_cast<std::size_t>(x) * y, 0);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint16_t>(16000 + i);
    port_.onRequest = [this](const Report& r) { Handle(r); };
  }

  // Rewrites the information block and object table (with a matching checksum unless corrupt).
  void BuildInfoBlock(bool corrupt = false) {
    std::lock_guard lock(mutex_);
    info[6] = static_cast<std::uint8_t>(objects.size());
    std::vector<std::uint8_t> bytes(info.begin(), info.end());
    for (const FakeObject& o : objects) {
      bytes.insert(bytes.end(),
                   {o.type, static_cast<std::uint8_t>(o.start & 0xFF), static_cast<std::uint8_t>(o.start >> 8),
                    static_cast<std::uint8_t>(o.size - 1), static_cast<std::uint8_t>(o.instances - 1), o.reportIds});
    }
    std::uint32_t crc = InfoBlockChecksum(bytes);
    if (corrupt) crc ^= 1;
    bytes.push_back(static_cast<std::uint8_t>(crc));
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    bytes.push_back(static_cast<std::uint8_t>(crc >> 16));
    std::copy(bytes.begin(), bytes.end(), memory.begin());
    readOnlyEnd = static_cast<std::uint16_t>(bytes.size());
    // Report ids in table order: T6 1, T9 2..21, T15 22, T22 23, T25 24, T48 25.
    t25ReportId = 0;
    std::uint8_t id = 1;
    for (const FakeObject& o : objects) {
      if (o.type == kT25SelfTest && o.reportIds) t25ReportId = id;
      id = static_cast<std::uint8_t>(id + o.instances * o.reportIds);
    }
  }

  void QueueMessage(std::vector<std::uint8_t> m) {
    std::lock_guard lock(mutex_);
    m.resize(kT5Size - 1, 0);
    messages.push_back(m);
  }

  // Behaviour switches.
  bool answerRegisters = true;
  bool streamFrames = true;
  std::uint8_t readStatus = 0;
  std::uint8_t selfTestResult = 0xFE;
  std::uint8_t faultKind = 0, faultX = 0, faultY = 0;
  bool diagnosticStuck = false;
  int diagnosticWrongPage = -1;

  std::vector<std::uint8_t> memory;
  std::vector<FakeObject> objects;
  std::array<std::uint8_t, 7> info{};
  std::vector<std::uint16_t> frame;
  std::uint16_t readOnlyEnd = 0;
  std::uint8_t t25ReportId = 0;
  int resets = 0, backups = 0;
  std::deque<std::vector<std::uint8_t>> messages;

  static Report Page(const std::vector<std::uint16_t>& values, int page) {
    std::array<std::uint8_t, kFrameStreamBytes> stream{};
    for (std::size_t i = 0; i < values.size() && 2 * i + 1 < stream.size(); ++i) {
      stream[2 * i] = static_cast<std::uint8_t>(values[i]);
      stream[2 * i + 1] = static_cast<std::uint8_t>(values[i] >> 8);
    }
    Report r{};
    r[0] = 0x02;
    r[1] = static_cast<std::uint8_t>(page);
    r[2] = 0x38;
    PagePlacement place;
    if (FramePagePlacement(page, place))
      std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(place.streamOffset), place.length,
                  r.begin() + static_cast<std::ptrdiff_t>(place.sourceOffset));
    return r;
  }

 private:
  void Handle(const Report& req) {
    std::unique_lock lock(mutex_);
    if (req[0] != 0x01) return;
    if (req[1] == kCmdFrameStart) {
      if (!streamFrames) return;
      lock.unlock();
      port_.QueueIn(Report{0x01, kCmdFrameStart});
      port_.QueueIn(Page(frame, 1));
      return;
    }
    if (req[1] == kCmdFrameEnd) {
      if (!streamFrames) return;
      std::vector<std::uint16_t> values = frame;
      lock.unlock();
      for (int p = 2; p <= kFramePageCount; ++p) port_.QueueIn(Page(values, p));
      port_.QueueIn(Report{0x01, kCmdFrameEnd});
      return;
    }
    if (req[1] != kCmdRegister || !answerRegisters) return;
    const std::uint16_t address = static_cast<std::uint16_t>(req[4] | req[5] << 8);
    Report answer{};
    answer[0] = 0x01;
    if (req[2] == 0x02 && req[3] != 0) {  // read
      const std::size_t count = req[3];
      if (address == kT44) memory[kT44] = static_cast<std::uint8_t>(messages.size());
      if (address == kT5) {
        std::vector<std::uint8_t> m(kT5Size, 0xFF);
        if (!messages.empty()) {
          m = messages.front();
          messages.pop_front();
        }
        std::copy(m.begin(), m.end(), memory.begin() + kT5);
      }
      answer[1] = readStatus;
      answer[2] = static_cast<std::uint8_t>(count);
      for (std::size_t i = 0; i < count && 3 + i < answer.size(); ++i) answer[3 + i] = memory[(address + i) & 0xFFFF];
    } else {  // write
      const std::size_t count = req[2] - 2u;
      if (address < readOnlyEnd) {
        answer[1] = 0x01;  // refused
      } else {
        for (std::size_t i = 0; i < count; ++i) memory[(address + i) & 0xFFFF] = req[6 + i];
        answer[1] = kWriteAnswerOk;
        Effects(address, count);
        // A reset leaves the bus at once, as the box does: no answer that could reach the
        // reopened link.
        if (address <= kT6 && kT6 < address + count && memory[kT6] != 0) return;
      }
    }
    lock.unlock();
    port_.QueueIn(answer);
  }

  void Effects(std::uint16_t address, std::size_t count) {
    auto touched = [&](std::uint16_t at) { return at >= address && at < address + count; };
    if (touched(kT6)) ++resets;
    if (touched(kT6 + 1) && memory[kT6 + 1] == 0x55) ++backups;
    if (touched(kT25 + 1)) {
      std::vector<std::uint8_t> m{t25ReportId, selfTestResult, faultKind, faultX, faultY};
      m.resize(kT5Size - 1, 0);
      messages.push_back(m);
    }
    if (touched(kT6 + 5)) {
      const std::uint8_t cmd = memory[kT6 + 5];
      if (cmd == 0x01)
        ++diagPage_;
      else {
        diagPage_ = 0;
        diagCommand_ = cmd;
      }
      const int valuesPerPage = (kT37Size - 2) / 2;
      memory[kT37] = diagCommand_;
      memory[kT37 + 1] = static_cast<std::uint8_t>(diagPage_ == diagnosticWrongPage ? diagPage_ + 1 : diagPage_);
      for (int k = 0; k < valuesPerPage; ++k) {
        const std::size_t v = static_cast<std::size_t>(diagPage_ * valuesPerPage + k);
        const std::uint16_t value = v < frame.size() ? frame[v] : 0;
        memory[kT37 + 2 + 2 * k] = static_cast<std::uint8_t>(value);
        memory[kT37 + 3 + 2 * k] = static_cast<std::uint8_t>(value >> 8);
      }
      if (!diagnosticStuck) memory[kT6 + 5] = 0;
    }
  }

  FakeUsbPort& port_;
  std::mutex mutex_;
  int diagPage_ = 0;
  std::uint8_t diagCommand_ = 0;
};

}  // namespace varnex2::device::testing
