// Arbitrary bytes as an old INI parameter set. Every input must read without a crash or an
// exception; values come back as whole UTF-8 characters within the 510-character buffer, and the
// INI part keeps its rules (touch area enabled, touch thresholds adjusted, key flag 0 or 1).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/legacy_import.h"

namespace {

using namespace varnex2::config;

bool IsWholeUtf8(std::string_view s) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    units += n == 4 ? 2 : 1;
    i += n;
  }
  return units < kLegacyIniValueBuffer;
}

constexpr const char* kKeys[][2] = {{"PANEL", "XORIGN"},
                                    {"PANEL", "THRESUPPER"},
                                    {"KEY", "ENABLE"},
                                    {"CONFIG", "UICOLORMODE"},
                                    {"MARK3", "X"},
                                    {"EXTERNPARA", "PERCENTVAL"},
                                    {"EXTERNPARA", "OFFSETLOWR"},
                                    {"a", "b"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const LegacyIniFile ini = LegacyIniFile::Parse(bytes);
  for (const auto& key : kKeys) {
    if (!IsWholeUtf8(ini.GetString(key[0], key[1]))) std::abort();
  }
  const LegacyIniPart part = ReadLegacyIniPart(ini, PanelConfig{}, ControllerFacts{});
  if (part.touch.bEnable != 1 || part.key.bEnable > 1) std::abort();
  if (part.touch.nThresUpper > kLegacyMaxTouchUpper || part.touch.nThresLower < kLegacyMinTouchLower) std::abort();
  // A valid part carries the "no error" text, a refused one its reason.
  if (part.Valid() ? part.validation.strMessage != kMsgNoError : part.validation.strMessage.empty()) std::abort();
  PanelConfig config;
  TakeLegacyIniPart(part, config);
  if (part.Valid() && !(config.touchArea == part.touch)) std::abort();
  return 0;
}
