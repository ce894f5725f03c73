// The simulated controller at report level: register protocol, memory map, frames, messages,
// self-test, diagnostics.

#include <gtest/gtest.h>

#include <map>

#include "sim/sim_box.h"
#include "sim_host.h"

namespace varnex2::sim {
namespace {

using test::Host;

// The information-block checksum, written from the description of the algorithm.
std::uint32_t Crc24(const std::vector<std::uint8_t>& b) {
  std::uint32_t crc = 0;
  std::size_t i = 0;
  while (i < b.size()) {
    std::uint32_t word = b[i];
    if (i + 1 < b.size()) word |= static_cast<std::uint32_t>(b[i + 1]) << 8;
    i += 2;
    const std::uint32_t prev = crc;
    crc = (crc << 1) ^ word;
    if (prev & (1u << 23)) crc ^= 0x80001B;
    crc &= 0xFFFFFF;
  }
  return crc;
}

struct Entry {
  std::uint16_t address;
  int size;
  int instances;
  int reportIds;
};

// Reads and parses the information block and object table as the station does.
struct InfoBlock {
  std::vector<std::uint8_t> bytes;
  std::map<int, Entry> objects;
  std::map<int, std::pair<int, int>> reportIds;  // id -> (type, instance)
  std::uint32_t stored = 0;
  std::uint32_t computed = 0;
};

InfoBlock ReadInfo(Host& host) {
  InfoBlock info;
  std::vector<std::uint8_t> head;
  EXPECT_TRUE(host.Read(0, 7, head));
  const std::size_t n = head[6];
  EXPECT_TRUE(host.Read(0, 7 + 6 * n + 3, info.bytes));
  int id = 1;
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint8_t* e = info.bytes.data() + 7 + 6 * k;
    Entry entry{static_cast<std::uint16_t>(e[1] | (e[2] << 8)), e[3] + 1, e[4] + 1, e[5]};
    info.objects[e[0]] = entry;
    for (int i = 0; i < entry.instances; ++i) {
      for (int r = 0; r < entry.reportIds; ++r) info.reportIds[id++] = {e[0], i};
    }
  }
  const std::size_t end = 7 + 6 * n;
  info.stored = info.bytes[end] | (info.bytes[end + 1] << 8) | (info.bytes[end + 2] << 16);
  info.computed =
      Crc24(std::vector<std::uint8_t>(info.bytes.begin(), info.bytes.begin() + static_cast<std::ptrdiff_t>(end)));
  return info;
}

// The station's choice of the mode-byte address.
std::uint16_t StationCommandAddress(const std::vector<std::uint8_t>& info) {
  if (info[0] != 0xA2) return 0;
  const int v = info[1], ver = info[2], b = info[3];
  if (v == 0x00 && ver == 0x10 && b == 0xAA) return 298;
  if (v == 0x00 && ver == 0x11 && b == 0xAA) return 316;
  if (v == 0x00 && ver == 0x12 && b == 0xAA) return 328;
  if (v == 0x00 && ver == 0x20 && b == 0xAB) return 352;
  if (v == 0x0B && ver == 0x20 && b == 0x01) return 352;
  return 0;
}

TEST(SimController, RegisterWriteAndReadRoundTripWithStatusBytes) {
  SimBox box;
  Host host(box);
  const std::uint16_t t38 = box.ObjectAddress(38);
  ASSERT_NE(t38, 0);
  std::vector<std::uint8_t> pattern(64);
  for (int i = 0; i < 64; ++i) pattern[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);

  ControllerReport w = host.WriteRequest(t38, std::vector<std::uint8_t>(pattern.begin(), pattern.begin() + 58));
  EXPECT_EQ(w[0], 0x01);
  EXPECT_EQ(w[1], 0x04);
  ASSERT_TRUE(host.Write(static_cast<std::uint16_t>(t38 + 58), {58, 59, 60, 61, 62, 63}));

  ControllerReport r = host.ReadRequest(t38, 58);
  EXPECT_EQ(r[0], 0x01);
  EXPECT_EQ(r[1], 0x00);
  EXPECT_EQ(r[2], 58);
  std::vector<std::uint8_t> back;
  ASSERT_TRUE(host.Read(t38, 64, back));
  EXPECT_EQ(back, pattern);
}

TEST(SimController, RefusesWritesOutsideWritableObjectsAndReadsBeyondTheMap) {
  SimBox box;
  Host host(box);
  const std::vector<std::uint8_t> before = box.ReadMemory(0, 7);
  ControllerReport w = host.WriteRequest(0, {0x20});
  EXPECT_NE(w[1], 0x04);
  EXPECT_EQ(box.ReadMemory(0, 7), before);
  // T37 is read-only.
  EXPECT_NE(host.WriteRequest(box.ObjectAddress(37), {1})[1], 0x04);
  // A write that runs off the end of T62 into nothing.
  const auto t62 = static_cast<std::uint16_t>(box.ObjectAddress(62) + box.ObjectSize(62) - 1);
  EXPECT_NE(host.WriteRequest(t62, {1, 2})[1], 0x04);
  EXPECT_NE(host.ReadRequest(0xFF00, 4)[1], 0x00);
}

TEST(SimController, IgnoresZeroReportsAndUnknownHeaders) {
  SimBox box;
  Host host(box);
  EXPECT_TRUE(host.Send(std::vector<std::uint8_t>(64, 0)));
  EXPECT_TRUE(host.Send({0x02, 0x51, 0x02, 0x01, 0x00, 0x00}));
  ControllerReport r{};
  EXPECT_FALSE(host.Next(r, std::chrono::milliseconds(0)));
  // Requests longer than a report are refused outright.
  std::vector<std::uint8_t> big(65, 1);
  EXPECT_EQ(box.ControllerOut(host.Session(), big), OutResult::InvalidParam);
}

TEST(SimController, InformationBlockHasCorrectChecksumAndObjects) {
  SimBox box;
  Host host(box);
  InfoBlock info = ReadInfo(host);
  EXPECT_EQ(info.bytes[0], 0xA2);
  EXPECT_EQ(info.bytes[1], 0x00);
  EXPECT_EQ(info.bytes[2], 0x20);
  EXPECT_EQ(info.bytes[3], 0xAB);
  EXPECT_EQ(info.bytes[4], 32);
  EXPECT_EQ(info.bytes[5], 52);
  EXPECT_NE(info.computed, 0u);
  EXPECT_EQ(info.stored, info.computed);

  for (int type : {5, 6, 7, 9, 15, 22, 25, 37, 38, 44, 46, 48, 54, 56, 62}) {
    ASSERT_TRUE(info.objects.count(type)) << "T" << type;
    EXPECT_EQ(info.objects[type].address, box.ObjectAddress(static_cast<std::uint8_t>(type))) << "T" << type;
  }
  EXPECT_EQ(info.objects[37].size, 130);
  EXPECT_EQ(info.objects[38].size, 64);
  EXPECT_EQ(info.objects[15].size, 11);
  EXPECT_EQ(info.objects[9].size, 36);
  EXPECT_EQ(info.objects[56].size, 50);
  EXPECT_EQ(info.objects[46].size, 11);
  // T25 holds a 4-byte signal-limit slot for each T9 and T15 instance after its 2 bytes.
  EXPECT_GE(info.objects[25].size, 2 + 4 * (info.objects[9].instances + info.objects[15].instances));
  // Report ids walk the table in order.
  const std::uint8_t t25id = box.ReportIdOf(25);
  ASSERT_NE(t25id, 0);
  EXPECT_EQ(info.reportIds[t25id], std::make_pair(25, 0));
  EXPECT_EQ(info.reportIds[box.ReportIdOf(9, 1)], std::make_pair(9, 1));
  // The mode byte lives at the command address, inside T6.
  EXPECT_EQ(StationCommandAddress(info.bytes), info.objects[6].address + 5);
}

struct VariantCase {
  const char* name;
  ControllerVariant variant;
};

class SimControllerVariants : public ::testing::TestWithParam<VariantCase> {};

TEST_P(SimControllerVariants, AnnouncesVariantAndAcceptsTheModeByteWhereTheStationWritesIt) {
  SimBoxOptions o;
  o.variant = GetParam().variant;
  SimBox box(o);
  Host host(box);
  InfoBlock info = ReadInfo(host);
  EXPECT_EQ(info.bytes[0], o.variant.family);
  EXPECT_EQ(info.bytes[1], o.variant.variant);
  EXPECT_EQ(info.bytes[2], o.variant.version);
  EXPECT_EQ(info.bytes[3], o.variant.build);
  EXPECT_EQ(info.stored == info.computed, !o.variant.corruptChecksum);
  const std::uint16_t address = StationCommandAddress(info.bytes);
  EXPECT_EQ(address, box.CommandAddress());
  const bool accepted = host.WriteRequest(address, {0x20})[1] == 0x04;
  EXPECT_EQ(accepted, address != 0);
}

INSTANTIATE_TEST_SUITE_P(All, SimControllerVariants,
                         ::testing::Values(VariantCase{"v20", ControllerVariant{}},
                                           VariantCase{"v10", ControllerVariant::Version10()},
                                           VariantCase{"v11", ControllerVariant::Version11()},
                                           VariantCase{"v12", ControllerVariant::Version12()},
                                           VariantCase{"variant0B", ControllerVariant::Variant0B()},
                                           VariantCase{"otherFamily", ControllerVariant::OtherFamily()},
                                           VariantCase{"badChecksum",
                                                       [] {
                                                         ControllerVariant v;
                                                         v.corruptChecksum = true;
                                                         return v;
                                                       }()}),
                         [](const auto& info) { return std::string(info.param.name); });

// Collects one streamed frame: start ack, 56 pages, end ack (the end request is sent after
// page 1, as the station does). Returns the assembled 3328-byte stream.
std::vector<std::uint8_t> StreamFrame(SimBox& box, Host& host, std::uint8_t mode) {
  std::vector<std::uint8_t> stream(3328, 0xEE);
  EXPECT_EQ(host.WriteRequest(box.CommandAddress(), {mode})[1], 0x04);
  host.Send({0x01, 0xE1});
  ControllerReport r{};
  EXPECT_TRUE(host.Next(r));
  EXPECT_EQ(r[0], 0x01);
  EXPECT_EQ(r[1], 0xE1);
  for (int page = 1; page <= 56; ++page) {
    EXPECT_TRUE(host.Next(r));
    EXPECT_EQ(r[0], 0x02);
    EXPECT_EQ(r[1], page);
    EXPECT_EQ(r[2], 0x38);
    if (page == 1) {
      std::copy(r.begin() + 5, r.end(), stream.begin());
      host.Send({0x01, 0xE2});
    } else if (page < 56) {
      std::copy(r.begin() + 4, r.end(), stream.begin() + 59 + 60 * (page - 2));
    } else {
      std::copy(r.begin() + 4, r.begin() + 33, stream.begin() + 3299);
      EXPECT_TRUE(std::all_of(r.begin() + 33, r.end(), [](std::uint8_t b) { return b == 0; }));
    }
  }
  EXPECT_TRUE(host.Next(r));
  EXPECT_EQ(r[0], 0x01);
  EXPECT_EQ(r[1], 0xE2);
  EXPECT_FALSE(host.Next(r, std::chrono::milliseconds(0)));
  return stream;
}

std::int32_t Value(const std::vector<std::uint8_t>& stream, int x, int y, bool isSigned) {
  const std::size_t i = static_cast<std::size_t>(x * 52 + y) * 2;
  const auto u = static_cast<std::uint16_t>(stream[i] | (stream[i + 1] << 8));
  return isSigned ? static_cast<std::int16_t>(u) : u;
}

TEST(SimController, RawFrameStreamsFiftySixPagesInTheSpecifiedLayout) {
  SimBox box;
  PanelState p;
  p.placed = true;
  p.level = 20000;
  p.gradientX = 7;
  p.gradientY = 3;
  p.noise = 0;
  p.nodeFaults.push_back({4, 9, NodeFaultType::Dead, 0});
  p.nodeFaults.push_back({31, 51, NodeFaultType::High, 0});
  box.SetPanel(p);
  Host host(box);
  std::vector<std::uint8_t> s = StreamFrame(box, host, 0x20);
  for (int x = 0; x < 32; ++x) {
    for (int y = 0; y < 52; ++y) {
      int expected = 20000 + 7 * x + 3 * y;
      if (x == 4 && y == 9) expected = 0;
      if (x == 31 && y == 51) expected = 65000;
      ASSERT_EQ(Value(s, x, y, false), expected) << x << "," << y;
    }
  }
}

TEST(SimController, DeltaFrameShowsTouchesAsNegativeCounts) {
  SimBox box;
  PanelState p;
  p.placed = true;
  p.deltaNoise = 0;
  p.touches.push_back({10, 20, 300});
  box.SetPanel(p);
  Host host(box);
  std::vector<std::uint8_t> s = StreamFrame(box, host, 0x08);
  EXPECT_EQ(Value(s, 10, 20, true), -300);
  EXPECT_EQ(Value(s, 11, 21, true), -150);
  EXPECT_EQ(Value(s, 9, 19, true), -150);
  EXPECT_EQ(Value(s, 12, 20, true), 0);
  EXPECT_EQ(Value(s, 0, 0, true), 0);
}

TEST(SimController, EmptyFixtureAndPlacedPanelDifferInLevel) {
  SimBox box;
  Host host(box);
  auto average = [&](const std::vector<std::uint8_t>& s) {
    long sum = 0;
    for (int x = 0; x < 32; ++x)
      for (int y = 0; y < 52; ++y) sum += Value(s, x, y, false);
    return sum / 1664;
  };
  const long empty = average(StreamFrame(box, host, 0x20));
  box.PlacePanel();
  const long placed = average(StreamFrame(box, host, 0x20));
  EXPECT_LT(empty, 18000);
  EXPECT_GT(empty, 14000);
  EXPECT_GE(placed, 28000);  // above the station's default placement trigger
}

class SimSelfTest : public ::testing::Test {
 protected:
  SimBox box;
  Host host{box};

  void Drain() {
    std::vector<std::uint8_t> count;
    ASSERT_TRUE(host.Read(box.ObjectAddress(44), 1, count));
    for (int i = 0; i < count[0]; ++i) {
      std::vector<std::uint8_t> m;
      ASSERT_TRUE(host.Read(box.ObjectAddress(5), box.ObjectSize(5) - 1, m));
    }
  }
  // Runs a test command as the station does and returns the T25 message (empty if none).
  std::vector<std::uint8_t> Run(std::uint8_t command, std::uint8_t ctrl = 3) {
    Drain();
    EXPECT_TRUE(host.Write(box.ObjectAddress(25), {ctrl}));
    EXPECT_TRUE(host.Write(static_cast<std::uint16_t>(box.ObjectAddress(25) + 1), {command}));
    std::vector<std::uint8_t> count;
    EXPECT_TRUE(host.Read(box.ObjectAddress(44), 1, count));
    std::vector<std::uint8_t> found;
    for (int i = 0; i < count[0]; ++i) {
      std::vector<std::uint8_t> m;
      EXPECT_TRUE(host.Read(box.ObjectAddress(5), box.ObjectSize(5) - 1, m));
      if (m[0] == box.ReportIdOf(25)) found = m;
    }
    return found;
  }
};

TEST_F(SimSelfTest, PassesWithoutFaults) {
  box.PlacePanel();
  auto m = Run(0x12);
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(m[1], 0xFE);
  EXPECT_EQ(Run(0x01).at(1), 0xFE);
  // Test command byte returns to 0 once the test has run.
  EXPECT_EQ(box.ReadMemory(static_cast<std::uint16_t>(box.ObjectAddress(25) + 1), 1)[0], 0);
}

TEST_F(SimSelfTest, ReportsLineShortsWithKindAndLinesCountedFromOne) {
  box.PlacePanel();
  box.AddShort({true, 4, 2});
  auto m = Run(0x12);
  ASSERT_GE(m.size(), 5u);
  EXPECT_EQ(m[1], 0x12);
  EXPECT_EQ(m[2], 2);
  EXPECT_EQ(m[3], 5);
  EXPECT_EQ(m[4], 0);
  box.ClearFaults();
  box.AddShort({false, 12, 3});
  m = Run(0x12);
  EXPECT_EQ(m[1], 0x12);
  EXPECT_EQ(m[2], 3);
  EXPECT_EQ(m[3], 0);
  EXPECT_EQ(m[4], 13);
  box.ClearFaults();
  EXPECT_EQ(Run(0x12).at(1), 0xFE);
}

TEST_F(SimSelfTest, PowerFaultUnknownCommandAndDisabledTest) {
  box.SetPowerFault(true);
  EXPECT_EQ(Run(0x01).at(1), 0x01);
  EXPECT_EQ(Run(0xFE).at(1), 0x01);
  EXPECT_EQ(Run(0x42).at(1), 0xFD);
  EXPECT_TRUE(Run(0x12, 0).empty());  // disabled: no test, no message
  EXPECT_TRUE(Run(0x12, 1).empty());  // enabled without reporting
}

TEST_F(SimSelfTest, SignalLimitTestChecksTheTouchWindow) {
  box.PlacePanel();
  EXPECT_EQ(Run(0x17).at(1), 0xFE);
  box.RemovePanel();  // 16000 is below the factory lower limit 27000
  auto m = Run(0x17);
  EXPECT_EQ(m.at(1), 0x17);
  EXPECT_EQ(m.at(2), 9);
}

TEST_F(SimSelfTest, EmptyMessageQueueReadsInvalidReportId) {
  Drain();
  std::vector<std::uint8_t> m;
  ASSERT_TRUE(host.Read(box.ObjectAddress(5), box.ObjectSize(5) - 1, m));
  EXPECT_EQ(m[0], 0xFF);
}

TEST(SimController, DiagnosticPagesCarryReferencesInXMajorOrder) {
  SimBox box;
  box.PlacePanel();
  Host host(box);
  const std::uint16_t diag = static_cast<std::uint16_t>(box.ObjectAddress(6) + 5);
  const std::uint16_t t37 = box.ObjectAddress(37);
  const std::size_t s = box.ObjectSize(37);
  const std::size_t pages = (32 * 52 * 2 + (s - 2) - 1) / (s - 2);
  EXPECT_EQ(pages, 26u);
  std::vector<std::int32_t> values;
  for (std::size_t page = 0; page < pages; ++page) {
    ASSERT_TRUE(host.Write(diag, {static_cast<std::uint8_t>(page == 0 ? 0x11 : 0x01)}));
    std::vector<std::uint8_t> b;
    ASSERT_TRUE(host.Read(diag, 1, b));
    ASSERT_EQ(b[0], 0);
    ASSERT_TRUE(host.Read(t37, s, b));
    ASSERT_EQ(b[0], 0x11);
    ASSERT_EQ(b[1], page);
    for (std::size_t i = 2; i + 1 < s; i += 2) values.push_back(b[i] | (b[i + 1] << 8));
  }
  const PanelState p = box.Panel();
  for (int x = 0; x < 32; ++x) {
    for (int y = 0; y < 52; ++y) {
      ASSERT_EQ(values[static_cast<std::size_t>(x * 52 + y)], p.level + p.gradientX * x + p.gradientY * y);
    }
  }
}

}  // namespace
}  // namespace varnex2::sim
