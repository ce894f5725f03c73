#pragma once
// The box's non-volatile store: backed-up controller objects and bridge pages in a small text
// file ("varnex2-sim-nv 1", then "T <type> <instance> <hex>" and "P <page> <hex>" lines).

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace varnex2::sim {

struct NvImage {
  std::map<std::pair<int, int>, std::vector<std::uint8_t>> objects;  // (type, instance) -> bytes
  std::map<int, std::array<std::uint8_t, 64>> pages;                 // bridge page -> bytes
};

// Reads the store. False when the file is absent or not a store; lines that do not parse are
// skipped.
bool LoadNvStore(const std::string& path, NvImage& out);
// Writes the store atomically (temporary file, then rename). False on any I/O failure.
bool SaveNvStore(const std::string& path, const NvImage& image);

}  // namespace varnex2::sim
