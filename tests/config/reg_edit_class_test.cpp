// Registry-style settings access over the settings file: return values, the traces on standard
// output, load-or-create and the order in which the groups are loaded and saved.

#include "config/reg_edit_class.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/settings_document.h"
#include "platform/settings_file_store.h"
#include "platform/settings_test_dir.h"

namespace varnex2::config {
namespace {

using platform::SettingsStatus;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// Value names of `key` in file order.
std::vector<std::string> NamesInFile(const std::filesystem::path& file, std::string_view key) {
  const auto doc = platform::SettingsDocument::Parse(testing::ReadText(file));
  std::vector<std::string> names;
  if (const auto* k = doc.FindKey(key)) {
    for (const auto& v : k->values) names.push_back(v.name);
  }
  return names;
}

std::string Repeat(const char* line, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += std::string(line) + "\n";
  return s;
}

TEST(RegEditClass, ReturnValuesAndTraces) {
  testing::SettingsTestDir dir;
  auto store = platform::CreateFileSettingsStore(dir.File());
  CRegEditClass reg(*store);
  int32_t n = 77;
  std::string s = "keep";

  CaptureStdout();
  EXPECT_EQ(reg.ReadRegDword(kRegKeyOutPutSetting, "Trigger", n), 1);
  EXPECT_EQ(GetCapturedStdout(), "打开注册表失败\n");
  CaptureStdout();
  EXPECT_EQ(reg.ReadRegString(kRegKeyOutPutSetting, "Text", s, 255), 1);
  EXPECT_EQ(GetCapturedStdout(), "打开注册表失败\n");

  CaptureStdout();
  EXPECT_EQ(reg.WriteRegDword(kRegKeyOutPutSetting, "StableFrameCnt", 3), 0);
  EXPECT_EQ(reg.WriteRegString(kRegKeyOutPutSetting, "Text", "30000"), 0);
  EXPECT_EQ(reg.WriteRegString(kRegKeyOutPutSetting, "Long", std::string(255, 'x')), 0);
  EXPECT_EQ(GetCapturedStdout(), "");

  CaptureStdout();
  EXPECT_EQ(reg.ReadRegDword(kRegKeyOutPutSetting, "Trigger", n), 1);  // no value
  EXPECT_EQ(reg.ReadRegDword(kRegKeyOutPutSetting, "Text", n), 1);     // a text
  EXPECT_EQ(GetCapturedStdout(), "读取注册表中KEY 失败\n读取注册表中KEY 失败\n");
  EXPECT_EQ(n, 77);

  CaptureStdout();
  EXPECT_EQ(reg.ReadRegString(kRegKeyOutPutSetting, "Missing", s, 255), 1);
  EXPECT_EQ(reg.ReadRegString(kRegKeyOutPutSetting, "StableFrameCnt", s, 255), 1);
  EXPECT_EQ(reg.ReadRegString(kRegKeyOutPutSetting, "Long", s, 255), 1) << "no room for the terminator";
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(s, "keep");
  EXPECT_EQ(reg.ReadRegString(kRegKeyOutPutSetting, "Long", s, 256), 0);
  EXPECT_EQ(s.size(), 255u);
  EXPECT_EQ(reg.ReadRegDword(kRegKeyOutPutSetting, "StableFrameCnt", n), 0);
  EXPECT_EQ(n, 3);

  // A store that cannot be written: its folder would lie below a plain file.
  testing::WriteText(dir.Path() / "plain", "x");
  auto broken = platform::CreateFileSettingsStore(dir.Path() / "plain" / "settings.reg");
  CRegEditClass bad(*broken);
  CaptureStdout();
  EXPECT_EQ(bad.WriteRegDword(kRegKeyOutPutSetting, "Trigger", 1), 1);
  EXPECT_EQ(bad.WriteRegString(kRegKeyOutPutSetting, "Text", "x"), 1);
  EXPECT_EQ(GetCapturedStdout(), "创建注册表失败\n");
}

TEST(RegEditClass, FirstLoadOnAFreshMachineCreatesEveryDefault) {
  testing::SettingsTestDir dir;
  auto store = platform::CreateFileSettingsStore(dir.File());

  int32_t trigger = 1, stable = 1, gain = 0;
  ScreenLevelSettings screen = ScreenLevelSettings::FromArray({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
  CaptureStdout();
  LoadOutputSetting(*store, trigger, stable);
  LoadScreenThreshold(*store, screen);
  LoadDiffModeGain(*store, gain);
  // Each group's first read finds no key; the later ones find the key created by then.
  EXPECT_EQ(GetCapturedStdout(), "打开注册表失败\n读取注册表中KEY 失败\n" + std::string("打开注册表失败\n") +
                                     Repeat("读取注册表中KEY 失败", 11) + "打开注册表失败\n");
  EXPECT_EQ(trigger, 28000);
  EXPECT_EQ(stable, 3);
  EXPECT_EQ(gain, 4);
  EXPECT_EQ(screen, ScreenLevelSettings{});

  // Loaded from "ScreenThresholdEnable" to "ViewMode"; every value is stored with its default.
  const std::vector<std::string> loadOrder = {"ScreenThresholdEnable",
                                              "RawdataMax",
                                              "RawdataMaxEnable",
                                              "RawdataMin",
                                              "RawdataMinEnable",
                                              "RawdataRange",
                                              "RawdataRangeEnable",
                                              "RawdataVariance",
                                              "RawdataVarianceEnable",
                                              "RawdataRangeDiscardVariance",
                                              "RawdataRangeDiscardVarianceEnable",
                                              "ViewMode"};
  EXPECT_EQ(NamesInFile(dir.File(), kRegKeyScreenThreshold), loadOrder);
  EXPECT_EQ(NamesInFile(dir.File(), kRegKeyOutPutSetting), (std::vector<std::string>{"Trigger", "StableFrameCnt"}));
  const auto defaults = ScreenLevelSettings{}.ToArray();
  for (std::size_t i = 0; i < defaults.size(); ++i) {
    int32_t v = -1;
    EXPECT_EQ(store->GetDword(kRegKeyScreenThreshold, kScreenLevelValueNames[i], v), SettingsStatus::Ok);
    EXPECT_EQ(v, defaults[i]) << kScreenLevelValueNames[i];
  }
  int32_t v = 0;
  EXPECT_EQ(store->GetDword(kRegKeyDiffMode, "Gain", v), SettingsStatus::Ok);
  EXPECT_EQ(v, 4);

  // The second load finds everything: silent.
  CaptureStdout();
  LoadOutputSetting(*store, trigger, stable);
  LoadScreenThreshold(*store, screen);
  LoadDiffModeGain(*store, gain);
  EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(RegEditClass, OneDeletedValueIsRecreatedAloneAndOthersKeepTheirContent) {
  testing::SettingsTestDir dir;
  auto store = platform::CreateFileSettingsStore(dir.File());
  const ScreenLevelSettings stored =
      ScreenLevelSettings::FromArray({1, 1, 31000, 0, 21000, 0, 4000, 0, 300, 0, 3000, 0});
  SaveScreenThreshold(*store, stored);
  ASSERT_EQ(store->DeleteValue(kRegKeyScreenThreshold, "RawdataMin"), SettingsStatus::Ok);

  ScreenLevelSettings screen;
  CaptureStdout();
  LoadScreenThreshold(*store, screen);
  EXPECT_EQ(GetCapturedStdout(), "读取注册表中KEY 失败\n");
  ScreenLevelSettings expected = stored;
  expected.RawdataMin = 20000;
  EXPECT_EQ(screen, expected);
  int32_t v = 0;
  EXPECT_EQ(store->GetDword(kRegKeyScreenThreshold, "RawdataMin", v), SettingsStatus::Ok);
  EXPECT_EQ(v, 20000);
  EXPECT_EQ(store->GetDword(kRegKeyScreenThreshold, "RawdataMax", v), SettingsStatus::Ok);
  EXPECT_EQ(v, 31000);
}

TEST(RegEditClass, SaveWritesTheScreenGroupInPanelctlOrder) {
  testing::SettingsTestDir dir;
  auto store = platform::CreateFileSettingsStore(dir.File());
  const ScreenLevelSettings screen = ScreenLevelSettings::FromArray({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  SaveScreenThreshold(*store, screen);
  const std::vector<std::string> panelctl(kScreenLevelValueNames.begin(), kScreenLevelValueNames.end());
  EXPECT_EQ(NamesInFile(dir.File(), kRegKeyScreenThreshold), panelctl);
  ScreenLevelSettings back = ScreenLevelSettings::FromArray({});
  LoadScreenThreshold(*store, back);
  EXPECT_EQ(back, screen);

  SaveOutputSetting(*store, 30500, 7);
  int32_t trigger = 0, stable = 0;
  LoadOutputSetting(*store, trigger, stable);
  EXPECT_EQ(trigger, 30500);
  EXPECT_EQ(stable, 7);
}

TEST(RegEditClass, ATriggerStoredAsTextIsReplacedByTheDefaultNumber) {
  testing::SettingsTestDir dir;
  auto store = platform::CreateFileSettingsStore(dir.File());
  ASSERT_EQ(store->SetString(kRegKeyOutPutSetting, "Trigger", "30000"), SettingsStatus::Ok);
  ASSERT_EQ(store->SetDword(kRegKeyOutPutSetting, "StableFrameCnt", 5), SettingsStatus::Ok);
  int32_t trigger = 0, stable = 0;
  CaptureStdout();
  LoadOutputSetting(*store, trigger, stable);
  EXPECT_EQ(GetCapturedStdout(), "读取注册表中KEY 失败\n");
  EXPECT_EQ(trigger, 28000);
  EXPECT_EQ(stable, 5);
  int32_t v = 0;
  EXPECT_EQ(store->GetDword(kRegKeyOutPutSetting, "Trigger", v), SettingsStatus::Ok);
  EXPECT_EQ(v, 28000);
}

TEST(RegEditClass, LoadOrCreateStringReplacesWhatDoesNotFit) {
  testing::SettingsTestDir dir;
  auto store = platform::CreateFileSettingsStore(dir.File());
  CRegEditClass reg(*store);
  constexpr std::string_view key = "Software\\Varnx2\\ScannerSetting\\Trigger";
  ASSERT_EQ(reg.WriteRegString(key, "TriggerString", std::string(255, 'a')), 0);
  std::string s;
  EXPECT_FALSE(LoadOrCreateString(reg, key, "TriggerString", s, "\\d{7}", 255));
  EXPECT_EQ(s, "\\d{7}");
  EXPECT_TRUE(LoadOrCreateString(reg, key, "TriggerString", s, "other", 255));
  EXPECT_EQ(s, "\\d{7}");
  ASSERT_EQ(reg.WriteRegString(key, "TriggerString", std::string(254, 'a')), 0);
  EXPECT_TRUE(LoadOrCreateString(reg, key, "TriggerString", s, "other", 255));
  EXPECT_EQ(s.size(), 254u);
}

}  // namespace
}  // namespace varnex2::config
