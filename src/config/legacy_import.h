// Parameter sets of older releases: an INI file with the areas, display settings, marks and the
// sample-limit editor's controls, and beside it a folder "<INI path without extension>_ExternPara"
// of Boost.Serialization XML archives (elements "V1" and "PLAN") with the sample-limit data.
//
// This part decides what an import takes; the station (with the controller writes) and the
// offline judge (without them) apply it the same way. Nothing here throws.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/legacy_ini.h"
#include "config/panel_config.h"
#include "config/parameter_file.h"

namespace varnex2::config {

inline constexpr const char* kMsgLegacyImported = "参数导入成功！";
inline constexpr const char* kLegacyNoticeCaption = "温馨提示";
inline constexpr const char* kLegacyNotice =
    "温馨提示：\r\n 软件版本V1.3.0.10之后的所有版本有三种测试模式\r\n（1）阈值模式。\r\n（2）上下限模式。\r\n"
    "（3）相邻点模式。\r\n这三种测试模式逻辑为相与的关系，即最终测试结果为三种测试模式共同作用的结果，"
    "三种测试模式都启用的情况下都测试通过，才会显示PASS。\r\n为了向后兼容，旧版参数导入时，会自动重设阈值模式的上下限，"
    "请注意！\r\n老版本的上下限模式参数文件不再支持单独保存，统一保存在主界面的新版本参数文件中。";

// Touch thresholds of an imported set are held to these (key thresholds are taken as read).
inline constexpr uint16_t kLegacyMaxTouchUpper = 32000;
inline constexpr uint16_t kLegacyMinTouchLower = 10000;

// The sample-limit editor's percent/offset controls as the INI leaves them: the radio buttons'
// check states and the edits' texts, copied unchanged.
struct LegacyLimitControls {
  bool bPercentChecked = false;
  bool bOffsetChecked = false;
  std::string strPercent;      // 1045
  std::string strOffsetLower;  // 1047
  std::string strOffsetUpper;  // 1048

  friend bool operator==(const LegacyLimitControls&, const LegacyLimitControls&) = default;
};

// What the INI part of an import takes. When `validation` fails, only the areas (for the message)
// are filled; the display settings, marks and controls are not taken.
struct LegacyIniPart {
  AreaParams touch;  // enabled, thresholds adjusted
  AreaParams key;
  ValidationResult validation;
  uint8_t nUiColorMode = 0;
  uint8_t nLegacyTestMode = 0;
  std::array<UserMark, kUserMarkCount> marks{};  // the current marks with the INI's fields
  LegacyLimitControls controls;

  bool Valid() const { return validation.nCode == kValidOk; }
};

// Reads "PANEL" and "KEY" (touch thresholds held to 10000..32000), validates them against the
// controller, and when valid "CONFIG", the twelve "MARK%d" sections (on top of `current`'s marks,
// whose two preserved bits stay) and "EXTERNPARA". Areas whose origins or sizes lie outside
// 0..255 cannot be stored in the controller and are refused like an invalid area.
LegacyIniPart ReadLegacyIniPart(const LegacyIniFile& ini, const PanelConfig& current, const ControllerFacts& controller,
                                TextLanguage language = TextLanguage::kChinese);

// The record part of a valid INI part: areas, display style, legacy test mode and marks.
void TakeLegacyIniPart(const LegacyIniPart& part, PanelConfig& config);

// "<ini path without its extension>_ExternPara" beside the INI file.
std::filesystem::path LegacyCompanionFolder(const std::filesystem::path& iniPath);

// A sample or limit table as the companion files hold it: texts [row][column]; row 0 (the
// header) and column 0 (the item column) are not in the files and stay empty.
struct LegacyTable {
  int32_t nRows = 0;
  int32_t nColumns = 0;
  std::vector<std::vector<std::string>> texts;  // UTF-8

  friend bool operator==(const LegacyTable&, const LegacyTable&) = default;
};

// A companion file whose data was not taken, and why.
struct LegacyFileProblem {
  std::string strFile;  // name inside the companion folder ("" for the folder itself)
  std::string strReason;
};

// Bounds of what the companion files may declare.
inline constexpr int32_t kMaxLegacyFrames = 4096;             // frames of the legacy store
inline constexpr int64_t kMaxLegacyFrameValues = 16'000'000;  // values of the whole store
inline constexpr std::uintmax_t kMaxLegacyFileBytes = 256u * 1024u * 1024u;
inline constexpr int32_t kLegacyTableColumns = 9;
inline constexpr int32_t kLegacyLimitTableRows = 4;
inline constexpr std::size_t kLegacyDisplayValues = 8;

// Everything read from the companion folder, each piece present only when its file was read
// whole and agreed with its own header and with the editor's table layout.
struct LegacyCompanion {
  std::optional<Int32Array3D> frameStore;  // [frame][Y][X]
  int32_t nCountedFrames = 0;              // frames whose 64-bit sum is not zero
  std::optional<Int32Array2D> rawFrame;    // read, not used further
  std::optional<Int32Array2D> rawAvg;
  std::optional<Int32Array2D> rawUpper;
  std::optional<Int32Array2D> rawLower;
  std::optional<LegacyTable> sampleTable;
  std::optional<std::vector<int32_t>> sampleColumnFlags;  // header check boxes (1 ticked, 0 not)
  std::optional<std::vector<int32_t>> sampleRowFlags;     // first-cell check boxes
  std::optional<LegacyTable> limitTable;
  std::optional<std::vector<int32_t>> limitColumnFlags;  // read; not applied
  std::optional<std::vector<int32_t>> limitRowFlags;     // read; not applied
  std::optional<std::array<double, kLegacyDisplayValues>> upperDisplay;
  std::optional<std::array<double, kLegacyDisplayValues>> lowerDisplay;
  std::vector<LegacyFileProblem> problems;
};

// Reads the companion files in their order ("RawDataArry.xml" … "TestLowerExternPara.xml").
// A missing folder, a missing or malformed file, or a shape that does not fit leaves that piece
// out and adds a problem; problem texts are in `language`.
LegacyCompanion ReadLegacyCompanion(const std::filesystem::path& folder,
                                    TextLanguage language = TextLanguage::kChinese);

// The companion data into the editor's set: sampleFrames from the counted frames at the front of
// the store, the three limit arrays, sampleList rebuilt from the sample table (row check states,
// spread columns 4 and 8 × 1000, empty cells keep what the re-shaped list held) and paraList from
// the limit table (spread columns 3 and 7 × 1000). A piece that was not read leaves its part of
// `set` as it was. Row check boxes that do not match the table's rows are not applied and add a
// problem.
void ConvertLegacyCompanion(LegacyCompanion& companion, SampleLimitSet& set,
                            TextLanguage language = TextLanguage::kChinese);

// The operator's text for the pieces not taken, naming the folder and each file; "" when none.
std::string LegacyProblemsText(const std::filesystem::path& folder, const std::vector<LegacyFileProblem>& problems,
                               TextLanguage language = TextLanguage::kChinese);

// A table cell as a number: the leading decimal number × 10^nDigits, truncated toward zero as the
// text states it ("0.402" with 3 digits gives 402), held within 32 bits; no number gives 0.
int32_t ScaledDecimal(std::string_view text, int nDigits);

}  // namespace varnex2::config
