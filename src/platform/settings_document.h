#pragma once
// The settings file's text form: sections "[Software\Varnx2\Key]" followed by values
// "Name"=dword:0000abcd or "Name"="text", UTF-8, so that an operator can read and edit it.
// Texts escape \\, \", \r, \n, \t and every other control byte or byte that is not part of
// valid UTF-8 as \xHH, so any byte string survives a round trip and the file stays UTF-8.
//
// Parsing never fails: a line that cannot be read (garbage, a truncated value, a value before
// any section or below an unreadable section header) is skipped and counted. Key paths and
// value names compare case-insensitively (ASCII) like the registry; the first spelling wins.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnex2::platform {

struct SettingsValue {
  std::string name;
  bool isDword = false;
  std::int32_t dword = 0;
  std::string text;  // when !isDword

  friend bool operator==(const SettingsValue&, const SettingsValue&) = default;
};

struct SettingsKey {
  std::string path;
  std::vector<SettingsValue> values;  // file order; names unique (case-insensitively)

  const SettingsValue* Find(std::string_view name) const;
  SettingsValue* Find(std::string_view name);
  friend bool operator==(const SettingsKey&, const SettingsKey&) = default;
};

class SettingsDocument {
 public:
  // Reads every readable line of `text`. A duplicate section joins the first one of that
  // path; a duplicate value replaces the earlier one (the later line wins).
  static SettingsDocument Parse(std::string_view text);
  // The canonical text: a comment line, then each key as a section with its values.
  std::string Serialize() const;

  // The section of exactly this path, or null.
  const SettingsKey* FindKey(std::string_view path) const;
  // A key exists when it has a section or lies above one (creating a key creates its parents).
  bool KeyExists(std::string_view path) const;
  // The section of this path, created at the end when missing. `path` must be valid.
  SettingsKey& AddKey(std::string_view path);
  SettingsKey* FindKey(std::string_view path);

  const std::vector<SettingsKey>& Keys() const { return keys_; }
  std::size_t SkippedLines() const { return skippedLines_; }

  friend bool operator==(const SettingsDocument& a, const SettingsDocument& b) { return a.keys_ == b.keys_; }

 private:
  std::vector<SettingsKey> keys_;
  std::size_t skippedLines_ = 0;
};

// A key path the file can hold: non-empty, valid UTF-8, components separated by single
// backslashes (none empty), no control characters and no '[' or ']'.
bool IsValidSettingsKeyPath(std::string_view path);

// ASCII case-insensitive equality, as the registry compares key and value names.
bool SettingsNameEquals(std::string_view a, std::string_view b);

}  // namespace varnex2::platform
