// The panel configuration a panel is tested against, its validation and node extents.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varnex2::config {

// Dense [row][col] array of signed 32-bit values. The shape is kept even when one extent is 0,
// so a 3 x 0 array stays distinct from a 0 x 0 one (the parameter file stores both extents).
class Int32Array2D {
 public:
  Int32Array2D() = default;
  Int32Array2D(int32_t nRows, int32_t nCols, int32_t nFill = 0);

  int32_t Rows() const { return nRows_; }
  int32_t Cols() const { return nCols_; }
  bool Empty() const { return values_.empty(); }

  int32_t& operator()(int32_t nRow, int32_t nCol) { return values_[Index(nRow, nCol)]; }
  int32_t operator()(int32_t nRow, int32_t nCol) const { return values_[Index(nRow, nCol)]; }

  std::span<int32_t> Row(int32_t nRow);
  std::span<const int32_t> Row(int32_t nRow) const;
  const std::vector<int32_t>& Values() const { return values_; }

  // Takes rows x cols values in row order; returns false (and changes nothing) on a size mismatch
  // or a negative extent.
  bool Assign(int32_t nRows, int32_t nCols, std::vector<int32_t> values);

  friend bool operator==(const Int32Array2D&, const Int32Array2D&) = default;

 private:
  std::size_t Index(int32_t nRow, int32_t nCol) const {
    return static_cast<std::size_t>(nRow) * static_cast<std::size_t>(nCols_) + static_cast<std::size_t>(nCol);
  }

  int32_t nRows_ = 0;
  int32_t nCols_ = 0;
  std::vector<int32_t> values_;
};

// Dense [page][row][col] array (sampled frames: [sample][Y][X]).
class Int32Array3D {
 public:
  Int32Array3D() = default;
  Int32Array3D(int32_t nPages, int32_t nRows, int32_t nCols, int32_t nFill = 0);

  int32_t Pages() const { return nPages_; }
  int32_t Rows() const { return nRows_; }
  int32_t Cols() const { return nCols_; }
  bool Empty() const { return values_.empty(); }

  int32_t& operator()(int32_t nPage, int32_t nRow, int32_t nCol) { return values_[Index(nPage, nRow, nCol)]; }
  int32_t operator()(int32_t nPage, int32_t nRow, int32_t nCol) const { return values_[Index(nPage, nRow, nCol)]; }

  std::span<int32_t> Row(int32_t nPage, int32_t nRow);
  std::span<const int32_t> Row(int32_t nPage, int32_t nRow) const;
  const std::vector<int32_t>& Values() const { return values_; }

  bool Assign(int32_t nPages, int32_t nRows, int32_t nCols, std::vector<int32_t> values);

  friend bool operator==(const Int32Array3D&, const Int32Array3D&) = default;

 private:
  std::size_t Index(int32_t nPage, int32_t nRow, int32_t nCol) const {
    return (static_cast<std::size_t>(nPage) * static_cast<std::size_t>(nRows_) + static_cast<std::size_t>(nRow)) *
               static_cast<std::size_t>(nCols_) +
           static_cast<std::size_t>(nCol);
  }

  int32_t nPages_ = 0;
  int32_t nRows_ = 0;
  int32_t nCols_ = 0;
  std::vector<int32_t> values_;
};

// One rectangle of the controller's matrix with its gain and raw-count thresholds.
// The gain is held in 8 bits and the thresholds in 16 bits: wider values keep their low bits.
struct AreaParams {
  int32_t nXOrigin = 0;
  int32_t nYOrigin = 0;
  int32_t nXSize = 0;
  int32_t nYSize = 0;
  uint8_t nGain = 96;
  uint8_t bEnable = 0;
  uint16_t nThresUpper = 28000;
  uint16_t nThresLower = 19000;

  friend bool operator==(const AreaParams&, const AreaParams&) = default;
};

AreaParams DefaultTouchArea();  // 0, 0, 32 x 52, gain 96, enabled, 28000/19000
AreaParams DefaultKeyArea();    // 0, 0, 0 x 0, gain 96, disabled, 28000/19000

// A node marked by the user: 1 = key mark, 2 = mask mark. The bit-fields mask what is stored
// in them; Pack/Unpack give the two-byte form kept in the controller's user-data record:
//   byte 0: bits 7..3 nX, bit 2 bEnable, bits 1..0 nType
//   byte 1: bits 7..2 nY, bits 1..0 nSpare (carried unchanged)
struct UserMark {
  uint8_t nType : 2 = 0;
  uint8_t bEnable : 1 = 0;
  uint8_t nX : 5 = 0;
  uint8_t nY : 6 = 0;
  uint8_t nSpare : 2 = 0;

  std::array<uint8_t, 2> Pack() const;
  static UserMark Unpack(std::array<uint8_t, 2> bytes);

  friend bool operator==(const UserMark&, const UserMark&) = default;
};

inline constexpr int kUserMarkCount = 12;

// nTestModeFlags bits.
inline constexpr uint32_t kTestModeThreshold = 0x1;
inline constexpr uint32_t kTestModeSampleLimits = 0x2;
inline constexpr uint32_t kTestModeAdjacent = 0x4;
inline constexpr uint32_t kTestModeDifference = 0x10;

// Screen-level limits and display flags; member names are the settings' value names, the member
// order is the order of the "PANELCTL" vector.
struct ScreenLevelSettings {
  int32_t ViewMode = 3;
  int32_t ScreenThresholdEnable = 0;
  int32_t RawdataMax = 30000;
  int32_t RawdataMaxEnable = 1;
  int32_t RawdataMin = 20000;
  int32_t RawdataMinEnable = 1;
  int32_t RawdataRange = 5000;
  int32_t RawdataRangeEnable = 1;
  int32_t RawdataVariance = 402;
  int32_t RawdataVarianceEnable = 1;
  int32_t RawdataRangeDiscardVariance = 4000;
  int32_t RawdataRangeDiscardVarianceEnable = 1;

  static constexpr int kCount = 12;
  std::array<int32_t, kCount> ToArray() const;
  static ScreenLevelSettings FromArray(const std::array<int32_t, kCount>& values);

  friend bool operator==(const ScreenLevelSettings&, const ScreenLevelSettings&) = default;
};

// Value names in "PANELCTL" order (the same names the settings store uses).
extern const std::array<const char*, ScreenLevelSettings::kCount> kScreenLevelValueNames;

// Sampled frames and the per-node limits derived from them.
struct SampleLimitSet {
  Int32Array3D sampleFrames;  // [S][Y][X]
  Int32Array2D rawAvg;        // [Y][X]
  Int32Array2D rawUpper;      // [Y][X]
  Int32Array2D rawLower;      // [Y][X]
  Int32Array2D sampleList;    // [S + 1][9]
  Int32Array2D paraList;      // [3][8]
  int32_t nLimitMode = 0;     // 0 percent, 1 offset
  int32_t nPercentX100 = 1000;
  int32_t nOffsetUpper = 2000;
  int32_t nOffsetLower = 2000;

  friend bool operator==(const SampleLimitSet&, const SampleLimitSet&) = default;
};

struct PanelConfig {
  AreaParams touchArea = DefaultTouchArea();
  AreaParams keyArea = DefaultKeyArea();
  uint8_t nUiColorMode : 2 = 0;     // 0 colour, 1 mono, 2 text, 3 background
  uint8_t nLegacyTestMode : 2 = 0;  // carried only
  std::array<UserMark, kUserMarkCount> marks{};
  uint32_t nTestModeFlags = kTestModeThreshold;
  ScreenLevelSettings screen;
  Int32Array2D adjacentPercent{52, 32};  // [Y][X], hundredths of a percent
  SampleLimitSet sampleLimits;

  friend bool operator==(const PanelConfig&, const PanelConfig&) = default;
};

// Validation result codes.
inline constexpr int kValidOk = 0;
inline constexpr int kInvalidTouchGeometry = 1024;
inline constexpr int kInvalidTouchThresholds = 1025;
inline constexpr int kInvalidTouchGain = 1026;
inline constexpr int kInvalidKeyGeometry = 1027;
inline constexpr int kInvalidKeyThresholds = 1028;
inline constexpr int kInvalidKeyGain = 1029;

inline constexpr const char* kMsgNoError = "没有发现任何错误";

struct ValidationResult {
  int nCode = kValidOk;
  std::string strMessage = kMsgNoError;
};

// Language of the texts a function returns: the station's own (Chinese) texts, or English for
// the command-line tools.
enum class TextLanguage { kChinese, kEnglish };

// Checks the touch and key areas against the controller's matrix size and firmware version byte
// (high nibble major, low nibble minor). Stops at the first failure.
ValidationResult ValidatePanelConfig(const AreaParams& touch, const AreaParams& key, int32_t nMatrixXSize,
                                     int32_t nMatrixYSize, uint8_t nFirmwareVersion,
                                     TextLanguage language = TextLanguage::kChinese);

struct NodeExtents {
  int32_t nX = 0;
  int32_t nY = 0;
  friend bool operator==(const NodeExtents&, const NodeExtents&) = default;
};

// The node map reaches from line 0 to the far edge of the enabled areas (sums taken in 8 bits).
NodeExtents ComputeNodeExtents(const AreaParams& touch, const AreaParams& key);

// The record part of the "restore defaults" command: default areas, threshold mode only, marks
// cleared (spare bits kept), colour style, percentages 0 over the default extents. The legacy
// test mode, the screen-level group and the sample limits keep their values.
void ResetPanelConfigRecord(PanelConfig& config);

}  // namespace varnex2::config
