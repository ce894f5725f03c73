#pragma once
// Seam: the station's persistent settings, a tree of keys holding typed values
// (32-bit numbers and texts), addressed like "Software\Varnx2\OutPutSetting".
// Every operation is self-contained (no open handles), so callers on different
// threads need no lock of their own.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace varnex2::platform {

enum class SettingsStatus {
  Ok = 0,
  NoKey,        // the key does not exist (or the store cannot be read)
  NoValue,      // the key exists, the value does not
  WrongType,    // the value exists with another type (a text where a number is asked for, ...)
  TooLong,      // a text longer than the caller's limit
  WriteFailed,  // the store could not be written; the previous content is intact
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual SettingsStatus GetDword(std::string_view key, std::string_view name, std::int32_t& value) = 0;
  virtual SettingsStatus SetDword(std::string_view key, std::string_view name, std::int32_t value) = 0;
  // maxBytes counts the text's bytes without a terminating zero.
  virtual SettingsStatus GetString(std::string_view key, std::string_view name, std::string& value,
                                   std::size_t maxBytes) = 0;
  virtual SettingsStatus SetString(std::string_view key, std::string_view name, std::string_view value) = 0;
  virtual SettingsStatus DeleteValue(std::string_view key, std::string_view name) = 0;
};

// The file back-end: one file, rewritten atomically on every change.
std::unique_ptr<SettingsStore> CreateFileSettingsStore(const std::filesystem::path& file);

// Where the station keeps its settings file: $VARNEX2_CONFIG_DIR if set, else
// $XDG_CONFIG_HOME/varnex2, else ~/.config/varnex2; the file is "settings.reg" in it.
std::filesystem::path DefaultSettingsFile();

}  // namespace varnex2::platform
