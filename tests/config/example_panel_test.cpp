// Keeps examples/panel.xml what the writer makes of the demo configuration.
// VARNEX2_WRITE_EXAMPLES=1 rewrites the file instead of comparing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "config/config_samples.h"

namespace varnex2::config {
namespace {

const char* const kExamplePath = VARNEX2_SOURCE_DIR "/examples/panel.xml";

TEST(ExamplePanelFile, IsTheWritersOutputAndLoadsOnTheDemoController) {
  const std::string expected = WriteParameterFile(testing::ExamplePanelConfig(), testing::kExampleVersion);
  if (const char* w = std::getenv("VARNEX2_WRITE_EXAMPLES"); w != nullptr && std::string(w) == "1") {
    std::string message;
    ASSERT_EQ(SaveParameterFile(kExamplePath, testing::ExamplePanelConfig(), testing::kExampleVersion, message),
              ParameterFileStatus::kOk)
        << message;
  }
  std::ifstream in(kExamplePath, std::ios::binary);
  ASSERT_TRUE(in) << kExamplePath;
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(text, expected) << "regenerate with VARNEX2_WRITE_EXAMPLES=1";

  PanelConfig out;
  std::string message;
  ASSERT_EQ(
      LoadParameterText(text, PanelConfig{}, ControllerFacts{32, 52, 0x20}, testing::kExampleVersion, out, message),
      ParameterFileStatus::kOk)
      << message;
  EXPECT_EQ(out.nTestModeFlags, kTestModeThreshold | kTestModeAdjacent);
  EXPECT_EQ(out.adjacentPercent(10, 10), 1500);
  EXPECT_EQ(out.screen.ScreenThresholdEnable, 1);
  EXPECT_EQ(ComputeNodeExtents(out.touchArea, out.keyArea), (NodeExtents{32, 52}));
}

}  // namespace
}  // namespace varnex2::config
