// The offline judge as its users run it: files in, JSON lines and exit codes out.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <boost/archive/xml_iarchive.hpp>

#include "config/legacy_samples.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class JudgeCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("varnex2-judge-test-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }

  // `env` is put before the program through env(1), e.g. "-u XDG_RUNTIME_DIR".
  RunResult Judge(const std::string& args, const std::string& env = "") {
    const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
    const std::string cmd = "env " + env + " " + std::string(VARNEX2_JUDGE_BINARY) + " " + args + " >" + out.string() +
                            " 2>" + err.string();
    RunResult r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }

  static std::string Example(const std::string& name) { return std::string(VARNEX2_SOURCE_DIR) + "/examples/" + name; }

  fs::path dir_;
};

// Frames of `rows` lines and `cols` fields each, every field `value`.
std::string Frame(int rows, int cols, const std::string& value = "30000") {
  std::string text;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) text += (c ? "," : "") + value;
    text += "\r\n";
  }
  return text;
}

// `s` with `len` bytes at `pos` replaced by `with`, built by appending: GCC 12 at -O3 reports a
// false -Wrestrict inside std::string::replace here.
std::string ReplacedAt(const std::string& s, std::size_t pos, std::size_t len, std::string_view with) {
  std::string out = s.substr(0, pos);
  out.append(with);
  out.append(s, pos + len, std::string::npos);
  return out;
}

bool IsAscii(const std::string& s) {
  for (const char ch : s)
    if (static_cast<unsigned char>(ch) >= 0x80) return false;
  return true;
}

TEST_F(JudgeCli, JudgesTheExampleFramesOneLinePerFrame) {
  const RunResult r = Judge("--params " + Example("panel.xml") + " --frames " + Example("frames.csv"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) {
    EXPECT_EQ(line.rfind("{\"frame\":" + std::to_string(n) + ",\"verdict\":", 0), 0u) << line.substr(0, 80);
    EXPECT_NE(line.find("\"flags\":[["), std::string::npos);
    ++n;
  }
  EXPECT_EQ(n, 13);
}

TEST_F(JudgeCli, EmptyFieldsReadAsZeroAndTheDecisionFollowsTheOptions) {
  // The example panel: 32 X lines (one line each) x 52 Y lines (one field each).
  std::string second = Frame(32, 52);
  second = ReplacedAt(second, 0, 11, "30000,");  // node [0][1] empty
  const fs::path frames = Write("f.csv", Frame(32, 52) + "\r\n" + second);
  const RunResult r = Judge("--params " + Example("panel.xml") + " --frames " + frames.string() +
                            " --trigger 0 --stable 0 --connect-type 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"record\":true"), std::string::npos);
  const std::string secondLine = r.out.substr(r.out.find('\n') + 1);
  EXPECT_EQ(secondLine.rfind("{\"frame\":1,\"verdict\":\"FAIL\"", 0), 0u) << secondLine.substr(0, 80);
}

TEST_F(JudgeCli, FramesOfOtherExtentsAreRefusedNamingTheFile) {
  struct Case {
    std::string text;
    std::string mention;
  };
  std::string shortLine = Frame(32, 52);
  shortLine = ReplacedAt(shortLine, 0, 6, "");  // line 1 has 51 fields
  for (const Case& c : {Case{"1,2,3\n", "line 1 has 3 fields, but the configuration has 52 Y lines"},
                        Case{Frame(31, 52), "the frame starting at line 1 has 31 lines, but the configuration has 32"},
                        Case{Frame(33, 52), "has 33 lines"}, Case{Frame(32, 53), "line 1 has 53 fields"},
                        Case{shortLine, "line 1 has 51 fields"},
                        Case{Frame(32, 52) + "\n" + Frame(32, 52) + "\n" + Frame(2, 52),
                             "the frame starting at line 67 has 2 lines"}}) {
    const fs::path frames = Write("shape.csv", c.text);
    const RunResult r = Judge("--params " + Example("panel.xml") + " --frames " + frames.string());
    EXPECT_EQ(r.status, 2) << c.mention;
    EXPECT_NE(r.err.find("shape.csv: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(JudgeCli, SaveParamsGivesBackTheFileExceptItsVersion) {
  const fs::path saved = dir_ / "saved.xml";
  const RunResult r = Judge("--params " + Example("panel.xml") + " --save-params " + saved.string());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string original = ReadFile(Example("panel.xml"));
  const std::string copy = ReadFile(saved);
  auto afterVersion = [](const std::string& s) { return s.substr(s.find("</VERSION>")); };
  EXPECT_EQ(afterVersion(copy), afterVersion(original));
  EXPECT_NE(copy.find("<item>1</item>\r\n\t<item>4</item>"), std::string::npos);
}

TEST_F(JudgeCli, WritesThePicture) {
  const fs::path png = dir_ / "map.png";
  const RunResult r =
      Judge("--params " + Example("panel.xml") + " --frames " + Example("frames.csv") + " --png " + png.string());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string bytes = ReadFile(png);
  ASSERT_GT(bytes.size(), 8u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
}

TEST_F(JudgeCli, BadInputIsOneClearLineAndStatus2) {
  struct Case {
    std::string args;
    std::string mention;
  };
  const fs::path notInts = Write("bad.csv", "1,2,x\n");
  const fs::path badXml = Write("bad.xml", "<?xml version=\"1.0\"?><nothing/>");
  for (const Case& c :
       {Case{"--params " + (dir_ / "missing.xml").string(), "missing.xml"},
        Case{"--params " + badXml.string(), "bad.xml"},
        Case{"--params " + Example("panel.xml") + " --frames " + notInts.string(), "bad.csv"},
        Case{"--params " + Example("panel.xml") + " --frames " + (dir_ / "none.csv").string(), "none.csv"},
        Case{"--params " + Example("panel.xml") + " --stable abc", "--stable"}, Case{"--frames x.csv", "--params"},
        Case{"--params " + Example("panel.xml") + " --bogus 1", "unknown option --bogus"},
        Case{"--params " + Example("panel.xml") + " --bogus", "unknown option --bogus"},
        Case{"--params " + Example("panel.xml") + " --pngs=x.png", "unknown option --pngs"},
        Case{"--params " + Example("panel.xml") + " -x", "unknown option -x"},
        Case{Example("panel.xml"), "unexpected argument"},
        Case{"--params " + Example("panel.xml") + " --save-params " + (dir_ / "no-dir" / "out.xml").string(),
             "out.xml"}}) {
    const RunResult r = Judge(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
    EXPECT_TRUE(IsAscii(r.err)) << r.err;  // one language: English
    EXPECT_EQ(r.out, "");
  }
  // Both option forms are taken.
  EXPECT_EQ(Judge("--params=" + Example("panel.xml") + " --stable=2").status, 0);
}

TEST_F(JudgeCli, InvalidAreasGiveTheValidationMessageAndStatus3) {
  std::string text = ReadFile(Example("panel.xml"));
  // PANEL: origin X 0, origin Y 0, X size 32 -> 2 lines only.
  const std::string panel = "<PANEL>\r\n\t<count>7</count>\r\n\t<item_version>0</item_version>\r\n\t<item>";
  const auto at = text.find(panel);
  ASSERT_NE(at, std::string::npos);
  const auto sizeAt = text.find("<item>", text.find("<item>", at + panel.size()) + 1);
  const auto sizeEnd = text.find("</item>", sizeAt);
  text = ReplacedAt(text, sizeAt + 6, sizeEnd - sizeAt - 6, "2");
  const fs::path p = Write("narrow.xml", text);
  const RunResult r = Judge("--params " + p.string());
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("narrow.xml: touch area: fewer than 3 X lines"), std::string::npos) << r.err;
}

TEST_F(JudgeCli, ThePictureLeavesNoQtWarningAndNoFolderBehind) {
  const fs::path png = dir_ / "map.png";
  const fs::path tmp = dir_ / "tmp";
  fs::create_directories(tmp);
  const RunResult r = Judge("--params " + Example("panel.xml") + " --png " + png.string(),
                            "-u XDG_RUNTIME_DIR -u QT_QPA_PLATFORM TMPDIR=" + tmp.string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(png));
  EXPECT_TRUE(fs::is_empty(tmp));
}

// Every <item> of the elements named `tag` (not those of `tag`DIMS), in file order.
std::vector<long long> Items(const std::string& xml, const std::string& tag) {
  std::vector<long long> out;
  const std::string open = "<" + tag + ">", close = "</" + tag + ">";
  for (auto at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
    const auto end = xml.find(close, at);
    // Skip <count> and <item_version>: only the <item> entries are values.
    for (auto item = xml.find("<item>", at); item < end; item = xml.find("<item>", item + 1))
      out.push_back(std::stoll(xml.substr(item + 6, xml.find("</item>", item) - item - 6)));
  }
  return out;
}

// Learning from frames of the example panel (32 X lines x 52 Y lines): every node's limits
// follow from its base, masked nodes (base 0) get 0 and 0.
struct Learnt {
  std::vector<long long> avg, upper, lower, list, para, other, mode, dims;
};
Learnt ReadLearnt(const std::string& xml) {
  return {Items(xml, "OFFSETMODERAWDATAAVG"),
          Items(xml, "OFFSETMODERAWDATAUPPER"),
          Items(xml, "OFFSETMODERAWDATALOWER"),
          Items(xml, "OFFSETMODESAMPLELIST"),
          Items(xml, "OFFSETMODEPARALIST"),
          Items(xml, "OFFSETMODEOTHERPARA"),
          Items(xml, "TESTMODE"),
          Items(xml, "OFFSETMODERAWDATAARRYDIMS")};
}
void ExpectLimits(const Learnt& l, long long base, long long upper, long long lower) {
  ASSERT_EQ(l.avg.size(), 52u * 32u);
  ASSERT_EQ(l.upper.size(), l.avg.size());
  ASSERT_EQ(l.lower.size(), l.avg.size());
  std::size_t judged = 0;
  for (std::size_t i = 0; i < l.avg.size(); ++i) {
    if (l.avg[i] == 0) {
      EXPECT_EQ(l.upper[i], 0) << i;
      EXPECT_EQ(l.lower[i], 0) << i;
      continue;
    }
    ++judged;
    EXPECT_EQ(l.avg[i], base) << i;
    EXPECT_EQ(l.upper[i], upper) << i;
    EXPECT_EQ(l.lower[i], lower) << i;
  }
  EXPECT_GT(judged, 1000u);
}

TEST_F(JudgeCli, LearnTakesEveryFrameAsASelectedSampleAndSavesPercentLimits) {
  const fs::path samples =
      Write("s.csv", Frame(32, 52, "30000") + "\r\n" + Frame(32, 52, "30001") + "\r\n" + Frame(32, 52, "30001"));
  const fs::path out = dir_ / "learnt.xml";
  const RunResult r = Judge("--params " + Example("panel.xml") + " --learn " + samples.string() +
                            " --limit-mode percent --percent 12.5 --save-params " + out.string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const Learnt l = ReadLearnt(ReadFile(out));
  ExpectLimits(l, 30000, 33750, 26250);  // 90002 / 3 truncated, 12.5 %
  EXPECT_EQ(l.dims, (std::vector<long long>{3, 52, 32}));
  ASSERT_EQ(l.list.size(), 4u * 9u);
  for (int row = 1; row <= 3; ++row) {
    EXPECT_EQ(l.list[row * 9], 1) << row;                      // selected
    EXPECT_EQ(l.list[row * 9 + 1], row == 1 ? 30000 : 30001);  // touch max
    EXPECT_EQ(l.list[row * 9 + 4], 0);                         // spread
  }
  ASSERT_EQ(l.para.size(), 24u);
  EXPECT_EQ(l.para[0], 33750);   // upper, touch max
  EXPECT_EQ(l.para[8], 30000);   // base, touch max
  EXPECT_EQ(l.para[16], 26250);  // lower, touch max
  EXPECT_EQ(l.other, (std::vector<long long>{0, 1250, 2000, 2000}));
  EXPECT_EQ(l.mode, (std::vector<long long>{5 | 2, 0}));  // the sample-limit mode set

  // Without options the file's own parameters count: percent mode, 10 %.
  const RunResult own =
      Judge("--params " + Example("panel.xml") + " --learn=" + samples.string() + " --save-params=" + out.string());
  ASSERT_EQ(own.status, 0) << own.err;
  ExpectLimits(ReadLearnt(ReadFile(out)), 30000, 33000, 27000);
}

TEST_F(JudgeCli, LearnInOffsetMode) {
  const fs::path samples = Write("s.csv", Frame(32, 52, "30000"));
  const fs::path out = dir_ / "learnt.xml";
  const RunResult r =
      Judge("--params " + Example("panel.xml") + " --learn " + samples.string() +
            " --limit-mode offset --offset-lower 1500 --offset-upper 1000 --save-params " + out.string());
  ASSERT_EQ(r.status, 0) << r.err;
  const Learnt l = ReadLearnt(ReadFile(out));
  ExpectLimits(l, 30000, 31000, 28500);
  EXPECT_EQ(l.other, (std::vector<long long>{1, 1000, 1000, 1500}));  // mode, percent, upper, lower

  // The learnt file judges with the limits on: a node 200 above its base passes the
  // thresholds and the whole-area checks, but not a 100 band.
  const RunResult narrow =
      Judge("--params " + Example("panel.xml") + " --learn " + samples.string() +
            " --limit-mode offset --offset-lower 100 --offset-upper 100 --save-params " + out.string());
  ASSERT_EQ(narrow.status, 0) << narrow.err;
  const fs::path frames = Write("f.csv", Frame(32, 52) + "\r\n" + ReplacedAt(Frame(32, 52), 0, 5, "30200"));
  for (const auto& [params, second] :
       {std::pair{Example("panel.xml"), std::string("PASS")}, std::pair{out.string(), std::string("FAIL")}}) {
    const RunResult judged = Judge("--params " + params + " --frames " + frames.string());
    ASSERT_EQ(judged.status, 0) << judged.err;
    EXPECT_EQ(judged.out.rfind("{\"frame\":0,\"verdict\":\"PASS\"", 0), 0u) << judged.out.substr(0, 120);
    EXPECT_NE(judged.out.find("{\"frame\":1,\"verdict\":\"" + second + "\""), std::string::npos) << params;
  }
}

TEST_F(JudgeCli, LearnRefusesBadInputWithStatus2AndWritesNothing) {
  struct Case {
    std::string args;
    std::string mention;
  };
  const fs::path good = Write("good.csv", Frame(32, 52, "20000"));
  const fs::path shape = Write("shape.csv", Frame(32, 52, "20000") + "\r\n" + Frame(32, 51, "20000"));
  const fs::path empty = Write("empty.csv", "");
  const fs::path blank = Write("blank.csv", "\r\n\r\n");
  const fs::path out = dir_ / "out.xml";
  const std::string params = "--params " + Example("panel.xml") + " ";
  const std::string save = " --save-params " + out.string();
  for (const Case& c :
       {Case{params + "--learn " + shape.string() + save, "shape.csv: line 34 has 51 fields"},
        Case{params + "--learn " + empty.string() + save, "empty.csv: no frame in the file"},
        Case{params + "--learn " + blank.string() + save, "blank.csv: no frame in the file"},
        Case{params + "--learn " + (dir_ / "none.csv").string() + save, "none.csv"},
        Case{params + "--learn " + good.string() + " --limit-mode percentage" + save,
             "option --limit-mode: unknown mode \"percentage\""},
        Case{params + "--learn " + good.string() + " --percent 10%" + save, "option --percent: \"10%\""},
        Case{params + "--learn " + good.string() + " --percent abc" + save, "option --percent"},
        Case{params + "--learn " + good.string() + " --percent 1e30" + save, "option --percent"},
        Case{params + "--learn " + good.string() + " --offset-lower 1.5" + save, "option --offset-lower"},
        Case{params + "--learn " + good.string() + " --offset-upper 99999999999" + save, "option --offset-upper"},
        Case{params + "--learn " + good.string(), "--learn needs --save-params"},
        Case{params + "--percent 10" + save, "go with --learn"},
        Case{params + "--learn " + good.string() + " --frames " + good.string() + save, "cannot be combined"}}) {
    const RunResult r = Judge(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
    EXPECT_TRUE(IsAscii(r.err)) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(out)) << c.args;
  }
}

// ---- --import-legacy ------------------------------------------------------------------------

namespace ls = varnex2::legacy_samples;
using Elements = std::vector<std::vector<int32_t>>;

// A parameter file's elements in file order, read with Boost's own XML archive: the seven fixed
// groups, then each array's shape followed by its rows, then the four parameters.
Elements ReadParameterElements(const fs::path& path) {
  std::ifstream is(path, std::ios::binary);
  boost::archive::xml_iarchive ar(is);
  Elements e;
  const auto next = [&] {
    std::vector<int32_t> v;
    ar >> boost::serialization::make_nvp("element", v);
    e.push_back(v);
    return v;
  };
  for (int i = 0; i < 7; ++i) next();
  const auto array2 = [&] {
    const auto d = next();
    if (d.at(0) > 0 && d.at(1) > 0)
      for (int r = 0; r < d[0]; ++r) next();
  };
  array2();
  const auto frames = next();
  if (frames.at(0) > 0 && frames.at(1) > 0 && frames.at(2) > 0)
    for (int r = 0; r < frames[0] * frames[1]; ++r) next();
  for (int k = 0; k < 5; ++k) array2();
  next();
  return e;
}

TEST_F(JudgeCli, ImportLegacyConvertsAWholeSetOnTopOfTheBase) {
  const fs::path ini = ls::WriteFullSet(dir_, "old");
  const fs::path out = dir_ / "new.xml";
  const RunResult r =
      Judge("--params " + Example("panel.xml") + " --import-legacy " + ini.string() + " --save-params " + out.string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  const Elements base = ReadParameterElements(Example("panel.xml"));
  Elements expected(base.begin(), base.begin() + 7);
  expected[1] = {0, 0, ls::kX, ls::kY, 80, 32000, 10000};  // thresholds held to 32000/10000
  expected[2] = {0, 0, 0, 0, 0, 0, 0, 0};                    // no KEY section
  expected[3] = {1, 2};
  for (int k = 0; k < 12; ++k) {
    // The INI has MARK3 only: every other mark reads as zero.
    const std::vector<int32_t> mark =
        k == 3 ? std::vector<int32_t>{3, 2, 1, 8, 6} : std::vector<int32_t>{k, 0, 0, 0, 0};
    std::copy(mark.begin(), mark.end(), expected[4].begin() + 5 * k);
  }
  expected[5] = {base[5][0] | 2, 0};  // the editor confirmed: sample-limit mode on
  // The base's adjacent-point percentages over the new extents.
  expected.push_back({ls::kY, ls::kX});
  for (int y = 0; y < ls::kY; ++y)
    expected.push_back(std::vector<int32_t>(base[8 + y].begin(), base[8 + y].begin() + ls::kX));
  expected.push_back({ls::kSampled, ls::kY, ls::kX});
  for (int t = 0; t < ls::kSampled; ++t)
    for (int y = 0; y < ls::kY; ++y) {
      std::vector<int32_t> row;
      for (int x = 0; x < ls::kX; ++x) row.push_back(ls::FrameValue(t, y, x));
      expected.push_back(row);
    }
  for (const int32_t add : {0, ls::kLimitBand, -ls::kLimitBand}) {
    expected.push_back({ls::kY, ls::kX});
    for (const auto& row : ls::Rows(ls::AvgValue, add)) expected.push_back(row);
  }
  expected.push_back({ls::kTableRows, 9});
  expected.push_back(std::vector<int32_t>(9, 0));
  for (int row = 1; row < ls::kTableRows; ++row) {
    std::vector<int32_t> values{ls::RowFlag(row)};
    for (int c = 1; c < 9; ++c) values.push_back(ls::SampleListValue(row, c));
    expected.push_back(values);
  }
  expected.push_back({3, 8});
  for (int i = 0; i < 3; ++i) {
    std::vector<int32_t> values;
    for (int j = 0; j < 8; ++j) values.push_back(ls::ParaListValue(i, j));
    expected.push_back(values);
  }
  expected.push_back({1, 1250, 1500, 800});  // offset mode, 12.5 %, upper 1500, lower 800

  const Elements saved = ReadParameterElements(out);
  ASSERT_EQ(saved.size(), expected.size());
  for (std::size_t i = 0; i < saved.size(); ++i) {
    if (i == 0) continue;  // the program's version
    EXPECT_EQ(saved[i], expected[i]) << "element " << i + 1;
  }
}

TEST_F(JudgeCli, ImportLegacyStatusesAndMessages) {
  const fs::path out = dir_ / "new.xml";
  const std::string base = " --params " + Example("panel.xml");

  // Unreadable INI: 2, nothing written.
  RunResult r = Judge(base + " --import-legacy " + (dir_ / "none.ini").string() + " --save-params " + out.string());
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_FALSE(fs::exists(out));

  // Invalid areas: 3 with the message; the companion data is still taken and the file written
  // with the base's areas.
  const fs::path ini = ls::WriteFullSet(dir_, "bad");
  Write("bad.ini", "[PANEL]\nXSIZE=2\nYSIZE=50\n");
  r = Judge(base + " --import-legacy " + ini.string() + " --save-params " + out.string());
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("bad.ini: touch area: fewer than 3 X lines"), std::string::npos) << r.err;
  ASSERT_TRUE(fs::exists(out));
  const Elements saved = ReadParameterElements(out);
  EXPECT_EQ(saved[1], ReadParameterElements(Example("panel.xml"))[1]);
  EXPECT_NE(ReadFile(out).find("<item>" + std::to_string(ls::AvgValue(0, 0)) + "</item>"), std::string::npos);

  // No companion folder: converted, the folder named on stderr.
  fs::remove(out);
  const fs::path lone = Write("lone.ini", ls::Ini());
  r = Judge(base + " --import-legacy " + lone.string() + " --save-params " + out.string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("lone_ExternPara"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(out));

  // Needs --save-params.
  EXPECT_EQ(Judge(base + " --import-legacy " + lone.string()).status, 2);
}

}  // namespace
