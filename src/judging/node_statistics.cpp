#include "judging/node_statistics.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace varnex2::judging {

namespace {

constexpr Rgb kWhite = MakeRgb(255, 255, 255);
constexpr Rgb kRed = MakeRgb(255, 0, 0);
constexpr Rgb kBlue = MakeRgb(0, 0, 255);
constexpr Rgb kGrey = MakeRgb(128, 128, 128);

// Label texts and statistics texts stay well below this; reserving it keeps
// Evaluate from reallocating them in steady state.
constexpr std::size_t kLabelCapacity = 96;
constexpr std::size_t kStatisticsCapacity = 384;

__extension__ typedef unsigned __int128 Uint128;

std::int32_t ClampToInt32(std::int64_t v) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Largest k with k*k*n <= sumSquares, i.e. trunc(sqrt(sumSquares / n)).
std::int64_t IntegerRootOfMean(Uint128 sumSquares, std::int64_t n) {
  const Uint128 un = static_cast<Uint128>(n);
  double approx = std::sqrt(static_cast<double>(sumSquares) / static_cast<double>(n));
  std::int64_t k = approx > 9.0e18 ? static_cast<std::int64_t>(9.0e18) : static_cast<std::int64_t>(approx);
  auto fits = [&](std::int64_t v) {
    const Uint128 uv = static_cast<Uint128>(v);
    return uv * uv * un <= sumSquares;
  };
  while (k > 0 && !fits(k)) --k;
  while (fits(k + 1)) ++k;
  return k;
}

}  // namespace

// Count, sum, max and min of one column's selected values (rowMask -1) that
// lack MASK, added to the running figures.
__attribute__((noinline)) void GatherColumn(const std::int32_t* __restrict values, const std::int32_t* __restrict flags,
                                            const std::int32_t* __restrict rowMask, std::size_t rows, std::int32_t& hi,
                                            std::int32_t& lo, std::int64_t& sum, std::int64_t& count) {
  std::int32_t n = 0;
  std::int64_t s = 0;
  std::int32_t columnHi = hi;
  std::int32_t columnLo = lo;
  for (std::size_t r = 0; r < rows; ++r) {
    const std::int32_t v = values[r];
    const std::int32_t in = rowMask[r] & (((flags[r] & NodeFlag::MASK) != 0) - 1);
    const std::int32_t forHi = (v & in) | (std::numeric_limits<std::int32_t>::min() & ~in);
    const std::int32_t forLo = (v & in) | (std::numeric_limits<std::int32_t>::max() & ~in);
    columnHi = columnHi > forHi ? columnHi : forHi;
    columnLo = columnLo < forLo ? columnLo : forLo;
    s += v & in;
    n -= in;
  }
  hi = columnHi;
  lo = columnLo;
  sum += s;
  count += n;
}

NodeStatistics::NodeStatistics() {
  strStatistics.reserve(kStatisticsCapacity);
  for (auto& label : labels_) label.strText.reserve(kLabelCapacity);
}

// ---- Figures of an area ------------------------------------------------------------

// The set: nodes between an area's corner line numbers (visible lines only), or
// the whole map when there is no area; MASK nodes left out. The spread is the
// population standard deviation around the integer average, truncated.
bool NodeStatistics::Gather(const NodeCells& cells, int area, std::int32_t& max, std::int32_t& min,
                            std::int32_t& average, std::int32_t* spread) const {
  const int columns = cells.Columns();
  const int rows = cells.Rows();
  const std::vector<GridLine>& columnLines = cells.ColumnLines();
  const std::vector<GridLine>& rowLines = cells.RowLines();
  int colFirst = 0, colLast = 0, rowFirst = 0, rowLast = 0;
  if (cells.Areas().empty()) {
    if (area != 0) return false;
    colFirst = rowFirst = std::numeric_limits<int>::min();
    colLast = rowLast = std::numeric_limits<int>::max();
  } else if (!cells.AreaLineRange(area, colFirst, colLast, rowFirst, rowLast)) {
    return false;
  }
  auto columnSelected = [&](int c) {
    const GridLine& cl = columnLines[static_cast<std::size_t>(c)];
    return cl.bVisible && cl.nNumber >= colFirst && cl.nNumber <= colLast;
  };
  // Per row: -1 when the row is selected, else 0.
  std::array<std::int32_t, kMaxLines> rowIn{};
  for (int r = 0; r < rows; ++r) {
    const GridLine& rl = rowLines[static_cast<std::size_t>(r)];
    rowIn[static_cast<std::size_t>(r)] = (rl.bVisible && rl.nNumber >= rowFirst && rl.nNumber <= rowLast) ? -1 : 0;
  }
  const std::size_t rowCount = static_cast<std::size_t>(rows);
  const std::int32_t* __restrict rowMask = rowIn.data();
  // First pass: count, sum, max, min (branch-free over each selected column).
  std::int64_t count = 0;
  std::int64_t sum = 0;
  std::int32_t hi = std::numeric_limits<std::int32_t>::min();
  std::int32_t lo = std::numeric_limits<std::int32_t>::max();
  for (int c = 0; c < columns; ++c) {
    if (!columnSelected(c)) continue;
    const std::int32_t* __restrict values = cells.Values() + cells.Index(c, 0);
    const std::int32_t* __restrict flags = cells.Flags() + cells.Index(c, 0);
    GatherColumn(values, flags, rowMask, rowCount, hi, lo, sum, count);
  }
  if (count == 0) {
    max = min = average = -1;
    if (spread) *spread = -1;
    return true;
  }
  const std::int64_t avg = sum / count;
  max = hi;
  min = lo;
  average = static_cast<std::int32_t>(avg);
  if (spread) {
    // Second pass: sum of (v - avg)^2. avg lies within [lo, hi], so every
    // deviation is at most hi - lo; while that keeps the sum below 2^64 it is
    // summed in 64 bits from 32-bit deviations, otherwise exactly in 128 bits.
    const std::uint64_t range = static_cast<std::uint64_t>(static_cast<std::int64_t>(hi) - lo);
    Uint128 deviations = 0;
    const bool narrow = range < (std::uint64_t{1} << 31) &&
                        range * range <= std::numeric_limits<std::uint64_t>::max() / static_cast<std::uint64_t>(count);
    for (int c = 0; c < columns; ++c) {
      if (!columnSelected(c)) continue;
      const std::int32_t* __restrict values = cells.Values() + cells.Index(c, 0);
      const std::int32_t* __restrict flags = cells.Flags() + cells.Index(c, 0);
      if (narrow) {
        const std::uint32_t mean = static_cast<std::uint32_t>(avg);
        std::uint64_t d2 = 0;
        for (std::size_t r = 0; r < rowCount; ++r) {
          const std::uint32_t in = static_cast<std::uint32_t>(rowMask[r] & (((flags[r] & NodeFlag::MASK) != 0) - 1));
          const std::uint32_t d = static_cast<std::uint32_t>(values[r]) - mean;
          const std::uint32_t sign = static_cast<std::uint32_t>(static_cast<std::int32_t>(d) >> 31);
          const std::uint32_t a = ((d ^ sign) - sign) & in;
          d2 += static_cast<std::uint64_t>(a) * a;
        }
        deviations += d2;
      } else {
        for (std::size_t r = 0; r < rowCount; ++r) {
          if (rowMask[r] == 0 || (flags[r] & NodeFlag::MASK)) continue;
          // |d| <= hi - lo < 2^32, so its square fits in 64 unsigned bits.
          const std::int64_t d = values[r] - avg;
          const std::uint64_t a = static_cast<std::uint64_t>(d < 0 ? -d : d);
          deviations += a * a;
        }
      }
    }
    *spread = ClampToInt32(IntegerRootOfMean(deviations, count));
  }
  return true;
}

// ---- Evaluate's checks -------------------------------------------------------------

bool NodeStatistics::Check(const NodeCells& cells, int& titleParam, int& statusParam) {
  strStatistics.clear();
  if (!stats_.ScreenThresholdEnable) {
    for (int i = 1; i <= 4; ++i) HideLabel(i);
    titleParam = 0;
    statusParam = -1;
    return false;
  }
  std::int32_t max = -1, min = -1, average = -1, spread = -1;
  Gather(cells, 0, max, min, average, &spread);
  bool touchNg = false;
  const bool labels = (stats_.ViewMode & ViewModeBit::LABELS) != 0;
  char text[96];

  auto report = [&](int label, bool ng, Rgb okColour) {
    const Rgb colour = ng ? kRed : okColour;
    if (labels) ShowLabel(label, text, colour);
    strStatistics.append(text);
  };

  if (stats_.RawdataMaxEnable) {
    const bool ng = max > stats_.RawdataMax;
    std::snprintf(text, sizeof text, ng ? "最大值=%d(NG) " : "最大值=%d ", static_cast<int>(max));
    touchNg = touchNg || ng;
    report(1, ng, kBlue);
  } else {
    HideLabel(1);
  }
  if (stats_.RawdataMinEnable) {
    const bool ng = min < stats_.RawdataMin;
    std::snprintf(text, sizeof text, ng ? "最小值=%d(NG) " : "最小值=%d ", static_cast<int>(min));
    touchNg = touchNg || ng;
    report(2, ng, kBlue);
  } else {
    HideLabel(2);
  }
  const std::int64_t range = static_cast<std::int64_t>(max) - min;
  if (stats_.RawdataRangeEnable) {
    const bool ng = range > stats_.RawdataRange;
    std::snprintf(text, sizeof text, ng ? "最大-最小值=%" PRId64 "(NG) " : "最大-最小值=%" PRId64 " ", range);
    touchNg = touchNg || ng;
    report(3, ng, kBlue);
  } else {
    HideLabel(3);
  }
  if (stats_.RawdataRangeDiscardVarianceEnable && range <= stats_.RawdataRangeDiscardVariance) {
    std::snprintf(text, sizeof text, "均方差=%d(忽略) ", static_cast<int>(spread));
    report(4, false, kGrey);
  } else if (stats_.RawdataVarianceEnable) {
    const bool ng = spread > stats_.RawdataVariance;
    std::snprintf(text, sizeof text, ng ? "均方差=%d(NG) " : "均方差=%d ", static_cast<int>(spread));
    touchNg = touchNg || ng;
    report(4, ng, kBlue);
  } else {
    HideLabel(4);
  }
  if (!labels)
    for (int i = 1; i <= 4; ++i) HideLabel(i);

  titleParam = (stats_.ViewMode & ViewModeBit::TITLE) ? 1 : 0;
  statusParam = (stats_.ViewMode & ViewModeBit::STATUS) ? 1 : 0;
  return touchNg;
}

// ---- Labels ------------------------------------------------------------------------

void NodeStatistics::SetLabel(int index, const std::string& text, bool shown, Rgb textColour, Rgb background) {
  if (index < 1 || index > 4) return;
  GridLabel& label = labels_[static_cast<std::size_t>(index - 1)];
  label.strText.assign(text);
  label.bShown = shown;
  label.crText = textColour;
  label.crBack = background;
}

const GridLabel& NodeStatistics::Label(int index) const {
  static const GridLabel kNone{};
  if (index < 1 || index > 4) return kNone;
  return labels_[static_cast<std::size_t>(index - 1)];
}

void NodeStatistics::ShowLabel(int index, const char* text, Rgb colour) {
  GridLabel& label = labels_[static_cast<std::size_t>(index - 1)];
  label.strText.assign(text);
  label.bShown = true;
  label.crText = colour;
  label.crBack = kWhite;
}

void NodeStatistics::HideLabel(int index) {
  GridLabel& label = labels_[static_cast<std::size_t>(index - 1)];
  label.strText.clear();
  label.bShown = false;
}

}  // namespace varnex2::judging
