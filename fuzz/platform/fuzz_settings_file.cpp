// Arbitrary bytes into the settings file reader. Every input must parse (no crash, bounded
// memory); what it keeps must write to UTF-8 text without raw control bytes that parses back to
// the same keys and values with no line skipped and writes to the same bytes again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/settings_document.h"

using varnex2::platform::IsValidSettingsKeyPath;
using varnex2::platform::SettingsDocument;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const SettingsDocument doc = SettingsDocument::Parse(text);
  for (const auto& key : doc.Keys()) {
    if (!IsValidSettingsKeyPath(key.path)) std::abort();
  }

  const std::string written = doc.Serialize();
  for (const char c : written) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\n') || u == 0x7F) std::abort();
  }
  const SettingsDocument again = SettingsDocument::Parse(written);
  if (again.SkippedLines() != 0 || !(again == doc)) std::abort();
  if (again.Serialize() != written) std::abort();
  return 0;
}
