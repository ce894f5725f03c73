#include "config/panel_config.h"

#include <algorithm>

namespace varnex2::config {

Int32Array2D::Int32Array2D(int32_t nRows, int32_t nCols, int32_t nFill)
    : nRows_(std::max(nRows, 0)),
      nCols_(std::max(nCols, 0)),
      values_(static_cast<std::size_t>(nRows_) * static_cast<std::size_t>(nCols_), nFill) {}

std::span<int32_t> Int32Array2D::Row(int32_t nRow) {
  return std::span<int32_t>(values_).subspan(Index(nRow, 0), static_cast<std::size_t>(nCols_));
}

std::span<const int32_t> Int32Array2D::Row(int32_t nRow) const {
  return std::span<const int32_t>(values_).subspan(Index(nRow, 0), static_cast<std::size_t>(nCols_));
}

bool Int32Array2D::Assign(int32_t nRows, int32_t nCols, std::vector<int32_t> values) {
  if (nRows < 0 || nCols < 0 || values.size() != static_cast<std::size_t>(nRows) * static_cast<std::size_t>(nCols)) {
    return false;
  }
  nRows_ = nRows;
  nCols_ = nCols;
  values_ = std::move(values);
  return true;
}

Int32Array3D::Int32Array3D(int32_t nPages, int32_t nRows, int32_t nCols, int32_t nFill)
    : nPages_(std::max(nPages, 0)),
      nRows_(std::max(nRows, 0)),
      nCols_(std::max(nCols, 0)),
      values_(static_cast<std::size_t>(nPages_) * static_cast<std::size_t>(nRows_) * static_cast<std::size_t>(nCols_),
              nFill) {}

std::span<int32_t> Int32Array3D::Row(int32_t nPage, int32_t nRow) {
  return std::span<int32_t>(values_).subspan(Index(nPage, nRow, 0), static_cast<std::size_t>(nCols_));
}

std::span<const int32_t> Int32Array3D::Row(int32_t nPage, int32_t nRow) const {
  return std::span<const int32_t>(values_).subspan(Index(nPage, nRow, 0), static_cast<std::size_t>(nCols_));
}

bool Int32Array3D::Assign(int32_t nPages, int32_t nRows, int32_t nCols, std::vector<int32_t> values) {
  if (nPages < 0 || nRows < 0 || nCols < 0 ||
      values.size() !=
          static_cast<std::size_t>(nPages) * static_cast<std::size_t>(nRows) * static_cast<std::size_t>(nCols)) {
    return false;
  }
  nPages_ = nPages;
  nRows_ = nRows;
  nCols_ = nCols;
  values_ = std::move(values);
  return true;
}

AreaParams DefaultTouchArea() {
  return AreaParams{.nXOrigin = 0, .nYOrigin = 0, .nXSize = 32, .nYSize = 52, .nGain = 96, .bEnable = 1};
}

AreaParams DefaultKeyArea() {
  return AreaParams{.nXOrigin = 0, .nYOrigin = 0, .nXSize = 0, .nYSize = 0, .nGain = 96, .bEnable = 0};
}

std::array<uint8_t, 2> UserMark::Pack() const {
  return {static_cast<uint8_t>((nX << 3) | (bEnable << 2) | nType), static_cast<uint8_t>((nY << 2) | nSpare)};
}

UserMark UserMark::Unpack(std::array<uint8_t, 2> bytes) {
  UserMark mark;
  mark.nType = bytes[0] & 0x3u;
  mark.bEnable = (bytes[0] >> 2) & 0x1u;
  mark.nX = (bytes[0] >> 3) & 0x1Fu;
  mark.nY = (bytes[1] >> 2) & 0x3Fu;
  mark.nSpare = bytes[1] & 0x3u;
  return mark;
}

const std::array<const char*, ScreenLevelSettings::kCount> kScreenLevelValueNames = {
    "ViewMode",
    "ScreenThresholdEnable",
    "RawdataMax",
    "RawdataMaxEnable",
    "RawdataMin",
    "RawdataMinEnable",
    "RawdataRange",
    "RawdataRangeEnable",
    "RawdataVariance",
    "RawdataVarianceEnable",
    "RawdataRangeDiscardVariance",
    "RawdataRangeDiscardVarianceEnable",
};

std::array<int32_t, ScreenLevelSettings::kCount> ScreenLevelSettings::ToArray() const {
  return {ViewMode,
          ScreenThresholdEnable,
          RawdataMax,
          RawdataMaxEnable,
          RawdataMin,
          RawdataMinEnable,
          RawdataRange,
          RawdataRangeEnable,
          RawdataVariance,
          RawdataVarianceEnable,
          RawdataRangeDiscardVariance,
          RawdataRangeDiscardVarianceEnable};
}

ScreenLevelSettings ScreenLevelSettings::FromArray(const std::array<int32_t, kCount>& v) {
  return ScreenLevelSettings{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]};
}

namespace {

// The gain checks look at the value as handed in; with an 8-bit field they cannot fail, but a
// caller that widens the field keeps the check.
constexpr bool GainTooLarge(int nGain) { return nGain > 255; }

struct Corner {
  int64_t x;
  int64_t y;
};

bool Inside(const Corner& c, int64_t x0, int64_t xExtent, int64_t y0, int64_t yExtent) {
  return x0 <= c.x && c.x < x0 + xExtent && y0 <= c.y && c.y < y0 + yExtent;
}

}  // namespace

ValidationResult ValidatePanelConfig(const AreaParams& t, const AreaParams& k, int32_t nMatrixXSize,
                                     int32_t nMatrixYSize, uint8_t nFirmwareVersion, TextLanguage language) {
  const bool bEnglish = language == TextLanguage::kEnglish;
  const auto Fail = [bEnglish](int nCode, const char* zh, const char* en) {
    return ValidationResult{nCode, bEnglish ? en : zh};
  };
  const ValidationResult valid{kValidOk, bEnglish ? "no error found" : kMsgNoError};

  // 64-bit sums: origins and sizes may come from files and must not overflow.
  const int64_t tx0 = t.nXOrigin, ty0 = t.nYOrigin, txs = t.nXSize, tys = t.nYSize;

  if (t.nXOrigin > t.nXSize)
    return Fail(kInvalidTouchGeometry, "屏体起始行值不能大于行宽度值", "touch area: the X origin exceeds the X size");
  if (t.nXSize < 3) return Fail(kInvalidTouchGeometry, "屏体行值不能小于3", "touch area: fewer than 3 X lines");
  if (tx0 + txs > nMatrixXSize)
    return Fail(kInvalidTouchGeometry, "屏体起始行值与行宽度值不能大于硬件行宽度限制",
                "touch area: X origin plus X size exceed the controller's X lines");
  if (t.nYOrigin > t.nYSize)
    return Fail(kInvalidTouchGeometry, "屏体起始列值不能大于宽度列值", "touch area: the Y origin exceeds the Y size");
  if (t.nYSize < 3) return Fail(kInvalidTouchGeometry, "屏体列值不能小于3", "touch area: fewer than 3 Y lines");
  if (ty0 + tys > nMatrixYSize)
    return Fail(kInvalidTouchGeometry, "屏体起始列值与宽度列值不能大于硬件列值限制",
                "touch area: Y origin plus Y size exceed the controller's Y lines");
  if (GainTooLarge(t.nGain))
    return Fail(kInvalidTouchGain, "屏体增益值不能大于255", "touch area: the gain exceeds 255");
  if (t.nThresLower >= t.nThresUpper)
    return Fail(kInvalidTouchThresholds, "触摸屏下限值不能大于上限值",
                "touch area: the lower threshold is not below the upper");

  if (k.bEnable == 0) return valid;

  if (static_cast<int64_t>(k.nXSize) * k.nYSize > 32)
    return Fail(kInvalidKeyGeometry, "按键数量总数不能大于32", "key area: more than 32 keys");
  if (k.nXSize <= 0) return Fail(kInvalidKeyGeometry, "按键行值不能为0", "key area: the X size is 0");
  if (k.nYSize <= 0) return Fail(kInvalidKeyGeometry, "按键列值不能为0", "key area: the Y size is 0");

  const int64_t kx0 = k.nXOrigin;
  const int64_t kx1 = kx0 + k.nXSize - 1;
  const int64_t ky0 = k.nYOrigin;
  const int64_t ky1 = ky0 + k.nYSize - 1;
  // Corner order of the message: 左上, 左下, 右上, 右下.
  const std::array<Corner, 4> corners = {Corner{kx0, ky0}, Corner{kx1, ky0}, Corner{kx0, ky1}, Corner{kx1, ky1}};

  const bool bOldFirmware = (nFirmwareVersion >> 4) == 1 && (nFirmwareVersion & 0xF) <= 1;
  if (bOldFirmware) {
    // Firmware 1.0/1.1 can place keys only beside the touch area's Y range, never in it.
    const auto anyIn = [&](int64_t x0, int64_t xExtent) {
      return std::any_of(corners.begin(), corners.end(),
                         [&](const Corner& c) { return Inside(c, x0, xExtent, ty0, tys); });
    };
    if (anyIn(0, tx0))
      return Fail(kInvalidKeyGeometry, "此固件版本不支持按键行值在屏体上方",
                  "key area: this firmware version cannot place keys above the touch area");
    if (anyIn(tx0, static_cast<int64_t>(nMatrixXSize) - tx0))
      return Fail(kInvalidKeyGeometry, "此固件版本不支持按键行值在屏体下方",
                  "key area: this firmware version cannot place keys below the touch area");
  }

  static constexpr std::array<const char*, 4> kCornerNames = {"左上", "左下", "右上", "右下"};
  static constexpr std::array<const char*, 4> kCornerNamesEnglish = {"(X0, Y0)", "(X1, Y0)", "(X0, Y1)", "(X1, Y1)"};
  std::string strCorners;
  for (std::size_t i = 0; i < corners.size(); ++i) {
    if (!Inside(corners[i], tx0, txs, ty0, tys)) continue;
    if (bEnglish && !strCorners.empty()) strCorners += ", ";
    strCorners += bEnglish ? kCornerNamesEnglish[i] : kCornerNames[i];
  }
  if (!strCorners.empty()) {
    return ValidationResult{kInvalidKeyGeometry, bEnglish ? "key area: corners inside the touch area: " + strCorners
                                                          : "按键范围不能设置在屏内 " + strCorners + " 角超限"};
  }

  if (GainTooLarge(k.nGain)) return Fail(kInvalidKeyGain, "按键增益值不能大于255", "key area: the gain exceeds 255");
  if (k.nThresLower >= k.nThresUpper)
    return Fail(kInvalidKeyThresholds, "按键下限值不能大于上限值",
                "key area: the lower threshold is not below the upper");
  return valid;
}

NodeExtents ComputeNodeExtents(const AreaParams& touch, const AreaParams& key) {
  const auto sum8 = [](int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint8_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)));
  };
  NodeExtents touchEnd{sum8(touch.nXOrigin, touch.nXSize), sum8(touch.nYOrigin, touch.nYSize)};
  NodeExtents keyEnd{sum8(key.nXOrigin, key.nXSize), sum8(key.nYOrigin, key.nYSize)};
  if (touch.bEnable && key.bEnable) {
    return NodeExtents{std::max(touchEnd.nX, keyEnd.nX), std::max(touchEnd.nY, keyEnd.nY)};
  }
  if (touch.bEnable) return touchEnd;
  if (key.bEnable) return keyEnd;
  return NodeExtents{};
}

void ResetPanelConfigRecord(PanelConfig& config) {
  config.touchArea = DefaultTouchArea();
  config.keyArea = DefaultKeyArea();
  config.nTestModeFlags = kTestModeThreshold;
  for (UserMark& mark : config.marks) {
    const uint8_t nSpare = mark.nSpare;
    mark = UserMark{};
    mark.nSpare = nSpare;
  }
  config.nUiColorMode = 0;
  const NodeExtents extents = ComputeNodeExtents(config.touchArea, config.keyArea);
  config.adjacentPercent = Int32Array2D(extents.nY, extents.nX);
}

}  // namespace varnex2::config
