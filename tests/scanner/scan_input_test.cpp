// The scanner's three input paths: which settings let each path collect and fire, the
// control-character and pattern triggers, the buffer limit, and the buffer shared across threads.

#include "scanner/scan_input.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace varnex2::scanner {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Sent = std::pair<std::string, int>;

constexpr int32_t kAllFlags = kTriggerFlagCrLf | kTriggerFlagCr | kTriggerFlagTab | kTriggerFlagSpace;
constexpr int kVkNumpad1 = 0x61;

class ScanInputTest : public ::testing::Test {
 protected:
  void Configure(int32_t connect, int32_t hid, int32_t trigger, int32_t flags = 0,
                 std::string pattern = kDefaultTriggerString) {
    shared.Update([&](ScannerSetting& s) {
      s.nConnectType = connect;
      s.nHIDMode = hid;
      s.nTriggerType = trigger;
      s.nTriggerFlag = flags;
      s.strTriggerString = std::move(pattern);
    });
  }
  // Types `keys` as the hook sees them: the key's code (upper-case letter) and its character.
  void Hook(std::string_view keys) {
    for (const char c : keys) input.OnHookKeyDown(std::toupper(static_cast<unsigned char>(c)), c);
  }
  void Foreground(std::string_view keys) {
    for (const char c : keys) input.OnForegroundKeyDown(std::toupper(static_cast<unsigned char>(c)));
  }

  SharedScannerSetting shared;
  std::vector<Sent> sent;
  ScanInput input{shared, [this](const std::string& text, int lParam) { sent.emplace_back(text, lParam); }};
};

// Which path collects under which connection type and HID mode; a pattern that never matches
// keeps what was collected in the buffer.
TEST_F(ScanInputTest, EachKeyboardPathCollectsOnlyWithKeyboardConnectionAndItsOwnHidMode) {
  struct Row {
    int32_t connect, hid;
    const char* hook;        // buffer after the hook typed "ab"
    const char* foreground;  // buffer after the foreground path got the keys "cd"
  };
  const Row rows[] = {
      {kConnectUsbKeyboard, kHidModeGlobalHook, "ab", ""},
      {kConnectUsbKeyboard, kHidModeForeground, "", "CD"},
      {kConnectUsbSerial, kHidModeGlobalHook, "", ""},
      {kConnectUsbSerial, kHidModeForeground, "", ""},
      {kConnectNone, kHidModeGlobalHook, "", ""},
      {kConnectNone, kHidModeForeground, "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "connect " << row.connect << " hid " << row.hid);
    Configure(row.connect, row.hid, kTriggerPattern, 0, "x^");
    input.ClearBuffer();
    Hook("ab");
    EXPECT_EQ(input.Buffer(), row.hook);
    input.ClearBuffer();
    Foreground("cd");
    EXPECT_EQ(input.Buffer(), row.foreground);
    input.OnSerialChunk("12345678\r");
  }
  EXPECT_THAT(sent, IsEmpty());
}

// Control triggers follow the HID mode and the trigger type, not the connection type: with the
// scanner on the serial port or absent, Enter still sends (an empty text).
TEST_F(ScanInputTest, ControlTriggersIgnoreTheConnectionType) {
  for (const int32_t connect : {kConnectUsbKeyboard, kConnectUsbSerial, kConnectNone}) {
    SCOPED_TRACE(connect);
    sent.clear();
    Configure(connect, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf);
    input.OnHookKeyDown(kVkReturn, U'\r');
    input.OnForegroundKeyDown(kVkReturn);  // the foreground path is not live in hook mode
    input.OnHookKeyDown(kVkReturn, U'\r');
    EXPECT_THAT(sent, ElementsAre(Sent{"", kFiredEnter}, Sent{"", kFiredEnter}));

    sent.clear();
    Configure(connect, kHidModeForeground, kTriggerControlChar, kTriggerFlagCrLf);
    input.OnHookKeyDown(kVkReturn, U'\r');
    input.OnForegroundKeyDown(kVkReturn);
    EXPECT_THAT(sent, ElementsAre(Sent{"", kFiredEnter}));
  }
  // Pattern mode or an unknown trigger type: no control character fires anywhere.
  for (const int32_t trigger : {kTriggerPattern, 1}) {
    sent.clear();
    Configure(kConnectUsbKeyboard, kHidModeGlobalHook, trigger, kAllFlags, "x^");
    input.OnHookKeyDown(kVkReturn, U'\r');
    input.OnHookKeyDown(kVkTab, U'\t');
    Configure(kConnectUsbKeyboard, kHidModeForeground, trigger, kAllFlags, "x^");
    input.OnForegroundKeyDown(kVkReturn);
    input.OnForegroundKeyDown(kVkLineFeed);
    EXPECT_THAT(sent, IsEmpty());
  }
}

TEST_F(ScanInputTest, HookControlKeysSendTheirOwnCodes) {
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerControlChar, kAllFlags);
  Hook("ab\tcd");
  input.OnHookKeyDown(kVkReturn, U'\r');
  Hook("ef gh");
  EXPECT_THAT(sent, ElementsAre(Sent{"ab", kFiredTab}, Sent{"cd", kFiredEnter}, Sent{"", kFiredCr},
                                Sent{"ef", kFiredSpace}));
  // The space that fired was collected into the emptied buffer and begins the next scan.
  EXPECT_EQ(input.Buffer(), " gh");

  // Without their bits the keys fire nothing; the space and tab keys are collected as typed.
  sent.clear();
  input.ClearBuffer();
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerControlChar, 0);
  Hook("a b\t");
  input.OnHookKeyDown(kVkReturn, U'\r');
  EXPECT_THAT(sent, IsEmpty());
  EXPECT_EQ(input.Buffer(), "a b");
}

TEST_F(ScanInputTest, HookCollectsOnlyTranslatedCharactersOfPrintableKeyCodes) {
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerControlChar, 0);
  input.OnHookKeyDown('A', U'a');
  input.OnHookKeyDown('1', U'!');      // shifted digit: the translated character
  input.OnHookKeyDown(0xBA, U';');     // punctuation key: its code is outside 0x20..0x7E
  input.OnHookKeyDown(kVkNumpad1, U'1');
  input.OnHookKeyDown(0xA0, 0);        // shift
  input.OnHookKeyDown('B', 0);         // translates to nothing
  input.OnHookKeyDown('C', U'\u00e9');  // a layout's accented letter
  EXPECT_EQ(input.Buffer(), "a!1\u00e9");
}

// Pattern "\d{7}": the whole buffer goes when the search first holds, also text before the match.
TEST_F(ScanInputTest, PatternFiresWithTheWholeBufferAtTheFirstMatch) {
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerPattern);
  Hook("1234567890123");
  EXPECT_THAT(sent, ElementsAre(Sent{"1234567", kFiredPattern}));
  EXPECT_EQ(input.Buffer(), "890123");

  sent.clear();
  input.ClearBuffer();
  Hook("ab1234567");
  EXPECT_THAT(sent, ElementsAre(Sent{"ab1234567", kFiredPattern}));
  EXPECT_EQ(input.Buffer(), "");

  // Foreground path: key codes, so letters arrive in upper case.
  sent.clear();
  Configure(kConnectUsbKeyboard, kHidModeForeground, kTriggerPattern, 0, "SN\\d{3}");
  Foreground("xsn123");
  EXPECT_THAT(sent, ElementsAre(Sent{"XSN123", kFiredPattern}));

  // A changed pattern acts at the next key.
  sent.clear();
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerPattern, 0, "\\d{7}");
  Hook("12345");
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerPattern, 0, "5a");
  Hook("a");
  EXPECT_THAT(sent, ElementsAre(Sent{"12345a", kFiredPattern}));
}

TEST_F(ScanInputTest, PatternThatDoesNotCompileMatchesNothingAndCollectingGoesOn) {
  for (const char* bad : {"(\\d{7}", "[", "a{2,1}", "*"}) {
    SCOPED_TRACE(bad);
    Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerPattern, 0, bad);
    input.ClearBuffer();
    Hook("12345678");
    EXPECT_EQ(input.Buffer(), "12345678");
    Configure(kConnectUsbSerial, kHidModeGlobalHook, kTriggerPattern, 0, bad);
    input.OnSerialChunk("(12345678\r\n");
  }
  EXPECT_THAT(sent, IsEmpty());
}

// The buffer holds at most 255 characters: the 256th empties it. Characters, not bytes.
TEST_F(ScanInputTest, BufferIsEmptiedWhenItWouldHold256Characters) {
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerPattern, 0, "x^");
  Hook(std::string(255, 'a'));
  EXPECT_EQ(input.Buffer(), std::string(255, 'a'));
  Hook("a");
  EXPECT_EQ(input.Buffer(), "");
  Hook("b");
  EXPECT_EQ(input.Buffer(), "b");

  input.ClearBuffer();
  std::string wide;
  for (int i = 0; i < 255; ++i) {
    input.OnHookKeyDown('A', U'\u4e2d');
    wide += "\u4e2d";
  }
  EXPECT_EQ(input.Buffer(), wide);
  input.OnHookKeyDown('A', U'\u4e2d');
  EXPECT_EQ(input.Buffer(), "");

  // The foreground path shares the limit.
  Configure(kConnectUsbKeyboard, kHidModeForeground, kTriggerControlChar, 0);
  Foreground(std::string(256, '7'));
  EXPECT_EQ(input.Buffer(), "");
  EXPECT_THAT(sent, IsEmpty());
}

// Code points that are no Unicode scalar values cannot reach the record as broken UTF-8.
TEST_F(ScanInputTest, NonCharactersAreCollectedAsReplacementCharacters) {
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf);
  input.OnHookKeyDown('A', 0xD800);
  input.OnHookKeyDown('A', 0x110000);
  input.OnHookKeyDown(kVkReturn, U'\r');
  EXPECT_THAT(sent, ElementsAre(Sent{"\uFFFD\uFFFD", kFiredEnter}));
}

// Control mode with CRLF and CR: one Enter gives two messages, the second empty.
TEST_F(ScanInputTest, EnterWithBothReturnBitsSendsTwice) {
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf | kTriggerFlagCr);
  Hook("abc123");
  input.OnHookKeyDown(kVkReturn, U'\r');
  EXPECT_THAT(sent, ElementsAre(Sent{"abc123", kFiredEnter}, Sent{"", kFiredCr}));
}

TEST_F(ScanInputTest, ForegroundKeysSendWithTheirLParamsAndAreConsumed) {
  Configure(kConnectUsbKeyboard, kHidModeForeground, kTriggerControlChar, kAllFlags);
  Foreground("ab");
  EXPECT_TRUE(input.OnForegroundKeyDown(kVkTab));
  Foreground("c");
  EXPECT_FALSE(input.OnForegroundKeyDown(kVkLineFeed));
  input.OnForegroundKeyDown(kVkNumpad1);
  EXPECT_TRUE(input.OnForegroundKeyDown(kVkReturn));
  Foreground("d");
  EXPECT_TRUE(input.OnForegroundKeyDown(kVkSpace));
  EXPECT_FALSE(input.OnForegroundKeyDown('E'));
  // Tab and Space send with the Enter code; the space itself is collected first and is sent.
  EXPECT_THAT(sent, ElementsAre(Sent{"AB", kFiredEnter}, Sent{"C", kFiredCr}, Sent{"a", kFiredEnter},
                                Sent{"D ", kFiredEnter}));
  EXPECT_EQ(input.Buffer(), "E");

  // Escape empties the buffer.
  EXPECT_TRUE(input.OnForegroundKeyDown(kVkEscape));
  EXPECT_EQ(input.Buffer(), "");
}

TEST_F(ScanInputTest, ForegroundCollectsTheLowByteOfTheKeyCode) {
  Configure(kConnectUsbKeyboard, kHidModeForeground, kTriggerControlChar, 0);
  input.OnForegroundKeyDown(0x141);  // low byte 'A'
  input.OnForegroundKeyDown(0x7F);   // delete's low byte is outside the printable range
  input.OnForegroundKeyDown(0xBA);
  EXPECT_EQ(input.Buffer(), "A");
}

// Tab, Return, Escape and Space never reach the window's dialog handling, whatever the settings.
TEST_F(ScanInputTest, ForegroundConsumesTheSameKeysInEveryConfiguration) {
  for (const int32_t connect : {kConnectUsbKeyboard, kConnectUsbSerial, kConnectNone}) {
    for (const int32_t hid : {kHidModeGlobalHook, kHidModeForeground}) {
      for (const int32_t trigger : {kTriggerControlChar, kTriggerPattern}) {
        for (const int32_t flags : {0, kAllFlags}) {
          SCOPED_TRACE(testing::Message() << connect << " " << hid << " " << trigger << " " << flags);
          Configure(connect, hid, trigger, flags);
          EXPECT_TRUE(input.OnForegroundKeyDown(kVkReturn));
          EXPECT_TRUE(input.OnForegroundKeyDown(kVkTab));
          EXPECT_TRUE(input.OnForegroundKeyDown(kVkEscape));
          EXPECT_TRUE(input.OnForegroundKeyDown(kVkSpace));
          EXPECT_FALSE(input.OnForegroundKeyDown(kVkLineFeed));
          EXPECT_FALSE(input.OnForegroundKeyDown('A'));
          EXPECT_TRUE(input.OnForegroundChar(13));
          EXPECT_TRUE(input.OnForegroundChar(27));
          EXPECT_TRUE(input.OnForegroundChar(32));
          EXPECT_FALSE(input.OnForegroundChar(10));
          EXPECT_FALSE(input.OnForegroundChar(U'a'));
        }
      }
    }
  }
}

// Escape empties the buffer only while the foreground path collects.
TEST_F(ScanInputTest, EscapeLeavesTheHookBufferAlone) {
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerControlChar, 0);
  Hook("abc");
  input.OnForegroundKeyDown(kVkEscape);
  EXPECT_EQ(input.Buffer(), "abc");
}

TEST_F(ScanInputTest, SerialControlModeSendsTheWholeChunkOnce) {
  Configure(kConnectUsbSerial, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf);
  input.OnSerialChunk("1234567\r\n");
  EXPECT_THAT(sent, ElementsAre(Sent{"1234567\r\n", kFiredEnter}));

  sent.clear();
  Configure(kConnectUsbSerial, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf | kTriggerFlagTab);
  input.OnSerialChunk("1234567\r\n");
  EXPECT_THAT(sent, ElementsAre(Sent{"1234567\r\n", kFiredEnter}));

  // Every test that holds sends; only the first carries the text.
  sent.clear();
  Configure(kConnectUsbSerial, kHidModeGlobalHook, kTriggerControlChar, kAllFlags);
  input.OnSerialChunk("a b\tc\r");
  EXPECT_THAT(sent, ElementsAre(Sent{"a b\tc\r", kFiredEnter}, Sent{"", kFiredCr}, Sent{"", kFiredTab},
                                Sent{"", kFiredSpace}));

  // A line feed alone is no carriage return.
  sent.clear();
  input.OnSerialChunk("1234567\n");
  EXPECT_THAT(sent, IsEmpty());
  // The serial path never touches the keyboard buffer.
  EXPECT_EQ(input.Buffer(), "");
}

TEST_F(ScanInputTest, SerialChunksAreJudgedAlone) {
  Configure(kConnectUsbSerial, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf);
  input.OnSerialChunk("12345");
  input.OnSerialChunk("67\r\n");
  EXPECT_THAT(sent, ElementsAre(Sent{"67\r\n", kFiredEnter}));

  sent.clear();
  Configure(kConnectUsbSerial, kHidModeGlobalHook, kTriggerPattern);
  input.OnSerialChunk("1234");
  input.OnSerialChunk("567");
  input.OnSerialChunk("x1234567y\r\n");
  EXPECT_THAT(sent, ElementsAre(Sent{"x1234567y\r\n", kFiredPattern}));
}

// The chunk's text ends at its first NUL: what follows is neither tested nor sent.
TEST_F(ScanInputTest, SerialChunkEndsAtItsFirstNul) {
  using namespace std::string_literals;
  Configure(kConnectUsbSerial, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf);
  input.OnSerialChunk("123\0" "456\r\n"s);
  input.OnSerialChunk("123\r\0" "456"s);
  Configure(kConnectUsbSerial, kHidModeGlobalHook, kTriggerPattern);
  input.OnSerialChunk("\0" "1234567"s);
  EXPECT_THAT(sent, ElementsAre(Sent{"123\r", kFiredEnter}));
}

// One read takes at most 1023 bytes; a longer chunk is judged as successive reads.
TEST_F(ScanInputTest, SerialChunkOverOneReadIsJudgedInReads) {
  Configure(kConnectUsbSerial, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf);
  const std::string first = std::string(1022, 'a') + "\r";
  const std::string second = "bc\r";
  input.OnSerialChunk(first + second);
  EXPECT_THAT(sent, ElementsAre(Sent{first, kFiredEnter}, Sent{second, kFiredEnter}));
}

TEST_F(ScanInputTest, SerialTextIsSentAsUtf8) {
  Configure(kConnectUsbSerial, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf);
  input.OnSerialChunk("\u4e2d\xff\xc0\x80\xe4\xb8\r");
  EXPECT_THAT(sent, ElementsAre(Sent{"\u4e2d\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\r", kFiredEnter}));
}

// The sink runs with no lock held and after the buffer was emptied: it may use the input.
TEST_F(ScanInputTest, SinkMayCallBackIntoTheInput) {
  std::vector<std::string> seen;
  ScanInput* self = nullptr;
  ScanInput reentrant(shared, [&](const std::string&, int) {
    seen.push_back(self->Buffer());
    self->ClearBuffer();
  });
  self = &reentrant;
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerPattern);
  for (const char c : std::string("1234567")) reentrant.OnHookKeyDown(c, c);
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf);
  reentrant.OnHookKeyDown('A', U'a');
  reentrant.OnHookKeyDown(kVkReturn, U'\r');
  EXPECT_THAT(seen, ElementsAre("", ""));
}

// The hook thread collects and fires while the test thread empties the buffer and the window
// thread changes the settings; every sent text is whole.
TEST_F(ScanInputTest, ClearBufferRacesWithTheHookThread) {
  std::atomic<int> sends{0};
  std::atomic<bool> broken{false};
  ScanInput shared_input(shared, [&](const std::string& text, int) {
    ++sends;
    if (text.size() > kScanBufferMax || text.find_first_not_of("a") != std::string::npos) broken = true;
  });
  Configure(kConnectUsbKeyboard, kHidModeGlobalHook, kTriggerControlChar, kTriggerFlagCrLf);
  std::thread hook([&] {
    for (int i = 0; i < 4000; ++i) shared_input.OnHookKeyDown(i % 7 == 0 ? kVkReturn : 'A', U'a');
  });
  std::thread window([&] {
    for (int i = 0; i < 200; ++i) {
      Configure(kConnectUsbKeyboard, kHidModeGlobalHook, i % 2 ? kTriggerPattern : kTriggerControlChar,
                kTriggerFlagCrLf, "a{5}");
      shared_input.OnForegroundKeyDown(kVkEscape);
    }
  });
  for (int i = 0; i < 2000; ++i) {
    shared_input.ClearBuffer();
    if (shared_input.Buffer().size() > kScanBufferMax) broken = true;
  }
  hook.join();
  window.join();
  EXPECT_FALSE(broken.load());
  EXPECT_GT(sends.load(), 0);
}

TEST(VirtualKeyOfEvdev, MapsTheKeysAScannerAndAnOperatorUse) {
  struct Row {
    std::uint16_t code;
    int vk;
  };
  // evdev codes as the kernel numbers them.
  const Row rows[] = {
      {30, 'A'},  {48, 'B'},  {44, 'Z'},  {16, 'Q'},  {38, 'L'},  {50, 'M'},  {11, '0'},  {2, '1'},
      {10, '9'},  {57, 0x20}, {28, 0x0D}, {96, 0x0D}, {15, 0x09}, {1, 0x1B},  {14, 0x08}, {82, 0x60},
      {79, 0x61}, {73, 0x69}, {55, 0x6A}, {78, 0x6B}, {74, 0x6D}, {83, 0x6E}, {98, 0x6F}, {59, 0x70},
      {68, 0x79}, {87, 0x7A}, {88, 0x7B}, {104, 0x21}, {109, 0x22}, {107, 0x23}, {102, 0x24},
      {105, 0x25}, {103, 0x26}, {106, 0x27}, {108, 0x28}, {110, 0x2D}, {111, 0x2E}, {39, 0xBA},
      {13, 0xBB}, {51, 0xBC}, {12, 0xBD}, {52, 0xBE}, {53, 0xBF}, {41, 0xC0}, {26, 0xDB},
      {43, 0xDC}, {27, 0xDD}, {40, 0xDE}, {42, 0xA0}, {54, 0xA1}, {29, 0xA2}, {97, 0xA3},
      {56, 0xA4}, {100, 0xA5}, {58, 0x14}, {0, 0},    {69, 0},    {125, 0},   {0xFFFF, 0},
  };
  for (const Row& row : rows) EXPECT_EQ(VirtualKeyOfEvdev(row.code), row.vk) << "evdev code " << row.code;
}

}  // namespace
}  // namespace varnex2::scanner
