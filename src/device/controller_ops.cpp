#include "device/controller_ops.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <thread>

namespace varnex2::device {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kMessagePollWait{20};
constexpr std::chrono::milliseconds kResetRetryWait{500};
constexpr int kResetRetries = 10;
constexpr int kReopenAttempts = 10;
constexpr int kDiagnosticPolls = 500;
constexpr int kPinFaultTimeoutSeconds = 10;
constexpr std::size_t kMaxReportIdEntries = 256;

const ObjectEntry* Find(const ControllerRecord& record, std::uint8_t type) {
  for (const ObjectEntry& e : record.objects)
    if (e.type == type) return &e;
  return nullptr;
}

int WriteByte(ControllerLink& link, std::uint16_t address, std::uint8_t value, bool noAnswer = false) {
  const std::uint8_t b[1] = {value};
  return link.WriteRegisters(address, b, noAnswer);
}

int ReadWindow(ControllerLink& link, std::uint8_t type, std::span<std::uint8_t> bytes, WindowFields& out) {
  const int r = ReadObject(link, type, 0, bytes);
  if (r != 0) return r;
  out.enabled = (bytes[0] & 1) != 0;
  out.xOrigin = bytes[1];
  out.yOrigin = bytes[2];
  out.xSize = bytes[3];
  out.ySize = bytes[4];
  out.gain = bytes[6];
  return kOk;
}

}  // namespace

std::uint32_t InfoBlockChecksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const std::uint32_t low = bytes[i];
    const std::uint32_t high = i + 1 < bytes.size() ? bytes[i + 1] : 0;
    const bool carry = (crc & 0x800000) != 0;
    crc = (crc << 1) ^ (high << 8 | low);
    if (carry) crc ^= 0x80001B;
    crc &= 0xFFFFFF;
  }
  return crc;
}

int ReadInfoBlock(ControllerLink& link, ControllerRecord& record) {
  std::array<std::uint8_t, kInfoBlockSize> head{};
  int r = link.ReadRegisters(0, head);
  if (r != 0) return r;
  const std::size_t objects = head[6];
  const std::size_t tableEnd = kInfoBlockSize + kObjectEntrySize * objects;
  std::vector<std::uint8_t> bytes(tableEnd + 3);
  r = link.ReadRegisters(0, bytes);
  if (r != 0) return r;

  std::copy_n(bytes.begin(), kInfoBlockSize, record.info.begin());
  record.info[6] = static_cast<std::uint8_t>(objects);  // the table read covers this many
  record.objects.clear();
  record.objects.reserve(objects);
  for (std::size_t k = 0; k < objects; ++k) {
    const std::uint8_t* e = bytes.data() + kInfoBlockSize + kObjectEntrySize * k;
    record.objects.push_back({e[0], static_cast<std::uint16_t>(e[1] | e[2] << 8), e[3], e[4], e[5]});
  }
  record.storedChecksum =
      bytes[tableEnd] | bytes[tableEnd + 1] << 8 | static_cast<std::uint32_t>(bytes[tableEnd + 2]) << 16;
  record.nReportIdCount = 0;
  record.reportIds.clear();
  record.versionText.clear();

  const std::uint32_t crc = InfoBlockChecksum(std::span(bytes).first(tableEnd));
  if (crc == 0) return kErrChecksumZero;
  if (crc != record.storedChecksum) return kErrChecksumMismatch;

  int count = 1;
  for (const ObjectEntry& e : record.objects) count += e.Instances() * e.reportIdsPerInstance;
  record.nReportIdCount = count;
  record.reportIds.reserve(std::min<std::size_t>(count, kMaxReportIdEntries));
  record.reportIds.push_back({});
  for (const ObjectEntry& e : record.objects) {
    for (int i = 0; i < e.Instances(); ++i)
      for (int id = 0; id < e.reportIdsPerInstance && record.reportIds.size() < kMaxReportIdEntries; ++id)
        record.reportIds.push_back({e.type, static_cast<std::uint8_t>(i)});
  }

  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%02X", static_cast<unsigned>(record.Version() >> 4),
                static_cast<unsigned>(record.Version() & 0xF), static_cast<unsigned>(record.Build()));
  record.versionText = text;

  if (record.MatrixX() * record.MatrixY() > kMaxNodes) return kErrMatrixTooLarge;
  return kOk;
}

std::uint16_t FindObject(const ControllerRecord& record, std::uint8_t type, int instance) {
  const ObjectEntry* e = Find(record, type);
  if (!e || instance < 0 || instance >= e->Instances()) return 0;
  return static_cast<std::uint16_t>(e->start + instance * e->Size());
}

int ObjectInstances(const ControllerRecord& record, std::uint8_t type) {
  const ObjectEntry* e = Find(record, type);
  return e ? e->Instances() : 0;
}

int ObjectSize(const ControllerRecord& record, std::uint8_t type) {
  const ObjectEntry* e = Find(record, type);
  return e ? e->Size() : 0;
}

const ReportIdEntry* ReportIdOwner(const ControllerRecord& record, std::uint8_t reportId) {
  if (reportId == 0 || reportId >= record.reportIds.size()) return nullptr;
  return &record.reportIds[reportId];
}

int ReadMessageCount(ControllerLink& link, const ControllerRecord& record, int& count) {
  count = 0;
  const std::uint16_t at = FindObject(record, kT44MessageCount, 0);
  if (at == 0) return kErrObjectAbsent;
  std::uint8_t b[1] = {0};
  const int r = link.ReadRegisters(at, b);
  if (r == 0) count = b[0];
  return r;
}

int ReadMessage(ControllerLink& link, const ControllerRecord& record, std::span<std::uint8_t> dest, int& length) {
  length = 0;
  const std::uint16_t at = FindObject(record, kT5MessageProcessor, 0);
  const int size = ObjectSize(record, kT5MessageProcessor);
  if (at == 0 || size < 2) return kErrObjectAbsent;
  const std::size_t n = static_cast<std::size_t>(size - 1);  // the last byte is the checksum
  if (dest.size() < n) return kErrNoMemory;
  const int r = link.ReadRegisters(at, dest.first(n));
  if (r != 0) return r;
  length = static_cast<int>(n);
  return dest[0] == 0xFF ? kErrMessageInvalid : kOk;
}

int WaitForMessage(ControllerLink& link, const ControllerRecord& record, int timeoutSeconds,
                   const MessageHandler& handler) {
  const auto start = Clock::now();
  std::array<std::uint8_t, 256> message{};
  for (;;) {
    std::this_thread::sleep_for(kMessagePollWait);
    int count = 0;
    int r = ReadMessageCount(link, record, count);
    if (r != 0) return r;
    for (int k = 0; k < count; ++k) {
      int length = 0;
      r = ReadMessage(link, record, message, length);
      if (r == kErrMessageInvalid) continue;
      if (r != 0) return r;
      const int answer = handler(std::span<const std::uint8_t>(message.data(), static_cast<std::size_t>(length)));
      if (answer != kSelfTestNotMessage) return answer;
    }
    if (timeoutSeconds == 0) return kOk;
    if (Clock::now() - start > std::chrono::seconds(timeoutSeconds)) return kErrMessageTimeout;
  }
}

bool BackupSettings(ControllerLink& link) {
  const ControllerRecord* record = link.Record();
  if (!record) return false;
  const std::uint16_t t6 = FindObject(*record, kT6CommandProcessor, 0);
  if (t6 == 0) return false;
  return WriteByte(link, static_cast<std::uint16_t>(t6 + 1), 0x55) == 0;
}

int ResetController(ControllerLink& link, const ControllerRecord& record) {
  const std::uint16_t t6 = FindObject(record, kT6CommandProcessor, 0);
  if (t6 == 0) return kErrObjectAbsent;
  int r = WriteByte(link, t6, 1, true);
  for (int retry = 0; r == kErrNotConnected && retry < kResetRetries; ++retry) {
    std::this_thread::sleep_for(kResetRetryWait);
    r = WriteByte(link, t6, 1, true);
  }
  if (r == kErrNotConnected) return r;
  link.CloseController();  // frees `record`
  r = kErrNoHandle;
  for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
    std::this_thread::sleep_for(kResetRetryWait);
    r = link.OpenController();
    if (r == 0) return kOk;
  }
  return r;
}

int ReadTouchWindow(ControllerLink& link, WindowFields& out) {
  const ControllerRecord* record = link.Record();
  if (!record) return kErrNoHandle;
  if (FindObject(*record, kT9Touchscreen, 0) == 0) return kErrObjectAbsent;
  std::array<std::uint8_t, kTouchWindowBytes> bytes{};
  return ReadWindow(link, kT9Touchscreen, bytes, out);
}

int WriteTouchWindow(ControllerLink& link, const WindowFields& f) {
  std::array<std::uint8_t, kTouchWindowBytes> bytes{};
  bytes[0] = static_cast<std::uint8_t>(0x80 | (f.enabled ? 1 : 0));
  bytes[1] = f.xOrigin;
  bytes[2] = f.yOrigin;
  bytes[3] = f.xSize;
  bytes[4] = f.ySize;
  bytes[6] = f.gain;
  bytes[7] = 255;
  return WriteObject(link, kT9Touchscreen, 0, bytes);
}

int ReadKeyWindow(ControllerLink& link, WindowFields& out) {
  const ControllerRecord* record = link.Record();
  if (!record) return kErrNoHandle;
  if (ObjectSize(*record, kT15KeyArray) != static_cast<int>(kKeyWindowBytes)) return kErrKeyObjectSize;
  std::array<std::uint8_t, kKeyWindowBytes> bytes{};
  return ReadWindow(link, kT15KeyArray, bytes, out);
}

int WriteKeyWindow(ControllerLink& link, const WindowFields& f) {
  const ControllerRecord* record = link.Record();
  if (!record) return kErrNoHandle;
  if (ObjectSize(*record, kT15KeyArray) != static_cast<int>(kKeyWindowBytes)) return kErrKeyObjectSize;
  std::array<std::uint8_t, kKeyWindowBytes> bytes{};
  bytes[0] = f.enabled ? 1 : 0;
  bytes[1] = f.xOrigin;
  bytes[2] = f.yOrigin;
  bytes[3] = f.xSize;
  bytes[4] = f.ySize;
  bytes[6] = f.gain;
  bytes[7] = 255;
  return WriteObject(link, kT15KeyArray, 0, bytes);
}

std::uint16_t SignalLimitSlot(const ControllerRecord& record, std::uint8_t type, int instance) {
  static constexpr std::uint8_t kOrder[] = {kT9Touchscreen, kT100Touchscreen, kT52ProximityKey, kT15KeyArray,
                                            kT23Proximity};
  const ObjectEntry* t25 = Find(record, kT25SelfTest);
  if (!t25 || instance < 0 || instance >= ObjectInstances(record, type)) return 0;
  int before = 0;
  bool known = false;
  for (std::uint8_t t : kOrder) {
    if (t == type) {
      known = true;
      break;
    }
    before += ObjectInstances(record, t);
  }
  if (!known) return 0;
  const int offset = 2 + 4 * (instance + before);
  if (offset + 4 > t25->Size()) return 0;  // the slot would lie outside T25
  return static_cast<std::uint16_t>(t25->start + offset);
}

int ReadSignalLimits(ControllerLink& link, std::uint8_t type, std::vector<SignalLimit>& out) {
  out.clear();
  const ControllerRecord* record = link.Record();
  if (!record) return kErrNoHandle;
  const int instances = ObjectInstances(*record, type);
  for (int i = 0; i < instances; ++i) {
    const std::uint16_t slot = SignalLimitSlot(*record, type, i);
    if (slot == 0) return kErrObjectAbsent;
    std::uint8_t b0[1] = {0};
    int r = link.ReadRegisters(FindObject(*record, type, i), b0);
    if (r != 0) return r;
    std::uint8_t s[4] = {};
    r = link.ReadRegisters(slot, s);
    if (r != 0) return r;
    out.push_back({i + 1, static_cast<std::uint16_t>(s[0] | s[1] << 8), static_cast<std::uint16_t>(s[2] | s[3] << 8),
                   (b0[0] & 1) != 0});
  }
  return kOk;
}

int WriteSignalLimits(ControllerLink& link, std::uint8_t type, std::uint16_t upper, std::uint16_t lower) {
  const ControllerRecord* record = link.Record();
  if (!record) return kErrNoHandle;
  if (ObjectInstances(*record, type) == 0) return kErrObjectAbsent;
  const SignalLimit limit{1, upper, lower, true};
  // One record: it goes to instance 0.
  const std::uint16_t at = FindObject(*record, type, 0);
  const std::uint16_t slot = SignalLimitSlot(*record, type, 0);
  if (slot == 0) return kErrObjectAbsent;
  std::uint8_t b0[1] = {0};
  int r = link.ReadRegisters(at, b0);
  if (r != 0) return r;
  b0[0] = static_cast<std::uint8_t>(b0[0] | (limit.enabled ? 1 : 0));
  r = link.WriteRegisters(at, b0);
  if (r != 0) return r;
  std::uint8_t s[4] = {};
  r = link.ReadRegisters(slot, s);
  if (r != 0) return r;
  s[0] = static_cast<std::uint8_t>(limit.upper & 0xFF);
  s[1] = static_cast<std::uint8_t>(limit.upper >> 8);
  s[2] = static_cast<std::uint8_t>(limit.lower & 0xFF);
  s[3] = static_cast<std::uint8_t>(limit.lower >> 8);
  return link.WriteRegisters(slot, s);
}

int RunPinFaultTest(ControllerLink& link, const ControllerRecord& record, std::uint8_t command) {
  ControllerLink::PinFaultDetails& fault = link.PinFault();
  std::array<std::uint8_t, 256> message{};
  int count = 0;
  int r = ReadMessageCount(link, record, count);
  if (r != 0) return r;
  for (int k = 0; k < count; ++k) {
    int length = 0;
    r = ReadMessage(link, record, message, length);
    if (r != 0 && r != kErrMessageInvalid) return r;
  }
  const std::uint16_t t25 = FindObject(record, kT25SelfTest, 0);
  if (t25 == 0) return kErrObjectAbsent;
  r = WriteByte(link, t25, 3);
  if (r != 0) return r;
  for (std::uint8_t type : {kT22NoiseSuppression, kT48NoiseSuppression, kT54NoiseSuppression, kT62NoiseSuppression}) {
    const std::uint16_t at = FindObject(record, type, 0);
    if (at == 0) continue;
    r = WriteByte(link, at, 0);
    if (r != 0) return r;
  }
  r = WriteByte(link, static_cast<std::uint16_t>(t25 + 1), command);
  if (r != 0) return r;

  return WaitForMessage(link, record, kPinFaultTimeoutSeconds, [&](std::span<const std::uint8_t> m) {
    const ReportIdEntry* owner = ReportIdOwner(record, m[0]);
    if (!owner || owner->type != kT25SelfTest || m.size() < 2) return kSelfTestNotMessage;
    fault = {};
    switch (m[1]) {
      case 0xFE:
        return 0;
      case 0xFD:
        return 7;
      case 0xFC:
        return 4;
      case 0x01:
        return 12;
      case 0x11:
        return 13;
      case 0x12:
        if (m.size() >= 5) fault = {m[2], m[3], m[4]};
        return 13;
      case 0x13:
        return 14;
      case 0x17:
        return 15;
      case 0x20:
        return 16;
      default:
        return 25;
    }
  });
}

int PinFaultMarker(std::uint8_t kind) {
  switch (kind) {
    case 1:
      return 64;
    case 2:
      return 32;
    case 3:
      return 16;
    default:
      return 0;
  }
}

int ReadObject(ControllerLink& link, std::uint8_t type, int instance, std::span<std::uint8_t> dest) {
  const ControllerRecord* record = link.Record();
  if (!record) return kErrNoHandle;
  const int size = ObjectSize(*record, type);
  if (size == 0) return kOk;
  if (instance < 0 || instance >= ObjectInstances(*record, type)) return kErrObjectAbsent;
  const std::size_t n = std::min(dest.size(), static_cast<std::size_t>(size));
  return link.ReadRegisters(FindObject(*record, type, instance), dest.first(n));
}

int WriteObject(ControllerLink& link, std::uint8_t type, int instance, std::span<const std::uint8_t> source) {
  const ControllerRecord* record = link.Record();
  if (!record) return kErrNoHandle;
  const int size = ObjectSize(*record, type);
  if (size == 0) return kOk;
  if (instance < 0 || instance >= ObjectInstances(*record, type)) return kErrObjectAbsent;
  const std::size_t n = std::min(source.size(), static_cast<std::size_t>(size));
  return link.WriteRegisters(FindObject(*record, type, instance), source.first(n));
}

int ReadDiagnosticFrame(ControllerLink& link, const ControllerRecord& record, std::span<std::int16_t> dest, int& x,
                        int& y, std::uint8_t command) {
  x = record.MatrixX();
  y = record.MatrixY();
  const std::uint16_t t6 = FindObject(record, kT6CommandProcessor, 0);
  const std::uint16_t t37 = FindObject(record, kT37Diagnostic, 0);
  const int s = ObjectSize(record, kT37Diagnostic);
  if (t6 == 0 || t37 == 0 || s <= 2) return kErrObjectAbsent;
  const int nodes = x * y;
  if (nodes > kMaxNodes) return kErrMatrixTooLarge;
  if (dest.size() < static_cast<std::size_t>(nodes)) return kErrNoMemory;

  const std::uint16_t diagnostic = static_cast<std::uint16_t>(t6 + 5);
  const int perPage = s - 2;
  const int pages = (nodes * 2 + perPage - 1) / perPage;
  std::array<std::uint8_t, 256> page{};
  int value = 0;
  for (int p = 0; p < pages; ++p) {
    int r = WriteByte(link, diagnostic, p == 0 ? command : 0x01);
    if (r != 0) return r;
    int polls = 0;
    for (;;) {
      if (polls++ == kDiagnosticPolls) return kErrMessageTimeout;
      std::uint8_t b[1] = {0xFF};
      r = link.ReadRegisters(diagnostic, b);
      if (r != 0) return r;
      if (b[0] == 0) break;
    }
    r = link.ReadRegisters(t37, std::span(page).first(static_cast<std::size_t>(s)));
    if (r != 0) return r;
    if (page[0] != command || page[1] != static_cast<std::uint8_t>(p)) return kErrDiagnosticPage;
    for (int j = 2; j + 1 < s && value < nodes; j += 2)
      dest[static_cast<std::size_t>(value++)] = static_cast<std::int16_t>(page[j] | page[j + 1] << 8);
  }
  return kOk;
}

}  // namespace varnex2::device
