#include "sim/sim_box.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "sim/controller_memory.h"
#include "sim/nv_store.h"
#include "sim/report_ring.h"
#include "sim/touch_reports.h"

namespace varnex2::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFrameBytes = 3328;
constexpr std::size_t kFrameValues = kFrameBytes / 2;
constexpr int kFramePages = 56;
constexpr std::size_t kControllerRingCapacity = 2048;
constexpr std::size_t kBridgeRingCapacity = 256;
constexpr std::size_t kMessageCapacity = 64;
constexpr std::size_t kMaxWriteData = kControllerReportSize - 6;  // 58
constexpr std::size_t kMaxReadData = kControllerReportSize - 3;   // 61

// Answer status bytes.
constexpr std::uint8_t kReadOk = 0x00;
constexpr std::uint8_t kWriteOk = 0x04;
constexpr std::uint8_t kFailed = 0x01;

// Self-test result codes.
constexpr std::uint8_t kTestPassed = 0xFE;
constexpr std::uint8_t kTestInvalid = 0xFD;
constexpr std::uint8_t kTestPower = 0x01;
constexpr std::uint8_t kTestPin = 0x11;
constexpr std::uint8_t kTestPin2 = 0x12;
constexpr std::uint8_t kTestSignalLimits = 0x17;
constexpr std::uint8_t kTestAll = 0xFE;

// Command processor.
constexpr std::uint8_t kBackupKey = 0x55;
constexpr std::uint8_t kT6StatusReset = 0x80;
constexpr std::uint8_t kT6StatusCalibrating = 0x10;
// An object's first byte: bit 0 enables it, bit 1 lets it send messages.
constexpr std::uint8_t kObjectEnable = 0x01;
constexpr std::uint8_t kReportEnable = 0x02;

constexpr std::string_view kHidGuidSuffix = "#{4d1e55b2-f16f-11cf-88cb-001111000030}";

std::array<std::uint8_t, 64> FactoryPage(int page) {
  std::array<std::uint8_t, 64> p{};
  if (page == kBridgeConfigPage) {
    p[0] = 0x01;  // buzzer enabled, not inverted
    for (int i = 1; i <= 34; ++i) p[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x10 + i);
  }
  return p;
}

struct Pacer {
  Clock::time_point last{};
  bool started = false;
};

struct Message {
  std::array<std::uint8_t, 16> bytes{};
};

enum class BridgeExpect { Command, WritePageNumber, WritePageData, ReadPageNumber, OutputData };

}  // namespace

ControllerVariant ControllerVariant::Version10() {
  ControllerVariant v;
  v.version = 0x10;
  v.build = 0xAA;
  return v;
}
ControllerVariant ControllerVariant::Version11() {
  ControllerVariant v;
  v.version = 0x11;
  v.build = 0xAA;
  return v;
}
ControllerVariant ControllerVariant::Version12() {
  ControllerVariant v;
  v.version = 0x12;
  v.build = 0xAA;
  return v;
}
ControllerVariant ControllerVariant::Variant0B() {
  ControllerVariant v;
  v.variant = 0x0B;
  v.version = 0x20;
  v.build = 0x01;
  return v;
}
ControllerVariant ControllerVariant::OtherFamily() {
  ControllerVariant v;
  v.family = 0xA4;
  return v;
}

struct SimBox::Impl {
  explicit Impl(const SimBoxOptions& o)
      : options(o),
        memory(o.variant),
        panel(o.variant.matrixX, o.variant.matrixY, o.seed),
        controllerIn(kControllerRingCapacity),
        bridgeIn(kBridgeRingCapacity),
        frameValues(kFrameValues),
        deltaValues(kFrameValues),
        diagValues(kFrameValues) {
    LoadNvStore(options.storePath, nv);
    for (int p = 0; p < 256; ++p) pages[static_cast<std::size_t>(p)] = FactoryPage(p);
    for (const auto& [page, bytes] : nv.pages) pages[static_cast<std::size_t>(page)] = bytes;
    wanted[0] = o.controllerPresent;
    wanted[1] = o.bridgePresent;
    std::lock_guard pl(presenceMutex);
    if (wanted[0]) AttachLocked(BoxFunction::Controller);
    if (wanted[1]) AttachLocked(BoxFunction::Bridge);
  }

  static int Index(BoxFunction f) { return f == BoxFunction::Controller ? 0 : 1; }

  // ---------------------------------------------------------------- presence
  // presenceMutex held.
  std::uint64_t AttachLocked(BoxFunction f) {
    std::lock_guard lk(mutex);
    std::lock_guard ql(queueMutex);
    std::uint64_t& session = f == BoxFunction::Controller ? controllerSession : bridgeSession;
    if (session != 0) return 0;
    if (f == BoxFunction::Controller) {
      PowerUpController();
      controllerIn.Clear();
      controllerInPacer = Pacer{};
    } else {
      outputBlock.fill(0);
      bridgeExpect = BridgeExpect::Command;
      bridgeIn.Clear();
      bridgeInPacer = Pacer{};
    }
    session = nextSession++;
    ++queueVersion;
    return session;
  }

  bool DetachLocked(BoxFunction f) {
    {
      std::lock_guard lk(mutex);
      std::lock_guard ql(queueMutex);
      std::uint64_t& session = f == BoxFunction::Controller ? controllerSession : bridgeSession;
      if (session == 0) return false;
      session = 0;
      if (f == BoxFunction::Controller) {
        controllerIn.Clear();
        streaming = false;
      } else {
        bridgeIn.Clear();
      }
      ++queueVersion;
    }
    (f == BoxFunction::Controller ? controllerCv : bridgeCv).notify_all();
    return true;
  }

  void NotifyPresence(BoxFunction f, bool present, std::uint64_t session) {
    std::lock_guard ol(observerMutex);
    for (auto& [id, observer] : observers) {
      if (observer) observer(f, present, session);
    }
  }

  void Plug(BoxFunction f) {
    std::lock_guard pl(presenceMutex);
    wanted[Index(f)] = true;
    if (std::uint64_t s = AttachLocked(f)) NotifyPresence(f, true, s);
  }

  void Unplug(BoxFunction f) {
    std::lock_guard pl(presenceMutex);
    wanted[Index(f)] = false;
    if (DetachLocked(f)) NotifyPresence(f, false, 0);
  }

  void Reset() {
    {
      std::lock_guard pl(presenceMutex);
      ++resetCount;
      if (DetachLocked(BoxFunction::Controller)) NotifyPresence(BoxFunction::Controller, false, 0);
    }
    std::lock_guard tl(resetThreadMutex);
    if (resetThread.joinable()) {
      resetThread.request_stop();
      resetThread.join();
    }
    resetThread = std::jthread([this](std::stop_token stop) {
      std::mutex m;
      std::unique_lock lk(m);
      std::condition_variable_any cv;
      cv.wait_until(lk, stop, Clock::now() + options.resetDowntime, [] { return false; });
      if (stop.stop_requested()) return;
      std::lock_guard pl(presenceMutex);
      if (!wanted[0]) return;
      if (std::uint64_t s = AttachLocked(BoxFunction::Controller)) NotifyPresence(BoxFunction::Controller, true, s);
    });
  }

  // ---------------------------------------------------------------- controller model
  // mutex held.
  void PowerUpController() {
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
  void PushCommandStatus(std::uint8_t status) {
    const std::uint32_t crc = memory.ConfigurationChecksum();
    PushMessage(kT6, {status, static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>((crc >> 8) & 0xFF),
                      static_cast<std::uint8_t>((crc >> 16) & 0xFF)});
  }

  // CALIBRATE: calibration starts (CAL set) and, the model's references being ready at once,
  // ends (CAL cleared).
  void Calibrate() {
    PushCommandStatus(kT6StatusCalibrating);
    PushCommandStatus(0x00);
  }

  // REPORTALL: T6 reports its status and checksum; every other object with report ids reports
  // its current state, per instance, when the instance is enabled with reporting on.
  void ReportAll() {
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

  void PushMessageWithId(const ObjectInfo& o, int instance, int slot, std::initializer_list<std::uint8_t> data) {
    if (o.firstReportId == 0 || slot < 0 || slot >= o.reportIds) return;
    PushMessageBytes(static_cast<std::uint8_t>(o.firstReportId + instance * o.reportIds + slot), data);
  }

  void UpdateMessageCount() {
    auto t44 = memory.Object(kT44);
    if (!t44.empty()) t44[0] = static_cast<std::uint8_t>(std::min<std::size_t>(messageCount, 255));
  }

  void PushMessage(std::uint8_t type, std::initializer_list<std::uint8_t> data, int instance = 0) {
    const ObjectInfo* o = memory.Find(type);
    if (!o || o->firstReportId == 0) return;
    PushMessageBytes(static_cast<std::uint8_t>(o->firstReportId + instance * o->reportIds), data);
  }

  void PushMessageBytes(std::uint8_t reportId, std::initializer_list<std::uint8_t> data) {
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
  void QueueMessage(std::uint8_t reportId, std::span<const std::uint8_t> data) {
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

  struct TouchSink final : TouchMessageSink {
    explicit TouchSink(Impl& i) : impl(i) {}
    void Queue(std::uint8_t reportId, const TouchMessage& message) override { impl.QueueMessage(reportId, message); }
    Impl& impl;
  };

  // The acquisition cycles since the last scan turn finger changes into T9 messages; the
  // controller runs them when the host looks at its messages and when the panel changes.
  // mutex held.
  void ScanTouches() {
    if (controllerSession == 0) return;
    TouchSink sink(*this);
    touchReporter.Scan(memory, panel, Clock::now(), sink);
  }

  void PopMessageIntoT5() {
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

  static bool Covers(std::uint32_t address, std::size_t count, std::uint16_t at) {
    return at != 0 && at >= address && at < address + count;
  }

  bool ReadRegisters(std::uint16_t address, std::size_t count, std::uint8_t* out) {
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
  bool WriteRegisters(std::uint16_t address, const std::uint8_t* data, std::size_t count, bool& reset) {
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

  void Backup() {
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

  void SaveStore() {
    if (!options.storePath.empty() && !SaveNvStore(options.storePath, nv)) ++storeErrors;
  }

  std::size_t Nodes() const {
    return std::min<std::size_t>(static_cast<std::size_t>(options.variant.matrixX) * options.variant.matrixY,
                                 kFrameValues);
  }

  void Diagnostic(std::uint8_t command) {
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

  void SelfTest(std::uint8_t command) {
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
  bool SignalLimitFault(std::array<std::uint8_t, 4>& result) {
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
  ControllerReport& PushController() {
    ControllerReport& r = controllerIn.Push(Clock::now());
    r.fill(0);
    return r;
  }

  void StreamFrame() {
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

  void HandleControllerReport(const ControllerReport& r, bool& reset) {
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

  // ---------------------------------------------------------------- bridge model
  // mutex held.
  BridgeReport& PushBridge() {
    BridgeReport& r = bridgeIn.Push(Clock::now());
    r.fill(0);
    return r;
  }

  void HandleBridgeReport(const std::uint8_t* r) {
    std::lock_guard ql(queueMutex);
    switch (bridgeExpect) {
      case BridgeExpect::Command:
        if (r[1] != 0xAA || r[2] != 0x55) return;
        switch (r[3]) {
          case 0x20:
            bridgeExpect = BridgeExpect::WritePageNumber;
            break;
          case 0x21:
            bridgeExpect = BridgeExpect::ReadPageNumber;
            break;
          case 0x24: {
            BridgeReport& out = PushBridge();
            std::copy(outputBlock.begin(), outputBlock.end(), out.begin() + 1);
            ++queueVersion;
            break;
          }
          case 0x25:
            bridgeExpect = BridgeExpect::OutputData;
            break;
          case 0x40:
            SetConfigBits(r);
            break;
          default:
            break;
        }
        return;
      case BridgeExpect::WritePageNumber:
        bridgePage = r[1];
        bridgeExpect = BridgeExpect::WritePageData;
        return;
      case BridgeExpect::WritePageData: {
        auto& page = pages[bridgePage];
        bridgeExpect = BridgeExpect::Command;
        if (std::equal(page.begin(), page.end(), r + 1)) return;
        std::copy_n(r + 1, 64, page.begin());
        nv.pages[bridgePage] = page;
        SaveStore();
        return;
      }
      case BridgeExpect::ReadPageNumber: {
        const auto& page = pages[r[1]];
        const std::size_t length = std::min<std::size_t>(r[2], 64);
        BridgeReport& out = PushBridge();
        std::copy_n(page.begin(), length, out.begin() + 1);
        ++queueVersion;
        bridgeExpect = BridgeExpect::Command;
        return;
      }
      case BridgeExpect::OutputData: {
        std::copy_n(r + 1, 64, outputBlock.begin());
        ++outputWrites;
        BridgeReport& ack = PushBridge();
        ack[1] = 0xAA;
        ack[2] = 0x55;
        ack[3] = 0x25;
        ++queueVersion;
        bridgeExpect = BridgeExpect::Command;
        return;
      }
    }
  }

  void SetConfigBits(const std::uint8_t* r) {
    const std::uint8_t pageNo = r[4];
    const std::uint8_t byte = r[5];
    const std::uint8_t value = r[6];
    const std::uint8_t mask = r[7];
    const bool signed_ = std::equal(kBridgeConfigSignature.begin(), kBridgeConfigSignature.end(), r + 8,
                                    [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
    if (!signed_ || pageNo != kBridgeConfigPage || byte >= 64) {
      ++rejectedConfigBits;
      return;
    }
    auto& page = pages[pageNo];
    const auto updated = static_cast<std::uint8_t>((page[byte] & ~mask) | (value & mask));
    if (updated == page[byte]) return;
    page[byte] = updated;
    nv.pages[pageNo] = page;
    SaveStore();
  }

  // ---------------------------------------------------------------- queues and pacing
  Clock::time_point ReserveSlot(Pacer& pacer) {
    std::lock_guard ql(queueMutex);
    const auto now = Clock::now();
    Clock::time_point slot = now;
    if (pacer.started) slot = std::max(now, pacer.last + options.reportInterval);
    pacer.last = slot;
    pacer.started = true;
    return slot;
  }

  // A reader that has just taken a report usually gets the next request's answer within
  // microseconds; polling briefly before sleeping saves the wake-up of a sleeping thread,
  // which costs more than the whole exchange. True when the queue changed meanwhile.
  static constexpr auto kReaderSpin = std::chrono::microseconds(50);
  bool SpinForChange(std::unique_lock<std::mutex>& lk, std::uint64_t seen, Clock::time_point until,
                     const std::stop_token& stop) {
    lk.unlock();
    bool changed = false;
    while (!(changed = queueVersion.load() != seen) && !stop.stop_requested() && Clock::now() < until)
      std::this_thread::yield();
    lk.lock();
    return changed;
  }

  template <typename Ring, typename Report>
  InResult Pop(Ring& ring, const std::uint64_t& sessionVar, Pacer& pacer, std::condition_variable_any& cv,
               std::uint64_t session, Report& out, std::chrono::microseconds wait, std::stop_token stop) {
    const auto deadline = Clock::now() + std::max(wait, std::chrono::microseconds(0));
    std::unique_lock lk(queueMutex);
    for (;;) {
      if (session == 0 || session != sessionVar) return InResult::NoDevice;
      if (stop.stop_requested()) return InResult::Interrupted;
      const auto now = Clock::now();
      Clock::time_point wakeAt = deadline;
      if (!ring.Empty()) {
        Clock::time_point due = ring.Front().ready;
        if (options.paced && pacer.started) due = std::max(due, pacer.last + options.reportInterval);
        if (due <= now) {
          out = ring.Front().data;
          ring.Pop();
          if (options.paced) {
            // Keep the fixed schedule unless the reader fell behind by a whole slot.
            pacer.last = now - due < options.reportInterval ? due : now;
            pacer.started = true;
          }
          return InResult::Report;
        }
        wakeAt = std::min(due, deadline);
      }
      if (now >= deadline) return InResult::Timeout;
      const std::uint64_t seen = queueVersion.load();
      // Paced, no answer can come out before the next report slot: the poll would
      // only burn the reader's CPU.
      if (ring.Empty() && !options.paced && SpinForChange(lk, seen, std::min(deadline, now + kReaderSpin), stop))
        continue;
      cv.wait_until(lk, stop, wakeAt, [&] { return queueVersion.load() != seen; });
    }
  }

  // ---------------------------------------------------------------- scenario
  void Apply(const ScenarioAction& a) {
    switch (a.op) {
      case ScenarioOp::Unplug:
      case ScenarioOp::Plug: {
        const bool plug = a.op == ScenarioOp::Plug;
        for (BoxFunction f : {BoxFunction::Controller, BoxFunction::Bridge}) {
          const bool hit = a.target == ScenarioTarget::Both ||
                           (a.target == ScenarioTarget::Controller) == (f == BoxFunction::Controller);
          if (!hit) continue;
          if (plug)
            Plug(f);
          else
            Unplug(f);
        }
        return;
      }
      case ScenarioOp::Scan: {
        ScanObserver observer;
        {
          std::lock_guard sl(scanMutex);
          observer = scanObserver;
        }
        if (observer) observer(a.text);
        return;
      }
      case ScenarioOp::Loop:
        return;
      default:
        break;
    }
    std::lock_guard lk(mutex);
    ScanTouches();  // what the fingers did up to now, before the change
    PanelState& s = panel.MutableState();
    const PanelState defaults;
    switch (a.op) {
      case ScenarioOp::Place:
      case ScenarioOp::Remove: {
        s.placed = a.op == ScenarioOp::Place;
        s.level = a.hasLevel ? a.level : defaults.level;
        s.noise = a.hasNoise ? a.noise : defaults.noise;
        s.gradientX = a.hasGradientX ? a.gradientX : defaults.gradientX;
        s.gradientY = a.hasGradientY ? a.gradientY : defaults.gradientY;
        s.shorts.clear();
        s.nodeFaults.clear();
        s.touches.clear();
        s.sweepInterval = std::chrono::milliseconds(0);
        break;
      }
      case ScenarioOp::Short:
        s.shorts.push_back(LineShort{a.xLine, a.a, a.b});
        break;
      case ScenarioOp::NodeFault:
        s.nodeFaults.push_back(a.nodeFault);
        break;
      case ScenarioOp::ClearFaults:
        s.shorts.clear();
        s.nodeFaults.clear();
        s.powerFault = false;
        break;
      case ScenarioOp::Touch:
        s.touches.push_back(Touch{a.a, a.b, a.c});
        break;
      case ScenarioOp::Release:
        s.touches.clear();
        s.sweepInterval = std::chrono::milliseconds(0);
        break;
      case ScenarioOp::Sweep:
        s.sweepInterval = a.duration;
        s.sweepStart = Clock::now();
        break;
      case ScenarioOp::PowerFault:
        s.powerFault = a.flag;
        break;
      default:
        break;
    }
    ScanTouches();
  }

  void RunScenario(const Scenario& scenario) {
    StopScenario();
    {
      std::lock_guard lk(mutex);
      panel.SetSeed(scenario.seed);
    }
    std::lock_guard tl(scenarioThreadMutex);
    scenarioRunning = true;
    scenarioThread = std::jthread([this, scenario](std::stop_token stop) {
      std::mutex m;
      std::condition_variable_any cv;
      auto base = Clock::now();
      bool again = true;
      while (again && !stop.stop_requested()) {
        again = false;
        for (const auto& step : scenario.steps) {
          {
            std::unique_lock lk(m);
            cv.wait_until(lk, stop, base + step.at, [] { return false; });
          }
          if (stop.stop_requested()) break;
          if (step.action.op == ScenarioOp::Loop) {
            base += step.at;
            again = true;
            break;
          }
          Apply(step.action);
        }
      }
      scenarioRunning = false;
    });
  }

  void StopScenario() {
    std::lock_guard tl(scenarioThreadMutex);
    if (scenarioThread.joinable()) {
      scenarioThread.request_stop();
      scenarioThread.join();
    }
    scenarioRunning = false;
  }

  // ---------------------------------------------------------------- state
  SimBoxOptions options;

  // Lock order: presenceMutex -> mutex -> queueMutex; observerMutex is taken with
  // presenceMutex held and neither of the others.
  std::mutex presenceMutex;
  mutable std::mutex mutex;  // the model
  mutable std::mutex queueMutex;
  std::condition_variable_any controllerCv;
  std::condition_variable_any bridgeCv;
  std::mutex observerMutex;
  std::vector<std::pair<int, PresenceObserver>> observers;
  int nextObserverId = 1;

  bool wanted[2] = {true, true};
  std::uint64_t nextSession = 1;
  std::uint64_t controllerSession = 0;  // queueMutex (written with mutex held too)
  std::uint64_t bridgeSession = 0;
  // Bumped under queueMutex at every queue change; read without it by a spinning reader.
  std::atomic<std::uint64_t> queueVersion{0};

  ControllerMemory memory;
  PanelModel panel;
  NvImage nv;
  std::atomic<std::uint64_t> resetCount{0};
  std::uint64_t backupCount = 0;
  std::uint64_t storeErrors = 0;

  ReportRing<ControllerReport> controllerIn;
  ReportRing<BridgeReport> bridgeIn;
  Pacer controllerInPacer, controllerOutPacer, bridgeInPacer, bridgeOutPacer;

  std::array<Message, kMessageCapacity> messages{};
  std::size_t messageHead = 0;
  std::size_t messageCount = 0;
  std::array<std::uint8_t, 4> lastSelfTest{kTestPassed, 0, 0, 0};  // T25's current state
  TouchReporter touchReporter;

  bool streaming = false;
  std::uint8_t streamMode = 0x20;
  std::uint8_t diagMode = 0;
  int diagPage = 0;
  std::vector<std::uint16_t> frameValues;
  std::vector<std::int16_t> deltaValues;
  std::vector<std::uint16_t> diagValues;
  std::array<std::uint8_t, kFrameBytes> stream{};

  std::array<std::array<std::uint8_t, 64>, 256> pages{};
  std::array<std::uint8_t, 64> outputBlock{};
  BridgeExpect bridgeExpect = BridgeExpect::Command;
  std::uint8_t bridgePage = 0;
  std::uint64_t outputWrites = 0;
  std::uint64_t rejectedConfigBits = 0;

  std::mutex scanMutex;
  ScanObserver scanObserver;

  std::mutex resetThreadMutex;
  std::jthread resetThread;
  std::mutex scenarioThreadMutex;
  std::jthread scenarioThread;
  std::atomic<bool> scenarioRunning{false};
};

SimBox::SimBox(const SimBoxOptions& options) : impl_(std::make_unique<Impl>(options)) {}

SimBox::~SimBox() {
  impl_->StopScenario();
  std::lock_guard tl(impl_->resetThreadMutex);
  if (impl_->resetThread.joinable()) {
    impl_->resetThread.request_stop();
    impl_->resetThread.join();
  }
}

const SimBoxOptions& SimBox::Options() const { return impl_->options; }

bool SimBox::IsPresent(BoxFunction function) const { return Session(function) != 0; }

std::uint64_t SimBox::Session(BoxFunction function) const {
  std::lock_guard ql(impl_->queueMutex);
  return function == BoxFunction::Controller ? impl_->controllerSession : impl_->bridgeSession;
}

void SimBox::Unplug(BoxFunction function) { impl_->Unplug(function); }
void SimBox::Plug(BoxFunction function) { impl_->Plug(function); }

int SimBox::AddPresenceObserver(PresenceObserver observer) {
  std::lock_guard ol(impl_->observerMutex);
  const int id = impl_->nextObserverId++;
  impl_->observers.emplace_back(id, std::move(observer));
  return id;
}

void SimBox::RemovePresenceObserver(int id) {
  std::lock_guard ol(impl_->observerMutex);
  auto& v = impl_->observers;
  v.erase(std::remove_if(v.begin(), v.end(), [id](const auto& p) { return p.first == id; }), v.end());
}

OutResult SimBox::ControllerOut(std::uint64_t session, std::span<const std::uint8_t> report) {
  if (report.size() > kControllerReportSize) return OutResult::InvalidParam;
  if (session == 0 || session != Session(BoxFunction::Controller)) return OutResult::NoDevice;
  if (impl_->options.paced) std::this_thread::sleep_until(impl_->ReserveSlot(impl_->controllerOutPacer));
  ControllerReport r{};
  std::copy(report.begin(), report.end(), r.begin());
  bool reset = false;
  {
    std::lock_guard lk(impl_->mutex);
    {
      std::lock_guard ql(impl_->queueMutex);
      if (session != impl_->controllerSession) return OutResult::NoDevice;
    }
    impl_->HandleControllerReport(r, reset);
  }
  impl_->controllerCv.notify_all();
  if (reset) impl_->Reset();
  return OutResult::Ok;
}

InResult SimBox::PopControllerIn(std::uint64_t session, ControllerReport& out, std::chrono::microseconds wait,
                                 std::stop_token stop) {
  return impl_->Pop(impl_->controllerIn, impl_->controllerSession, impl_->controllerInPacer, impl_->controllerCv,
                    session, out, wait, std::move(stop));
}

std::size_t SimBox::PendingControllerIn() const {
  std::lock_guard ql(impl_->queueMutex);
  return impl_->controllerIn.Size();
}

OutResult SimBox::BridgeWrite(std::uint64_t session, std::span<const std::uint8_t, kBridgeReportSize> report) {
  if (session == 0 || session != Session(BoxFunction::Bridge)) return OutResult::NoDevice;
  if (impl_->options.paced) std::this_thread::sleep_until(impl_->ReserveSlot(impl_->bridgeOutPacer));
  {
    std::lock_guard lk(impl_->mutex);
    {
      std::lock_guard ql(impl_->queueMutex);
      if (session != impl_->bridgeSession) return OutResult::NoDevice;
    }
    impl_->HandleBridgeReport(report.data());
  }
  impl_->bridgeCv.notify_all();
  return OutResult::Ok;
}

InResult SimBox::BridgeRead(std::uint64_t session, BridgeReport& out, std::chrono::microseconds wait,
                            std::stop_token stop) {
  return impl_->Pop(impl_->bridgeIn, impl_->bridgeSession, impl_->bridgeInPacer, impl_->bridgeCv, session, out, wait,
                    std::move(stop));
}

// ---------------------------------------------------------------- identity
std::array<std::uint8_t, 18> SimBox::DeviceDescriptor(BoxFunction function) {
  const bool c = function == BoxFunction::Controller;
  const std::uint16_t vid = c ? kControllerVendorId : kBridgeVendorId;
  const std::uint16_t pid = c ? kControllerProductId : kBridgeProductId;
  return {18,
          0x01,
          0x00,
          0x02,
          0x00,
          0x00,
          0x00,
          64,
          static_cast<std::uint8_t>(vid & 0xFF),
          static_cast<std::uint8_t>(vid >> 8),
          static_cast<std::uint8_t>(pid & 0xFF),
          static_cast<std::uint8_t>(pid >> 8),
          0x00,
          0x01,
          1,
          2,
          0,
          1};
}

namespace {

struct InterfaceLayout {
  std::uint8_t number;
  std::uint8_t inEndpoint;
  std::uint8_t outEndpoint;
  std::uint8_t iInterface;
  std::uint8_t usage;  // of the vendor report descriptor's application collection
};

// The one table both the descriptors and every adapter derive from.
std::vector<InterfaceLayout> InterfacesOf(BoxFunction function) {
  if (function == BoxFunction::Bridge) return {{kBridgeInterface, kBridgeInEndpoint, kBridgeOutEndpoint, 0, 0x01}};
  return {{kControllerOtherInterface, kControllerOtherInEndpoint, kControllerOtherOutEndpoint,
           kControllerInterfaceString, 0x02},
          {kControllerInterface, kControllerInEndpoint, kControllerOutEndpoint, kControllerInterfaceString, 0x01}};
}

std::vector<std::uint8_t> VendorReportDescriptor(std::uint8_t usage) {
  return {0x06, 0x00,  0xFF,        // usage page (vendor)
          0x09, usage, 0xA1, 0x01,  // usage, collection (application)
          0x09, 0x02,  0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02,  // 64-byte input
          0x09, 0x03,  0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x91, 0x02,  // 64-byte output
          0xC0};
}

}  // namespace

std::vector<std::uint8_t> SimBox::HidReportDescriptor(BoxFunction function, int interfaceNumber) {
  for (const InterfaceLayout& i : InterfacesOf(function)) {
    if (i.number == interfaceNumber) return VendorReportDescriptor(i.usage);
  }
  return {};
}

std::vector<int> SimBox::InterfaceNumbers(BoxFunction function) {
  std::vector<int> numbers;
  for (const InterfaceLayout& i : InterfacesOf(function)) numbers.push_back(i.number);
  return numbers;
}

std::vector<std::uint8_t> SimBox::ConfigurationDescriptor(BoxFunction function) {
  const auto interfaces = InterfacesOf(function);
  // configuration: bus powered, 100 mA; total length and interface count filled in below
  std::vector<std::uint8_t> d = {9, 0x02, 0, 0, static_cast<std::uint8_t>(interfaces.size()), 1, 0, 0x80, 50};
  for (const InterfaceLayout& i : interfaces) {
    const auto reportLength = static_cast<std::uint16_t>(VendorReportDescriptor(i.usage).size());
    const std::uint8_t block[] = {
        9,
        0x04,
        i.number,
        0,
        2,
        0x03,
        0,
        0,
        i.iInterface,  // interface: HID, 2 endpoints
        9,
        0x21,
        0x11,
        0x01,
        0,
        1,
        0x22,
        static_cast<std::uint8_t>(reportLength & 0xFF),
        static_cast<std::uint8_t>(reportLength >> 8),  // HID 1.11, one report descriptor
        7,
        0x05,
        i.inEndpoint,
        0x03,
        64,
        0,
        1,  // interrupt IN, 64 bytes, 1 ms
        7,
        0x05,
        i.outEndpoint,
        0x03,
        64,
        0,
        1,  // interrupt OUT, 64 bytes, 1 ms
    };
    d.insert(d.end(), std::begin(block), std::end(block));
  }
  d[2] = static_cast<std::uint8_t>(d.size() & 0xFF);
  d[3] = static_cast<std::uint8_t>(d.size() >> 8);
  return d;
}

bool SimBox::StringDescriptor(BoxFunction function, std::uint8_t index, std::string& out) {
  const bool c = function == BoxFunction::Controller;
  switch (index) {
    case 1:
      out = std::string(c ? kControllerManufacturer : kBridgeManufacturer);
      return true;
    case 2:
      out = std::string(c ? kControllerProduct : kBridgeProduct);
      return true;
    case 3:
      if (!c) return false;
      out = std::string(kControllerProduct);
      return true;
    default:
      return false;
  }
}

std::string SimBox::InterfacePath(BoxFunction function, int interfaceNumber) {
  std::string path = "\\\\?\\HID#";
  if (function == BoxFunction::Bridge) {
    path += "VID_04B4&PID_E006#6&3c4d5e6f&0&0000";
  } else if (interfaceNumber == 0) {
    path += "VID_03EB&PID_212C&MI_00#7&2b3c4d5e&0&0000";
  } else {
    path += "VID_03EB&PID_212C&MI_01&COL01#7&1a2b3c4d&0&0000";
  }
  path += kHidGuidSuffix;
  return path;
}

// ---------------------------------------------------------------- memory access
std::vector<std::uint8_t> SimBox::ReadMemory(std::uint16_t address, std::size_t count) const {
  std::lock_guard lk(impl_->mutex);
  const std::size_t size = impl_->memory.Size();
  if (address >= size) return {};
  count = std::min(count, size - address);
  const std::uint8_t* p = impl_->memory.At(address);
  return std::vector<std::uint8_t>(p, p + count);
}

std::uint16_t SimBox::ObjectAddress(std::uint8_t type, int instance) const {
  std::lock_guard lk(impl_->mutex);
  return impl_->memory.Address(type, instance);
}

std::size_t SimBox::ObjectSize(std::uint8_t type) const {
  std::lock_guard lk(impl_->mutex);
  const ObjectInfo* o = impl_->memory.Find(type);
  return o ? o->size : 0;
}

std::uint8_t SimBox::ReportIdOf(std::uint8_t type, int instance) const {
  std::lock_guard lk(impl_->mutex);
  const ObjectInfo* o = impl_->memory.Find(type);
  if (!o || o->firstReportId == 0 || instance < 0 || instance >= o->instances) return 0;
  return static_cast<std::uint8_t>(o->firstReportId + instance * o->reportIds);
}

std::uint16_t SimBox::CommandAddress() const { return CommandAddressFor(impl_->options.variant); }

std::uint64_t SimBox::ResetCount() const { return impl_->resetCount.load(); }

std::uint64_t SimBox::BackupCount() const {
  std::lock_guard lk(impl_->mutex);
  return impl_->backupCount;
}

// ---------------------------------------------------------------- panel
PanelState SimBox::Panel() const {
  std::lock_guard lk(impl_->mutex);
  return impl_->panel.State();
}

void SimBox::SetPanel(const PanelState& state) {
  std::lock_guard lk(impl_->mutex);
  impl_->ScanTouches();
  impl_->panel.SetState(state);
  impl_->ScanTouches();
}

void SimBox::PlacePanel() {
  ScenarioAction a;
  a.op = ScenarioOp::Place;
  impl_->Apply(a);
}

void SimBox::RemovePanel() {
  ScenarioAction a;
  a.op = ScenarioOp::Remove;
  impl_->Apply(a);
}

void SimBox::AddShort(const LineShort& s) {
  std::lock_guard lk(impl_->mutex);
  impl_->panel.MutableState().shorts.push_back(s);
}

void SimBox::AddNodeFault(const NodeFault& f) {
  std::lock_guard lk(impl_->mutex);
  impl_->panel.MutableState().nodeFaults.push_back(f);
}

void SimBox::ClearFaults() {
  ScenarioAction a;
  a.op = ScenarioOp::ClearFaults;
  impl_->Apply(a);
}

void SimBox::SetTouches(std::vector<Touch> touches) {
  std::lock_guard lk(impl_->mutex);
  impl_->ScanTouches();
  impl_->panel.MutableState().touches = std::move(touches);
  impl_->ScanTouches();
}

void SimBox::SetPowerFault(bool on) {
  std::lock_guard lk(impl_->mutex);
  impl_->panel.MutableState().powerFault = on;
}

void SimBox::Apply(const ScenarioAction& action) { impl_->Apply(action); }
void SimBox::RunScenario(const Scenario& scenario) { impl_->RunScenario(scenario); }
void SimBox::StopScenario() { impl_->StopScenario(); }
bool SimBox::ScenarioRunning() const { return impl_->scenarioRunning; }

void SimBox::SetScanObserver(ScanObserver observer) {
  std::lock_guard sl(impl_->scanMutex);
  impl_->scanObserver = std::move(observer);
}

// ---------------------------------------------------------------- bridge state
BridgeState SimBox::Bridge() const {
  std::lock_guard lk(impl_->mutex);
  BridgeState s;
  s.configByte = impl_->pages[kBridgeConfigPage][0];
  s.outputLevel = impl_->outputBlock[8];
  s.buzzerEnabled = (s.configByte & 0x01) != 0;
  s.buzzerInverted = (s.configByte & 0x02) != 0;
  s.buzzerSounding = s.buzzerEnabled && ((s.outputLevel != 0) != s.buzzerInverted);
  s.outputWrites = impl_->outputWrites;
  s.rejectedConfigBits = impl_->rejectedConfigBits;
  return s;
}

std::array<std::uint8_t, 64> SimBox::BridgePage(std::uint8_t page) const {
  std::lock_guard lk(impl_->mutex);
  return impl_->pages[page];
}

std::array<std::uint8_t, 64> SimBox::OutputBlock() const {
  std::lock_guard lk(impl_->mutex);
  return impl_->outputBlock;
}

const std::string& SimBox::StorePath() const { return impl_->options.storePath; }

}  // namespace varnex2::sim
