// The simulated controller's command processor (T6): the configuration checksum in its
// messages, REPORTALL, CALIBRATE and BACKUPNV, seen through register reads and writes only.

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "sim/sim_box.h"
#include "sim_host.h"

namespace varnex2::sim {
namespace {

using test::Host;
using namespace std::chrono_literals;

using Message = std::vector<std::uint8_t>;

// The object protocol's 24-bit checksum: pairs of bytes (low, high); crc = (crc << 1) XOR
// (high << 8 | low), XOR 0x80001B when bit 23 was set before the shift; an odd last byte is
// paired with 0; 24 bits kept.
std::uint32_t Crc24(const std::vector<std::uint8_t>& b) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < b.size(); i += 2) {
    const std::uint32_t word = b[i] | (i + 1 < b.size() ? static_cast<std::uint32_t>(b[i + 1]) << 8 : 0u);
    const bool carry = (crc & 0x800000u) != 0;
    crc = ((crc << 1) ^ word) & 0xFFFFFFu;
    if (carry) crc ^= 0x80001Bu;
  }
  return crc;
}

struct TableEntry {
  int type;
  std::uint16_t address;
  int length;  // size times instances
};

// The object table as read from the controller.
std::vector<TableEntry> ReadTable(Host& host) {
  std::vector<std::uint8_t> head;
  EXPECT_TRUE(host.Read(0, 7, head));
  std::vector<std::uint8_t> table;
  EXPECT_TRUE(host.Read(7, 6u * head[6], table));
  std::vector<TableEntry> entries;
  for (std::size_t k = 0; k + 6 <= table.size(); k += 6) {
    entries.push_back({table[k], static_cast<std::uint16_t>(table[k + 1] | (table[k + 2] << 8)),
                       (table[k + 3] + 1) * (table[k + 4] + 1)});
  }
  return entries;
}

bool IsConfiguration(int type) { return type != 5 && type != 6 && type != 37 && type != 38 && type != 44; }

// The configuration checksum computed independently: read the range from the first
// configuration object's start to the last one's end, zero the other objects in it.
std::uint32_t ExpectedChecksum(Host& host) {
  const auto table = ReadTable(host);
  int begin = 0x10000, end = 0;
  for (const auto& e : table) {
    if (!IsConfiguration(e.type)) continue;
    begin = std::min<int>(begin, e.address);
    end = std::max<int>(end, e.address + e.length);
  }
  EXPECT_LT(begin, end);
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(host.Read(static_cast<std::uint16_t>(begin), static_cast<std::size_t>(end - begin), bytes));
  for (const auto& e : table) {
    if (IsConfiguration(e.type)) continue;
    for (int a = e.address; a < e.address + e.length; ++a) {
      if (a >= begin && a < end) bytes[static_cast<std::size_t>(a - begin)] = 0;
    }
  }
  return Crc24(bytes);
}

// Every pending message, read from T5 as often as T44 counts.
std::vector<Message> ReadMessages(SimBox& box, Host& host) {
  std::vector<Message> out;
  std::vector<std::uint8_t> count;
  EXPECT_TRUE(host.Read(box.ObjectAddress(44), 1, count));
  for (int i = 0; i < count.at(0); ++i) {
    Message m;
    EXPECT_TRUE(host.Read(box.ObjectAddress(5), box.ObjectSize(5) - 1, m));
    out.push_back(m);
  }
  return out;
}

std::vector<Message> OfReportId(const std::vector<Message>& messages, std::uint8_t id) {
  std::vector<Message> out;
  for (const auto& m : messages) {
    if (m.at(0) == id) out.push_back(m);
  }
  return out;
}

std::uint32_t ChecksumOf(const Message& t6) { return t6.at(2) | (t6.at(3) << 8) | (t6.at(4) << 16); }

void WriteT6(SimBox& box, Host& host, int offset, std::uint8_t value) {
  ASSERT_TRUE(host.Write(static_cast<std::uint16_t>(box.ObjectAddress(6) + offset), {value}));
}

// The T6 message a REPORTALL gives (empty on failure); other messages are dropped.
Message ReportAllT6(SimBox& box, Host& host) {
  ReadMessages(box, host);
  WriteT6(box, host, 3, 0x01);
  const auto t6 = OfReportId(ReadMessages(box, host), box.ReportIdOf(6));
  EXPECT_EQ(t6.size(), 1u);
  return t6.empty() ? Message{} : t6[0];
}

TEST(SimCommandProcessor, ReportAllTwiceCarriesTheSameConfigurationChecksum) {
  SimBox box;
  Host host(box);
  const auto powerUp = OfReportId(ReadMessages(box, host), box.ReportIdOf(6));
  ASSERT_EQ(powerUp.size(), 1u);
  EXPECT_EQ(powerUp[0][1], 0x80);

  const Message first = ReportAllT6(box, host);
  const Message second = ReportAllT6(box, host);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(first[1], 0x00);  // status: nothing pending
  EXPECT_NE(ChecksumOf(first), 0u);
  EXPECT_EQ(ChecksumOf(first), ChecksumOf(second));
  EXPECT_EQ(ChecksumOf(first), ExpectedChecksum(host));
  EXPECT_EQ(ChecksumOf(powerUp[0]), ChecksumOf(first));
  // The command byte reads back 0.
  EXPECT_EQ(box.ReadMemory(static_cast<std::uint16_t>(box.ObjectAddress(6) + 3), 1)[0], 0);
}

TEST(SimCommandProcessor, ChecksumFollowsConfigurationBytesOnlyInEveryVariant) {
  for (const auto& variant : {ControllerVariant{}, ControllerVariant::Version10(), ControllerVariant::Variant0B()}) {
    SimBoxOptions o;
    o.variant = variant;
    SimBox box(o);
    Host host(box);
    const std::uint32_t factory = ChecksumOf(ReportAllT6(box, host));
    EXPECT_EQ(factory, ExpectedChecksum(host));

    // The last byte of the last configuration object counts.
    const auto last = static_cast<std::uint16_t>(box.ObjectAddress(62) + box.ObjectSize(62) - 1);
    ASSERT_TRUE(host.Write(last, {0x5A}));
    const std::uint32_t changed = ChecksumOf(ReportAllT6(box, host));
    EXPECT_NE(changed, factory);
    EXPECT_EQ(changed, ExpectedChecksum(host));
    // So does the first byte of the first one.
    ASSERT_TRUE(host.Write(box.ObjectAddress(7), {0x10}));
    EXPECT_NE(ChecksumOf(ReportAllT6(box, host)), changed);
    EXPECT_EQ(ChecksumOf(ReportAllT6(box, host)), ExpectedChecksum(host));
    ASSERT_TRUE(host.Write(box.ObjectAddress(7), {255}));
    ASSERT_TRUE(host.Write(last, {0x00}));
    EXPECT_EQ(ChecksumOf(ReportAllT6(box, host)), factory);

    // User data, the diagnostic command and the message objects are not configuration.
    ASSERT_TRUE(host.Write(box.ObjectAddress(38), {1, 2, 3, 4}));
    WriteT6(box, host, 5, 0x11);
    EXPECT_EQ(ChecksumOf(ReportAllT6(box, host)), factory);
  }
}

TEST(SimCommandProcessor, ChecksumSurvivesBackupAndReset) {
  SimBoxOptions o;
  o.resetDowntime = 50ms;
  SimBox box(o);
  std::mutex m;
  std::condition_variable cv;
  int arrivals = 0;
  const int observer = box.AddPresenceObserver([&](BoxFunction f, bool present, std::uint64_t) {
    std::lock_guard lk(m);
    if (f == BoxFunction::Controller && present) ++arrivals;
    cv.notify_all();
  });
  Host host(box);
  const std::uint32_t factory = ChecksumOf(ReportAllT6(box, host));

  ASSERT_TRUE(host.Write(static_cast<std::uint16_t>(box.ObjectAddress(9) + 6), {77}));
  const std::uint32_t saved = ChecksumOf(ReportAllT6(box, host));
  EXPECT_NE(saved, factory);
  WriteT6(box, host, 1, 0x55);
  EXPECT_EQ(box.BackupCount(), 1u);
  ASSERT_TRUE(host.Write(static_cast<std::uint16_t>(box.ObjectAddress(9) + 6), {78}));  // not backed up
  EXPECT_NE(ChecksumOf(ReportAllT6(box, host)), saved);

  host.Send({0x01, 0x51, 0x03, 0x00, static_cast<std::uint8_t>(box.ObjectAddress(6) & 0xFF),
             static_cast<std::uint8_t>(box.ObjectAddress(6) >> 8), 0x01});
  {
    std::unique_lock lk(m);
    ASSERT_TRUE(cv.wait_for(lk, 5s, [&] { return arrivals >= 1; }));
  }
  box.RemovePresenceObserver(observer);
  host.Resync();
  const auto powerUp = OfReportId(ReadMessages(box, host), box.ReportIdOf(6));
  ASSERT_EQ(powerUp.size(), 1u);
  EXPECT_EQ(powerUp[0][1], 0x80);
  EXPECT_EQ(ChecksumOf(powerUp[0]), saved);
  EXPECT_EQ(ChecksumOf(ReportAllT6(box, host)), saved);
  EXPECT_EQ(saved, ExpectedChecksum(host));
}

TEST(SimCommandProcessor, CalibrateReportsCalSetThenCleared) {
  SimBox box;
  Host host(box);
  ReadMessages(box, host);
  WriteT6(box, host, 2, 0x01);
  const auto messages = ReadMessages(box, host);
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& msg : messages) {
    EXPECT_EQ(msg[0], box.ReportIdOf(6));
    EXPECT_EQ(ChecksumOf(msg), ExpectedChecksum(host));
  }
  EXPECT_EQ(messages[0][1], 0x10);
  EXPECT_EQ(messages[1][1], 0x00);
  EXPECT_EQ(box.ReadMemory(static_cast<std::uint16_t>(box.ObjectAddress(6) + 2), 1)[0], 0);
  // Writing 0 is no command.
  WriteT6(box, host, 2, 0x00);
  EXPECT_TRUE(ReadMessages(box, host).empty());
}

TEST(SimCommandProcessor, ReportAllMakesObjectsWithReportingOnReportTheirState) {
  SimBox box;
  box.PlacePanel();
  box.AddShort({true, 4, 2});
  Host host(box);
  // A pin-fault test leaves its result as T25's state.
  ASSERT_TRUE(host.Write(static_cast<std::uint16_t>(box.ObjectAddress(25) + 1), {0x12}));
  ReadMessages(box, host);

  // Factory: T6 and T25 (self-test reporting on); the touch and key windows are silent.
  WriteT6(box, host, 3, 0x01);
  auto messages = ReadMessages(box, host);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0][0], box.ReportIdOf(6));
  EXPECT_EQ(messages[1][0], box.ReportIdOf(25));
  EXPECT_EQ(messages[1][1], 0x12);
  EXPECT_EQ(messages[1][3], 5);

  // Enabled with reporting on: T9#1, T15, T22, T48, T54, T62. T9#0 reports but is disabled.
  ASSERT_TRUE(host.Write(box.ObjectAddress(9, 1), {0x83}));
  ASSERT_TRUE(host.Write(box.ObjectAddress(9, 0), {0x82}));
  for (std::uint8_t type : std::initializer_list<std::uint8_t>{15, 22, 48, 54, 62}) {
    const std::uint8_t ctrl = box.ReadMemory(box.ObjectAddress(type), 1)[0];
    ASSERT_TRUE(host.Write(box.ObjectAddress(type), {static_cast<std::uint8_t>(ctrl | 0x03)}));
  }
  WriteT6(box, host, 3, 0x01);
  messages = ReadMessages(box, host);
  std::map<int, int> perId;
  for (const auto& msg : messages) ++perId[msg[0]];
  EXPECT_EQ(messages.size(), 1u + 10u + 5u + 1u);
  EXPECT_EQ(perId[box.ReportIdOf(6)], 1);
  EXPECT_EQ(perId[box.ReportIdOf(25)], 1);
  for (int slot = 0; slot < 10; ++slot) {
    EXPECT_EQ(perId[box.ReportIdOf(9, 1) + slot], 1) << "T9#1 slot " << slot;
    EXPECT_EQ(perId[box.ReportIdOf(9, 0) + slot], 0) << "T9#0 slot " << slot;
  }
  for (std::uint8_t type : std::initializer_list<std::uint8_t>{15, 22, 48, 54, 62}) EXPECT_EQ(perId[box.ReportIdOf(type)], 1) << "T" << static_cast<int>(type);
  // No finger: touch slots report status 0.
  for (const auto& msg : OfReportId(messages, box.ReportIdOf(9, 1))) EXPECT_EQ(msg[1], 0x00);
}

TEST(SimCommandProcessor, BackupStoresOnlyForItsKey) {
  SimBox box;
  Host host(box);
  for (std::uint8_t v : std::initializer_list<std::uint8_t>{0x01, 0x33, 0x44, 0x54, 0x56, 0xAA, 0xFF}) {
    WriteT6(box, host, 1, v);
    EXPECT_EQ(box.ReadMemory(static_cast<std::uint16_t>(box.ObjectAddress(6) + 1), 1)[0], 0);
  }
  EXPECT_EQ(box.BackupCount(), 0u);
  EXPECT_EQ(ReadMessages(box, host).size(), 1u);  // the power-up message only
  WriteT6(box, host, 1, 0x55);
  EXPECT_EQ(box.BackupCount(), 1u);
}

}  // namespace
}  // namespace varnex2::sim
