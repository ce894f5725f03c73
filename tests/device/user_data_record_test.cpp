// The T38 user-data record: layout, recognition and the round trip through the controller.

#include "device/user_data_record.h"

#include <gtest/gtest.h>

#include <numeric>

#include "fake_controller.h"

namespace varnex2::device {
namespace {

using testing::FakeController;
using testing::FakeUsbPort;

UserDataRecord Sample() {
  UserDataRecord r;
  r.nUiColorMode = 2;
  r.nLegacyTestMode = 3;
  // nX 31, enable, type 2; nY 63 with spare bits 01.
  r.marks[0] = static_cast<std::uint16_t>((31 << 3 | 1 << 2 | 2) | (63 << 2 | 1) << 8);
  r.marks[11] = static_cast<std::uint16_t>((5 << 3 | 1) | (7 << 2) << 8);
  return r;
}

TEST(UserData, LayoutOfTheBytes) {
  UserDataBytes b{};
  EncodeUserData(Sample(), b);
  EXPECT_EQ(b[0], 0x56);
  EXPECT_EQ(b[1], 0x32);
  EXPECT_EQ(b[2], 1);
  EXPECT_EQ(b[3], 2 | 3 << 2);
  EXPECT_EQ(b[4], 31 << 3 | 1 << 2 | 2);
  EXPECT_EQ(b[5], 63 << 2 | 1);
  EXPECT_EQ(b[4 + 22], 5 << 3 | 1);
  EXPECT_EQ(b[5 + 22], 7 << 2);
  EXPECT_EQ(std::accumulate(b.begin(), b.end(), 0u) & 0xFF, 0u);
  UserDataRecord back;
  ASSERT_TRUE(DecodeUserData(b, back));
  EXPECT_EQ(back.nUiColorMode, 2);
  EXPECT_EQ(back.nLegacyTestMode, 3);
  EXPECT_EQ(back.marks, Sample().marks);
}

TEST(UserData, ForeignRecordsReadAsDefaults) {
  UserDataRecord r = Sample();
  UserDataBytes zero{};
  EXPECT_FALSE(DecodeUserData(zero, r));
  EXPECT_EQ(r.nUiColorMode, 0);
  EXPECT_EQ(r.marks[0], 0);
  UserDataBytes pattern{};  // what the tester self-test leaves in T38
  std::iota(pattern.begin(), pattern.end(), 0);
  EXPECT_FALSE(DecodeUserData(pattern, r));
  UserDataBytes good{};
  EncodeUserData(Sample(), good);
  good[10] ^= 0x40;  // one flipped bit
  EXPECT_FALSE(DecodeUserData(good, r));
  EncodeUserData(Sample(), good);
  good[2] = 2;  // a later layout
  EXPECT_FALSE(DecodeUserData(good, r));
}

TEST(UserData, ReservedBytesOfAValidRecordAreKept) {
  UserDataBytes b{};
  EncodeUserData(Sample(), b);
  b[40] = 0x99;
  b[63] = static_cast<std::uint8_t>(b[63] - 0x99);
  UserDataRecord r;
  ASSERT_TRUE(DecodeUserData(b, r));
  r.nUiColorMode = 1;
  EncodeUserData(r, b);
  EXPECT_EQ(b[40], 0x99);
  ASSERT_TRUE(DecodeUserData(b, r));
  EXPECT_EQ(r.nUiColorMode, 1);
  UserDataBytes foreign{};
  foreign.fill(0x77);
  EncodeUserData(r, foreign);
  EXPECT_EQ(foreign[40], 0);
}

TEST(UserData, RoundTripThroughTheController) {
  FakeUsbPort port;
  FakeController box(port);
  ControllerLink link(port);
  ASSERT_EQ(link.OpenController(), 0);
  ASSERT_EQ(ReadInfoBlock(link, *link.Record()), 0);
  std::iota(box.memory.begin() + FakeController::kT38, box.memory.begin() + FakeController::kT38 + 64, 0);
  UserDataRecord r;
  bool recognised = true;
  ASSERT_EQ(ReadUserData(link, r, &recognised), 0);
  EXPECT_FALSE(recognised);
  ASSERT_EQ(WriteUserData(link, Sample()), 0);
  ASSERT_EQ(ReadUserData(link, r, &recognised), 0);
  EXPECT_TRUE(recognised);
  EXPECT_EQ(r.marks, Sample().marks);
  EXPECT_EQ(r.nLegacyTestMode, 3);

  box.objects[4].size = 32;  // T38 shorter than the record
  box.BuildInfoBlock();
  ASSERT_EQ(ReadInfoBlock(link, *link.Record()), 0);
  EXPECT_EQ(ReadUserData(link, r), kErrNoMemory);
  EXPECT_EQ(WriteUserData(link, r), kErrNoMemory);
}

}  // namespace
}  // namespace varnex2::device
