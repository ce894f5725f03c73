#pragma once
// ControllerRecord: the controller's information block, object table and report-id table.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace varnex2::device {

inline constexpr std::size_t kInfoBlockSize = 7;
inline constexpr std::size_t kObjectEntrySize = 6;
inline constexpr int kMaxNodes = 1664;  // 32 x 52: what the frame buffers hold

// Object type numbers the station uses.
enum ObjectType : std::uint8_t {
  kT5MessageProcessor = 5,
  kT6CommandProcessor = 6,
  kT7Power = 7,
  kT9Touchscreen = 9,
  kT15KeyArray = 15,
  kT22NoiseSuppression = 22,
  kT23Proximity = 23,
  kT25SelfTest = 25,
  kT37Diagnostic = 37,
  kT38UserData = 38,
  kT44MessageCount = 44,
  kT46CteConfig = 46,
  kT48NoiseSuppression = 48,
  kT52ProximityKey = 52,
  kT54NoiseSuppression = 54,
  kT56Shieldless = 56,
  kT62NoiseSuppression = 62,
  kT100Touchscreen = 100,
};

struct ObjectEntry {
  std::uint8_t type = 0;
  std::uint16_t start = 0;
  std::uint8_t sizeMinus1 = 0;
  std::uint8_t instancesMinus1 = 0;
  std::uint8_t reportIdsPerInstance = 0;

  int Size() const { return sizeMinus1 + 1; }
  int Instances() const { return instancesMinus1 + 1; }
};

struct ReportIdEntry {
  std::uint8_t type = 0;
  std::uint8_t instance = 0;
};

struct ControllerRecord {
  // family id, variant id, version (major high nibble, minor low nibble), build, matrix X, matrix Y,
  // object count.
  std::array<std::uint8_t, kInfoBlockSize> info{};
  std::vector<ObjectEntry> objects;
  std::uint32_t storedChecksum = 0;
  // 1 + the total number of report ids of all objects.
  int nReportIdCount = 0;
  // Entry 0 is reserved; entry k maps report id k to its object. Report ids are one byte on the
  // wire, so at most 256 entries are kept even when the objects announce more.
  std::vector<ReportIdEntry> reportIds;
  std::string versionText;  // "%u.%u.%02X"

  std::uint8_t FamilyId() const { return info[0]; }
  std::uint8_t VariantId() const { return info[1]; }
  std::uint8_t Version() const { return info[2]; }
  std::uint8_t Build() const { return info[3]; }
  int MatrixX() const { return info[4]; }
  int MatrixY() const { return info[5]; }
  int ObjectCount() const { return info[6]; }
};

}  // namespace varnex2::device
