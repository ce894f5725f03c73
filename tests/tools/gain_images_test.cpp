// The gain dialogs' images and texts, without the dialogs.
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "service/gain_images.h"

namespace varnex2::service {
namespace {

TEST(GainImages, T46ImageIsBuiltFromScratchAndReadBack) {
  const T46Image image = BuildT46Image({.enabled = true, .xVoltage = 5, .adcGain = 12});
  EXPECT_EQ(image, (T46Image{0x04, 0x00, 0x0A, 0x10, 0x00, 0x00, 0x01, 0x00, 0x00, 0x05, 0x0C}));
  const T46Image off = BuildT46Image({.enabled = false, .xVoltage = 40, .adcGain = -3});
  EXPECT_EQ(off[0], 0x00);
  EXPECT_EQ(off[9], 16) << "the sliders' range";
  EXPECT_EQ(off[10], 0);

  // Read back: only bit 2 of byte 0 is the enable.
  const T46Fields fields = ReadT46Fields({0xFB, 0, 0, 0, 0, 0, 0, 0, 0, 7, 9});
  EXPECT_FALSE(fields.enabled);
  EXPECT_EQ(fields.xVoltage, 7);
  EXPECT_EQ(fields.adcGain, 9);
  EXPECT_TRUE(ReadT46Fields(image).enabled);
}

TEST(GainImages, T56FieldsPutBackUnchangedKeepEveryOtherBit) {
  T56Image read{};
  for (std::size_t i = 0; i < read.size(); ++i) read[i] = static_cast<std::uint8_t>(i * 37 + 11);
  read[0] = 0xA6;  // bit 0 clear, other bits set
  read[36] = 7;    // neither "或" nor "与"
  T56Image written = read;
  ApplyT56Fields(ReadT56Fields(read), written);

  T56Image expected = read;
  expected[1] = expected[2] = expected[38] = 1;  // check boxes normalise to 0 or 1
  EXPECT_EQ(written, expected) << "byte 35 keeps the 32nd delay, byte 36 stays";

  T56Fields fields = ReadT56Fields(read);
  fields.enable = true;
  fields.multiYFilter = false;
  fields.mode = kT56ModeAnd;
  fields.touchBias = 300;
  fields.noiseThreshold = -1;
  fields.rows[0] = {.high = 1, .low = 0};  // "Low Y 乘数" 1 * 0: 256
  fields.rows[3] = {.high = 0x1FF, .low = 0x102};
  fields.xDelays[31] = 0;  // the 32nd delay wins over "使能多个Y杂讯滤除"
  fields.multiYFilter = true;
  written = read;
  ApplyT56Fields(fields, written);
  EXPECT_EQ(written[0], 0xA7);
  EXPECT_EQ(written[35], 0);
  EXPECT_EQ(written[36], 3);
  EXPECT_EQ(written[37], 0xFF);
  EXPECT_EQ(written[39], 44);
  EXPECT_EQ(written[42], 0);
  EXPECT_EQ(written[43], 1);
  EXPECT_EQ(written[48], 0x02);
  EXPECT_EQ(written[49], 0xFF);
}

TEST(GainImages, XDelayTextBothWays) {
  std::array<int, kXDelayCount> delays{};
  std::iota(delays.begin(), delays.end(), 0);
  delays[31] = 255;
  const std::string text = FormatXDelays(delays);
  EXPECT_EQ(text,
            "000,001,002,003,004,005,006,007,008,009,010,011,012,013,014,015,\r\n"
            "016,017,018,019,020,021,022,023,024,025,026,027,028,029,030,255\r\n");
  EXPECT_EQ(ParseXDelays(text), delays);

  // Leading white space skipped, digits up to the first other character, low 8 bits, more than
  // 32 values: the first 32.
  std::string loose = " 300x,\n 7 ,2";
  for (int i = 3; i < 33; ++i) loose += ", 1";
  const auto parsed = ParseXDelays(loose);
  ASSERT_TRUE(parsed);
  EXPECT_EQ((*parsed)[0], 44);
  EXPECT_EQ((*parsed)[1], 7);
  EXPECT_EQ((*parsed)[2], 2);

  // Refused: fewer than 32 values, a piece that is no number; `found` counts the good ones.
  std::size_t found = 0;
  std::string shortText = text.substr(0, text.rfind(','));  // 31 values
  EXPECT_FALSE(ParseXDelays(shortText, &found));
  EXPECT_EQ(found, 31u);
  std::string gap = text;
  gap.replace(gap.find("002"), 3, "  ");
  EXPECT_FALSE(ParseXDelays(gap, &found));
  EXPECT_EQ(found, 2u);
  EXPECT_FALSE(ParseXDelays("", &found));
  EXPECT_EQ(found, 0u);
  EXPECT_FALSE(ParseXDelays(std::string(text).replace(0, 3, "-01")));
}

TEST(GainImages, NumberFieldsTakeASignedDecimalOnly) {
  EXPECT_EQ(ParseDecimalField("300"), 300);
  EXPECT_EQ(ParseDecimalField(" -1 "), -1);
  EXPECT_EQ(ParseDecimalField("+7"), 7);
  EXPECT_EQ(ParseDecimalField("2147483647"), 2147483647);
  for (const char* bad : {"", " ", "abc", "12a", "1 2", "+-5", "-", "0x10", "99999999999", "１２"}) {
    EXPECT_FALSE(ParseDecimalField(bad)) << bad;
  }
}

}  // namespace
}  // namespace varnex2::service
