// Arbitrary settings and key, character and serial events into the scanner's input. The first
// bytes choose the settings (connection type, HID mode, trigger type, flags, a short pattern),
// the rest is a sequence of events. The buffer never holds more than 255 characters, the buffer
// and every sent text are valid UTF-8, every lParam is one the settings allow, and the four
// window keys are always consumed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scanner/scan_input.h"

using namespace varnex2::scanner;

namespace {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string_view Bytes(size_t n) {
    if (n > size_ - at_) n = size_ - at_;
    const std::string_view out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The number of code points of valid UTF-8, or -1.
long CodePoints(std::string_view s) {
  long count = 0;
  for (size_t i = 0; i < s.size(); ++count) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return -1;
    uint32_t c = n == 1 ? b : b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return -1;
      c = (c << 6) | (t & 0x3F);
    }
    const uint32_t least = n == 1 ? 0 : n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return -1;
    i += n;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  SharedScannerSetting shared;
  ScannerSetting s;
  const uint8_t connect = in.Byte() % 3;
  s.nConnectType = connect == 0 ? kConnectUsbKeyboard : connect == 1 ? kConnectUsbSerial : kConnectNone;
  const uint8_t mode = in.Byte();
  s.nHIDMode = mode & 1;
  s.nTriggerType = (mode & 2) ? kTriggerPattern : (mode & 4) ? 1 : kTriggerControlChar;
  s.nTriggerFlag = in.Byte() & 0xF;
  s.strTriggerString = std::string(in.Bytes(in.Byte() % 9));
  shared.Set(s);

  ScanInput input(shared, [&](const std::string& text, int lParam) {
    if (CodePoints(text) < 0) std::abort();
    const bool pattern = lParam == kFiredPattern;
    if (pattern != (s.nTriggerType == kTriggerPattern)) std::abort();
    if (!pattern && lParam != kFiredEnter && lParam != kFiredCr && lParam != kFiredTab && lParam != kFiredSpace) {
      std::abort();
    }
  });

  while (!in.Empty()) {
    switch (in.Byte() % 6) {
      case 0: {
        const int vk = in.Byte();
        char32_t c = in.Byte();
        if (c >= 0x80) c = (c << 8) | in.Byte();  // reach beyond ASCII, surrogates included
        input.OnHookKeyDown(vk, c);
        break;
      }
      case 1: {
        const int vk = in.Byte() | (in.Byte() << 8);
        const bool consumed = input.OnForegroundKeyDown(vk);
        const bool window_key = vk == kVkTab || vk == kVkReturn || vk == kVkEscape || vk == kVkSpace;
        if (consumed != window_key) std::abort();
        break;
      }
      case 2: {
        const char32_t c = in.Byte();
        if (input.OnForegroundChar(c) != (c == 13 || c == 27 || c == 32)) std::abort();
        break;
      }
      case 3: {
        const size_t n = in.Byte() | (in.Byte() << 4);
        input.OnSerialChunk(in.Bytes(n));
        break;
      }
      case 4:
        input.ClearBuffer();
        break;
      default: {
        // The settings dialog changes the mode or the flags in the middle of a scan.
        const uint8_t change = in.Byte();
        s.nHIDMode = change & 1;
        s.nTriggerFlag = (change >> 1) & 0xF;
        shared.Set(s);
        break;
      }
    }
    const long held = CodePoints(input.Buffer());
    if (held < 0 || held > static_cast<long>(kScanBufferMax)) std::abort();
  }
  return 0;
}
