#pragma once
// The scanner's input: the scan buffer shared by the two keyboard paths, the
// three paths (keyboard hook, foreground window, serial chunks) and their
// control-character and pattern triggers. A completed scan goes to the sink
// (the station's WM_LOG_RESULT) with the text and the trigger's lParam.
//
// Threads: the hook path runs on the key source's thread, the foreground path on
// the window thread, the serial path on the serial reader's thread and
// ClearBuffer on the test thread. The buffer is guarded; the sink is called with
// no lock held (it blocks until the window has written the record).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "scanner/scanner_setting.h"

namespace varnex2::scanner {

// WM_LOG_RESULT's lParam: which trigger fired.
inline constexpr int kFiredPattern = 0;
inline constexpr int kFiredEnter = 0x100;  // Enter / CRLF (foreground path: also TAB and SPACE)
inline constexpr int kFiredCr = 0x200;
inline constexpr int kFiredTab = 0x400;
inline constexpr int kFiredSpace = 0x800;
// The scan buffer never holds more than this many characters.
inline constexpr std::size_t kScanBufferMax = 255;

// Windows virtual-key codes the paths speak of.
inline constexpr int kVkTab = 0x09;
inline constexpr int kVkLineFeed = 0x0A;
inline constexpr int kVkReturn = 0x0D;
inline constexpr int kVkEscape = 0x1B;
inline constexpr int kVkSpace = 0x20;

// The virtual-key code of an evdev key code (KEY_A -> 'A', KEY_KP1 -> 0x61,
// KEY_ENTER -> 0x0D, ...); 0 for keys without one.
int VirtualKeyOfEvdev(std::uint16_t code);

class ScanInput {
 public:
  using Sink = std::function<void(const std::string& text, int lParam)>;
  ScanInput(const SharedScannerSetting& setting, Sink sink);

  // Keyboard-hook path: one key-down (auto-repeat included). `vk` is the key's
  // virtual-key code, `character` what the layout gives it (0: none). Never
  // swallows the key.
  void OnHookKeyDown(int vk, char32_t character);
  // Foreground path: a key-down that reached the station's window. Returns true
  // when the key is consumed (Tab, Return, Escape and Space always are).
  bool OnForegroundKeyDown(int vk);
  // Foreground path: a character message; true when consumed (13, 27, 32).
  bool OnForegroundChar(char32_t character);
  // Serial path: one chunk as read from the port, judged alone.
  void OnSerialChunk(std::string_view bytes);
  // Empties the scan buffer (the test cycle's own record request).
  void ClearBuffer();
  // A copy of the scan buffer (UTF-8), for tests and tracing.
  std::string Buffer() const;

 private:
  struct Pattern;  // one pattern text and its compiled form (none when it does not compile)

  void Collect(char32_t character, const ScannerSetting& setting);
  // Sends the buffer with `lParam` and empties it.
  void SendBuffer(int lParam);
  void Fire(std::string text, int lParam);
  // The compiled form of `text`, compiled once per pattern text.
  std::shared_ptr<const Pattern> PatternOf(const std::string& text);
  void JudgeSerialPiece(std::string_view piece, const ScannerSetting& setting);

  const SharedScannerSetting& setting_;
  Sink sink_;
  mutable std::mutex mutex_;
  std::u32string buffer_;
  std::mutex patternMutex_;
  std::shared_ptr<const Pattern> pattern_;
};

}  // namespace varnex2::scanner
