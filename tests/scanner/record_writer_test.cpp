// The test record: file choice, exact file bytes, the providers' texts, the encoding, and the
// record that cannot be written (never lost silently, counter kept).

#include "scanner/record_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/memory_settings_store.h"
#include "platform/settings_test_dir.h"
#include "scanner/record_text.h"

namespace varnex2::scanner {
namespace {

namespace fs = std::filesystem;
using platform::SettingsStatus;

const std::string kSeparator = std::string(88, '-') + "\r\n";

class FakeSources : public RecordSources {
 public:
  std::string verdict = "PASS";
  std::uint32_t modeFlags = 0x1;
  RecordRawMap map = TwoByThree();
  std::uint8_t shortX = 0;
  std::uint8_t shortY = 0;

  std::string VerdictText() override { return verdict; }
  std::uint32_t TestModeFlags() override { return modeFlags; }
  RecordRawMap RawMap() override { return map; }
  std::uint8_t ShortX() override { return shortX; }
  std::uint8_t ShortY() override { return shortY; }

  // Two X lines, three Y lines; the node at X 0, Y 1 lies outside the areas.
  static RecordRawMap TwoByThree() {
    RecordRawMap m;
    m.xLines = 2;
    m.yLines = 3;
    m.counts = {812, 801, 790, 805, 811, 799};
    m.inArea = {true, false, true, true, true, true};
    return m;
  }
};

std::tm Jan5() {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 5;
  t.tm_hour = 9;
  t.tm_min = 8;
  t.tm_sec = 7;
  return t;
}

// Every section off: only the counter shown, to tell records apart.
void CounterOnly(ScannerSetting& s) {
  s.bProductModel = s.bScannerResult = s.bTestResult = s.bTestResultSummer = 0;
  s.bTestRawdata = s.bTestTime = s.bAdditionalInfo = 0;
}

class RecordWriterTest : public ::testing::Test {
 protected:
  RecordWriterTest() {
    ScannerSetting s;
    s.nCounterNum = 7;
    setting_.Set(s);
  }

  RecordWriter& Writer(RecordEncoding encoding = RecordEncoding::Utf8) {
    RecordFileOptions options;
    options.directory = dir_.Path().string();
    options.encoding = encoding;
    options.localTime = Jan5;
    writer_ = std::make_unique<RecordWriter>(setting_, *store_, sources_, options);
    return *writer_;
  }
  void Change(void (*change)(ScannerSetting&)) { setting_.Update(change); }
  int32_t StoredCounter() {
    int32_t v = -1;
    return store_->GetDword("Software\\Varnx2\\ScannerSetting\\FileRecoder\\Attribute\\Counter", "CounterNum", v) ==
                   SettingsStatus::Ok
               ? v
               : -1;
  }
  fs::path TestLog(const std::string& name) const { return dir_.Path() / "TestLog" / (name + ".txt"); }
  void ExpectNothingCounted() {
    EXPECT_EQ(setting_.Get().nCounterNum, 7);
    EXPECT_EQ(StoredCounter(), -1);
  }

  testing::SettingsTestDir dir_;
  SharedScannerSetting setting_;
  std::unique_ptr<platform::SettingsStore> store_ = platform::CreateMemorySettingsStore();
  FakeSources sources_;
  std::unique_ptr<RecordWriter> writer_;
};

TEST_F(RecordWriterTest, DefaultsWriteTheWholeRecordToAFileOfItsOwn) {
  const RecordOutcome out = Writer().OnScannerData("1234567\r\n");

  const fs::path file = TestLog("7.TP-NEW888 时间20240105-090807 结果PASS");
  EXPECT_EQ(out.written, 1);
  EXPECT_EQ(out.failed, 0);
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.path, file.string());
  EXPECT_EQ(testing::ReadText(file),
            "\r\n"
            "[测试计数序列]\r\n7\r\n"
            "[测试产品型号]\r\nTP-NEW888\r\n"
            "[扫描枪数据]\r\n1234567\r\n"
            "[测试结果]\r\nPASS\r\n"
            "[测试简报]\r\n测试模式为上下限模式 \r\n"
            "[测试原始采样数据]\r\n812,,790 \r\n805,811,799 \r\n\r\n"
            "[测试时间]\r\n2024年01月05日 09时08分07秒\r\n"
            "[自定义信息]\r\n"
            "提示：本产品测试完成后，请送品质部门进行二次检验！\r\r\n"
            "操作员：\r\r\n工号：9527\r\r\n班次：996\r\r\n拉线：Line 233\r\n" +
                kSeparator);
  EXPECT_EQ(setting_.Get().nCounterNum, 8);
  EXPECT_EQ(StoredCounter(), 8);
  EXPECT_EQ(writer_->ScanText(), "1234567");  // the record section removed the line end for good
}

TEST_F(RecordWriterTest, AllSectionsOffGiveAnEmptyLineAndTheSeparator) {
  Change([](ScannerSetting& s) {
    CounterOnly(s);
    s.bCounter = 0;
  });
  const RecordOutcome out = Writer().OnScannerData("");
  EXPECT_EQ(out.written, 1);
  EXPECT_EQ(testing::ReadText(out.path), "\r\n" + kSeparator);
  EXPECT_EQ(StoredCounter(), 8);  // the counter counts records whatever the sections
}

TEST_F(RecordWriterTest, OnlySelectedVerdictsAreRecordedAndNeverTwicePerScan) {
  Change([](ScannerSetting& s) {
    CounterOnly(s);
    s.nFileType = kFileDaily;
  });
  sources_.verdict = "FAIL";
  RecordOutcome out = Writer().OnScannerData("x");
  EXPECT_EQ(out.written + out.failed, 0);
  EXPECT_FALSE(fs::exists(dir_.Path() / "20240105"));
  ExpectNothingCounted();

  Change([](ScannerSetting& s) { s.bTestResultOnlyFail = 1; });
  for (const char* verdict : {"PASS", "FAIL", "", "pass", "PASS "}) {
    sources_.verdict = verdict;
    out = writer_->OnScannerData("x");
    EXPECT_EQ(out.written, sources_.verdict == "PASS" || sources_.verdict == "FAIL" ? 1 : 0) << verdict;
  }
  EXPECT_EQ(testing::ReadText(dir_.Path() / "20240105" / "20240105log.txt"),
            "\r\n[测试计数序列]\r\n7\r\n" + kSeparator + "\r\n[测试计数序列]\r\n8\r\n" + kSeparator);
  EXPECT_EQ(StoredCounter(), 9);

  Change([](ScannerSetting& s) { s.bTestResultOnlyPass = s.bTestResultOnlyFail = 0; });
  sources_.verdict = "PASS";
  EXPECT_EQ(writer_->OnScannerData("x").written, 0);
}

TEST_F(RecordWriterTest, ScanTokenDropsFourteenCharactersButTheRecordKeepsThem) {
  Change([](ScannerSetting& s) {
    CounterOnly(s);
    s.bCounter = 0;
    s.bScannerResult = 1;
    s.strFilenameFormat = "{扫描枪数据}";
  });
  RecordOutcome out = Writer().OnScannerData("A/B:C");
  EXPECT_EQ(out.path, TestLog("ABC").string());
  EXPECT_EQ(testing::ReadText(out.path), "\r\n[扫描枪数据]\r\nA/B:C\r\n" + kSeparator);

  writer_->OnScannerData("1\n2\r3\\4/5\"6:7;8*9?a<b>c[d]e|f");
  EXPECT_EQ(writer_->BuildRecordFileName(), "123456789abcdef");
}

TEST_F(RecordWriterTest, NameTokensTakeTheValuesBeforeTheCount) {
  Change([](ScannerSetting& s) {
    s.strFilenameFormat = "{测试计数}-{测试计数} {产品型号} {测试结果} {测试时间} {未知}";
    s.nCounterNum = -1;
  });
  EXPECT_EQ(Writer().BuildRecordFileName(), "-1--1 TP-NEW888 PASS 20240105-090807 {未知}");

  // With the verdict section off the verdict token keeps an earlier verdict.
  Change([](ScannerSetting& s) { s.bTestResult = 0; });
  sources_.verdict = "FAIL";
  EXPECT_EQ(writer_->BuildRecordFileName(), "-1--1 TP-NEW888 PASS 20240105-090807 {未知}");
}

TEST(RecordText, RawLinesShowInAreaNonZeroCounts) {
  EXPECT_EQ(BuildRawText(FakeSources::TwoByThree()), "812,,790 \n805,811,799 \n");
  RecordRawMap zeros = FakeSources::TwoByThree();
  zeros.counts[0] = 0;
  zeros.counts[5] = -3;
  EXPECT_EQ(BuildRawText(zeros), ",,790 \n805,811,-3 \n");
  // A map shorter than its extents gives empty fields, not a crash.
  RecordRawMap cut = FakeSources::TwoByThree();
  cut.counts.resize(4);
  EXPECT_EQ(BuildRawText(cut), "812,,790 \n805,, \n");
  EXPECT_EQ(BuildRawText(RecordRawMap{}), "");
}

TEST(RecordText, BriefSentences) {
  EXPECT_EQ(BriefModeText(0x7), "测试模式为上下限模式 ");
  EXPECT_EQ(BriefModeText(0x6), "测试模式为阈值模式 ");
  EXPECT_EQ(BriefModeText(0x4), "测试模式为相邻点比对模式 ");
  EXPECT_EQ(BriefModeText(0x8), "");
  EXPECT_EQ(BriefShortText(PackShorts(5, 3)), "X有短路,短路点在X4Y有短路,短路点在Y2");
  EXPECT_EQ(BriefShortText(PackShorts(0, 1)), "Y有短路,短路点在Y0");
  EXPECT_EQ(BriefShortText(0xFFFF0000u), "");
}

TEST_F(RecordWriterTest, ProvidersRefreshOnlyWithAScannerAndTheirSectionOn) {
  RecordWriter& w = Writer();
  sources_.modeFlags = 0x2;
  w.OnRecordBrief(PackShorts(1, 0));
  EXPECT_EQ(w.BriefText(), "测试模式为阈值模式 X有短路,短路点在X0");
  w.OnRecordVerdict();
  w.OnRecordRawdata();
  EXPECT_EQ(w.ResultText(), "PASS");
  EXPECT_EQ(w.RawText(), "812,,790 \n805,811,799 \n");

  sources_.verdict = "FAIL";
  sources_.map = RecordRawMap{};
  Change([](ScannerSetting& s) { s.nConnectType = kConnectNone; });
  w.OnRecordBrief(0);
  w.OnRecordVerdict();
  w.OnRecordRawdata();
  EXPECT_EQ(w.BriefText(), "测试模式为阈值模式 X有短路,短路点在X0");
  EXPECT_EQ(w.ResultText(), "PASS");
  EXPECT_EQ(w.RawText(), "812,,790 \n805,811,799 \n");

  Change([](ScannerSetting& s) {
    s.nConnectType = kConnectUsbSerial;
    s.bTestResult = s.bTestResultSummer = s.bTestRawdata = 0;
  });
  w.OnRecordBrief(0);
  w.OnRecordVerdict();
  w.OnRecordRawdata();
  EXPECT_EQ(w.ResultText(), "PASS");
  EXPECT_EQ(w.RawText(), "812,,790 \n805,811,799 \n");
}

// A mode word without a mode bit keeps the last mode text, but the shorts of earlier briefs
// must not be appended to again and again.
TEST_F(RecordWriterTest, BriefWithoutModeBitKeepsTheModeButNotOldShorts) {
  RecordWriter& w = Writer();
  sources_.modeFlags = 0x4;
  w.OnRecordBrief(PackShorts(3, 0));
  sources_.modeFlags = 0;
  w.OnRecordBrief(PackShorts(3, 0));
  EXPECT_EQ(w.BriefText(), "测试模式为相邻点比对模式 X有短路,短路点在X2");
  w.OnRecordBrief(0);
  EXPECT_EQ(w.BriefText(), "测试模式为相邻点比对模式 ");
}

TEST_F(RecordWriterTest, BriefInTheRecordCarriesTheReportedShorts) {
  Change([](ScannerSetting& s) {
    CounterOnly(s);
    s.bCounter = 0;
    s.bTestResultSummer = 1;
  });
  sources_.shortX = 4;
  sources_.shortY = 1;
  const RecordOutcome out = Writer().OnScannerData("");
  EXPECT_EQ(testing::ReadText(out.path),
            "\r\n[测试简报]\r\n测试模式为上下限模式 X有短路,短路点在X3Y有短路,短路点在Y0\r\n" + kSeparator);
}

TEST_F(RecordWriterTest, Gb18030ConvertsTheRecordAndTheFileName) {
  Change([](ScannerSetting& s) {
    CounterOnly(s);
    s.bCounter = 0;
    s.bProductModel = 1;
    s.strProductModel = "触摸屏\xFF";  // the last byte is not UTF-8: replaced, the record kept
    s.strFilenameFormat = "时间 结果";
  });
  const RecordOutcome out = Writer(RecordEncoding::Gb18030).OnScannerData("");
  ASSERT_EQ(out.written, 1) << out.error;
  EXPECT_EQ(out.path, (dir_.Path() / "TestLog" / "\xCA\xB1\xBC\xE4 \xBD\xE1\xB9\xFB.txt").string());
  EXPECT_EQ(testing::ReadText(out.path),
            "\r\n\x5B\xB2\xE2\xCA\xD4\xB2\xFA\xC6\xB7\xD0\xCD\xBA\xC5\x5D\r\n"
            "\xB4\xA5\xC3\xFE\xC6\xC1?\r\n" +
                kSeparator);
}

TEST(RecordEncodingSetting, ReadsGb18030InAnyCaseAndWritesNothing) {
  auto store = platform::CreateMemorySettingsStore();
  const std::string key = "Software\\Varnx2\\ScannerSetting\\FileRecoder";
  EXPECT_EQ(LoadRecordEncoding(*store), RecordEncoding::Utf8);
  std::string value;
  EXPECT_NE(store->GetString(key, "Encoding", value, 254), SettingsStatus::Ok);
  for (const char* gb : {"GB18030", "gb18030", "Gb18030"}) {
    store->SetString(key, "Encoding", gb);
    EXPECT_EQ(LoadRecordEncoding(*store), RecordEncoding::Gb18030) << gb;
  }
  for (const char* other : {"UTF-8", "GB1803", "GB18030 ", ""}) {
    store->SetString(key, "Encoding", other);
    EXPECT_EQ(LoadRecordEncoding(*store), RecordEncoding::Utf8) << other;
  }
  store->SetDword(key, "Encoding", 1);
  EXPECT_EQ(LoadRecordEncoding(*store), RecordEncoding::Utf8);
}

TEST_F(RecordWriterTest, BaseFolderIsCreatedWithItsParents) {
  RecordFileOptions options;
  options.directory = (dir_.Path() / "Simulated" / "records").string();
  options.localTime = Jan5;
  Change([](ScannerSetting& s) { s.nFileType = kFileDaily; });
  RecordWriter w(setting_, *store_, sources_, options);
  const RecordOutcome out = w.OnScannerData("1234567");
  EXPECT_EQ(out.written, 1) << out.error;
  EXPECT_TRUE(fs::is_regular_file(dir_.Path() / "Simulated" / "records" / "20240105" / "20240105log.txt"));
}

// --- records that cannot be written: reported, counter kept ---

TEST_F(RecordWriterTest, FolderThatCannotBeCreatedIsReported) {
  testing::WriteText(dir_.Path() / "TestLog", "a file in the way");
  const RecordOutcome out = Writer().OnScannerData("1234567");
  EXPECT_EQ(out.written, 0);
  EXPECT_EQ(out.failed, 1);
  const std::string file = TestLog("7.TP-NEW888 时间20240105-090807 结果PASS").string();
  EXPECT_EQ(out.path, file);
  EXPECT_EQ(out.error.rfind("测试记录写入失败：" + file + "：无法创建文件夹 ", 0), 0u) << out.error;
  EXPECT_EQ(out.error.find('\n'), std::string::npos);
  ExpectNothingCounted();

  Change([](ScannerSetting& s) { s.nFileType = kFileDaily; });
  testing::WriteText(dir_.Path() / "20240105", "a file in the way");
  EXPECT_EQ(writer_->OnScannerData("1234567").failed, 1);
  ExpectNothingCounted();

  // A base folder that cannot be made, even by root.
  RecordFileOptions options;
  options.directory = "/proc/varnex2-records/Simulated";
  RecordWriter w(setting_, *store_, sources_, options);
  EXPECT_EQ(w.OnScannerData("1234567").failed, 1);
  ExpectNothingCounted();
}

TEST_F(RecordWriterTest, ReadOnlyFolderIsReported) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0555), 0);
  const RecordOutcome out = Writer().OnScannerData("1234567");
  ::chmod(dir_.Path().c_str(), 0755);
  EXPECT_EQ(out.failed, 1);
  EXPECT_NE(out.error, "");
  ExpectNothingCounted();
}

TEST_F(RecordWriterTest, FileThatCannotBeOpenedIsReported) {
  const fs::path file = TestLog("7.TP-NEW888 时间20240105-090807 结果PASS");
  fs::create_directories(file);  // a folder where the file should be
  const RecordOutcome out = Writer().OnScannerData("1234567");
  EXPECT_EQ(out.failed, 1);
  EXPECT_EQ(out.error,
            "测试记录写入失败：" + file.string() + "：" + std::error_code(EISDIR, std::generic_category()).message());
  ExpectNothingCounted();
}

TEST_F(RecordWriterTest, FullDiskIsReported) {
  const fs::path file = TestLog("7.TP-NEW888 时间20240105-090807 结果PASS");
  fs::create_directories(file.parent_path());
  fs::create_symlink("/dev/full", file);
  const RecordOutcome out = Writer().OnScannerData("1234567");
  EXPECT_EQ(out.written, 0);
  EXPECT_EQ(out.failed, 1);
  EXPECT_EQ(out.error,
            "测试记录写入失败：" + file.string() + "：" + std::error_code(ENOSPC, std::generic_category()).message());
  ExpectNothingCounted();
}

// --- file names cannot leave the records folder ---

TEST_F(RecordWriterTest, HostileNamesStayInTheRecordsFolder) {
  Change([](ScannerSetting& s) {
    CounterOnly(s);
    s.bCounter = 0;
    s.bProductModel = 1;
    s.strFilenameFormat = "{产品型号}";
  });
  struct Case {
    std::string model;
    std::string name;
  };
  const Case cases[] = {
      {"../../x", ".._.._x"},
      {"a/b", "a_b"},
      {"..", "_"},
      {".", "_"},
      {"", "_"},
      {"a:b*c?d\"e<f>g|h\ti\\j\x7F"
       "k\xC2\x85l",
       "a_b_c_d_e_f_g_h_i_j_k_l"},
      {"型号\xE6\x88", "型号__"},  // a cut character
  };
  for (const Case& c : cases) {
    setting_.Update([&](ScannerSetting& s) { s.strProductModel = c.model; });
    const RecordOutcome out = Writer().OnScannerData("");
    ASSERT_EQ(out.written, 1) << c.model << ": " << out.error;
    EXPECT_EQ(out.path, TestLog(c.name).string()) << c.model;
    // The record itself keeps the model as it is.
    EXPECT_EQ(testing::ReadText(out.path), "\r\n[测试产品型号]\r\n" + c.model + "\r\n" + kSeparator) << c.model;
    fs::remove(out.path);
  }
  EXPECT_FALSE(fs::exists(dir_.Path().parent_path() / "x.txt"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 1);  // TestLog only
}

TEST_F(RecordWriterTest, LongNamesAreShortenedOnACharacterBoundary) {
  Change([](ScannerSetting& s) {
    CounterOnly(s);
    s.strFilenameFormat = "{产品型号}{产品型号}";
  });
  std::string ce;    // 84 × U+6D4B: 252 bytes in UTF-8, 168 in GB18030
  std::string thai;  // 84 × U+0E01: 252 bytes in UTF-8, 336 in GB18030
  for (int i = 0; i < 84; ++i) {
    ce += "测";
    thai += "ก";
  }
  setting_.Update([&](ScannerSetting& s) { s.strProductModel = ce; });
  RecordOutcome out = Writer().OnScannerData("");
  ASSERT_EQ(out.written, 1) << out.error;
  EXPECT_EQ(fs::path(out.path).filename().string(), ce.substr(0, 83 * 3) + ".txt");

  out = Writer(RecordEncoding::Gb18030).OnScannerData("");
  ASSERT_EQ(out.written, 1) << out.error;
  std::string gb;
  for (int i = 0; i < 125; ++i) gb += "\xB2\xE2";
  EXPECT_EQ(fs::path(out.path).filename().string(), gb + ".txt");

  // Longer in GB18030 than in UTF-8: measured after the conversion.
  setting_.Update([&](ScannerSetting& s) {
    s.strProductModel = thai;
    s.strFilenameFormat = "{产品型号}";
  });
  out = Writer(RecordEncoding::Gb18030).OnScannerData("");
  ASSERT_EQ(out.written, 1) << out.error;
  gb.clear();
  for (int i = 0; i < 62; ++i) gb += "\x81\x32\xCE\x39";
  EXPECT_EQ(fs::path(out.path).filename().string(), gb + ".txt");
}

}  // namespace
}  // namespace varnex2::scanner
