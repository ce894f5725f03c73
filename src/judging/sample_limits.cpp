#include "judging/sample_limits.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "judging/panel_layout.h"

namespace varnex2::judging {

namespace {

using config::Int32Array2D;
using config::Int32Array3D;

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();

std::int32_t Saturate(std::int64_t v) { return static_cast<std::int32_t>(std::clamp(v, kInt32Min, kInt32Max)); }

std::int32_t SaturateTrunc(double v) {
  if (!(v > static_cast<double>(kInt32Min))) return static_cast<std::int32_t>(kInt32Min);
  if (!(v < static_cast<double>(kInt32Max))) return static_cast<std::int32_t>(kInt32Max);
  return static_cast<std::int32_t>(std::trunc(v));
}

// A copy of `from` with the given shape: the overlapping part kept, the rest 0.
Int32Array2D Reshaped(const Int32Array2D& from, int rows, int cols) {
  Int32Array2D out(rows, cols);
  const int r = std::min(rows, from.Rows());
  const int c = std::min(cols, from.Cols());
  for (int i = 0; i < r; ++i) std::copy_n(from.Row(i).begin(), c, out.Row(i).begin());
  return out;
}

Int32Array3D Reshaped(const Int32Array3D& from, int pages, int rows, int cols) {
  Int32Array3D out(pages, rows, cols);
  const int p = std::min(pages, from.Pages());
  const int r = std::min(rows, from.Rows());
  const int c = std::min(cols, from.Cols());
  for (int k = 0; k < p; ++k)
    for (int i = 0; i < r; ++i) std::copy_n(from.Row(k, i).begin(), c, out.Row(k, i).begin());
  return out;
}

// One page of the stored frames as a [Y][X] array.
Int32Array2D Page(const Int32Array3D& frames, int page) {
  Int32Array2D out(frames.Rows(), frames.Cols());
  for (int y = 0; y < frames.Rows(); ++y) std::copy_n(frames.Row(page, y).begin(), frames.Cols(), out.Row(y).begin());
  return out;
}

// Statistics of an area into four consecutive entries of `row` (left as they
// are when the map has no such area).
void StoreStatistics(const NodeMap& map, int area, std::span<std::int32_t> row) {
  std::int32_t max = 0, min = 0, average = 0, spread = 0;
  if (!map.GetStatistics(area, max, min, average, spread)) return;
  row[0] = max;
  row[1] = min;
  row[2] = average;
  row[3] = spread;
}

// Reads a decimal real number (sign, digits, point, digits, exponent) at the
// start of `text` and gives it times 100 truncated toward zero, exactly as the
// digits state it. `used` is the number of characters read (0: no number).
std::optional<std::int32_t> DecimalTimes100(std::string_view text, std::size_t& used) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::string digits;
  int fractionDigits = 0;
  bool anyDigit = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    anyDigit = true;
    if (!digits.empty() || text[i] != '0') digits += text[i];
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      anyDigit = true;
      digits += text[i];
      ++fractionDigits;
    }
  }
  used = 0;
  if (!anyDigit) return std::nullopt;
  long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    bool expNegative = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) expNegative = text[j++] == '-';
    if (j < text.size() && text[j] >= '0' && text[j] <= '9') {
      for (; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j)
        exponent = std::min(exponent * 10 + (text[j] - '0'), 100000L);
      if (expNegative) exponent = -exponent;
      i = j;
    }
  }
  used = i;
  // value * 100 = digits * 10^shift.
  const long shift = exponent + 2 - fractionDigits;
  // Leading zeros of the fraction are still in `digits`; drop them now.
  const auto firstNonZero = digits.find_first_not_of('0');
  digits = firstNonZero == std::string::npos ? std::string() : digits.substr(firstNonZero);
  std::int64_t magnitude = 0;
  bool overflow = false;
  if (!digits.empty()) {
    const long integerDigits = static_cast<long>(digits.size()) + shift;
    if (integerDigits > 10) {
      overflow = true;
    } else {
      for (long k = 0; k < integerDigits; ++k)
        magnitude =
            magnitude * 10 + (k < static_cast<long>(digits.size()) ? digits[static_cast<std::size_t>(k)] - '0' : 0);
    }
  }
  const std::int64_t limit = negative ? -kInt32Min : kInt32Max;
  if (overflow || magnitude > limit) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace

// ---- The editor ----------------------------------------------------------------------------

SampleLimitEditor::SampleLimitEditor(NodeMap& map, const config::SampleLimitSet& data) : map_(map) { Reset(data); }

void SampleLimitEditor::Reset(const config::SampleLimitSet& data) {
  data_ = data;
  const Int32Array3D& frames = data.sampleFrames;
  if (frames.Pages() == 0 || frames.Rows() == 0 || frames.Cols() == 0) data_.sampleFrames = Int32Array3D();
}

int SampleLimitEditor::SampleTableRows() const { return std::max(1, data_.sampleList.Rows()); }

bool SampleLimitEditor::IsSelected(int row) const {
  if (row < 1 || row >= data_.sampleList.Rows() || data_.sampleList.Cols() < 1) return false;
  return data_.sampleList(row, 0) != 0;
}

int SampleLimitEditor::SelectedCount() const {
  int n = 0;
  for (int row = 1; row < SampleTableRows(); ++row) n += IsSelected(row) ? 1 : 0;
  return n;
}

int SampleLimitEditor::TakeSample(const std::function<void()>& freshFrame) {
  const int r = SampleTableRows();
  int ys = map_.Columns();
  int xs = map_.Rows();
  data_.sampleFrames = Reshaped(data_.sampleFrames, r, ys, xs);
  data_.sampleList = Reshaped(data_.sampleList, r + 1, kSampleListColumns);

  if (freshFrame) freshFrame();

  {
    std::lock_guard<std::recursive_mutex> lock(map_.Mutex());
    // The map keeps its extents while the cycle is stopped; should the fresh frame
    // have changed them, the overlap is what can be stored.
    ys = std::min(ys, map_.Columns());
    xs = std::min(xs, map_.Rows());
    for (int y = 0; y < ys; ++y) {
      std::span<std::int32_t> row = data_.sampleFrames.Row(r - 1, y);
      for (int x = 0; x < xs; ++x) row[static_cast<std::size_t>(x)] = map_.Cell(y, x).nValue;
    }
    std::span<std::int32_t> list = data_.sampleList.Row(r);
    std::fill(list.begin(), list.end(), -1);
    list[0] = 1;
    StoreStatistics(map_, 0, list.subspan(1, 4));
    if (map_.AreaCount() == 2) StoreStatistics(map_, 1, list.subspan(5, 4));
  }
  return r;
}

SampleLimitStatus SampleLimitEditor::SetSelected(int row, bool selected) {
  if (row < 1 || row >= data_.sampleList.Rows() || data_.sampleList.Cols() < 1) return SampleLimitStatus::kNoSuchRow;
  if (!selected && IsSelected(row) && SelectedCount() == 1) return SampleLimitStatus::kLastSelectedSample;
  data_.sampleList(row, 0) = selected ? 1 : 0;
  return SampleLimitStatus::kOk;
}

SampleLimitStatus SampleLimitEditor::ComputeLimits(const LimitParameters& parameters) {
  const Int32Array3D& frames = data_.sampleFrames;
  const int ys = map_.Columns();
  const int xs = map_.Rows();
  if (frames.Rows() == 0 || frames.Cols() == 0 || frames.Rows() != ys || frames.Cols() != xs)
    return SampleLimitStatus::kExtentsDiffer;
  if (SampleTableRows() != frames.Pages() + 1) return SampleLimitStatus::kRowsDiffer;
  // Only possible with a loaded set whose rows are all unselected: without a
  // sample there is no base to divide out.
  const int n = SelectedCount();
  if (n == 0) return SampleLimitStatus::kNoSampleSelected;

  data_.nLimitMode = parameters.nLimitMode;
  data_.nPercentX100 = parameters.nPercentX100;
  data_.nOffsetLower = parameters.nOffsetLower;
  data_.nOffsetUpper = parameters.nOffsetUpper;

  const NodeFrame flags = map_.GetFlagsFrame();
  auto excluded = [&](int y, int x) { return (flags(y, x) & (NodeFlag::MASK | NodeFlag::ZERO)) != 0; };

  std::vector<std::int64_t> sum(static_cast<std::size_t>(ys) * static_cast<std::size_t>(xs), 0);
  for (int k = 1; k < SampleTableRows(); ++k) {
    if (!IsSelected(k)) continue;
    for (int y = 0; y < ys; ++y) {
      const std::span<const std::int32_t> row = frames.Row(k - 1, y);
      for (int x = 0; x < xs; ++x)
        if (!excluded(y, x))
          sum[static_cast<std::size_t>(y) * static_cast<std::size_t>(xs) + static_cast<std::size_t>(x)] +=
              row[static_cast<std::size_t>(x)];
    }
  }

  Int32Array2D avg(ys, xs), upper(ys, xs), lower(ys, xs);
  const double f = data_.nPercentX100 / 10000.0;
  for (int y = 0; y < ys; ++y) {
    for (int x = 0; x < xs; ++x) {
      const std::int64_t s =
          sum[static_cast<std::size_t>(y) * static_cast<std::size_t>(xs) + static_cast<std::size_t>(x)];
      const std::int32_t a = static_cast<std::int32_t>(s / n);  // an average of int32 values fits
      avg(y, x) = a;
      if (excluded(y, x)) continue;  // limits 0 and 0
      if (data_.nLimitMode == 0) {
        upper(y, x) = SaturateTrunc(a * (1.0 + f));
        lower(y, x) = SaturateTrunc(a * (1.0 - f));
      } else {
        upper(y, x) = Saturate(static_cast<std::int64_t>(a) + data_.nOffsetUpper);
        lower(y, x) = Saturate(static_cast<std::int64_t>(a) - data_.nOffsetLower);
      }
    }
  }
  data_.rawAvg = std::move(avg);
  data_.rawUpper = std::move(upper);
  data_.rawLower = std::move(lower);

  // The statistics of each array as the map shows it; the map ends on the base.
  Int32Array2D para(kParaListRows, kParaListColumns, -1);
  const bool twoAreas = map_.AreaCount() == 2;
  auto statisticsOf = [&](const Int32Array2D& array, int row) {
    ShowArrayOnMap(map_, array);
    StoreStatistics(map_, 0, para.Row(row).subspan(0, 4));
    if (twoAreas) StoreStatistics(map_, 1, para.Row(row).subspan(4, 4));
  };
  statisticsOf(data_.rawUpper, 0);
  statisticsOf(data_.rawLower, 2);
  statisticsOf(data_.rawAvg, 1);
  data_.paraList = std::move(para);

  map_.SetTestModeFlags(map_.TestModeFlags() | TestMode::LIMITS);
  map_.SetUpperLimits(ToNodeFrame(data_.rawUpper));
  map_.SetLowerLimits(ToNodeFrame(data_.rawLower));
  return SampleLimitStatus::kOk;
}

void SampleLimitEditor::Clear() {
  data_.sampleFrames = Int32Array3D();
  data_.rawAvg = Int32Array2D();
  data_.rawUpper = Int32Array2D();
  data_.rawLower = Int32Array2D();
  data_.sampleList = Int32Array2D();
  data_.paraList = Int32Array2D();
}

SampleLimitStatus SampleLimitEditor::ShowSample(int row) {
  if (row < 1 || row > kViewableSampleRows || row > data_.sampleFrames.Pages()) return SampleLimitStatus::kNoSuchRow;
  ShowArrayOnMap(map_, Page(data_.sampleFrames, row - 1));
  return SampleLimitStatus::kOk;
}

SampleLimitStatus SampleLimitEditor::ShowLimitArray(LimitRow row) {
  const Int32Array2D* array = nullptr;
  switch (row) {
    case LimitRow::kUpper:
      array = &data_.rawUpper;
      break;
    case LimitRow::kBase:
      array = &data_.rawAvg;
      break;
    case LimitRow::kLower:
      array = &data_.rawLower;
      break;
  }
  if (array == nullptr) return SampleLimitStatus::kNoSuchRow;
  ShowArrayOnMap(map_, Reshaped(*array, map_.Columns(), map_.Rows()));
  return SampleLimitStatus::kOk;
}

// ---- Helpers -------------------------------------------------------------------------------

void ShowArrayOnMap(NodeMap& map, const Int32Array2D& array) { map.Evaluate(ToNodeFrame(array)); }

Int32Array2D NodeValuesArray(const NodeMap& map) {
  std::lock_guard<std::recursive_mutex> lock(map.Mutex());
  Int32Array2D out(map.Columns(), map.Rows());
  for (int y = 0; y < map.Columns(); ++y)
    for (int x = 0; x < map.Rows(); ++x) out(y, x) = map.Cell(y, x).nValue;
  return out;
}

std::int32_t PercentTextToX100(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                           text.front() == '\r' || text.front() == '\v' || text.front() == '\f'))
    text.remove_prefix(1);
  std::size_t used = 0;
  const auto value = DecimalTimes100(text, used);
  if (value) return *value;
  if (used == 0) return 0;
  return text.front() == '-' ? static_cast<std::int32_t>(kInt32Min) : static_cast<std::int32_t>(kInt32Max);
}

std::optional<std::int32_t> StrictPercentTextToX100(std::string_view text) {
  std::size_t used = 0;
  const auto value = DecimalTimes100(text, used);
  if (used == 0 || used != text.size()) return std::nullopt;
  return value;
}

std::uint32_t TestModeAfterConfirm(std::uint32_t flags) { return flags | config::kTestModeSampleLimits; }

std::uint32_t TestModeAfterCancel(std::uint32_t flags) {
  return (flags & ~config::kTestModeSampleLimits) | config::kTestModeThreshold;
}

}  // namespace varnex2::judging
