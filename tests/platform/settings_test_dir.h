#pragma once
// A fresh directory per test, removed afterwards.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <system_error>

namespace varnex2::testing {

class SettingsTestDir {
 public:
  SettingsTestDir() {
    std::string pattern = (std::filesystem::path(::testing::TempDir()) / "settings-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    dir_ = pattern;
  }
  ~SettingsTestDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  SettingsTestDir(const SettingsTestDir&) = delete;
  SettingsTestDir& operator=(const SettingsTestDir&) = delete;

  const std::filesystem::path& Path() const { return dir_; }
  std::filesystem::path File() const { return dir_ / "settings.reg"; }

 private:
  std::filesystem::path dir_;
};

inline std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}

// A value name: the prefix, then the numbers joined with "_" ("T3_17"). Built by appending:
// GCC 12 at -O3 reports a false -Wrestrict inside "literal" + std::to_string(n).
inline std::string ValueName(std::string_view prefix, std::initializer_list<long long> numbers) {
  std::string name(prefix);
  bool first = true;
  for (const long long n : numbers) {
    if (!first) name += '_';
    name += std::to_string(n);
    first = false;
  }
  return name;
}

}  // namespace varnex2::testing
