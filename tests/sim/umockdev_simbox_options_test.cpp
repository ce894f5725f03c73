#include "simbox_options.h"

#include <gtest/gtest.h>

namespace varnex2::simbox {
namespace {

TEST(SimboxOptions, CommandFollowsTheSeparatorWithItsOwnOptions) {
  SimboxOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimboxOptions({"--scenario", "unplug", "--paced", "--", "prog", "--scenario", "x"}, o, error))
      << error;
  EXPECT_EQ(o.scenario, "unplug");
  EXPECT_TRUE(o.paced);
  EXPECT_EQ(o.command, (std::vector<std::string>{"prog", "--scenario", "x"}));
  ASSERT_TRUE(ParseSimboxOptions({"--scenario=a.txt", "--", "prog"}, o, error)) << error;
  EXPECT_EQ(o.scenario, "a.txt");
  EXPECT_FALSE(o.paced);
}

TEST(SimboxOptions, MalformedLinesAreRefused) {
  SimboxOptions o;
  std::string error;
  EXPECT_FALSE(ParseSimboxOptions({}, o, error));
  EXPECT_FALSE(ParseSimboxOptions({"--"}, o, error));
  EXPECT_FALSE(ParseSimboxOptions({"--scenario"}, o, error));
  EXPECT_FALSE(ParseSimboxOptions({"--scenario=", "--", "x"}, o, error));
  EXPECT_FALSE(ParseSimboxOptions({"prog"}, o, error));  // the command needs "--" in front
  EXPECT_NE(error.find("--"), std::string::npos);
  ASSERT_TRUE(ParseSimboxOptions({"--help"}, o, error));
  EXPECT_TRUE(o.help);
  for (const char* bad : {"--firmware=3.0", "--firmware=", "--report-objects=", "--report-objects=9,,46",
                          "--report-objects=256", "--report-objects=9x"}) {
    EXPECT_FALSE(ParseSimboxOptions({bad, "--", "x"}, o, error)) << bad;
  }
  ASSERT_TRUE(ParseSimboxOptions({"--firmware=1.1", "--report-objects=7,9,46", "--", "x"}, o, error)) << error;
  EXPECT_EQ(o.firmware, "1.1");
  EXPECT_EQ(o.reportObjects, (std::vector<int>{7, 9, 46}));
}

}  // namespace
}  // namespace varnex2::simbox
