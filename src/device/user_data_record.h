#pragma once
// The station's user-data record in the controller's T38 object (64 bytes):
//
//   byte 0..1   magic 0x56 0x32 ("V2")
//   byte 2      layout version, 1
//   byte 3      bits 1..0 display style (nUiColorMode), bits 3..2 legacy test mode
//               (nLegacyTestMode), bits 7..4 zero
//   byte 4..27  twelve marks, two bytes each, mark k at 4 + 2k:
//               first byte  bits 7..3 nX, bit 2 enable, bits 1..0 type
//               second byte bits 7..2 nY, bits 1..0 spare (kept as given)
//   byte 28..62 reserved: written as zero into a fresh record, otherwise kept as read
//   byte 63     checksum: all 64 bytes add up to 0 (mod 256)
//
// A record without the magic, of another version or with a wrong checksum (an unwritten,
// all-zero T38 or a foreign pattern such as the self-test's 0, 1, 2, ...) reads as the defaults.

#include <array>
#include <cstdint>
#include <span>

#include "device/controller_link.h"

namespace varnex2::device {

inline constexpr std::size_t kUserDataSize = 64;
inline constexpr std::uint8_t kUserDataMagic0 = 0x56;
inline constexpr std::uint8_t kUserDataMagic1 = 0x32;
inline constexpr std::uint8_t kUserDataVersion = 1;
inline constexpr int kUserMarkCount = 12;

struct UserDataRecord {
  std::uint8_t nUiColorMode = 0;     // 2 bits
  std::uint8_t nLegacyTestMode = 0;  // 2 bits
  // One UserMark each: low byte = first byte of the entry, high byte = second byte.
  std::array<std::uint16_t, kUserMarkCount> marks{};
};

using UserDataBytes = std::array<std::uint8_t, kUserDataSize>;

// Writes the record into `bytes`; reserved bytes keep their value when `bytes` already holds a
// valid record, otherwise they become 0.
void EncodeUserData(const UserDataRecord& record, UserDataBytes& bytes);
// False (and `record` set to the defaults) when `bytes` is not a record of this layout.
bool DecodeUserData(const UserDataBytes& bytes, UserDataRecord& record);

// Reads T38 instance 0. 0 with the defaults when the record is not ours (`recognised` false);
// 9 when T38 is absent, 3 when it is shorter than 64 bytes; link codes pass through.
int ReadUserData(ControllerLink& link, UserDataRecord& record, bool* recognised = nullptr);
// Writes the record (read-modify-write, keeping reserved bytes). The caller then calls BackupSettings.
int WriteUserData(ControllerLink& link, const UserDataRecord& record);

}  // namespace varnex2::device
