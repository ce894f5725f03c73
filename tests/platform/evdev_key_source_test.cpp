// The evdev key source against keyboards emulated by umockdev, and the choice of the layout.
//
// umockdev 0.17.16 makes the node of a device added with "N: input/eventN" and no contents a
// pseudo-terminal in raw mode: the test writes struct input_event records to its master
// (umockdev_testbed_get_dev_fd) and the source reads them from /dev/input/eventN exactly as from
// evdev. No ioctl is needed. Unplugging hangs up the master (the source's read() then fails with
// EIO, as evdev's fails with ENODEV) and sends the "remove" uevent.

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/input.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <umockdev.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/key_source.h"

namespace varnex2::platform {
namespace {

using namespace std::chrono_literals;
using Action = KeyEvent::Action;

class KeyQueue {
 public:
  void Push(const KeyEvent& key) {
    {
      std::lock_guard lock(mutex_);
      keys_.push_back(key);
    }
    cv_.notify_all();
  }
  // The next `count` keys, or fewer when they do not come within two seconds.
  std::vector<KeyEvent> Take(std::size_t count) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, 2s, [&] { return keys_.size() >= count; });
    std::vector<KeyEvent> out;
    while (!keys_.empty() && out.size() < count) {
      out.push_back(keys_.front());
      keys_.pop_front();
    }
    return out;
  }
  std::size_t Size() {
    std::lock_guard lock(mutex_);
    return keys_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<KeyEvent> keys_;
};

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 2000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

input_event Record(std::uint16_t type, std::uint16_t code, std::int32_t value) {
  input_event e{};
  e.type = type;
  e.code = code;
  e.value = value;
  return e;
}

// The user's environment must not choose the layout of the tests.
class LayoutEnvironment {
 public:
  LayoutEnvironment() {
    for (const char* name : kNames) {
      const char* v = std::getenv(name);
      saved_.emplace_back(name, v != nullptr ? std::optional<std::string>(v) : std::nullopt);
      unsetenv(name);
    }
  }
  ~LayoutEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name, value->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }

 private:
  static constexpr const char* kNames[] = {"XKB_DEFAULT_LAYOUT", "XKB_DEFAULT_VARIANT", "XKB_DEFAULT_MODEL",
                                           "XKB_DEFAULT_OPTIONS", "XKB_DEFAULT_RULES"};
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

class EvdevKeySourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XKB_DEFAULT_LAYOUT", "us", 1);
    testbed_ = umockdev_testbed_new();
    ASSERT_NE(testbed_, nullptr);
  }
  void TearDown() override {
    source_.reset();
    if (testbed_ != nullptr) g_object_unref(testbed_);
  }

  static std::string Syspath(int n) {
    return "/sys/devices/virtual/input/input" + std::to_string(n) + "/event" + std::to_string(n);
  }
  static std::string Node(int n) { return "/dev/input/event" + std::to_string(n); }

  // A keyboard's event node (the way udev describes a USB keyboard or a scanner).
  void Plug(int n) {
    const std::string text = "P: /devices/virtual/input/input" + std::to_string(n) + "/event" + std::to_string(n) +
                             "\nN: input/event" + std::to_string(n) +
                             "\nE: SUBSYSTEM=input\nE: DEVNAME=" + Node(n) +
                             "\nE: ID_INPUT=1\nE: ID_INPUT_KEY=1\nE: ID_INPUT_KEYBOARD=1\n";
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_, text.c_str(), &error))
        << (error != nullptr ? error->message : "");
  }
  // A mouse: an input device's node that is no keyboard.
  void PlugMouse(int n) {
    const std::string text = "P: /devices/virtual/input/input" + std::to_string(n) + "/event" + std::to_string(n) +
                             "\nN: input/event" + std::to_string(n) + "\nE: SUBSYSTEM=input\nE: DEVNAME=" + Node(n) +
                             "\nE: ID_INPUT=1\nE: ID_INPUT_MOUSE=1\n";
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_, text.c_str(), nullptr));
  }

  void Write(int n, const std::vector<input_event>& records) {
    WriteBytes(n, reinterpret_cast<const char*>(records.data()), records.size() * sizeof(input_event));
  }
  void WriteBytes(int n, const char* data, std::size_t size) {
    const int fd = umockdev_testbed_get_dev_fd(testbed_, Node(n).c_str());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, data, size), static_cast<ssize_t>(size));
  }
  // A press and release, each followed by the SYN_REPORT that ends a frame.
  void Tap(int n, std::uint16_t code) {
    Write(n, {Record(EV_MSC, MSC_SCAN, 0x70004), Record(EV_KEY, code, 1), Record(EV_SYN, SYN_REPORT, 0),
              Record(EV_KEY, code, 0), Record(EV_SYN, SYN_REPORT, 0)});
  }

  // Pulled out: the pseudo-terminal hangs up, as an evdev node does when its device goes.
  void HangUp(int n) {
    const int fd = umockdev_testbed_get_dev_fd(testbed_, Node(n).c_str());
    ASSERT_GE(fd, 0);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(null, 0);
    ASSERT_GE(dup2(null, fd), 0);
    close(null);
  }
  // Hung up, "remove" sent, the device and its node gone (umockdev 0.17.16 leaves the node).
  void Unplug(int n) {
    HangUp(n);
    umockdev_testbed_uevent(testbed_, Syspath(n).c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, Syspath(n).c_str());
    unlink((RootDir() + Node(n)).c_str());
  }
  std::string RootDir() {
    gchar* dir = umockdev_testbed_get_root_dir(testbed_);
    std::string text = dir;
    g_free(dir);
    return text;
  }

  bool Start() {
    source_ = CreateEvdevKeySource();
    return source_->Start([this](const KeyEvent& key) { keys_.Push(key); });
  }

  LayoutEnvironment environment_;
  UMockdevTestbed* testbed_ = nullptr;
  std::unique_ptr<KeySource> source_;
  KeyQueue keys_;
};

TEST_F(EvdevKeySourceTest, ShiftedTextArrivesAsCodesAndCharacters) {
  Plug(3);
  PlugMouse(4);
  ASSERT_TRUE(Start());
  EXPECT_EQ(source_->KeyboardCount(), 1);
  EXPECT_EQ(source_->Problem(), "");

  // "Ab1" and Enter, Shift held for the A; b also auto-repeats once.
  Write(3, {Record(EV_KEY, KEY_LEFTSHIFT, 1), Record(EV_SYN, SYN_REPORT, 0), Record(EV_KEY, KEY_A, 1),
            Record(EV_KEY, KEY_A, 0), Record(EV_KEY, KEY_LEFTSHIFT, 0), Record(EV_SYN, SYN_REPORT, 0),
            Record(EV_KEY, KEY_B, 1), Record(EV_KEY, KEY_B, 2), Record(EV_KEY, KEY_B, 0)});
  Tap(3, KEY_1);
  Tap(3, KEY_ENTER);
  struct Expected {
    std::uint16_t code;
    Action action;
    char32_t character;
  };
  const Expected expected[] = {
      {KEY_LEFTSHIFT, Action::Press, 0}, {KEY_A, Action::Press, U'A'},    {KEY_A, Action::Release, 0},
      {KEY_LEFTSHIFT, Action::Release, 0}, {KEY_B, Action::Press, U'b'},  {KEY_B, Action::Repeat, U'b'},
      {KEY_B, Action::Release, 0},         {KEY_1, Action::Press, U'1'},  {KEY_1, Action::Release, 0},
      {KEY_ENTER, Action::Press, U'\r'},   {KEY_ENTER, Action::Release, 0},
  };
  const auto got = keys_.Take(std::size(expected));
  ASSERT_EQ(got.size(), std::size(expected));
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].code, expected[i].code);
    EXPECT_EQ(got[i].action, expected[i].action);
    EXPECT_EQ(got[i].character, expected[i].character);
    EXPECT_EQ(got[i].device, Node(3));
  }

  // A record delivered in two pieces is one key, not garbage.
  const input_event press = Record(EV_KEY, KEY_C, 1);
  const char* bytes = reinterpret_cast<const char*>(&press);
  WriteBytes(3, bytes, 10);
  std::this_thread::sleep_for(100ms);
  WriteBytes(3, bytes + 10, sizeof press - 10);
  const auto c = keys_.Take(1);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].code, KEY_C);
  EXPECT_EQ(c[0].character, U'c');
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(keys_.Size(), 0u);
}

TEST_F(EvdevKeySourceTest, EachKeyboardHasItsOwnShift) {
  Plug(3);
  Plug(5);
  ASSERT_TRUE(Start());
  EXPECT_EQ(source_->KeyboardCount(), 2);
  Write(3, {Record(EV_KEY, KEY_RIGHTSHIFT, 1)});
  ASSERT_EQ(keys_.Take(1).size(), 1u);
  Write(5, {Record(EV_KEY, KEY_X, 1)});
  Write(3, {Record(EV_KEY, KEY_X, 1)});
  auto got = keys_.Take(2);
  ASSERT_EQ(got.size(), 2u);
  // Keys of different keyboards read in one round come in no fixed order.
  if (got[0].device != Node(5)) std::swap(got[0], got[1]);
  EXPECT_EQ(got[0].device, Node(5));
  EXPECT_EQ(got[0].character, U'x');
  EXPECT_EQ(got[1].device, Node(3));
  EXPECT_EQ(got[1].character, U'X');
}

TEST_F(EvdevKeySourceTest, FollowsKeyboardsPluggedAndPulledWhileRunning) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(source_->KeyboardCount(), 0);
  Plug(3);
  ASSERT_TRUE(WaitUntil([&] { return source_->KeyboardCount() == 1; }));
  Plug(6);
  ASSERT_TRUE(WaitUntil([&] { return source_->KeyboardCount() == 2; }));
  Tap(6, KEY_Z);
  auto got = keys_.Take(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].device, Node(6));
  EXPECT_EQ(got[0].character, U'z');

  // The scanner is pulled in the middle of a code: the other keyboard goes on.
  Write(6, {Record(EV_KEY, KEY_LEFTSHIFT, 1), Record(EV_KEY, KEY_Q, 1)});
  std::this_thread::sleep_for(20ms);
  Unplug(6);
  ASSERT_TRUE(WaitUntil([&] { return source_->KeyboardCount() == 1; }));
  keys_.Take(2);  // what was typed before the unplug may or may not have been read
  Tap(3, KEY_2);
  got = keys_.Take(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].device, Node(3));
  EXPECT_EQ(got[0].character, U'2');
  EXPECT_EQ(source_->Problem(), "");

  // Plugged in again (under another node: umockdev 0.17.16 cannot make a removed node anew), with
  // the Shift it had held forgotten.
  Plug(9);
  ASSERT_TRUE(WaitUntil([&] { return source_->KeyboardCount() == 2; }));
  Tap(9, KEY_Q);
  got = keys_.Take(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].device, Node(9));
  EXPECT_EQ(got[0].character, U'q');
}

TEST_F(EvdevKeySourceTest, NodeThatHangsUpWithoutUeventIsDroppedWithoutSpinning) {
  Plug(3);
  Plug(7);
  ASSERT_TRUE(Start());
  ASSERT_EQ(source_->KeyboardCount(), 2);
  HangUp(7);
  ASSERT_TRUE(WaitUntil([&] { return source_->KeyboardCount() == 1; }));

  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  std::this_thread::sleep_for(500ms);
  getrusage(RUSAGE_SELF, &after);
  const auto cpuUs = [](const rusage& r) {
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
  };
  EXPECT_LT(cpuUs(after) - cpuUs(before), 200000L) << "the reading thread spins";

  Tap(3, KEY_9);
  const auto got = keys_.Take(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].character, U'9');
}

TEST_F(EvdevKeySourceTest, StartsOnceAndStopsPromptly) {
  Plug(3);
  ASSERT_TRUE(Start());
  EXPECT_FALSE(source_->Start([](const KeyEvent&) {}));
  std::this_thread::sleep_for(100ms);
  const auto begin = std::chrono::steady_clock::now();
  source_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 1000ms);
  EXPECT_EQ(source_->KeyboardCount(), 0);
  source_->Stop();

  // Nothing reaches the handler after Stop; a new Start reads again.
  Tap(3, KEY_A);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(keys_.Size(), 0u);
  ASSERT_TRUE(source_->Start([this](const KeyEvent& key) { keys_.Push(key); }));
  EXPECT_EQ(source_->KeyboardCount(), 1);
  Tap(3, KEY_S);
  // The pseudo-terminal kept the A typed while stopped (an evdev node would not have).
  const auto got = keys_.Take(4);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].code, KEY_A);
  EXPECT_EQ(got[2].code, KEY_S);
}

TEST_F(EvdevKeySourceTest, UnknownLayoutGivesCodesWithoutCharactersAndSaysSo) {
  setenv("XKB_DEFAULT_LAYOUT", "no-such-layout", 1);
  Plug(3);
  ASSERT_TRUE(Start());
  EXPECT_NE(source_->Problem().find("no-such-layout"), std::string::npos) << source_->Problem();
  Tap(3, KEY_A);
  const auto got = keys_.Take(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].code, KEY_A);
  EXPECT_EQ(got[0].character, 0u);
}

// Leaves the effective capabilities that override file permissions on this thread only (and on the
// threads it starts), so that a root test process meets permissions like an ordinary user.
bool DropFileOverrideOnThisThread() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) data[cap / 32].effective &= ~(1u << (cap % 32));
  return syscall(SYS_capset, &header, data) == 0;
}

TEST_F(EvdevKeySourceTest, UnreadableKeyboardsAreNamedWithTheFixAndReadOnceAllowed) {
  Plug(3);
  Plug(8);
  Plug(10);
  // The node is a link to the pseudo-terminal: take the read permission from the terminal.
  const std::string node = RootDir() + Node(8);
  const std::string otherNode = RootDir() + Node(10);
  ASSERT_EQ(chmod(node.c_str(), 0), 0);
  ASSERT_EQ(chmod(otherNode.c_str(), 0), 0);

  // Start and Stop on one thread, as the source requires; as root that thread gives up its
  // override of file permissions first.
  bool dropped = true;
  bool started = false;
  int count = -1;
  std::string problem;
  std::string problemAfterFix;
  int countAfterFix = -1;
  std::thread([&] {
    if (geteuid() == 0) dropped = DropFileOverrideOnThisThread();
    if (!dropped) return;
    auto source = CreateEvdevKeySource();
    started = source->Start([](const KeyEvent&) {});
    count = source->KeyboardCount();
    problem = source->Problem();
    // Access granted later: after the rule is installed and applied again ("change"), and
    // without any uevent (an ACL given back).
    chmod(node.c_str(), 0600);
    umockdev_testbed_uevent(testbed_, Syspath(8).c_str(), "change");
    chmod(otherNode.c_str(), 0600);
    WaitUntil([&] { return source->KeyboardCount() == 3; }, 5000ms);
    countAfterFix = source->KeyboardCount();
    problemAfterFix = source->Problem();
    source->Stop();
  }).join();
  if (!dropped) GTEST_SKIP() << "cannot give up the permission override of root here";
  ASSERT_TRUE(started);
  EXPECT_EQ(count, 1);
  EXPECT_NE(problem.find(Node(8)), std::string::npos) << problem;
  EXPECT_NE(problem.find(Node(10)), std::string::npos) << problem;
  EXPECT_EQ(problem.find(Node(3)), std::string::npos) << problem;
  EXPECT_NE(problem.find("\"input\""), std::string::npos) << problem;
  EXPECT_NE(problem.find("70-varnex2-keyboards.rules"), std::string::npos) << problem;
  EXPECT_EQ(problem.find('\n'), std::string::npos);
  EXPECT_EQ(countAfterFix, 3);
  EXPECT_EQ(problemAfterFix, "");
}

// ---------------------------------------------------------------------------------------------
// The layout the keys are translated with.

class KeyboardLayoutTest : public ::testing::Test {
 protected:
  std::string WriteDefaults(const std::string& text) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("varnex2-keyboard-" + std::to_string(getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::ofstream(path) << text;
    files_.push_back(path);
    return path.string();
  }
  void TearDown() override {
    for (const auto& f : files_) std::filesystem::remove(f);
  }
  LayoutEnvironment environment_;
  std::vector<std::filesystem::path> files_;
};

TEST_F(KeyboardLayoutTest, SystemDefaultsFileWithShellQuoting) {
  const auto file = WriteDefaults(
      "# KEYBOARD CONFIGURATION FILE\n"
      "\n"
      "XKBMODEL=\"pc105\"\n"
      "XKBLAYOUT='de,us'\n"
      "  XKBVARIANT=nodeadkeys # comment\n"
      "XKBOPTIONS=\"grp:alt_shift_toggle,terminate:ctrl_alt_bksp\"\n"
      "BACKSPACE=\"guess\"\n");
  const KeyboardLayout layout = UserKeyboardLayout(file);
  EXPECT_EQ(layout.model, "pc105");
  EXPECT_EQ(layout.layout, "de,us");
  EXPECT_EQ(layout.variant, "nodeadkeys");
  EXPECT_EQ(layout.options, "grp:alt_shift_toggle,terminate:ctrl_alt_bksp");
}

TEST_F(KeyboardLayoutTest, EnvironmentBeforeFileAndUsWithoutEither) {
  const auto file = WriteDefaults("XKBLAYOUT=\"fr\"\nXKBVARIANT=\"azerty\"\n");
  setenv("XKB_DEFAULT_LAYOUT", "de", 1);
  setenv("XKB_DEFAULT_OPTIONS", "caps:none", 1);
  KeyboardLayout layout = UserKeyboardLayout(file);
  EXPECT_EQ(layout.layout, "de");
  EXPECT_EQ(layout.variant, "");  // not the file's variant of another layout
  EXPECT_EQ(layout.options, "caps:none");

  unsetenv("XKB_DEFAULT_LAYOUT");
  layout = UserKeyboardLayout(file);
  EXPECT_EQ(layout.layout, "fr");
  EXPECT_EQ(layout.variant, "azerty");

  layout = UserKeyboardLayout(file + ".missing");
  EXPECT_EQ(layout.layout, "us");
  EXPECT_EQ(layout.variant, "");
  EXPECT_EQ(layout.options, "");  // an option without a layout of its own is not taken
}

}  // namespace
}  // namespace varnex2::platform
