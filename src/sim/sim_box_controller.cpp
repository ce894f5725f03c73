// The simulated controller (see sim_box_impl.h): power-up from the store, the 0x51 register
// protocol over the memory map, the message FIFO read through T5 and T44, the T6 command
// processor (reset, backup, calibrate, report-all, diagnostic pages into T37), the T25
// self-test, T9 touch messages, and frame streaming (start and end acknowledgements around the
// pages). It is the largest part of the model, so it has a file of its own.

#include <algorithm>
#include <cstring>

#include "sim/sim_box_impl.h"

namespace varnex2::sim {

using namespace sim_box_detail;

// ---------------------------------------------------------------- controller model
// mutex held.
void SimBox::Impl::PowerUpController() {
  memory = ControllerMemory(options.variant);
  for (const auto& o : memory.Objects()) {
    if (!o.persistent) continue;
    for (int i = 0; i < o.instances; ++i) {
      auto it = nv.objects.find({o.type, i});
      if (it != nv.objects.end() && it->second.size() == o.size) {
        auto obj = memory.Object(o.type, i);
        std::copy(it->second.begin(), it->second.end(), obj.begin());
      }
    }
  }
  messageHead = messageCount = 0;
  touchReporter.Reset();
  streaming = false;
  streamMode = 0x20;
  diagMode = 0;
  diagPage = 0;
  lastSelfTest = {kTestPassed, 0, 0, 0};
  UpdateMessageCount();
  // The command processor reports the reset with the configuration checksum.
  PushCommandStatus(kT6StatusReset);
}

// ---------------------------------------------------------------- T6 messages
// T6 message: status, then the configuration checksum (24 bits, low byte first).
void SimBox::Impl::PushCommandStatus(std::uint8_t status) {
  const std::uint32_t crc = memory.ConfigurationChecksum();
  PushMessage(kT6, {status, static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>((crc >> 8) & 0xFF),
                    static_cast<std::uint8_t>((crc >> 16) & 0xFF)});
}

// CALIBRATE: calibration starts (CAL set) and, the model's references being ready at once,
// ends (CAL cleared).
void SimBox::Impl::Calibrate() {
  PushCommandStatus(kT6StatusCalibrating);
  PushCommandStatus(0x00);
}

// REPORTALL: T6 reports its status and checksum; every other object with report ids reports
// its current state, per instance, when the instance is enabled with reporting on.
void SimBox::Impl::ReportAll() {
  for (const auto& o : memory.Objects()) {
    if (o.firstReportId == 0) continue;
    if (o.type == kT6) {
      PushCommandStatus(0x00);
      continue;
    }
    for (int i = 0; i < o.instances; ++i) {
      auto obj = memory.Object(o.type, i);
      constexpr std::uint8_t kReporting = kObjectEnable | kReportEnable;
      if (obj.empty() || (obj[0] & kReporting) != kReporting) continue;
      if (o.type == kT25) {
        PushMessage(kT25, {lastSelfTest[0], lastSelfTest[1], lastSelfTest[2], lastSelfTest[3]}, i);
        continue;
      }
      // One message per report id with a status of 0: touch slots without a finger, keys
      // released, noise suppression idle.
      for (int slot = 0; slot < o.reportIds; ++slot) PushMessageWithId(o, i, slot, {0x00});
    }
  }
}

void SimBox::Impl::PushMessageWithId(const ObjectInfo& o, int instance, int slot,
                                     std::initializer_list<std::uint8_t> data) {
  if (o.firstReportId == 0 || slot < 0 || slot >= o.reportIds) return;
  PushMessageBytes(static_cast<std::uint8_t>(o.firstReportId + instance * o.reportIds + slot), data);
}

void SimBox::Impl::UpdateMessageCount() {
  auto t44 = memory.Object(kT44);
  if (!t44.empty()) t44[0] = static_cast<std::uint8_t>(std::min<std::size_t>(messageCount, 255));
}

void SimBox::Impl::PushMessage(std::uint8_t type, std::initializer_list<std::uint8_t> data, int instance) {
  const ObjectInfo* o = memory.Find(type);
  if (!o || o->firstReportId == 0) return;
  PushMessageBytes(static_cast<std::uint8_t>(o->firstReportId + instance * o->reportIds), data);
}

void SimBox::Impl::PushMessageBytes(std::uint8_t reportId, std::initializer_list<std::uint8_t> data) {
  if (messageCount == kMessageCapacity) {
    messageHead = (messageHead + 1) % kMessageCapacity;
    --messageCount;
  }
  Message& m = messages[(messageHead + messageCount) % kMessageCapacity];
  m.bytes.fill(0);
  m.bytes[0] = reportId;
  std::size_t i = 1;
  for (auto b : data) {
    if (i < m.bytes.size()) m.bytes[i++] = b;
  }
  ++messageCount;
  UpdateMessageCount();
}

// A message of a given report id (T9 touches: one id per touch).
void SimBox::Impl::QueueMessage(std::uint8_t reportId, std::span<const std::uint8_t> data) {
  if (messageCount == kMessageCapacity) {
    messageHead = (messageHead + 1) % kMessageCapacity;
    --messageCount;
  }
  Message& m = messages[(messageHead + messageCount) % kMessageCapacity];
  m.bytes.fill(0);
  m.bytes[0] = reportId;
  std::copy_n(data.begin(), std::min(data.size(), m.bytes.size() - 1), m.bytes.begin() + 1);
  ++messageCount;
  UpdateMessageCount();
}

// The acquisition cycles since the last scan turn finger changes into T9 messages; the
// controller runs them when the host looks at its messages and when the panel changes.
// mutex held.
void SimBox::Impl::ScanTouches() {
  if (controllerSession == 0) return;
  TouchSink sink(*this);
  touchReporter.Scan(memory, panel, Clock::now(), sink);
}

void SimBox::Impl::PopMessageIntoT5() {
  auto t5 = memory.Object(kT5);
  std::fill(t5.begin(), t5.end(), 0);
  if (messageCount == 0) {
    t5[0] = 0xFF;
    return;
  }
  const Message& m = messages[messageHead];
  std::copy_n(m.bytes.begin(), std::min(t5.size(), m.bytes.size()), t5.begin());
  messageHead = (messageHead + 1) % kMessageCapacity;
  --messageCount;
}

bool SimBox::Impl::Covers(std::uint32_t address, std::size_t count, std::uint16_t at) {
  return at != 0 && at >= address && at < address + count;
}

bool SimBox::Impl::ReadRegisters(std::uint16_t address, std::size_t count, std::uint8_t* out) {
  if (!memory.InRange(address, count)) return false;
  const std::uint16_t t5 = memory.Address(kT5);
  if (Covers(address, count, t5) || Covers(address, count, memory.Address(kT44))) ScanTouches();
  if (Covers(address, count, t5)) {
    UpdateMessageCount();
    PopMessageIntoT5();
  }
  std::copy_n(memory.At(address), count, out);
  UpdateMessageCount();
  return true;
}

// Returns false when a byte is not writable. `reset` is set for a T6 reset command.
bool SimBox::Impl::WriteRegisters(std::uint16_t address, const std::uint8_t* data, std::size_t count, bool& reset) {
  if (count == 0) return true;
  if (!memory.Writable(address, count)) return false;
  std::copy_n(data, count, memory.At(address));
  const std::uint16_t t6 = memory.Address(kT6);
  for (std::uint16_t off = 0; off < 6; ++off) {
    if (!Covers(address, count, static_cast<std::uint16_t>(t6 + off))) continue;
    std::uint8_t& b = *memory.At(static_cast<std::uint16_t>(t6 + off));
    const std::uint8_t v = b;
    b = 0;
    switch (off) {
      case 0:
        if (v != 0) reset = true;
        break;
      case 1:
        // Only the backup key stores; any other value is ignored.
        if (v == kBackupKey) Backup();
        break;
      case 2:
        if (v != 0) Calibrate();
        break;
      case 3:
        if (v != 0) ReportAll();
        break;
      case 5:
        if (v != 0 && v != 0x01) streamMode = v;
        Diagnostic(v);
        break;
      default:
        break;
    }
  }
  const std::uint16_t t25 = memory.Address(kT25);
  if (Covers(address, count, static_cast<std::uint16_t>(t25 + 1))) {
    std::uint8_t& cmd = *memory.At(static_cast<std::uint16_t>(t25 + 1));
    const std::uint8_t v = cmd;
    cmd = 0;
    if (v != 0) SelfTest(v);
  }
  return true;
}

void SimBox::Impl::Backup() {
  for (const auto& o : memory.Objects()) {
    if (!o.persistent) continue;
    for (int i = 0; i < o.instances; ++i) {
      auto obj = memory.Object(o.type, i);
      nv.objects[{o.type, i}] = std::vector<std::uint8_t>(obj.begin(), obj.end());
    }
  }
  ++backupCount;
  SaveStore();
}

void SimBox::Impl::SaveStore() {
  if (!options.storePath.empty() && !SaveNvStore(options.storePath, nv)) ++storeErrors;
}

std::size_t SimBox::Impl::Nodes() const {
  return std::min<std::size_t>(static_cast<std::size_t>(options.variant.matrixX) * options.variant.matrixY,
                               kFrameValues);
}

void SimBox::Impl::Diagnostic(std::uint8_t command) {
  if (command == 0x10 || command == 0x11) {
    diagMode = command;
    diagPage = 0;
    if (command == 0x10) {
      panel.DeltaFrame(deltaValues, Clock::now());
      for (std::size_t i = 0; i < kFrameValues; ++i) diagValues[i] = static_cast<std::uint16_t>(deltaValues[i]);
    } else {
      panel.ReferenceFrame(diagValues);
    }
  } else if (command == 0x01 && diagMode != 0) {
    if (diagPage < 255) ++diagPage;
  } else {
    return;
  }
  auto t37 = memory.Object(kT37);
  std::fill(t37.begin(), t37.end(), 0);
  t37[0] = diagMode;
  t37[1] = static_cast<std::uint8_t>(diagPage);
  const std::size_t perPage = (t37.size() - 2) / 2;
  const std::size_t nodes = Nodes();
  for (std::size_t k = 0; k < perPage; ++k) {
    const std::size_t idx = static_cast<std::size_t>(diagPage) * perPage + k;
    const std::uint16_t v = idx < nodes ? diagValues[idx] : 0;
    t37[2 + 2 * k] = static_cast<std::uint8_t>(v & 0xFF);
    t37[3 + 2 * k] = static_cast<std::uint8_t>(v >> 8);
  }
}

void SimBox::Impl::SelfTest(std::uint8_t command) {
  auto t25 = memory.Object(kT25);
  const std::uint8_t ctrl = t25[0];
  if (!(ctrl & 0x01)) return;  // self-test disabled
  std::array<std::uint8_t, 4> result{kTestPassed, 0, 0, 0};
  auto power = [&] {
    if (!panel.State().powerFault) return false;
    result = {kTestPower, 0, 0, 0};
    return true;
  };
  auto pins = [&](std::uint8_t code) {
    const LineShort* s = panel.FirstShort();
    if (!s) return false;
    result = {code, static_cast<std::uint8_t>(s->kind), static_cast<std::uint8_t>(s->xLine ? s->line + 1 : 0),
              static_cast<std::uint8_t>(s->xLine ? 0 : s->line + 1)};
    return true;
  };
  auto limits = [&] { return SignalLimitFault(result); };
  switch (command) {
    case kTestPower:
      power();
      break;
    case kTestPin:
    case kTestPin2:
      pins(command);
      break;
    case kTestSignalLimits:
      limits();
      break;
    case kTestAll:
      (void)(power() || pins(kTestPin2) || limits());
      break;
    default:
      result = {kTestInvalid, 0, 0, 0};
      break;
  }
  lastSelfTest = result;
  if (ctrl & kReportEnable) PushMessage(kT25, {result[0], result[1], result[2], result[3]});
}

// Checks the reference values inside every enabled touch and key window against the
// window's signal-limit slot.
bool SimBox::Impl::SignalLimitFault(std::array<std::uint8_t, 4>& result) {
  panel.ReferenceFrame(diagValues);
  auto t25 = memory.Object(kT25);
  int slot = 0;
  for (std::uint8_t type : {kT9, kT15}) {
    const ObjectInfo* o = memory.Find(type);
    if (!o) continue;
    for (int i = 0; i < o->instances; ++i, ++slot) {
      auto obj = memory.Object(type, i);
      const std::size_t at = 2 + 4 * static_cast<std::size_t>(slot);
      if (!(obj[0] & 0x01) || at + 4 > t25.size()) continue;
      const int upper = t25[at] | (t25[at + 1] << 8);
      const int lower = t25[at + 2] | (t25[at + 3] << 8);
      for (int x = obj[1]; x < obj[1] + obj[3] && x < options.variant.matrixX; ++x) {
        for (int y = obj[2]; y < obj[2] + obj[4] && y < options.variant.matrixY; ++y) {
          const int v = diagValues[static_cast<std::size_t>(x) * options.variant.matrixY + y];
          if (v > upper || v < lower) {
            result = {kTestSignalLimits, type, static_cast<std::uint8_t>(i), 0};
            return true;
          }
        }
      }
    }
  }
  return false;
}

// mutex and queueMutex held.
ControllerReport& SimBox::Impl::PushController() {
  ControllerReport& r = controllerIn.Push(Clock::now());
  r.fill(0);
  return r;
}

void SimBox::Impl::StreamFrame() {
  {
    ControllerReport& ack = PushController();
    ack[0] = 0x01;
    ack[1] = 0xE1;
  }
  const std::size_t nodes = Nodes();
  const auto now = Clock::now();
  if (streamMode == 0x08 || streamMode == 0x10) {
    panel.DeltaFrame(deltaValues, now);
    for (std::size_t i = 0; i < kFrameValues; ++i) frameValues[i] = static_cast<std::uint16_t>(deltaValues[i]);
  } else if (streamMode == 0x11) {
    panel.ReferenceFrame(frameValues);
  } else {
    panel.RawFrame(frameValues, now);
  }
  for (std::size_t i = 0; i < kFrameValues; ++i) {
    const std::uint16_t v = i < nodes ? frameValues[i] : 0;
    stream[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
    stream[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  std::size_t offset = 0;
  for (int page = 1; page <= kFramePages; ++page) {
    ControllerReport& r = PushController();
    r[0] = 0x02;
    r[1] = static_cast<std::uint8_t>(page);
    r[2] = kFramePages;
    const std::size_t first = page == 1 ? 5 : 4;
    const std::size_t n = page == 1 ? 59 : page == kFramePages ? 29 : 60;
    std::memcpy(r.data() + first, stream.data() + offset, n);
    offset += n;
  }
  streaming = true;
}

void SimBox::Impl::HandleControllerReport(const ControllerReport& r, bool& reset) {
  if (std::all_of(r.begin(), r.end(), [](std::uint8_t b) { return b == 0; })) return;
  if (r[0] != 0x01) return;
  std::lock_guard ql(queueMutex);
  switch (r[1]) {
    case 0x51: {
      const std::size_t written = r[2];
      const std::size_t toRead = r[3];
      const auto address = static_cast<std::uint16_t>(r[4] | (r[5] << 8));
      ControllerReport answer{};
      answer[0] = 0x01;
      if (written < 2 || written - 2 > kMaxWriteData) {
        answer[1] = kFailed;
      } else if (toRead == 0) {
        bool ok = WriteRegisters(address, r.data() + 6, written - 2, reset);
        if (reset) return;  // the controller restarts without answering
        answer[1] = ok ? kWriteOk : kFailed;
      } else if (toRead > kMaxReadData || !ReadRegisters(address, toRead, answer.data() + 3)) {
        answer[1] = kFailed;
      } else {
        answer[1] = kReadOk;
        answer[2] = static_cast<std::uint8_t>(toRead);
      }
      PushController() = answer;
      ++queueVersion;
      break;
    }
    case 0xE1:
      StreamFrame();
      ++queueVersion;
      break;
    case 0xE2: {
      // End acknowledgement: all pages of the frame are already queued before it.
      streaming = false;
      ControllerReport& ack = PushController();
      ack[0] = 0x01;
      ack[1] = 0xE2;
      ++queueVersion;
      break;
    }
    default:
      break;
  }
}

}  // namespace varnex2::sim
