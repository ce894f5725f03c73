#pragma once
// The simulated controller's address space: information block, object table, checksum and the
// objects, laid out per firmware variant.

#include <cstdint>
#include <span>
#include <vector>

#include "sim/sim_box.h"

namespace varnex2::sim {

// Object type numbers used by the box.
enum ObjectType : std::uint8_t {
  kT5 = 5,
  kT6 = 6,
  kT7 = 7,
  kT9 = 9,
  kT15 = 15,
  kT22 = 22,
  kT25 = 25,
  kT37 = 37,
  kT38 = 38,
  kT44 = 44,
  kT46 = 46,
  kT48 = 48,
  kT54 = 54,
  kT56 = 56,
  kT62 = 62,
};

struct ObjectInfo {
  std::uint8_t type = 0;
  std::uint16_t address = 0;
  std::uint16_t size = 0;
  std::uint8_t instances = 0;
  std::uint8_t reportIds = 0;      // per instance
  std::uint8_t firstReportId = 0;  // 0 when the object reports nothing
  bool writable = false;
  bool persistent = false;  // saved by a backup, restored at power-up and reset
};

// The 24-bit information-block checksum over `bytes` (pairs of bytes, low first).
std::uint32_t InfoBlockChecksum(std::span<const std::uint8_t> bytes);

// One step of that checksum: `crc` advanced by the pair (low, high), kept to 24 bits.
std::uint32_t Crc24Step(std::uint32_t crc, std::uint8_t low, std::uint8_t high);

// Objects that hold no configuration: messages, commands, diagnostics, user data, count.
bool IsConfigurationObject(std::uint8_t type);

// The address where the station writes the frame mode byte for this variant (0: none known).
std::uint16_t CommandAddressFor(const ControllerVariant& variant);

class ControllerMemory {
 public:
  explicit ControllerMemory(const ControllerVariant& variant);

  std::size_t Size() const { return bytes_.size(); }
  const std::vector<ObjectInfo>& Objects() const { return objects_; }
  const ObjectInfo* Find(std::uint8_t type) const;
  std::uint16_t Address(std::uint8_t type, int instance = 0) const;  // 0 when absent
  // Report id -> (object, instance); nullptr for 0 or unknown ids.
  const ObjectInfo* ObjectOfReportId(std::uint8_t reportId, int* instance) const;

  bool InRange(std::uint32_t address, std::size_t count) const;
  bool Writable(std::uint32_t address, std::size_t count) const;
  std::uint8_t* At(std::uint16_t address) { return bytes_.data() + address; }
  const std::uint8_t* At(std::uint16_t address) const { return bytes_.data() + address; }
  std::span<std::uint8_t> Object(std::uint8_t type, int instance = 0);

  // The configuration checksum the controller reports in its T6 messages: the information
  // block's 24-bit checksum over the addresses from the start of the first configuration
  // object to the end of the last one, bytes of other objects in that range counting as 0.
  std::uint32_t ConfigurationChecksum() const;

  // Factory values of every persistent object.
  void LoadFactoryConfiguration();

 private:
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> writable_;  // per byte
  std::vector<ObjectInfo> objects_;     // table order
};

}  // namespace varnex2::sim
