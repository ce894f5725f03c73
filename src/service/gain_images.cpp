#include "service/gain_images.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace varnex2::service {

namespace {

constexpr std::size_t kXDelayFirst = 4;   // bytes 4..35
constexpr std::size_t kMultiYByte = 35;   // shared with the 32nd delay value
constexpr std::size_t kModeByte = 36;
constexpr std::size_t kRowFirst = 42;     // four rows of low byte, high byte
constexpr std::size_t kDelaysPerLine = 16;

std::uint8_t Low8(int value) { return static_cast<std::uint8_t>(static_cast<unsigned>(value) & 0xFFu); }
std::uint8_t Flag(bool on) { return on ? 1 : 0; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

T46Image BuildT46Image(const T46Fields& fields) {
  T46Image image{};
  image[0] = fields.enabled ? 0x04 : 0x00;
  image[2] = 10;
  image[3] = 16;
  image[6] = 1;
  image[9] = static_cast<std::uint8_t>(std::clamp(fields.xVoltage, 0, kGainStepMax));
  image[10] = static_cast<std::uint8_t>(std::clamp(fields.adcGain, 0, kGainStepMax));
  return image;
}

T46Fields ReadT46Fields(const T46Image& image) {
  T46Fields fields;
  fields.enabled = (image[0] & 0x04) != 0;
  fields.xVoltage = image[9];
  fields.adcGain = image[10];
  return fields;
}

T56Fields ReadT56Fields(const T56Image& image) {
  T56Fields f;
  f.enable = (image[0] & 0x01) != 0;
  f.calibration = image[1] != 0;
  f.integration = image[2] != 0;
  f.integrationTime = image[3];
  for (std::size_t i = 0; i < kXDelayCount; ++i) f.xDelays[i] = image[kXDelayFirst + i];
  f.multiYFilter = image[kMultiYByte] != 0;
  f.mode = image[kModeByte];
  f.noiseThreshold = image[37];
  f.noiseControl = image[38] != 0;
  f.touchBias = image[39];
  f.referenceScale = image[40];
  f.offsetLimit = image[41];
  for (std::size_t r = 0; r < f.rows.size(); ++r) {
    f.rows[r].low = image[kRowFirst + 2 * r];
    f.rows[r].high = image[kRowFirst + 2 * r + 1];
  }
  return f;
}

void ApplyT56Fields(const T56Fields& f, T56Image& image) {
  // Check boxes and the calculation mode.
  image[0] = static_cast<std::uint8_t>((image[0] & ~0x01u) | Flag(f.enable));
  image[1] = Flag(f.calibration);
  image[2] = Flag(f.integration);
  image[kMultiYByte] = Flag(f.multiYFilter);
  image[38] = Flag(f.noiseControl);
  if (f.mode == kT56ModeOr || f.mode == kT56ModeAnd) image[kModeByte] = static_cast<std::uint8_t>(f.mode);
  image[3] = Low8(f.integrationTime);
  // The delays after the check boxes: byte 35 is the 32nd delay value.
  for (std::size_t i = 0; i < kXDelayCount; ++i) image[kXDelayFirst + i] = Low8(f.xDelays[i]);
  image[37] = Low8(f.noiseThreshold);
  image[39] = Low8(f.touchBias);
  image[40] = Low8(f.referenceScale);
  image[41] = Low8(f.offsetLimit);
  for (std::size_t r = 0; r < f.rows.size(); ++r) {
    image[kRowFirst + 2 * r] = Low8(f.rows[r].low);
    image[kRowFirst + 2 * r + 1] = Low8(f.rows[r].high);
  }
}

std::string FormatXDelays(const std::array<int, kXDelayCount>& delays) {
  std::string text;
  text.reserve(kXDelayCount * 4 + 4);
  char value[16];
  for (std::size_t i = 0; i < kXDelayCount; ++i) {
    std::snprintf(value, sizeof value, "%03d", delays[i]);
    text += value;
    if (i + 1 < kXDelayCount) text += ',';
    if ((i + 1) % kDelaysPerLine == 0) text += "\r\n";
  }
  return text;
}

std::string FormatXDelays(std::span<const std::uint8_t, kXDelayCount> delays) {
  std::array<int, kXDelayCount> values{};
  std::copy(delays.begin(), delays.end(), values.begin());
  return FormatXDelays(values);
}

std::optional<std::array<int, kXDelayCount>> ParseXDelays(std::string_view text, std::size_t* found) {
  std::array<int, kXDelayCount> values{};
  std::size_t count = 0;
  std::size_t start = 0;
  while (count < kXDelayCount && start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    std::string_view piece = text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    while (!piece.empty() && IsSpace(piece.front())) piece.remove_prefix(1);
    if (piece.empty() || !IsDigit(piece.front())) break;
    unsigned value = 0;
    for (std::size_t i = 0; i < piece.size() && IsDigit(piece[i]); ++i) {
      value = (value * 10 + static_cast<unsigned>(piece[i] - '0')) & 0xFFu;  // the low 8 bits
    }
    values[count++] = static_cast<int>(value);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (found != nullptr) *found = count;
  if (count < kXDelayCount) return std::nullopt;
  return values;
}

std::optional<int> ParseDecimalField(std::string_view text) {
  text = TrimSpace(text);
  const bool plus = !text.empty() && text.front() == '+';
  if (plus) text.remove_prefix(1);  // from_chars takes '-' only
  if (text.empty() || !(IsDigit(text.front()) || (!plus && text.front() == '-'))) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace varnex2::service
