#include "tools/own_version.h"

namespace varnex2::tools {

// A version component CMake leaves empty (e.g. no fourth part) compiles as 0.
#define VARNEX2_PART(x) (x + 0)

ProgramVersion OwnVersion() {
  return {VARNEX2_PART(VARNEX2_VERSION_MAJOR), VARNEX2_PART(VARNEX2_VERSION_MINOR), VARNEX2_PART(VARNEX2_VERSION_PATCH),
          VARNEX2_PART(VARNEX2_VERSION_TWEAK)};
}

#undef VARNEX2_PART

QString VersionText(const ProgramVersion& version) {
  return QString::asprintf("%d.%d.%d.%d", version.major, version.minor, version.build, version.revision);
}

std::uint32_t PackVersion(const ProgramVersion& version) {
  const auto low = [](int part) { return static_cast<std::uint32_t>(part) & 0xFFu; };
  return low(version.major) << 24 | low(version.minor) << 16 | low(version.build) << 8 | low(version.revision);
}

}  // namespace varnex2::tools
