// The INI files of older releases, read by the private-profile rules: sections and keys compared
// without regard to case, the first occurrence wins, a missing key reads as empty text, values
// come back cut to what a 510-character buffer holds, and numbers are converted leniently.
// Files are decoded to UTF-8 on reading: UTF-8 (with or without a byte-order mark), UTF-16LE with
// its mark, otherwise GB18030 (the old station's code page), through glibc's iconv.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnex2::config {

// The buffer the values are read with, terminator included: a value keeps at most 509
// characters (UTF-16 code units, as the old station counted them; a pair is never split).
inline constexpr std::size_t kLegacyIniValueBuffer = 510;
// Larger files are refused unread.
inline constexpr std::uintmax_t kMaxLegacyIniBytes = 4u * 1024u * 1024u;

enum class LegacyTextEncoding { kUtf8, kUtf16Le, kGb18030 };

// Decodes a file's bytes to UTF-8 by the rule above. Bytes GB18030 cannot decode become U+FFFD.
std::string DecodeLegacyText(std::string_view bytes, LegacyTextEncoding* used = nullptr);

// Decimal conversion of a value: leading blanks skipped, an optional sign, the digits up to the
// first other character; no digits (or empty text) gives 0, a value beyond 32 bits is held at
// the nearest end of the range.
int32_t LenientDecimal(std::string_view text);

class LegacyIniFile {
 public:
  LegacyIniFile() = default;

  // From the file's bytes (any content; never throws).
  static LegacyIniFile Parse(std::string_view bytes);
  // Reads the file; nothing (with `error` set) when it cannot be opened, read, or is larger
  // than kMaxLegacyIniBytes.
  static std::optional<LegacyIniFile> Load(const std::filesystem::path& path, std::string& error);

  bool HasSection(std::string_view section) const;
  // The value of the first `key` in the first section named `section`; "" when missing.
  std::string GetString(std::string_view section, std::string_view key) const;
  int32_t GetInt(std::string_view section, std::string_view key) const {
    return LenientDecimal(GetString(section, key));
  }
  LegacyTextEncoding Encoding() const { return encoding_; }

 private:
  struct Entry {
    std::string key;  // lower-case ASCII folding
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* FindSection(std::string_view section) const;

  std::vector<Section> sections_;
  LegacyTextEncoding encoding_ = LegacyTextEncoding::kUtf8;
};

}  // namespace varnex2::config
