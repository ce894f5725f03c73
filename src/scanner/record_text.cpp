#include "scanner/record_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "platform/text_encoding.h"
#include "scanner/record_texts.h"

namespace varnex2::scanner {
namespace {

bool IsForbiddenInName(unsigned char c) {
  static constexpr std::string_view kRefused = "/\\:*?\"<>|";
  return c < 0x20 || c == 0x7F || kRefused.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string FormatNameTime(const std::tm& t) {
  char text[96];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  return text;
}

std::string FormatRecordTime(const std::tm& t) {
  char text[128];
  std::snprintf(text, sizeof text, "%04d年%02d月%02d日 %02d时%02d分%02d秒", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string FormatDate(const std::tm& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  return text;
}

std::string ScanTextForName(std::string_view scan) {
  std::string out(scan);
  for (const char c : kScanTokenRemoved) std::erase(out, c);
  return out;
}

std::string RemoveLineBreaks(std::string_view text) {
  std::string out(text);
  std::erase(out, '\r');
  std::erase(out, '\n');
  return out;
}

void ReplaceAll(std::string& text, std::string_view token, std::string_view value) {
  if (token.empty()) return;
  for (std::size_t p = text.find(token); p != std::string::npos; p = text.find(token, p + value.size())) {
    text.replace(p, token.size(), value);
  }
}

std::string SafeFileName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  while (!name.empty()) {
    const std::size_t n = platform::Utf8SequenceLength(name);
    const auto c = static_cast<unsigned char>(name[0]);
    // C1 control characters (U+0080..U+009F) are control characters too.
    const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(name[1]) < 0xA0;
    if (n == 0 || c1 || (n == 1 && IsForbiddenInName(c))) {
      out += '_';
      name.remove_prefix(n == 0 ? 1 : n);
    } else {
      out.append(name.substr(0, n));
      name.remove_prefix(n);
    }
  }
  if (out.empty() || out == "." || out == "..") return "_";
  return out;
}

std::string TruncateUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t cut = maxBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut));
}

std::string_view BriefModeText(std::uint32_t modeFlags) {
  if (modeFlags & kModeMaxMin) return kBriefModeMaxMin;
  if (modeFlags & kModeThreshold) return kBriefModeThreshold;
  if (modeFlags & kModeAdjacent) return kBriefModeAdjacent;
  return {};
}

std::string BriefShortText(std::uint32_t lParam) {
  std::string out;
  const std::uint32_t x = lParam & 0xFFu;
  const std::uint32_t y = (lParam >> 8) & 0xFFu;
  if (x != 0) {
    out += kBriefShortX;
    out += std::to_string(x - 1);
  }
  if (y != 0) {
    out += kBriefShortY;
    out += std::to_string(y - 1);
  }
  return out;
}

std::uint32_t PackShorts(std::uint8_t shortX, std::uint8_t shortY) {
  return static_cast<std::uint32_t>(shortX) | (static_cast<std::uint32_t>(shortY) << 8);
}

std::string BuildRawText(const RecordRawMap& map) {
  std::string out;
  for (int x = 0; x < map.xLines; ++x) {
    for (int y = 0; y < map.yLines; ++y) {
      const std::size_t i =
          static_cast<std::size_t>(x) * static_cast<std::size_t>(map.yLines) + static_cast<std::size_t>(y);
      // A map shorter than its extents shows empty fields rather than reading past its end.
      if (i < map.counts.size() && i < map.inArea.size() && map.inArea[i] && map.counts[i] != 0) {
        out += std::to_string(map.counts[i]);
      }
      out += (y + 1 < map.yLines) ? ',' : ' ';
    }
    out += '\n';
  }
  return out;
}

std::string ToFileLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

bool ConvertToGb18030(std::string_view utf8, char replacement, std::string& out) {
  out.clear();
  platform::TextConverter converter("GB18030", "UTF-8");
  if (!converter.Ok()) return false;
  converter.Append(utf8, std::string_view(&replacement, 1), out);
  return true;
}

bool FitFileName(std::string_view safeName, RecordEncoding encoding, std::string& fitted, std::string& encoded) {
  const std::size_t limit = kFileNameMaxBytes - kRecordFileExtension.size();
  fitted = TruncateUtf8(safeName, limit);
  encoded = fitted;
  if (encoding == RecordEncoding::Utf8) return true;
  platform::TextConverter converter("GB18030", "UTF-8");
  if (!converter.Ok()) return false;
  // Character by character, so that the name stops at the last whole character that fits.
  fitted.clear();
  encoded.clear();
  std::string one;
  while (!safeName.empty()) {
    const std::size_t n = std::max<std::size_t>(1, platform::Utf8SequenceLength(safeName));
    one.clear();
    converter.Append(safeName.substr(0, n), "_", one);
    if (encoded.size() + one.size() > limit) break;
    encoded += one;
    fitted.append(safeName.substr(0, n));
    safeName.remove_prefix(n);
  }
  return true;
}

}  // namespace varnex2::scanner
