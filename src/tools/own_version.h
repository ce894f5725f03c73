#pragma once
// The program's own version: the project's version from the build (CMake's project()).

#include <cstdint>

#include <QString>

namespace varnex2::tools {

struct ProgramVersion {
  int major = 0;
  int minor = 0;
  int build = 0;
  int revision = 0;
};

ProgramVersion OwnVersion();

// "%d.%d.%d.%d".
QString VersionText(const ProgramVersion& version);

// Four parts, each reduced to its low 8 bits, first part in the top byte.
std::uint32_t PackVersion(const ProgramVersion& version);

}  // namespace varnex2::tools
