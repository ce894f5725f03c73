#include "device/user_data_record.h"

#include <numeric>

#include "device/controller_ops.h"

namespace varnex2::device {

namespace {

constexpr std::size_t kStyleByte = 3;
constexpr std::size_t kMarksOffset = 4;
constexpr std::size_t kChecksumByte = kUserDataSize - 1;

std::uint8_t Sum(const UserDataBytes& bytes, std::size_t count) {
  return static_cast<std::uint8_t>(
      std::accumulate(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count), 0u));
}

bool IsOurs(const UserDataBytes& bytes) {
  return bytes[0] == kUserDataMagic0 && bytes[1] == kUserDataMagic1 && bytes[2] == kUserDataVersion &&
         Sum(bytes, kUserDataSize) == 0;
}

int CheckObject(ControllerLink& link) {
  const ControllerRecord* record = link.Record();
  if (!record) return kErrNoHandle;
  const int size = ObjectSize(*record, kT38UserData);
  if (size == 0) return kErrObjectAbsent;
  if (size < static_cast<int>(kUserDataSize)) return kErrNoMemory;
  return kOk;
}

}  // namespace

void EncodeUserData(const UserDataRecord& record, UserDataBytes& bytes) {
  if (!IsOurs(bytes)) bytes.fill(0);
  bytes[0] = kUserDataMagic0;
  bytes[1] = kUserDataMagic1;
  bytes[2] = kUserDataVersion;
  bytes[kStyleByte] = static_cast<std::uint8_t>((record.nUiColorMode & 3) | (record.nLegacyTestMode & 3) << 2);
  for (int k = 0; k < kUserMarkCount; ++k) {
    bytes[kMarksOffset + 2 * k] = static_cast<std::uint8_t>(record.marks[k] & 0xFF);
    bytes[kMarksOffset + 2 * k + 1] = static_cast<std::uint8_t>(record.marks[k] >> 8);
  }
  bytes[kChecksumByte] = 0;
  bytes[kChecksumByte] = static_cast<std::uint8_t>(0x100 - Sum(bytes, kChecksumByte));
}

bool DecodeUserData(const UserDataBytes& bytes, UserDataRecord& record) {
  record = {};
  if (!IsOurs(bytes)) return false;
  record.nUiColorMode = bytes[kStyleByte] & 3;
  record.nLegacyTestMode = (bytes[kStyleByte] >> 2) & 3;
  for (int k = 0; k < kUserMarkCount; ++k)
    record.marks[k] = static_cast<std::uint16_t>(bytes[kMarksOffset + 2 * k] | bytes[kMarksOffset + 2 * k + 1] << 8);
  return true;
}

int ReadUserData(ControllerLink& link, UserDataRecord& record, bool* recognised) {
  record = {};
  if (recognised) *recognised = false;
  int r = CheckObject(link);
  if (r != 0) return r;
  UserDataBytes bytes{};
  r = ReadObject(link, kT38UserData, 0, bytes);
  if (r != 0) return r;
  const bool ours = DecodeUserData(bytes, record);
  if (recognised) *recognised = ours;
  return kOk;
}

int WriteUserData(ControllerLink& link, const UserDataRecord& record) {
  int r = CheckObject(link);
  if (r != 0) return r;
  UserDataBytes bytes{};
  r = ReadObject(link, kT38UserData, 0, bytes);
  if (r != 0) return r;
  EncodeUserData(record, bytes);
  return WriteObject(link, kT38UserData, 0, bytes);
}

}  // namespace varnex2::device
