#include "sim/controller_memory.h"

#include <algorithm>
#include <cstring>

namespace varnex2::sim {

namespace {

struct ObjectSpec {
  std::uint8_t type;
  std::uint16_t size;
  std::uint8_t instances;
  std::uint8_t reportIds;
  bool writable;
  bool persistent;
};

// Table order (by type, as the controller lists them).
constexpr ObjectSpec kSpecs[] = {
    {kT5, 10, 1, 0, false, false}, {kT6, 6, 1, 1, true, false},     {kT7, 4, 1, 0, true, true},
    {kT9, 36, 2, 10, true, true},  {kT15, 11, 1, 1, true, true},    {kT22, 17, 1, 1, true, true},
    {kT25, 14, 1, 1, true, true},  {kT37, 130, 1, 0, false, false}, {kT38, 64, 1, 0, true, true},
    {kT44, 1, 1, 0, false, false}, {kT46, 11, 1, 0, true, true},    {kT48, 54, 1, 1, true, true},
    {kT54, 15, 1, 1, true, true},  {kT56, 50, 1, 0, true, true},    {kT62, 54, 1, 1, true, true},
};
constexpr std::size_t kObjectCount = sizeof(kSpecs) / sizeof(kSpecs[0]);

// Objects placed before T6, in address order; the rest follow T6 in this order.
constexpr std::uint8_t kBeforeT6[] = {kT37, kT44, kT5};
constexpr std::uint8_t kAfterT6[] = {kT38, kT7, kT9, kT15, kT22, kT25, kT46, kT48, kT54, kT56, kT62};

// T6 sits so that its diagnostic byte (T6 + 5) is the variant's command address.
constexpr std::uint16_t kDefaultCommandAddress = 352;

const ObjectSpec& SpecOf(std::uint8_t type) {
  for (const auto& s : kSpecs) {
    if (s.type == type) return s;
  }
  return kSpecs[0];
}

}  // namespace

std::uint32_t Crc24Step(std::uint32_t crc, std::uint8_t low, std::uint8_t high) {
  const bool top = (crc & 0x800000u) != 0;
  crc = (crc << 1) ^ ((static_cast<std::uint32_t>(high) << 8) | low);
  if (top) crc ^= 0x80001Bu;
  return crc & 0xFFFFFFu;
}

std::uint32_t InfoBlockChecksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    crc = Crc24Step(crc, bytes[i], i + 1 < bytes.size() ? bytes[i + 1] : 0);
  }
  return crc;
}

bool IsConfigurationObject(std::uint8_t type) {
  return type != kT5 && type != kT6 && type != kT37 && type != kT38 && type != kT44;
}

std::uint16_t CommandAddressFor(const ControllerVariant& v) {
  if (v.family != 0xA2) return 0;
  if (v.variant == 0x00) {
    if (v.version == 0x10 && v.build == 0xAA) return 298;
    if (v.version == 0x11 && v.build == 0xAA) return 316;
    if (v.version == 0x12 && v.build == 0xAA) return 328;
    if (v.version == 0x20 && v.build == 0xAB) return 352;
  }
  if (v.variant == 0x0B && v.version == 0x20 && v.build == 0x01) return 352;
  return 0;
}

ControllerMemory::ControllerMemory(const ControllerVariant& variant) {
  const std::size_t tableEnd = 7 + 6 * kObjectCount;
  std::uint32_t address = static_cast<std::uint32_t>(tableEnd + 3);

  std::vector<ObjectInfo> placed;
  auto place = [&](std::uint8_t type) {
    const ObjectSpec& s = SpecOf(type);
    ObjectInfo info;
    info.type = s.type;
    info.address = static_cast<std::uint16_t>(address);
    info.size = s.size;
    info.instances = s.instances;
    info.reportIds = s.reportIds;
    info.writable = s.writable;
    info.persistent = s.persistent;
    placed.push_back(info);
    address += static_cast<std::uint32_t>(s.size) * s.instances;
  };
  for (auto t : kBeforeT6) place(t);
  std::uint16_t command = CommandAddressFor(variant);
  if (command == 0) command = kDefaultCommandAddress;
  address = std::max<std::uint32_t>(address, command - 5u);
  place(kT6);
  for (auto t : kAfterT6) place(t);

  bytes_.assign(address, 0);
  writable_.assign(address, 0);

  // Table order and report ids.
  std::uint8_t nextReportId = 1;
  for (const auto& s : kSpecs) {
    auto it = std::find_if(placed.begin(), placed.end(), [&](const ObjectInfo& o) { return o.type == s.type; });
    ObjectInfo info = *it;
    if (info.reportIds > 0) {
      info.firstReportId = nextReportId;
      nextReportId = static_cast<std::uint8_t>(nextReportId + info.reportIds * info.instances);
    }
    objects_.push_back(info);
    if (info.writable) {
      std::fill_n(writable_.begin() + info.address, static_cast<std::size_t>(info.size) * info.instances, 1);
    }
  }

  bytes_[0] = variant.family;
  bytes_[1] = variant.variant;
  bytes_[2] = variant.version;
  bytes_[3] = variant.build;
  bytes_[4] = variant.matrixX;
  bytes_[5] = variant.matrixY;
  bytes_[6] = static_cast<std::uint8_t>(kObjectCount);
  std::size_t p = 7;
  for (const auto& o : objects_) {
    bytes_[p++] = o.type;
    bytes_[p++] = static_cast<std::uint8_t>(o.address & 0xFF);
    bytes_[p++] = static_cast<std::uint8_t>(o.address >> 8);
    bytes_[p++] = static_cast<std::uint8_t>(o.size - 1);
    bytes_[p++] = static_cast<std::uint8_t>(o.instances - 1);
    bytes_[p++] = o.reportIds;
  }
  std::uint32_t crc = InfoBlockChecksum(std::span<const std::uint8_t>(bytes_.data(), tableEnd));
  if (variant.corruptChecksum) crc ^= 0x000101u;
  bytes_[p++] = static_cast<std::uint8_t>(crc & 0xFF);
  bytes_[p++] = static_cast<std::uint8_t>((crc >> 8) & 0xFF);
  bytes_[p++] = static_cast<std::uint8_t>((crc >> 16) & 0xFF);

  LoadFactoryConfiguration();
  Object(kT5)[0] = 0xFF;
}

std::uint32_t ControllerMemory::ConfigurationChecksum() const {
  std::size_t begin = bytes_.size();
  std::size_t end = 0;
  for (const auto& o : objects_) {
    if (!IsConfigurationObject(o.type)) continue;
    begin = std::min<std::size_t>(begin, o.address);
    end = std::max<std::size_t>(end, o.address + static_cast<std::size_t>(o.size) * o.instances);
  }
  if (begin >= end) return 0;
  // Bytes of the other objects inside the range count as 0.
  auto byteAt = [&](std::size_t a) -> std::uint8_t {
    if (a >= end) return 0;
    for (const auto& o : objects_) {
      if (IsConfigurationObject(o.type)) continue;
      if (a >= o.address && a < o.address + static_cast<std::size_t>(o.size) * o.instances) return 0;
    }
    return bytes_[a];
  };
  std::uint32_t crc = 0;
  for (std::size_t a = begin; a < end; a += 2) crc = Crc24Step(crc, byteAt(a), byteAt(a + 1));
  return crc;
}

const ObjectInfo* ControllerMemory::Find(std::uint8_t type) const {
  for (const auto& o : objects_) {
    if (o.type == type) return &o;
  }
  return nullptr;
}

std::uint16_t ControllerMemory::Address(std::uint8_t type, int instance) const {
  const ObjectInfo* o = Find(type);
  if (!o || instance < 0 || instance >= o->instances) return 0;
  return static_cast<std::uint16_t>(o->address + instance * o->size);
}

const ObjectInfo* ControllerMemory::ObjectOfReportId(std::uint8_t reportId, int* instance) const {
  if (reportId == 0) return nullptr;
  for (const auto& o : objects_) {
    if (o.firstReportId == 0) continue;
    const int total = o.reportIds * o.instances;
    if (reportId >= o.firstReportId && reportId < o.firstReportId + total) {
      if (instance) *instance = (reportId - o.firstReportId) / o.reportIds;
      return &o;
    }
  }
  return nullptr;
}

bool ControllerMemory::InRange(std::uint32_t address, std::size_t count) const {
  return address <= bytes_.size() && count <= bytes_.size() - address;
}

bool ControllerMemory::Writable(std::uint32_t address, std::size_t count) const {
  if (!InRange(address, count)) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (!writable_[address + i]) return false;
  }
  return true;
}

std::span<std::uint8_t> ControllerMemory::Object(std::uint8_t type, int instance) {
  const ObjectInfo* o = Find(type);
  if (!o || instance < 0 || instance >= o->instances) return {};
  return std::span<std::uint8_t>(bytes_.data() + o->address + instance * o->size, o->size);
}

void ControllerMemory::LoadFactoryConfiguration() {
  for (const auto& o : objects_) {
    if (o.persistent) std::fill_n(bytes_.begin() + o.address, static_cast<std::size_t>(o.size) * o.instances, 0);
  }
  auto set = [&](std::uint8_t type, int instance, std::initializer_list<std::uint8_t> values) {
    auto obj = Object(type, instance);
    std::size_t i = 0;
    for (auto v : values) {
      if (i < obj.size()) obj[i++] = v;
    }
  };
  set(kT7, 0, {255, 255, 255, 3});
  // Touch window: whole 32 x 52 matrix, enabled, gain 96.
  set(kT9, 0, {0x81, 0, 0, 32, 52, 0, 96, 255});
  // Key window: none, disabled.
  set(kT15, 0, {0, 0, 0, 0, 0, 0, 96, 255});
  set(kT22, 0, {0x05});
  // Self-test enabled with reporting; signal-limit slots T9#0, T9#1, T15#0: upper then lower.
  set(kT25, 0, {3, 0, 0x00, 0x7D, 0x78, 0x69, 0, 0, 0, 0, 0x00, 0x7D, 0x78, 0x69});
  set(kT46, 0, {4, 0, 10, 16, 0, 0, 1, 0, 0, 0, 15});
  set(kT48, 0, {0x01});
  set(kT54, 0, {0x01});
  set(kT62, 0, {0x01});
}

}  // namespace varnex2::sim
