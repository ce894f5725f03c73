#include "sim/nv_store.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>
#include <filesystem>

namespace varnex2::sim {

namespace {

constexpr const char* kHeader = "varnex2-sim-nv 1";
constexpr std::size_t kMaxObjectBytes = 4096;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(const std::string& text, std::vector<std::uint8_t>& out) {
  if (text.size() % 2 != 0 || text.size() / 2 > kMaxObjectBytes) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexValue(text[i]);
    const int lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return true;
}

template <typename Bytes>
std::string ToHex(const Bytes& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  s.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    s.push_back(digits[b >> 4]);
    s.push_back(digits[b & 15]);
  }
  return s;
}

}  // namespace

bool LoadNvStore(const std::string& path, NvImage& out) {
  out = NvImage{};
  if (path.empty()) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line != kHeader) return false;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "T") {
      int type = -1, instance = -1;
      std::string hex;
      if (!(fields >> type >> instance >> hex)) continue;
      std::vector<std::uint8_t> bytes;
      if (type < 0 || type > 255 || instance < 0 || instance > 255 || !ParseHex(hex, bytes)) continue;
      out.objects[{type, instance}] = std::move(bytes);
    } else if (kind == "P") {
      int page = -1;
      std::string hex;
      if (!(fields >> page >> hex)) continue;
      std::vector<std::uint8_t> bytes;
      if (page < 0 || page > 255 || !ParseHex(hex, bytes) || bytes.size() != 64) continue;
      std::array<std::uint8_t, 64> a{};
      std::copy(bytes.begin(), bytes.end(), a.begin());
      out.pages[page] = a;
    }
  }
  return true;
}

bool SaveNvStore(const std::string& path, const NvImage& image) {
  if (path.empty()) return false;
  const std::string temp = path + ".tmp";
  std::error_code dirError;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, dirError);
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f << kHeader << '\n';
    for (const auto& [key, bytes] : image.objects) {
      f << "T " << key.first << ' ' << key.second << ' ' << ToHex(bytes) << '\n';
    }
    for (const auto& [page, bytes] : image.pages) {
      f << "P " << page << ' ' << ToHex(bytes) << '\n';
    }
    f.flush();
    if (!f) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace varnex2::sim
