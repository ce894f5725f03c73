#include "platform/interface_path.h"

#include <gtest/gtest.h>

namespace varnex2::platform {
namespace {

constexpr const char* kBridgePath =
    R"(\\?\HID#VID_04B4&PID_E006#6&2c5a1f3&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})";
constexpr const char* kControllerMain =
    R"(\\?\HID#VID_03EB&PID_212C&MI_01&COL01#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})";
constexpr const char* kControllerCol02 =
    R"(\\?\HID#VID_03EB&PID_212C&MI_01&COL02#7&1a2b3c4d&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030})";
constexpr const char* kControllerMi00 =
    R"(\\?\HID#VID_03EB&PID_212C&MI_00#7&5e6f7a8b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})";

TEST(InterfacePath, BridgeNeedsBothIds) {
  EXPECT_TRUE(ClassifyInterfacePath(kBridgePath).bridge);
  EXPECT_FALSE(ClassifyInterfacePath(kBridgePath).controllerMain);
  EXPECT_FALSE(ClassifyInterfacePath(kBridgePath).IsControllerOther());
  EXPECT_TRUE(ClassifyInterfacePath(R"(\\?\HID#VID_04B4&PID_E007#6&2c&0&0000#{x})").IsNone());
  EXPECT_TRUE(ClassifyInterfacePath(R"(\\?\HID#VID_04B5&PID_E006#6&2c&0&0000#{x})").IsNone());
}

TEST(InterfacePath, ControllerMainAndOtherInterfacesReportEveryMatch) {
  const auto main = ClassifyInterfacePath(kControllerMain);
  EXPECT_TRUE(main.controllerMain);
  EXPECT_FALSE(main.bridge);
  // MI_01 is one of the other-interface patterns too; the handler sees both facts.
  EXPECT_EQ(main.OtherMatchCount(), 1u);
  EXPECT_TRUE(main.otherMatched[2]);

  const auto col02 = ClassifyInterfacePath(kControllerCol02);
  EXPECT_FALSE(col02.controllerMain);
  EXPECT_EQ(col02.OtherMatchCount(), 2u);  // COL02 and MI_01: two replug posts
  EXPECT_TRUE(col02.otherMatched[0]);
  EXPECT_TRUE(col02.otherMatched[2]);

  const auto mi00 = ClassifyInterfacePath(kControllerMi00);
  EXPECT_FALSE(mi00.controllerMain);
  EXPECT_EQ(mi00.OtherMatchCount(), 1u);
  EXPECT_TRUE(mi00.otherMatched[1]);
}

TEST(InterfacePath, ControllerIdsWithoutInterfacePatternMatchNothing) {
  const auto c = ClassifyInterfacePath(R"(\\?\HID#VID_03EB&PID_212C&MI_03#7&1&0&0000#{x})");
  EXPECT_TRUE(c.IsNone());
  // The interface patterns alone, without the controller's ids, match nothing either.
  EXPECT_TRUE(ClassifyInterfacePath(R"(\\?\HID#VID_1234&PID_5678&MI_00&COL01#7&1&0&0000#{x})").IsNone());
}

TEST(InterfacePath, LowerCasePathsAreRecognised) {
  EXPECT_TRUE(ClassifyInterfacePath(R"(\\?\hid#vid_04b4&pid_e006#6&2c5a1f3&0&0000#{4d1e55b2})").bridge);
  EXPECT_TRUE(ClassifyInterfacePath(R"(\\?\hid#vid_03eb&pid_212c&mi_01&col01#7&1&0&0000#{x})").controllerMain);
}

TEST(InterfacePath, PatternAtTheFirstCharacterDoesNotCount) {
  EXPECT_FALSE(ClassifyInterfacePath("VID_04B4&PID_E006").bridge);
  EXPECT_TRUE(ClassifyInterfacePath("xVID_04B4&PID_E006").bridge);
  EXPECT_FALSE(ClassifyInterfacePath("COL01&VID_03EB&PID_212C").controllerMain);
  // Only the first occurrence decides, as a plain find would.
  EXPECT_FALSE(ClassifyInterfacePath("MI_00#VID_03EB&PID_212C&MI_00").IsControllerOther());
}

TEST(InterfacePath, PathsBeginningWithTheHidClassIdentifierAreIgnored) {
  EXPECT_TRUE(ClassifyInterfacePath("{4D1E55B2-F16F-11CF-88CB-001111000030}#VID_04B4&PID_E006").IsNone());
  EXPECT_TRUE(ClassifyInterfacePath("{4d1e55b2-f16f-11cf-88cb-001111000030}\\VID_03EB&PID_212C&COL01&MI_00").IsNone());
  // The identifier elsewhere (where Windows puts it) changes nothing.
  EXPECT_TRUE(ClassifyInterfacePath(kBridgePath).bridge);
}

TEST(InterfacePath, EmptyAndShortPaths) {
  EXPECT_TRUE(ClassifyInterfacePath("").IsNone());
  EXPECT_TRUE(ClassifyInterfacePath("V").IsNone());
}

}  // namespace
}  // namespace varnex2::platform
