// The scanner settings record: defaults, load-or-create of the whole list, save, the counter.

#include "scanner/scanner_setting.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "config/reg_edit_class.h"
#include "platform/settings_document.h"
#include "platform/settings_file_store.h"
#include "platform/settings_test_dir.h"

namespace varnex2::scanner {
namespace {

using platform::SettingsStatus;

std::vector<std::string> KeysInFile(const std::filesystem::path& file) {
  std::vector<std::string> keys;
  const auto doc = platform::SettingsDocument::Parse(testing::ReadText(file));
  for (const auto& k : doc.Keys()) keys.push_back(k.path);
  return keys;
}

int32_t StoredDword(platform::SettingsStore& store, std::string_view key, std::string_view name) {
  int32_t v = INT32_MIN;
  EXPECT_EQ(store.GetDword(key, name, v), SettingsStatus::Ok) << key << " " << name;
  return v;
}

std::string StoredText(platform::SettingsStore& store, std::string_view key, std::string_view name) {
  std::string s = "<missing>";
  EXPECT_EQ(store.GetString(key, name, s, 4096), SettingsStatus::Ok) << key << " " << name;
  return s;
}

TEST(ScannerSetting, DefaultCustomInformationIsFiveLinesWithinItsLimit) {
  const ScannerSetting s;
  std::vector<std::string> lines;
  std::string rest = s.strAdditionalInfo;
  for (std::size_t p; (p = rest.find("\r\n")) != std::string::npos; rest.erase(0, p + 2)) {
    lines.push_back(rest.substr(0, p));
  }
  lines.push_back(rest);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1].rfind("操作员：", 0), 0u);
  EXPECT_EQ(lines[2], "工号：9527");
  EXPECT_EQ(lines[3], "班次：996");
  EXPECT_EQ(lines[4], "拉线：Line 233");
  EXPECT_EQ(rest.find('\n'), std::string::npos);
  EXPECT_LE(s.strAdditionalInfo.size(), kAdditionalInfoMaxBytes);
  for (const auto* text : {&s.strTriggerString, &s.strFilenameFormat, &s.strProductModel}) {
    EXPECT_LE(text->size(), kScannerTextMaxBytes);
  }
}

TEST(ScannerSetting, FirstLoadOnAFreshMachineStoresEveryDefaultInOrder) {
  testing::SettingsTestDir dir;
  auto store = platform::CreateFileSettingsStore(dir.File());
  ScannerSetting live;
  live.nConnectType = 1;
  live.strProductModel = "live";
  config::ScreenLevelSettings screen = config::ScreenLevelSettings::FromArray({});
  int32_t gain = 0;
  ::testing::internal::CaptureStdout();
  LoadScannerSetting(*store, live, screen, gain);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(live, ScannerSetting{});
  EXPECT_EQ(screen, config::ScreenLevelSettings{});
  EXPECT_EQ(gain, 4);

  // The subtree first (in field order), then the screen group, then the gain.
  EXPECT_EQ(KeysInFile(dir.File()),
            (std::vector<std::string>{std::string(kRegKeyConnect), std::string(kRegKeyTrigger),
                                      std::string(kRegKeyFileRecoder), std::string(kRegKeyCounter),
                                      std::string(kRegKeyProductModel), std::string(kRegKeyAttribute),
                                      std::string(kRegKeyAdditionalInfo), std::string(config::kRegKeyScreenThreshold),
                                      std::string(config::kRegKeyDiffMode)}));

  // All 21 values, with the defaults of the table.
  auto& st = *store;
  EXPECT_EQ(StoredDword(st, kRegKeyConnect, "Type"), 0);
  EXPECT_EQ(StoredDword(st, kRegKeyConnect, "HIDMode"), 0);
  EXPECT_EQ(StoredDword(st, kRegKeyConnect, "COMNum"), 0);
  EXPECT_EQ(StoredDword(st, kRegKeyTrigger, "Type"), 0x8000);
  EXPECT_EQ(StoredDword(st, kRegKeyTrigger, "Flag"), 1);
  EXPECT_EQ(StoredText(st, kRegKeyTrigger, "TriggerString"), "\\d{7}");
  EXPECT_EQ(StoredDword(st, kRegKeyFileRecoder, "Type"), 1);
  EXPECT_EQ(StoredText(st, kRegKeyFileRecoder, "FilenameFormatString"),
            "{测试计数}.{产品型号} 时间{测试时间} 结果{测试结果}");
  EXPECT_EQ(StoredDword(st, kRegKeyCounter, "Enable"), 1);
  EXPECT_EQ(StoredDword(st, kRegKeyCounter, "CounterNum"), 0);
  EXPECT_EQ(StoredDword(st, kRegKeyProductModel, "Enable"), 1);
  EXPECT_EQ(StoredText(st, kRegKeyProductModel, "ProductModel"), "TP-NEW888");
  EXPECT_EQ(StoredDword(st, kRegKeyAttribute, "ScannerResult"), 1);
  EXPECT_EQ(StoredDword(st, kRegKeyAttribute, "TestResult"), 1);
  EXPECT_EQ(StoredDword(st, kRegKeyAttribute, "TestResultOnlyPass"), 1);
  EXPECT_EQ(StoredDword(st, kRegKeyAttribute, "TestResultOnlyFail"), 0);
  EXPECT_EQ(StoredDword(st, kRegKeyAttribute, "TestResultSummer"), 1);
  EXPECT_EQ(StoredDword(st, kRegKeyAttribute, "TestRawdata"), 1);
  EXPECT_EQ(StoredDword(st, kRegKeyAttribute, "TestTime"), 1);
  EXPECT_EQ(StoredDword(st, kRegKeyAdditionalInfo, "Enable"), 1);
  EXPECT_EQ(StoredText(st, kRegKeyAdditionalInfo, "AdditionalInfo"), kDefaultAdditionalInfo);
  std::size_t values = 0;
  const auto doc = platform::SettingsDocument::Parse(testing::ReadText(dir.File()));
  for (const auto& k : doc.Keys()) {
    if (k.path.starts_with(kRegKeyScannerSetting)) values += k.values.size();
  }
  EXPECT_EQ(values, 21u);
  EXPECT_EQ(StoredDword(st, config::kRegKeyScreenThreshold, "RawdataVariance"), 402);
  EXPECT_EQ(StoredDword(st, config::kRegKeyDiffMode, "Gain"), 4);

  // Everything is there now: the next load is silent.
  ::testing::internal::CaptureStdout();
  LoadScannerSetting(*store, live, screen, gain);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(ScannerSetting, SavedValuesComeBackAndTextsThatDoNotFitTakeTheirDefault) {
  testing::SettingsTestDir dir;
  auto store = platform::CreateFileSettingsStore(dir.File());
  ScannerSetting s;
  s.nConnectType = kConnectNone;
  s.nHIDMode = kHidModeForeground;
  s.nCOMNum = 4;
  s.nTriggerType = kTriggerControlChar;
  s.nTriggerFlag = kTriggerFlagCr | kTriggerFlagTab;
  s.strTriggerString = "^SN\\d+\"$";
  s.nFileType = kFileDaily;
  s.strFilenameFormat = "{扫描枪数据}";
  s.bCounter = 0;
  s.nCounterNum = 12345;
  s.bProductModel = 0;
  s.strProductModel = "型号-A";
  s.bScannerResult = 0;
  s.bTestResult = 0;
  s.bTestResultOnlyPass = 0;
  s.bTestResultOnlyFail = 1;
  s.bTestResultSummer = 0;
  s.bTestRawdata = 0;
  s.bTestTime = 0;
  s.bAdditionalInfo = 0;
  s.strAdditionalInfo = std::string(kAdditionalInfoMaxBytes - 2, 'i') + "\r\n";
  SaveScannerSetting(*store, s);

  ScannerSetting back;
  config::ScreenLevelSettings screen;
  int32_t gain = 0;
  ::testing::internal::CaptureStdout();
  LoadScannerSetting(*store, back, screen, gain);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(back, s);

  // One byte over the limit counts as unreadable: the default comes back and is stored.
  s.strProductModel = std::string(kScannerTextMaxBytes + 1, 'm');
  s.strAdditionalInfo = std::string(kAdditionalInfoMaxBytes + 1, 'i');
  SaveScannerSetting(*store, s);
  LoadScannerSetting(*store, back, screen, gain);
  EXPECT_EQ(back.strProductModel, "TP-NEW888");
  EXPECT_EQ(back.strAdditionalInfo, kDefaultAdditionalInfo);
  EXPECT_EQ(StoredText(*store, kRegKeyProductModel, "ProductModel"), "TP-NEW888");
  EXPECT_EQ(back.nCounterNum, 12345) << "the other values stay";

  // A number stored as text is replaced by its default.
  ASSERT_EQ(store->SetString(kRegKeyConnect, "COMNum", "4"), SettingsStatus::Ok);
  LoadScannerSetting(*store, back, screen, gain);
  EXPECT_EQ(back.nCOMNum, 0);
  EXPECT_EQ(StoredDword(*store, kRegKeyConnect, "COMNum"), 0);
}

TEST(ScannerSetting, TheRecordCounterIsSavedAlone) {
  testing::SettingsTestDir dir;
  auto store = platform::CreateFileSettingsStore(dir.File());
  ScannerSetting s;
  SaveScannerSetting(*store, s);

  s.nFileType = kFileDaily;  // a live change the dialog did not save
  s.nCounterNum = 41;
  SaveRecordCounter(*store, s);
  EXPECT_EQ(s.nCounterNum, 42);
  EXPECT_EQ(StoredDword(*store, kRegKeyCounter, "CounterNum"), 42);
  EXPECT_EQ(StoredDword(*store, kRegKeyFileRecoder, "Type"), kFilePerRecord);

  s.nCounterNum = INT32_MAX;
  SaveRecordCounter(*store, s);
  EXPECT_EQ(s.nCounterNum, INT32_MIN);
  s.nCounterNum = 7;
  SaveCounter(*store, s);
  EXPECT_EQ(StoredDword(*store, kRegKeyCounter, "CounterNum"), 7);
}

}  // namespace
}  // namespace varnex2::scanner
