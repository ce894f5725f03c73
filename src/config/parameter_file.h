// The XML parameter file: one whole PanelConfig as a Boost.Serialization XML archive in which
// every group is a vector of signed 32-bit integers, in a fixed element order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "config/panel_config.h"

namespace varnex2::config {

// Program version written to and compared with "VERSION".
struct ProgramVersion {
  int32_t nMajor = 0;
  int32_t nMinor = 0;
  int32_t nBuild = 0;
  int32_t nRevision = 0;
};

// (((major << 8 | minor) << 8 | build) << 8) | revision in 32-bit arithmetic, compared signed.
int32_t PackProgramVersion(const ProgramVersion& version);

// What validation needs to know about the connected controller.
struct ControllerFacts {
  int32_t nMatrixXSize = 32;
  int32_t nMatrixYSize = 52;
  uint8_t nFirmwareVersion = 0x20;
};

enum class ParameterFileStatus {
  kOk = 0,
  kIoError,        // cannot open, read, write or rename the file
  kFormatError,    // not an archive of the expected layout
  kVersionTooNew,  // written by a newer program
  kInvalidAreas,   // areas refused by ValidatePanelConfig, or a used area outside 0..255
  kTooLarge,       // the configuration exceeds the bounds below; nothing is written
};

inline constexpr const char* kMsgVersionTooNew = "文件版本不正确,载入失败！";
inline constexpr const char* kMsgSaveSucceeded = "文件参数保存成功！";
inline constexpr const char* kMsgLoadSucceeded = "文件参数载入成功！";

// Bounds of what a file may declare; anything larger is refused before it is allocated, and a
// configuration beyond them is not saved. Node arrays have the node map's extents, which are
// 8-bit sums of an area's origin and size, so at most 255 lines on either axis.
inline constexpr int32_t kMaxFileLines = 255;          // extent of a node array on either axis
inline constexpr int32_t kMaxFileSamples = 1024;       // sampled frames
inline constexpr std::size_t kMaxElementValues = 255;  // values of one element (a row at most)
inline constexpr std::uintmax_t kMaxFileBytes = 128u * 1024u * 1024u;

// The exact bytes of the file: fixed header (archive version 14), the 22 elements, CR LF line ends.
// Minor and revision are written as their low 8 bits.
std::string WriteParameterFile(const PanelConfig& config, const ProgramVersion& version);

// Writes the file atomically (temporary file in the same folder, then rename). A configuration
// whose arrays or text exceed the bounds above is refused with kTooLarge, since it would not load
// back. On failure the previous file at `path` is untouched and `message` says why.
ParameterFileStatus SaveParameterFile(const std::filesystem::path& path, const PanelConfig& config,
                                      const ProgramVersion& version, std::string& message,
                                      TextLanguage language = TextLanguage::kChinese);

// Reads and checks a whole file into a copy of `current`. Only on kOk is `out` assigned (with the
// touch area enabled, fields masked to their widths, marks whose index does not match kept from
// `current`); otherwise `out` is untouched and `message` holds the version text, the validation
// text or a description of what is wrong with the file and where. `out` may be `current` itself.
// Never throws. Messages are the station's texts; TextLanguage::kEnglish gives them in English,
// on one line and without the path (a command-line tool names the file itself), here and in
// SaveParameterFile.
ParameterFileStatus LoadParameterFile(const std::filesystem::path& path, const PanelConfig& current,
                                      const ControllerFacts& controller, const ProgramVersion& program,
                                      PanelConfig& out, std::string& message,
                                      TextLanguage language = TextLanguage::kChinese);

// The same from the file's text.
ParameterFileStatus LoadParameterText(std::string_view text, const PanelConfig& current,
                                      const ControllerFacts& controller, const ProgramVersion& program,
                                      PanelConfig& out, std::string& message,
                                      TextLanguage language = TextLanguage::kChinese);

}  // namespace varnex2::config
