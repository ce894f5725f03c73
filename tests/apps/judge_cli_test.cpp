// The offline judge as its users run it: files in, JSON lines and exit codes out.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

  RunResult Judge(const std::string& args) {
    const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
    const std::string cmd = std::string(VARNEX2_JUDGE_BINARY) + " " + args + " >" + out.string() + " 2>" +
                            err.string();
    RunResult r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }

  static std::string Example(const std::string& name) {
    return std::string(VARNEX2_SOURCE_DIR) + "/examples/" + name;
  }

  fs::path dir_;
};

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
  // A 2 x 2 panel cannot be valid (at least 3 lines); use the default panel, frames smaller than the map.
  const fs::path frames = Write("f.csv", "30000,30000\r\n30000,\r\n\r\n30000,30000\r\n30000,30000\r\n");
  const RunResult r = Judge("--params " + Example("panel.xml") + " --frames " + frames.string() +
                      " --trigger 0 --stable 1 --connect-type 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"record\":true"), std::string::npos);
  // Node [1][1] read 0: ZERO (0x8) with TOUCH in the first frame.
  const std::string first = r.out.substr(0, r.out.find('\n'));
  EXPECT_NE(first.find("\"flags\":[["), std::string::npos);
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
  const RunResult r = Judge("--params " + Example("panel.xml") + " --frames " + Example("frames.csv") + " --png " +
                      png.string());
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
  for (const Case& c : {Case{"--params " + (dir_ / "missing.xml").string(), "missing.xml"},
                        Case{"--params " + badXml.string(), "bad.xml"},
                        Case{"--params " + Example("panel.xml") + " --frames " + notInts.string(), "bad.csv"},
                        Case{"--params " + Example("panel.xml") + " --frames " + (dir_ / "none.csv").string(),
                             "none.csv"},
                        Case{"--params " + Example("panel.xml") + " --stable abc", "--stable"},
                        Case{"--frames x.csv", "--params"},
                        Case{"--params " + Example("panel.xml") + " --bogus 1", "--bogus"}}) {
    const RunResult r = Judge(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(JudgeCli, InvalidAreasGiveTheValidationMessageAndStatus3) {
  std::string text = ReadFile(Example("panel.xml"));
  // PANEL: origin X 0, origin Y 0, X size 32 -> 2 lines only.
  const std::string panel = "<PANEL>\r\n\t<count>7</count>\r\n\t<item_version>0</item_version>\r\n\t<item>";
  const auto at = text.find(panel);
  ASSERT_NE(at, std::string::npos);
  const auto sizeAt = text.find("<item>", text.find("<item>", at + panel.size()) + 1);
  const auto sizeEnd = text.find("</item>", sizeAt);
  text.replace(sizeAt + 6, sizeEnd - sizeAt - 6, "2");
  const fs::path p = Write("narrow.xml", text);
  const RunResult r = Judge("--params " + p.string());
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("屏体行值不能小于3"), std::string::npos) << r.err;
}

}  // namespace
