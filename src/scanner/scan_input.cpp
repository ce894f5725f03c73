#include "scanner/scan_input.h"

#include <array>
#include <exception>
#include <optional>
#include <utility>

#include <boost/regex.hpp>

namespace varnex2::scanner {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// One read of the serial port takes at most this many bytes (its buffer holds one more for the
// terminator); a longer chunk is judged as successive reads.
constexpr std::size_t kSerialReadMax = 1023;

bool IsScalar(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

void AppendUtf8(std::string& out, char32_t c) {
  if (!IsScalar(c)) c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string Utf8Of(const std::u32string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t c : text) AppendUtf8(out, c);
  return out;
}

// Decodes UTF-8; every byte that does not begin a well-formed sequence becomes U+FFFD.
std::u32string Utf32Of(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (b0 < 0x80) {
      length = 1;
      c = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
      c = b0 & 0x1F;
      least = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      c = b0 & 0x0F;
      least = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      c = b0 & 0x07;
      least = 0x10000;
    }
    bool ok = length != 0 && i + length <= bytes.size();
    for (std::size_t k = 1; ok && k < length; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (b & 0x3F);
    }
    if (ok && (c < least || !IsScalar(c))) ok = false;
    if (ok) {
      out.push_back(c);
      i += length;
    } else {
      out.push_back(kReplacement);
      ++i;
    }
  }
  return out;
}

std::wstring WideOf(const std::u32string& text) {
  static_assert(sizeof(wchar_t) == sizeof(char32_t), "wide characters hold one code point");
  return std::wstring(text.begin(), text.end());
}

// A search for the pattern anywhere in the text. The engine's complexity and stack limits
// count as no match.
bool Found(const boost::wregex& regex, const std::u32string& text) {
  try {
    return boost::regex_search(WideOf(text), regex, boost::match_default);
  } catch (const std::exception&) {
    return false;
  }
}

bool Has(int32_t flags, int32_t bit) { return (flags & bit) != 0; }

// Windows virtual-key codes by evdev key code.
constexpr std::size_t kEvdevCodes = 112;
constexpr std::array<std::uint8_t, kEvdevCodes> kVirtualKeyOfEvdev = [] {
  std::array<std::uint8_t, kEvdevCodes> vk{};
  vk[1] = kVkEscape;
  vk[2] = '1', vk[3] = '2', vk[4] = '3', vk[5] = '4', vk[6] = '5';
  vk[7] = '6', vk[8] = '7', vk[9] = '8', vk[10] = '9', vk[11] = '0';
  vk[12] = 0xBD;  // - (VK_OEM_MINUS)
  vk[13] = 0xBB;  // = (VK_OEM_PLUS)
  vk[14] = 0x08;  // backspace
  vk[15] = kVkTab;
  const char* top = "QWERTYUIOP";
  for (int k = 0; k < 10; ++k) vk[16 + k] = static_cast<std::uint8_t>(top[k]);
  vk[26] = 0xDB;  // [
  vk[27] = 0xDD;  // ]
  vk[28] = kVkReturn;
  vk[29] = 0xA2;  // left control
  const char* home = "ASDFGHJKL";
  for (int k = 0; k < 9; ++k) vk[30 + k] = static_cast<std::uint8_t>(home[k]);
  vk[39] = 0xBA;  // ;
  vk[40] = 0xDE;  // '
  vk[41] = 0xC0;  // `
  vk[42] = 0xA0;  // left shift
  vk[43] = 0xDC;  // backslash
  const char* bottom = "ZXCVBNM";
  for (int k = 0; k < 7; ++k) vk[44 + k] = static_cast<std::uint8_t>(bottom[k]);
  vk[51] = 0xBC;  // ,
  vk[52] = 0xBE;  // .
  vk[53] = 0xBF;  // /
  vk[54] = 0xA1;  // right shift
  vk[55] = 0x6A;  // keypad *
  vk[56] = 0xA4;  // left alt
  vk[57] = kVkSpace;
  vk[58] = 0x14;  // caps lock
  for (int k = 0; k < 10; ++k) vk[59 + k] = static_cast<std::uint8_t>(0x70 + k);  // F1..F10
  vk[71] = 0x67, vk[72] = 0x68, vk[73] = 0x69;                                     // keypad 7 8 9
  vk[74] = 0x6D;                                                                   // keypad -
  vk[75] = 0x64, vk[76] = 0x65, vk[77] = 0x66;                                     // keypad 4 5 6
  vk[78] = 0x6B;                                                                   // keypad +
  vk[79] = 0x61, vk[80] = 0x62, vk[81] = 0x63;                                     // keypad 1 2 3
  vk[82] = 0x60;                                                                   // keypad 0
  vk[83] = 0x6E;                                                                   // keypad .
  vk[87] = 0x7A, vk[88] = 0x7B;                                                    // F11 F12
  vk[96] = kVkReturn;                                                              // keypad enter
  vk[97] = 0xA3;                                                                   // right control
  vk[98] = 0x6F;                                                                   // keypad /
  vk[100] = 0xA5;                                                                  // right alt
  vk[102] = 0x24;                                                                  // home
  vk[103] = 0x26;                                                                  // up
  vk[104] = 0x21;                                                                  // page up
  vk[105] = 0x25;                                                                  // left
  vk[106] = 0x27;                                                                  // right
  vk[107] = 0x23;                                                                  // end
  vk[108] = 0x28;                                                                  // down
  vk[109] = 0x22;                                                                  // page down
  vk[110] = 0x2D;                                                                  // insert
  vk[111] = 0x2E;                                                                  // delete
  return vk;
}();

}  // namespace

int VirtualKeyOfEvdev(std::uint16_t code) { return code < kEvdevCodes ? kVirtualKeyOfEvdev[code] : 0; }

struct ScanInput::Pattern {
  std::string text;
  std::optional<boost::wregex> regex;  // empty when the text does not compile
};

ScanInput::ScanInput(const SharedScannerSetting& setting, Sink sink) : setting_(setting), sink_(std::move(sink)) {}

void ScanInput::OnHookKeyDown(int vk, char32_t character) {
  const ScannerSetting s = setting_.Get();
  if (s.nHIDMode == kHidModeGlobalHook && s.nTriggerType == kTriggerControlChar) {
    if (vk == kVkReturn) {
      if (Has(s.nTriggerFlag, kTriggerFlagCrLf)) SendBuffer(kFiredEnter);
      if (Has(s.nTriggerFlag, kTriggerFlagCr)) SendBuffer(kFiredCr);
    } else if (vk == kVkTab) {
      if (Has(s.nTriggerFlag, kTriggerFlagTab)) SendBuffer(kFiredTab);
    } else if (vk == kVkSpace) {
      if (Has(s.nTriggerFlag, kTriggerFlagSpace)) SendBuffer(kFiredSpace);
    }
  }
  // Only keys whose own code is printable are collected, whatever they type.
  if (vk >= 0x20 && vk <= 0x7E && character != 0 && s.nConnectType == kConnectUsbKeyboard &&
      s.nHIDMode == kHidModeGlobalHook) {
    Collect(character, s);
  }
}

bool ScanInput::OnForegroundKeyDown(int vk) {
  const ScannerSetting s = setting_.Get();
  const int low = vk & 0xFF;
  if (low >= 0x20 && low <= 0x7E && s.nConnectType == kConnectUsbKeyboard && s.nHIDMode == kHidModeForeground) {
    // The key code itself, untranslated: letters in upper case, keypad keys as their codes.
    Collect(static_cast<char32_t>(low), s);
  }
  const bool control = s.nHIDMode == kHidModeForeground && s.nTriggerType == kTriggerControlChar;
  switch (vk) {
    case kVkTab:
      if (control && Has(s.nTriggerFlag, kTriggerFlagTab)) SendBuffer(kFiredEnter);
      return true;
    case kVkLineFeed:
      if (control && Has(s.nTriggerFlag, kTriggerFlagCr)) SendBuffer(kFiredCr);
      return false;
    case kVkReturn:
      if (control && Has(s.nTriggerFlag, kTriggerFlagCrLf)) SendBuffer(kFiredEnter);
      return true;
    case kVkEscape:
      if (s.nConnectType == kConnectUsbKeyboard && s.nHIDMode == kHidModeForeground) ClearBuffer();
      return true;
    case kVkSpace:
      if (control && Has(s.nTriggerFlag, kTriggerFlagSpace)) SendBuffer(kFiredEnter);
      return true;
    default:
      return false;
  }
}

bool ScanInput::OnForegroundChar(char32_t character) {
  return character == 13 || character == 27 || character == 32;
}

void ScanInput::OnSerialChunk(std::string_view bytes) {
  const ScannerSetting s = setting_.Get();
  if (s.nConnectType != kConnectUsbSerial) return;
  for (std::size_t at = 0; at < bytes.size(); at += kSerialReadMax) {
    JudgeSerialPiece(bytes.substr(at, kSerialReadMax), s);
  }
}

void ScanInput::JudgeSerialPiece(std::string_view piece, const ScannerSetting& setting) {
  const std::string_view raw = piece.substr(0, piece.find('\0'));
  const std::u32string text = Utf32Of(raw);
  if (setting.nTriggerType == kTriggerControlChar) {
    const bool cr = raw.find('\r') != std::string_view::npos;
    const bool tab = raw.find('\t') != std::string_view::npos;
    const bool space = raw.find(' ') != std::string_view::npos;
    const std::pair<bool, int> tests[] = {
        {cr && Has(setting.nTriggerFlag, kTriggerFlagCrLf), kFiredEnter},
        {cr && Has(setting.nTriggerFlag, kTriggerFlagCr), kFiredCr},
        {tab && Has(setting.nTriggerFlag, kTriggerFlagTab), kFiredTab},
        {space && Has(setting.nTriggerFlag, kTriggerFlagSpace), kFiredSpace},
    };
    // Only the first firing carries the text; the later ones send it emptied.
    std::string pending = Utf8Of(text);
    for (const auto& [holds, lParam] : tests) {
      if (!holds) continue;
      Fire(std::exchange(pending, std::string()), lParam);
    }
  } else if (setting.nTriggerType == kTriggerPattern) {
    const std::shared_ptr<const Pattern> pattern = PatternOf(setting.strTriggerString);
    if (pattern->regex && Found(*pattern->regex, text)) Fire(Utf8Of(text), kFiredPattern);
  }
}

void ScanInput::ClearBuffer() {
  std::lock_guard<std::mutex> lock(mutex_);
  buffer_.clear();
}

std::string ScanInput::Buffer() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Utf8Of(buffer_);
}

void ScanInput::Collect(char32_t character, const ScannerSetting& setting) {
  std::shared_ptr<const Pattern> pattern;
  if (setting.nTriggerType == kTriggerPattern) pattern = PatternOf(setting.strTriggerString);
  std::string fired;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    buffer_.push_back(IsScalar(character) ? character : kReplacement);
    if (buffer_.size() > kScanBufferMax) buffer_.clear();
    if (!pattern || !pattern->regex || !Found(*pattern->regex, buffer_)) return;
    // The whole buffer goes, not only the matching part.
    fired = Utf8Of(buffer_);
    buffer_.clear();
  }
  Fire(std::move(fired), kFiredPattern);
}

void ScanInput::SendBuffer(int lParam) {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    text = Utf8Of(buffer_);
    buffer_.clear();
  }
  Fire(std::move(text), lParam);
}

void ScanInput::Fire(std::string text, int lParam) {
  if (sink_) sink_(text, lParam);
}

std::shared_ptr<const ScanInput::Pattern> ScanInput::PatternOf(const std::string& text) {
  std::lock_guard<std::mutex> lock(patternMutex_);
  if (pattern_ && pattern_->text == text) return pattern_;
  auto pattern = std::make_shared<Pattern>();
  pattern->text = text;
  try {
    pattern->regex.emplace(WideOf(Utf32Of(text)));  // Perl syntax, default flags
  } catch (const std::exception&) {
    pattern->regex.reset();  // matches nothing
  }
  pattern_ = pattern;
  return pattern;
}

}  // namespace varnex2::scanner
