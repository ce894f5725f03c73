// The settings file: typed values, the text form, unreadable input, atomic rewrites.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/settings_document.h"
#include "platform/settings_file_store.h"
#include "platform/settings_test_dir.h"

namespace varnex2::platform {
namespace {

using testing::ReadText;
using testing::SettingsTestDir;
using testing::ValueName;
using testing::WriteText;

constexpr std::string_view kOut = "Software\\Varnx2\\OutPutSetting";

TEST(SettingsFileStore, BothTypesRoundTripAndShowInTheFile) {
  SettingsTestDir dir;
  auto store = CreateFileSettingsStore(dir.File());
  ASSERT_EQ(store->SetDword(kOut, "Trigger", 28000), SettingsStatus::Ok);
  ASSERT_EQ(store->SetDword(kOut, "Low", INT_MIN), SettingsStatus::Ok);
  ASSERT_EQ(store->SetDword(kOut, "Minus", -1), SettingsStatus::Ok);
  ASSERT_EQ(store->SetString(kOut, "TriggerString", "\\d{7}"), SettingsStatus::Ok);

  std::int32_t n = 0;
  EXPECT_EQ(store->GetDword(kOut, "Trigger", n), SettingsStatus::Ok);
  EXPECT_EQ(n, 28000);
  EXPECT_EQ(store->GetDword(kOut, "Low", n), SettingsStatus::Ok);
  EXPECT_EQ(n, INT_MIN);
  EXPECT_EQ(store->GetDword(kOut, "minus", n), SettingsStatus::Ok) << "names compare case-insensitively";
  EXPECT_EQ(n, -1);
  std::string s;
  EXPECT_EQ(store->GetString(kOut, "TriggerString", s, 254), SettingsStatus::Ok);
  EXPECT_EQ(s, "\\d{7}");

  // A second store on the same file sees everything: nothing is cached.
  auto other = CreateFileSettingsStore(dir.File());
  EXPECT_EQ(other->GetDword(kOut, "Trigger", n), SettingsStatus::Ok);
  EXPECT_EQ(n, 28000);

  const std::string text = ReadText(dir.File());
  EXPECT_NE(text.find("[Software\\Varnx2\\OutPutSetting]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Trigger\"=dword:00006d60\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Low\"=dword:80000000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"TriggerString\"=\"\\\\d{7}\"\n"), std::string::npos) << text;
}

TEST(SettingsFileStore, TypesLimitsAndMissingThingsAreTold) {
  SettingsTestDir dir;
  auto store = CreateFileSettingsStore(dir.File());
  std::int32_t n = 7;
  std::string s = "keep";
  EXPECT_EQ(store->GetDword(kOut, "Trigger", n), SettingsStatus::NoKey) << "no file at all";
  EXPECT_EQ(store->GetString(kOut, "Trigger", s, 10), SettingsStatus::NoKey);

  ASSERT_EQ(store->SetString(kOut, "Trigger", "30000"), SettingsStatus::Ok);
  ASSERT_EQ(store->SetDword(kOut, "StableFrameCnt", 3), SettingsStatus::Ok);
  EXPECT_EQ(store->GetDword(kOut, "Trigger", n), SettingsStatus::WrongType);
  EXPECT_EQ(store->GetString(kOut, "StableFrameCnt", s, 10), SettingsStatus::WrongType);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(s, "keep");

  ASSERT_EQ(store->SetString(kOut, "Long", std::string(255, 'x')), SettingsStatus::Ok);
  EXPECT_EQ(store->GetString(kOut, "Long", s, 254), SettingsStatus::TooLong);
  EXPECT_EQ(s, "keep");
  EXPECT_EQ(store->GetString(kOut, "Long", s, 255), SettingsStatus::Ok);
  EXPECT_EQ(s.size(), 255u);

  // A key exists when it or a key below it has a section; a prefix of a name is no parent.
  ASSERT_EQ(store->SetDword("Software\\Varnx2\\ScannerSetting\\Connect", "Type", 0), SettingsStatus::Ok);
  EXPECT_EQ(store->GetDword("Software\\Varnx2\\ScannerSetting\\Connect", "HIDMode", n), SettingsStatus::NoValue);
  EXPECT_EQ(store->GetDword("Software\\Varnx2\\ScannerSetting", "Type", n), SettingsStatus::NoValue);
  EXPECT_EQ(store->GetDword("software\\varnx2", "Type", n), SettingsStatus::NoValue);
  EXPECT_EQ(store->GetDword("Software\\Varnx2\\Scanner", "Type", n), SettingsStatus::NoKey);
  EXPECT_EQ(store->GetDword("Software\\Varnx2\\DiffMode", "Gain", n), SettingsStatus::NoKey);
  EXPECT_EQ(n, 7);

  EXPECT_EQ(store->DeleteValue(kOut, "StableFrameCnt"), SettingsStatus::Ok);
  EXPECT_EQ(store->DeleteValue(kOut, "StableFrameCnt"), SettingsStatus::NoValue);
  EXPECT_EQ(store->DeleteValue("Software\\Nothing", "x"), SettingsStatus::NoKey);
  EXPECT_EQ(store->GetDword(kOut, "StableFrameCnt", n), SettingsStatus::NoValue) << "the key stays";

  // Paths the file cannot hold are refused, not written half-way.
  for (const char* bad : {"", "\\Software", "Software\\", "Soft\\\\ware", "A[1]", "A\nB"}) {
    EXPECT_EQ(store->SetDword(bad, "x", 1), SettingsStatus::WriteFailed) << bad;
    EXPECT_EQ(store->GetDword(bad, "x", n), SettingsStatus::NoKey) << bad;
  }
}

TEST(SettingsFileStore, EscapedTextsRoundTripAndTheFileStaysUtf8) {
  SettingsTestDir dir;
  auto store = CreateFileSettingsStore(dir.File());
  const std::vector<std::string> texts = {
      "提示：请二次检验\r\n操作员：\r\n工号：9527",
      "quote \" backslash \\ end\\",
      "tab\tbell\x07 del\x7f",
      std::string("nul\0inside", 10),
      "bad utf-8 \xff\xfe \xc3 \xe4\xb8 cut",
      "\\x41 is not an escape in the value",
      "",
  };
  for (std::size_t i = 0; i < texts.size(); ++i) {
    ASSERT_EQ(store->SetString(kOut, ValueName("T", {static_cast<long long>(i)}), texts[i]), SettingsStatus::Ok);
  }
  ASSERT_EQ(store->SetString(kOut, "name \"quoted\" \\ 名", "v"), SettingsStatus::Ok);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    std::string s;
    EXPECT_EQ(store->GetString(kOut, ValueName("T", {static_cast<long long>(i)}), s, 1024), SettingsStatus::Ok);
    EXPECT_EQ(s, texts[i]) << i;
  }
  std::string s;
  EXPECT_EQ(store->GetString(kOut, "name \"quoted\" \\ 名", s, 10), SettingsStatus::Ok);

  const std::string text = ReadText(dir.File());
  EXPECT_NE(text.find("\"T0\"=\"提示：请二次检验\\r\\n操作员：\\r\\n工号：9527\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\\xff\\xfe \\xc3 \\xe4\\xb8 cut"), std::string::npos) << text;
  EXPECT_NE(text.find("nul\\x00inside"), std::string::npos) << text;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    EXPECT_TRUE(u >= 0x20 || c == '\n') << "raw control byte " << int(u);
    EXPECT_NE(u, 0x7f);
  }
  const SettingsDocument doc = SettingsDocument::Parse(text);
  EXPECT_EQ(doc.SkippedLines(), 0u);
  EXPECT_EQ(doc.Serialize(), text);
}

TEST(SettingsFileStore, UnreadableLinesAreSkippedAndTheRestIsUsed) {
  SettingsTestDir dir;
  WriteText(dir.File(),
            "\xEF\xBB\xBF; hand-edited\r\n"
            "\"Orphan\"=dword:00000001\r\n"  // before any section
            "[Software\\Varnx2\\OutPutSetting]\r\n"
            "  \"Trigger\" = dword:00007530  \r\n"  // blanks are tolerated
            "\"StableFrameCnt\"=dword:0000003\r\n"  // seven digits: cut short
            "\"Text\"=\"unterminated\r\n"
            "\"Esc\"=\"bad \\q escape\"\r\n"
            "\"Hex\"=\"\\x4\"\r\n"
            "\"Trail\"=dword:00000001 junk\r\n"
            "\"Bin\"=hex:01,02\r\n"
            "garbage \x01\x02\xff\r\n"
            "[Broken\\\\Path]\r\n"
            "\"Lost\"=dword:00000001\r\n"  // below an unreadable header
            "[Software\\Varnx2\\DiffMode\r\n"
            "[software\\varnx2\\outputsetting]\r\n"  // joins the first section
            "\"Dup\"=dword:00000001\r\n"
            "\"DUP\"=dword:00000002\r\n"
            "\"Cut\"=\"trunc");
  const SettingsDocument doc = SettingsDocument::Parse(ReadText(dir.File()));
  EXPECT_EQ(doc.SkippedLines(), 12u);
  ASSERT_EQ(doc.Keys().size(), 1u);
  ASSERT_EQ(doc.Keys()[0].values.size(), 2u);
  EXPECT_EQ(doc.Keys()[0].values[1].name, "Dup");
  EXPECT_EQ(doc.Keys()[0].values[1].dword, 2);

  auto store = CreateFileSettingsStore(dir.File());
  std::int32_t n = 0;
  EXPECT_EQ(store->GetDword(kOut, "Trigger", n), SettingsStatus::Ok);
  EXPECT_EQ(n, 30000);
  EXPECT_EQ(store->GetDword(kOut, "StableFrameCnt", n), SettingsStatus::NoValue);
  EXPECT_EQ(store->GetDword("Broken\\Path", "Lost", n), SettingsStatus::NoKey);

  // The next write keeps what was readable and drops the rest.
  ASSERT_EQ(store->SetDword(kOut, "StableFrameCnt", 3), SettingsStatus::Ok);
  const SettingsDocument after = SettingsDocument::Parse(ReadText(dir.File()));
  EXPECT_EQ(after.SkippedLines(), 0u);
  EXPECT_EQ(store->GetDword(kOut, "Trigger", n), SettingsStatus::Ok);
  EXPECT_EQ(n, 30000);
}

// The largest file that is read at all: every value of it counts, the last one too.
TEST(SettingsFileStore, AFileNearTheSizeLimitIsReadInFull) {
  SettingsTestDir dir;
  std::string text = "[K]\n";
  int count = 0;
  while (text.size() < kMaxSettingsFileBytes - 64) {
    text += "\"V" + std::to_string(count++) + "\"=dword:00000001\n";
  }
  text += "[K\\Last]\n\"V\"=dword:0000002a\n";
  WriteText(dir.File(), text);
  auto store = CreateFileSettingsStore(dir.File());
  std::int32_t n = 0;
  EXPECT_EQ(store->GetDword("K\\Last", "V", n), SettingsStatus::Ok);
  EXPECT_EQ(n, 42);
  EXPECT_EQ(store->GetDword("K", ValueName("V", {count - 1}), n), SettingsStatus::Ok);
  const SettingsDocument doc = SettingsDocument::Parse(text);
  ASSERT_EQ(doc.Keys().size(), 2u);
  EXPECT_EQ(doc.Keys()[0].values.size(), static_cast<std::size_t>(count));
}

TEST(SettingsFileStore, CreatesItsDirectoryAndLeavesWhatItCannotReadAlone) {
  SettingsTestDir dir;
  const auto nested = dir.Path() / "a" / "b" / "settings.reg";
  auto store = CreateFileSettingsStore(nested);
  EXPECT_EQ(store->SetDword(kOut, "Trigger", 1), SettingsStatus::Ok);
  EXPECT_TRUE(std::filesystem::is_regular_file(nested));

  // Too large to be a settings file: nothing is read, and a write does not replace it.
  const std::string huge = "[K]\n" + std::string(kMaxSettingsFileBytes, ';') + "\n";
  WriteText(dir.File(), huge);
  auto big = CreateFileSettingsStore(dir.File());
  std::int32_t n = 0;
  EXPECT_EQ(big->GetDword("K", "x", n), SettingsStatus::NoKey);
  EXPECT_EQ(big->SetDword("K", "x", 1), SettingsStatus::WriteFailed);
  EXPECT_EQ(std::filesystem::file_size(dir.File()), huge.size());

  // A directory where the file should be.
  const auto notAFile = dir.Path() / "dir.reg";
  std::filesystem::create_directory(notAFile);
  auto odd = CreateFileSettingsStore(notAFile);
  EXPECT_EQ(odd->GetDword("K", "x", n), SettingsStatus::NoKey);
  EXPECT_EQ(odd->SetDword("K", "x", 1), SettingsStatus::WriteFailed);
}

TEST(SettingsFileStore, ALinkedSettingsFileIsWrittenWhereTheLinkPoints) {
  SettingsTestDir dir;
  std::filesystem::create_directory(dir.Path() / "real");
  const auto link = dir.Path() / "settings.reg";
  std::filesystem::create_symlink("real/station.reg", link);  // dangling until the first write
  auto store = CreateFileSettingsStore(link);
  ASSERT_EQ(store->SetDword(kOut, "Trigger", 1), SettingsStatus::Ok);
  ASSERT_EQ(store->SetDword(kOut, "Trigger", 2), SettingsStatus::Ok);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  std::int32_t n = 0;
  EXPECT_EQ(CreateFileSettingsStore(dir.Path() / "real" / "station.reg")->GetDword(kOut, "Trigger", n),
            SettingsStatus::Ok);
  EXPECT_EQ(n, 2);
}

TEST(SettingsFileStore, DefaultFileFollowsTheEnvironment) {
  const char* names[] = {"VARNEX2_CONFIG_DIR", "XDG_CONFIG_HOME", "HOME"};
  std::vector<std::pair<bool, std::string>> saved;
  for (const char* name : names) {
    const char* v = std::getenv(name);
    saved.emplace_back(v != nullptr, v != nullptr ? v : "");
  }
  ::setenv("HOME", "/home/op", 1);
  ::unsetenv("VARNEX2_CONFIG_DIR");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(DefaultSettingsFile(), "/home/op/.config/varnex2/settings.reg");
  ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(DefaultSettingsFile(), "/home/op/.config/varnex2/settings.reg");
  ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
  EXPECT_EQ(DefaultSettingsFile(), "/xdg/varnex2/settings.reg");
  ::setenv("VARNEX2_CONFIG_DIR", "/etc/station", 1);
  EXPECT_EQ(DefaultSettingsFile(), "/etc/station/settings.reg");
  for (std::size_t i = 0; i < saved.size(); ++i) {
    if (saved[i].first) {
      ::setenv(names[i], saved[i].second.c_str(), 1);
    } else {
      ::unsetenv(names[i]);
    }
  }
}

// ---- Atomic rewrite --------------------------------------------------------------------------

std::size_t TempFilesIn(const SettingsTestDir& dir) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    if (IsSettingsTempFile(dir.File(), entry.path())) ++count;
  }
  return count;
}

void WriteOldContent(const std::filesystem::path& file) {
  auto store = CreateFileSettingsStore(file);
  ASSERT_EQ(store->SetDword(kOut, "Trigger", 28000), SettingsStatus::Ok);
  ASSERT_EQ(store->SetString(kOut, "Note", "old 旧"), SettingsStatus::Ok);
}

// After a write stopped at `stage` (after `bytes` bytes for kPartial), the file holds the old
// content, or the new one once the rename is done; a later write cleans up and succeeds.
void CheckInterruptedWrite(SettingsWriteStage stage, std::size_t bytes) {
  SettingsTestDir dir;
  WriteOldContent(dir.File());
  const std::string oldText = ReadText(dir.File());

  SettingsFileOptions options;
  options.writeChunk = 1;
  options.crashAt = [&](SettingsWriteStage s, std::size_t written) {
    return s == stage && (stage != SettingsWriteStage::kPartial || written == bytes);
  };
  auto dying = CreateFileSettingsStore(dir.File(), options);
  EXPECT_EQ(dying->SetString(kOut, "Note", "new 新 and longer"), SettingsStatus::WriteFailed);

  auto store = CreateFileSettingsStore(dir.File());
  std::string note;
  EXPECT_EQ(store->GetString(kOut, "Note", note, 254), SettingsStatus::Ok);
  if (stage == SettingsWriteStage::kRenamed) {
    EXPECT_EQ(note, "new 新 and longer");
  } else {
    EXPECT_EQ(note, "old 旧");
    EXPECT_EQ(ReadText(dir.File()), oldText);
  }
  EXPECT_EQ(SettingsDocument::Parse(ReadText(dir.File())).SkippedLines(), 0u);

  ASSERT_EQ(store->SetDword(kOut, "StableFrameCnt", 3), SettingsStatus::Ok);
  EXPECT_EQ(TempFilesIn(dir), 0u) << "a dead writer's temporary file is removed";
  std::int32_t n = 0;
  EXPECT_EQ(store->GetDword(kOut, "Trigger", n), SettingsStatus::Ok);
  EXPECT_EQ(n, 28000);
}

TEST(SettingsFileStoreAtomic, AWriteCutShortAtAnyPointLeavesOldOrNewContent) {
  for (const auto stage : {SettingsWriteStage::kLocked, SettingsWriteStage::kTempCreated, SettingsWriteStage::kWritten,
                           SettingsWriteStage::kSynced, SettingsWriteStage::kRenamed}) {
    SCOPED_TRACE(static_cast<int>(stage));
    CheckInterruptedWrite(stage, 0);
  }
  SettingsTestDir probe;
  WriteOldContent(probe.File());
  auto store = CreateFileSettingsStore(probe.File());
  ASSERT_EQ(store->SetString(kOut, "Note", "new 新 and longer"), SettingsStatus::Ok);
  const std::size_t size = ReadText(probe.File()).size();
  for (std::size_t bytes = 1; bytes <= size; ++bytes) {
    SCOPED_TRACE(bytes);
    CheckInterruptedWrite(SettingsWriteStage::kPartial, bytes);
  }
}

TEST(SettingsFileStoreAtomic, AnUnchangedValueIsNotRewritten) {
  SettingsTestDir dir;
  WriteOldContent(dir.File());
  SettingsFileOptions options;
  int writes = 0;
  options.crashAt = [&](SettingsWriteStage s, std::size_t) {
    if (s == SettingsWriteStage::kTempCreated) ++writes;
    return false;
  };
  auto store = CreateFileSettingsStore(dir.File(), options);
  EXPECT_EQ(store->SetDword(kOut, "Trigger", 28000), SettingsStatus::Ok);
  EXPECT_EQ(writes, 0);
  EXPECT_EQ(store->SetDword(kOut, "Trigger", 28001), SettingsStatus::Ok);
  EXPECT_EQ(writes, 1);
}

// A child rewrites a large value over and over and reports each finished write on a pipe; it is
// killed in the middle. The file then parses cleanly and holds the last reported generation or
// the one after it, never a mixture.
TEST(SettingsFileStoreAtomic, SigkillDuringAStreamOfWritesLeavesACompleteFile) {
  SettingsTestDir dir;
  auto pattern = [](int generation) {
    const std::string unit = "gen" + std::to_string(generation) + ";";
    std::string s;
    while (s.size() < 200 * 1024) s += unit;
    return s;
  };
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(fds[0]);
    auto store = CreateFileSettingsStore(dir.File());
    for (int generation = 1;; ++generation) {
      if (store->SetDword("K", "Generation", generation) != SettingsStatus::Ok ||
          store->SetString("K", "Blob", pattern(generation)) != SettingsStatus::Ok) {
        ::_exit(2);
      }
      if (::write(fds[1], &generation, sizeof generation) != sizeof generation) ::_exit(3);
    }
  }
  ::close(fds[1]);
  int acknowledged = 0;
  int value = 0;
  while (acknowledged < 5 && ::read(fds[0], &value, sizeof value) == sizeof value) acknowledged = value;
  ::usleep(3000);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own: " << status;
  while (::read(fds[0], &value, sizeof value) == sizeof value) acknowledged = value;
  ::close(fds[0]);
  ASSERT_GE(acknowledged, 5);

  const SettingsDocument doc = SettingsDocument::Parse(ReadText(dir.File()));
  EXPECT_EQ(doc.SkippedLines(), 0u);
  auto store = CreateFileSettingsStore(dir.File());
  std::int32_t generation = 0;
  ASSERT_EQ(store->GetDword("K", "Generation", generation), SettingsStatus::Ok);
  std::string blob;
  ASSERT_EQ(store->GetString("K", "Blob", blob, 1 << 20), SettingsStatus::Ok);
  // Generation is written before Blob: the blob is of the same generation or the one before.
  EXPECT_TRUE(blob == pattern(generation) || blob == pattern(generation - 1)) << generation;
  EXPECT_GE(generation, acknowledged);
  EXPECT_LE(generation, acknowledged + 1);
  EXPECT_EQ(store->SetDword("K", "After", 1), SettingsStatus::Ok);
  EXPECT_EQ(TempFilesIn(dir), 0u);
}

// Two processes writing at once do not lose each other's values (the side lock file).
TEST(SettingsFileStoreAtomic, TwoProcessesLoseNoWrites) {
  SettingsTestDir dir;
  constexpr int kWrites = 60;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      auto store = CreateFileSettingsStore(dir.File());
      for (int i = 0; i < kWrites; ++i) {
        const std::string name = ValueName("P", {c, i});
        if (store->SetDword("Software\\Varnx2\\Test", name, i) != SettingsStatus::Ok) ::_exit(1);
      }
      ::_exit(0);
    }
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  auto store = CreateFileSettingsStore(dir.File());
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kWrites; ++i) {
      std::int32_t n = -1;
      const std::string name = ValueName("P", {c, i});
      EXPECT_EQ(store->GetDword("Software\\Varnx2\\Test", name, n), SettingsStatus::Ok) << name;
      EXPECT_EQ(n, i);
    }
  }
}

}  // namespace
}  // namespace varnex2::platform
