// Capture text, appending to a file, and reading frame files back.
#include "judging/frame_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace varnex2::judging {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// ---- Capture text ---------------------------------------------------------------

TEST(CaptureText, RowsAsLinesZeroAndMaskFieldsEmpty) {
  NodeMap map;
  map.SetGridSize(3, 2);
  NodeFrame f(3, 2);
  f(0, 0) = 10;
  f(1, 0) = 20;
  f(2, 0) = 30;
  f(0, 1) = 0;
  f(1, 1) = 5;
  f(2, 1) = -7;
  map.Evaluate(f);
  EXPECT_EQ(BuildCaptureText(map), "10,20,30\n,5,-7\n");

  map.SetNodeFlags(1, 0, 1, 0, NodeFlag::MASK, 0, FlagOp::Set);
  map.SetNodeFlags(2, 0, 2, 0, NodeFlag::KEY, 0, FlagOp::Set);
  EXPECT_EQ(BuildCaptureText(map), "10,,30\n,5,-7\n");
}

TEST(CaptureText, ExtentsAreTheSmallerOfMapAndCopy) {
  NodeFrame raw(3, 3, 1);
  NodeFrame flags(3, 3, NodeFlag::TOUCH);
  EXPECT_EQ(BuildCaptureText(raw, flags, 2, 5), "1,1\n1,1\n1,1\n");
  EXPECT_EQ(BuildCaptureText(raw, NodeFrame(1, 1, NodeFlag::TOUCH), 3, 1), "1,,\n");
  EXPECT_EQ(BuildCaptureText(raw, flags, 0, 3), "");
  NodeMap empty;
  EXPECT_EQ(BuildCaptureText(empty), "");
}

TEST(CaptureFile, AppendsWithCrLfAndKeepsEarlierContent) {
  const auto path = std::filesystem::temp_directory_path() / ("varnex2_capture_" + std::to_string(::getpid()) + ".csv");
  std::filesystem::remove(path);
  ASSERT_TRUE(AppendCaptureToFile(path.string(), "10,20,30\n,5,-7\n"));
  ASSERT_TRUE(AppendCaptureToFile(path.string(), "1\n"));
  ASSERT_TRUE(AppendCaptureToFile(path.string(), ""));  // an empty map appends nothing
  EXPECT_EQ(ReadFile(path), "10,20,30\r\n,5,-7\r\n1\r\n");
  std::filesystem::remove(path);
  EXPECT_FALSE(AppendCaptureToFile((path / "no" / "such").string(), "1\n"));
  EXPECT_FALSE(AppendCaptureToFile("", "1\n"));
}

// ---- Reading frames ---------------------------------------------------------------------

TEST(ParseFrames, BlocksRowsAndFields) {
  std::vector<NodeFrame> frames;
  std::string error;
  ASSERT_TRUE(ParseFrames("10,20,30\r\n,5,-7\r\n\r\n \t\r\n1, +2 ,\n3\n", frames, error)) << error;
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].Columns(), 3);
  EXPECT_EQ(frames[0].Rows(), 2);
  EXPECT_EQ(frames[0](0, 0), 10);
  EXPECT_EQ(frames[0](2, 0), 30);
  EXPECT_EQ(frames[0](0, 1), 0);
  EXPECT_EQ(frames[0](2, 1), -7);
  // "1, +2 ," has three fields; the short row "3" is padded.
  EXPECT_EQ(frames[1].Columns(), 3);
  EXPECT_EQ(frames[1].Rows(), 2);
  EXPECT_EQ(frames[1](1, 0), 2);
  EXPECT_EQ(frames[1](0, 1), 3);
  EXPECT_EQ(frames[1](2, 1), 0);
}

TEST(ParseFrames, CaptureTextReadsBack) {
  NodeFrame raw(4, 3);
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 3; ++r) raw(c, r) = c * 1000 - r * 7 + 1;
  const std::string text = BuildCaptureText(raw, NodeFrame(4, 3, NodeFlag::TOUCH), 4, 3);
  std::vector<NodeFrame> frames;
  std::string error;
  ASSERT_TRUE(ParseFrames(text + "\n" + text, frames, error)) << error;
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], raw);
  EXPECT_EQ(frames[1], raw);
}

TEST(ParseFrames, AShapeRefusesOtherLineAndFrameCounts) {
  std::vector<NodeFrame> frames;
  std::string error;
  const FrameShape shape{3, 2};
  ASSERT_TRUE(ParseFrames("1,2,3\n4,5,6\n\n7,8,9\n,,\n", frames, error, shape)) << error;
  EXPECT_EQ(frames.size(), 2u);
  // A short line is no longer padded.
  EXPECT_FALSE(ParseFrames("1,2,3\n4,5\n", frames, error, shape));
  EXPECT_EQ(error, "line 2 has 2 fields, but the configuration has 3 Y lines (one field each)");
  EXPECT_TRUE(frames.empty());
  // A frame of one line too few, in the middle and at the end of the text.
  EXPECT_FALSE(ParseFrames("1,2,3\n\n1,2,3\n4,5,6\n", frames, error, shape));
  EXPECT_EQ(error, "the frame starting at line 1 has 1 lines, but the configuration has 2 X lines (one line each)");
  EXPECT_FALSE(ParseFrames("1,2,3\n4,5,6\n\n\n1,2,3\n", frames, error, shape));
  EXPECT_EQ(error, "the frame starting at line 5 has 1 lines, but the configuration has 2 X lines (one line each)");
  EXPECT_TRUE(frames.empty());
}

TEST(ParseFrames, EmptyInputAndBomGiveNoFrames) {
  std::vector<NodeFrame> frames(3);
  std::string error = "x";
  EXPECT_TRUE(ParseFrames("", frames, error));
  EXPECT_TRUE(frames.empty());
  EXPECT_TRUE(error.empty());
  EXPECT_TRUE(
      ParseFrames("\xEF\xBB\xBF"
                  "5\n",
                  frames, error));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0](0, 0), 5);
}

TEST(ParseFrames, Int32RangeIsExact) {
  std::vector<NodeFrame> frames;
  std::string error;
  ASSERT_TRUE(ParseFrames("2147483647,-2147483648\n", frames, error)) << error;
  EXPECT_EQ(frames[0](0, 0), INT32_MAX);
  EXPECT_EQ(frames[0](1, 0), INT32_MIN);
  EXPECT_FALSE(ParseFrames("1\n2147483648\n", frames, error));
  EXPECT_EQ(error, "line 2, field 1: \"2147483648\" is out of the 32-bit integer range");
  EXPECT_TRUE(frames.empty());
  EXPECT_FALSE(ParseFrames("-2147483649", frames, error));
  EXPECT_FALSE(ParseFrames("99999999999999999999999", frames, error));
  EXPECT_NE(error.find("out of the 32-bit integer range"), std::string::npos);
}

TEST(ParseFrames, NonIntegersNameLineAndField) {
  std::vector<NodeFrame> frames;
  std::string error;
  const char* bad[] = {"1,2,x\n", "1,2,3a\n", "1,2,- 3\n", "1,2,+\n", "1,2,3.5\n", "1,2,0x10\n", "1,2,1 2\n"};
  for (const char* text : bad) {
    EXPECT_FALSE(ParseFrames(text, frames, error)) << text;
    EXPECT_EQ(error.rfind("line 1, field 3: ", 0), 0u) << error;
    EXPECT_NE(error.find("is not an integer"), std::string::npos) << error;
  }
  EXPECT_FALSE(ParseFrames(std::string_view("1\n\n\n7,\x01\n", 8), frames, error));
  EXPECT_EQ(error, "line 4, field 2: \"\\x01\" is not an integer");
}

TEST(ParseFrames, OversizedFramesAreRefused) {
  std::vector<NodeFrame> frames;
  std::string error;
  std::string wide(256, ',');  // 257 fields
  EXPECT_FALSE(ParseFrames(wide, frames, error));
  EXPECT_NE(error.find("more than 256 columns"), std::string::npos) << error;

  std::string tall;
  for (int i = 0; i < 257; ++i) tall += "1\n";
  EXPECT_FALSE(ParseFrames(tall, frames, error));
  EXPECT_NE(error.find("more than 256 rows"), std::string::npos) << error;

  // 256 columns x 26 rows = 6656 nodes fits; one more row does not.
  std::string row(255, ',');
  row += "\n";
  std::string big;
  for (int i = 0; i < 26; ++i) big += row;
  ASSERT_TRUE(ParseFrames(big, frames, error)) << error;
  EXPECT_EQ(frames[0].Columns(), 256);
  EXPECT_FALSE(ParseFrames(big + row, frames, error));
  EXPECT_NE(error.find("more than 6656 nodes"), std::string::npos) << error;
  // A separate frame starts counting again.
  ASSERT_TRUE(ParseFrames(big + "\n" + big, frames, error)) << error;
  EXPECT_EQ(frames.size(), 2u);
}

}  // namespace
}  // namespace varnex2::judging
