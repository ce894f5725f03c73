#include "judging/node_map.h"

namespace varnex2::judging {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

}  // namespace

NodeMap::NodeMap() = default;

void NodeMap::SetListener(NodeMapListener* listener) {
  Lock lock(mutex_);
  listener_ = listener;
}

ColourRanges NodeMap::Ranges() const {
  return ColourRanges{judge_.TestModeFlags(), judge_.TouchLow(), judge_.TouchHigh(), judge_.LegacySampleLow(),
                      judge_.LegacySampleHigh()};
}

void NodeMap::Recolour(bool flagsPending) { display_.UpdateColours(cells_, Ranges(), flagsPending); }

// ---- Size, values, offsets, percentages ------------------------------------------

void NodeMap::SetGridSize(int columns, int rows) {
  if (columns < 0 || rows < 0 || columns > kMaxLines || rows > kMaxLines) return;
  Lock lock(mutex_);
  cells_.Resize(columns, rows);
  judge_.Resize(columns, rows);
  judge_.RefreshPercentFactors(cells_);
  display_.Resize(cells_.Nodes());
  display_.Layout(cells_);
  Recolour();
}

int NodeMap::Columns() const {
  Lock lock(mutex_);
  return cells_.Columns();
}
int NodeMap::Rows() const {
  Lock lock(mutex_);
  return cells_.Rows();
}
bool NodeMap::IsEmpty() const {
  Lock lock(mutex_);
  return cells_.Nodes() == 0;
}

void NodeMap::FillValues(std::int32_t value) {
  Lock lock(mutex_);
  cells_.FillValues(value);
  judge_.ClearNodeVerdicts();
  Recolour();
}

void NodeMap::SetAllOffsets(std::int32_t offset) {
  Lock lock(mutex_);
  cells_.SetAllOffsets(offset);
  judge_.ClearNodeVerdicts();
  Recolour();
}

void NodeMap::SetAllPercent(double percent) {
  Lock lock(mutex_);
  cells_.SetAllPercent(percent);
  judge_.RefreshPercentFactors(cells_);
  Recolour();
}

void NodeMap::SetNodePercent(int col, int row, double percent) {
  Lock lock(mutex_);
  if (cells_.SetNodePercent(col, row, percent)) judge_.RefreshPercentFactors(cells_);
}

int NodeMap::GetNodePercent(int col, int row) const {
  Lock lock(mutex_);
  return cells_.GetNodePercent(col, row);
}

void NodeMap::SetPercentInRect(int col1, int row1, int col2, int row2, double percent, std::int32_t skipMask) {
  Lock lock(mutex_);
  if (cells_.SetPercentInRect(col1, row1, col2, row2, percent, skipMask)) judge_.RefreshPercentFactors(cells_);
}

void NodeMap::SetPercentArray(const NodeFrame& percents) {
  Lock lock(mutex_);
  cells_.SetPercentArray(percents);
  judge_.RefreshPercentFactors(cells_);
}

NodeFrame NodeMap::GetPercentArray() const {
  Lock lock(mutex_);
  return cells_.GetPercentArray();
}
NodeFrame NodeMap::GetRawFrame() const {
  Lock lock(mutex_);
  return cells_.GetRawFrame();
}
NodeFrame NodeMap::GetFlagsFrame() const {
  Lock lock(mutex_);
  return cells_.GetFlagsFrame();
}

// ---- Thresholds and limits -----------------------------------------------------------

void NodeMap::SetTouchThresholds(std::int32_t low, std::int32_t high) {
  Lock lock(mutex_);
  judge_.SetTouchThresholds(low, high);
  Recolour();
}

void NodeMap::SetKeyThresholds(std::int32_t low, std::int32_t high) {
  Lock lock(mutex_);
  judge_.SetKeyThresholds(low, high);
}

std::int32_t NodeMap::TouchHigh() const {
  Lock lock(mutex_);
  return judge_.TouchHigh();
}
std::int32_t NodeMap::TouchLow() const {
  Lock lock(mutex_);
  return judge_.TouchLow();
}
std::int32_t NodeMap::KeyHigh() const {
  Lock lock(mutex_);
  return judge_.KeyHigh();
}
std::int32_t NodeMap::KeyLow() const {
  Lock lock(mutex_);
  return judge_.KeyLow();
}
void NodeMap::SetUpperLimits(const NodeFrame& limits) {
  Lock lock(mutex_);
  judge_.SetUpperLimits(limits);
}
void NodeMap::SetLowerLimits(const NodeFrame& limits) {
  Lock lock(mutex_);
  judge_.SetLowerLimits(limits);
}
const NodeFrame& NodeMap::UpperLimits() const {
  Lock lock(mutex_);
  return judge_.UpperLimits();
}
const NodeFrame& NodeMap::LowerLimits() const {
  Lock lock(mutex_);
  return judge_.LowerLimits();
}

void NodeMap::SetLegacySampleRange(std::int32_t low, std::int32_t high) {
  Lock lock(mutex_);
  judge_.SetLegacySampleRange(low, high);
}

std::int32_t NodeMap::LegacySampleLow() const {
  Lock lock(mutex_);
  return judge_.LegacySampleLow();
}
std::int32_t NodeMap::LegacySampleHigh() const {
  Lock lock(mutex_);
  return judge_.LegacySampleHigh();
}

// ---- Modes and result word ---------------------------------------------------------------

void NodeMap::SetTestModeFlags(std::int32_t flags) {
  Lock lock(mutex_);
  judge_.SetTestModeFlags(flags);
}
std::int32_t NodeMap::TestModeFlags() const {
  Lock lock(mutex_);
  return judge_.TestModeFlags();
}
void NodeMap::SetCheckEnables(std::int32_t enables) {
  Lock lock(mutex_);
  judge_.SetCheckEnables(enables);
}
std::int32_t NodeMap::CheckEnables() const {
  Lock lock(mutex_);
  return judge_.CheckEnables();
}
void NodeMap::SetResultFlags(std::int32_t flags) {
  Lock lock(mutex_);
  judge_.SetResultFlags(flags);
}
std::int32_t NodeMap::ResultFlags() const {
  Lock lock(mutex_);
  return judge_.ResultFlags();
}

// ---- Areas ---------------------------------------------------------------------------------

void NodeMap::ClearAreas() {
  Lock lock(mutex_);
  cells_.ClearAreas();
}

void NodeMap::AddArea(int xStart, int yStart, int xCount, int yCount, int index) {
  Lock lock(mutex_);
  cells_.AddArea(xStart, yStart, xCount, yCount, index);
}

int NodeMap::AppendArea(const GridArea& area) {
  Lock lock(mutex_);
  return cells_.AppendArea(area);
}

void NodeMap::SetAreaThresholds(std::int32_t high, std::int32_t low, int index) {
  Lock lock(mutex_);
  cells_.SetAreaThresholds(high, low, index);
}

bool NodeMap::GetAreaRect(int index, int& xStart, int& yStart, int& xCount, int& yCount) const {
  Lock lock(mutex_);
  return cells_.GetAreaRect(index, xStart, yStart, xCount, yCount);
}

const std::vector<GridArea>& NodeMap::Areas() const {
  Lock lock(mutex_);
  return cells_.Areas();
}
int NodeMap::AreaCount() const {
  Lock lock(mutex_);
  return static_cast<int>(cells_.Areas().size());
}
GridArea* NodeMap::MutableArea(int index) {
  Lock lock(mutex_);
  return cells_.MutableArea(index);
}

bool NodeMap::AreaLineRange(int index, int& colFirst, int& colLast, int& rowFirst, int& rowLast) const {
  Lock lock(mutex_);
  return cells_.AreaLineRange(index, colFirst, colLast, rowFirst, rowLast);
}

// ---- Flags and groups ------------------------------------------------------------------------

void NodeMap::SetNodeFlags(int col1, int row1, int col2, int row2, std::int32_t value, std::int32_t skipMask,
                           FlagOp op) {
  Lock lock(mutex_);
  cells_.SetNodeFlags(col1, row1, col2, row2, value, skipMask, op);
}

void NodeMap::SetAllNodeFlags(std::int32_t value, FlagOp op) {
  Lock lock(mutex_);
  cells_.SetAllNodeFlags(value, op);
}
std::int32_t NodeMap::GetNodeFlags(int col, int row) const {
  Lock lock(mutex_);
  return cells_.GetNodeFlags(col, row);
}

void NodeMap::SetNodeGroup(int col1, int row1, int col2, int row2, int group) {
  Lock lock(mutex_);
  cells_.SetNodeGroup(col1, row1, col2, row2, group);
}

bool NodeMap::StampAreaGroup(int index, int group) {
  Lock lock(mutex_);
  return cells_.StampAreaGroup(index, group);
}
int NodeMap::GetNodeGroup(int col, int row) const {
  Lock lock(mutex_);
  return cells_.GetNodeGroup(col, row);
}

// ---- Display -----------------------------------------------------------------------------------

void NodeMap::SetDisplayStyle(int style) {
  Lock lock(mutex_);
  display_.SetDisplayStyle(style);
  Recolour();
}

int NodeMap::GetDisplayStyle() const {
  Lock lock(mutex_);
  return display_.DisplayStyle();
}

void NodeMap::UpdateColours() {
  Lock lock(mutex_);
  Recolour();
}

// The palette never changes after construction.
const std::array<Rgb, kPaletteSize>& NodeMap::Palette() const { return display_.Palette(); }
std::int32_t NodeMap::LegendMin() const {
  Lock lock(mutex_);
  return display_.LegendMin();
}
std::int32_t NodeMap::LegendMax() const {
  Lock lock(mutex_);
  return display_.LegendMax();
}
std::int32_t NodeMap::LegendMid() const {
  Lock lock(mutex_);
  return display_.LegendMid();
}
void NodeMap::SetLineNumberBase(int base) {
  Lock lock(mutex_);
  display_.SetLineNumberBase(base);
}
int NodeMap::LineNumberBase() const {
  Lock lock(mutex_);
  return display_.LineNumberBase();
}
void NodeMap::SetFrozen(bool frozen) {
  Lock lock(mutex_);
  display_.SetFrozen(frozen);
}
bool NodeMap::IsFrozen() const {
  Lock lock(mutex_);
  return display_.Frozen();
}

void NodeMap::SetShowHeaders(bool show) {
  Lock lock(mutex_);
  display_.SetShowHeaders(show);
  display_.Layout(cells_);
}

bool NodeMap::ShowHeaders() const {
  Lock lock(mutex_);
  return display_.ShowHeaders();
}

// ---- Layout and hit-testing ---------------------------------------------------------------------

void NodeMap::Layout(int clientWidth, int clientHeight) {
  Lock lock(mutex_);
  display_.SetClientSize(clientWidth, clientHeight);
  if (display_.ShowHeaders()) cells_.RebuildLines();
  display_.Layout(cells_);
}

Rect NodeMap::ClientRect() const {
  Lock lock(mutex_);
  return display_.ClientRect();
}
int NodeMap::HeaderWidth() const {
  Lock lock(mutex_);
  return display_.HeaderWidth();
}
int NodeMap::HeaderHeight() const {
  Lock lock(mutex_);
  return display_.HeaderHeight();
}
Rect NodeMap::LegendRect() const {
  Lock lock(mutex_);
  return display_.LegendRect();
}

NodePos NodeMap::HitTest(int x, int y, bool visibleOnly) const {
  Lock lock(mutex_);
  return NodeDisplay::HitTest(cells_, x, y, visibleOnly);
}

const GridCell& NodeMap::Cell(int col, int row) const {
  Lock lock(mutex_);
  return cells_.Cell(col, row);
}
const std::vector<GridLine>& NodeMap::ColumnLines() const {
  Lock lock(mutex_);
  return cells_.ColumnLines();
}
const std::vector<GridLine>& NodeMap::RowLines() const {
  Lock lock(mutex_);
  return cells_.RowLines();
}

// ---- Labels --------------------------------------------------------------------------------------

void NodeMap::SetLabel(int index, const std::string& text, bool shown, Rgb textColour, Rgb background) {
  Lock lock(mutex_);
  statistics_.SetLabel(index, text, shown, textColour, background);
}

void NodeMap::SetNoticeLabel(const std::string& text, bool shown, Rgb textColour, Rgb background) {
  Lock lock(mutex_);
  display_.SetNoticeLabel(text, shown, textColour, background);
}

const GridLabel& NodeMap::StatisticsLabel(int index) const {
  Lock lock(mutex_);
  return statistics_.Label(index);
}
const GridLabel& NodeMap::NoticeLabel() const {
  Lock lock(mutex_);
  return display_.NoticeLabel();
}

// ---- Statistics --------------------------------------------------------------------------------------

void NodeMap::SetStatisticsSettings(const StatisticsSettings& settings) {
  Lock lock(mutex_);
  statistics_.Settings() = settings;
}

StatisticsSettings NodeMap::GetStatisticsSettings() const {
  Lock lock(mutex_);
  return statistics_.Settings();
}

#define VARNEX2_STAT_ACCESSORS(Type, Name) \
  void NodeMap::Set##Name(Type v) {        \
    Lock lock(mutex_);                     \
    statistics_.Settings().Name = v;       \
  }                                        \
  Type NodeMap::Get##Name() const {        \
    Lock lock(mutex_);                     \
    return statistics_.Settings().Name;    \
  }

VARNEX2_STAT_ACCESSORS(bool, ScreenThresholdEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, RawdataMax)
VARNEX2_STAT_ACCESSORS(bool, RawdataMaxEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, RawdataMin)
VARNEX2_STAT_ACCESSORS(bool, RawdataMinEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, RawdataRange)
VARNEX2_STAT_ACCESSORS(bool, RawdataRangeEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, RawdataVariance)
VARNEX2_STAT_ACCESSORS(bool, RawdataVarianceEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, RawdataRangeDiscardVariance)
VARNEX2_STAT_ACCESSORS(bool, RawdataRangeDiscardVarianceEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, ViewMode)

#undef VARNEX2_STAT_ACCESSORS

bool NodeMap::GetStatistics(int area, std::int32_t& max, std::int32_t& min, std::int32_t& average,
                            std::int32_t& spread) const {
  Lock lock(mutex_);
  return statistics_.Gather(cells_, area, max, min, average, &spread);
}

bool NodeMap::GetStatisticsBrief(int area, std::int32_t& max, std::int32_t& min, std::int32_t& average) const {
  Lock lock(mutex_);
  return statistics_.Gather(cells_, area, max, min, average, nullptr);
}

std::string NodeMap::StatisticsText() const {
  Lock lock(mutex_);
  return statistics_.Text();
}

// ---- Judging ------------------------------------------------------------------------------------------

void NodeMap::Evaluate(const NodeFrame& frame) {
  if (frame.Columns() <= 0) return;
  int titleParam = 0;
  int statusParam = -1;  // -1: not posted
  NodeMapListener* listener = nullptr;
  {
    Lock lock(mutex_);
    judge_.Judge(cells_, frame);
    if (statistics_.Check(cells_, titleParam, statusParam)) judge_.AddResultFlags(ResultFlag::TOUCH_NG);
    // Copies the new flags to the nodes along with their colours.
    Recolour(true);
    listener = listener_;
  }
  // Posted, never waited for: notify after the lock is released.
  if (listener) {
    listener->OnShowTitleStats(titleParam);
    if (statusParam >= 0) listener->OnShowStatusStats(statusParam);
  }
}

void NodeMap::MarkPinFault(int result, int type, int rowLine, int colLine) {
  Lock lock(mutex_);
  judge_.MarkPinFault(cells_, result, type, rowLine, colLine);
}

// ---- Verdict counting ------------------------------------------------------------------------------------

const char* NodeMap::VerdictFor(std::int32_t resultFlags) { return VerdictCounter::VerdictFor(resultFlags); }

const std::string& NodeMap::FixVerdict() {
  Lock lock(mutex_);
  return verdict_.Fix(judge_.ResultFlags());
}

void NodeMap::CountVerdict() {
  Lock lock(mutex_);
  verdict_.Count();
}
std::string NodeMap::GetVerdictText() const {
  Lock lock(mutex_);
  return verdict_.Text();
}
std::string NodeMap::LastVerdict() const {
  Lock lock(mutex_);
  return verdict_.Last();
}
std::int32_t NodeMap::GetColorGridCounterPass() const {
  Lock lock(mutex_);
  return verdict_.PassCount();
}
std::int32_t NodeMap::GetColorGridCounterFail() const {
  Lock lock(mutex_);
  return verdict_.FailCount();
}
void NodeMap::SetTestRunning(bool running) { verdict_.SetTestRunning(running); }
bool NodeMap::TestRunning() const { return verdict_.TestRunning(); }
void NodeMap::SetCountingPaint(bool counting) { verdict_.SetCountingPaint(counting); }

// ---- Texts of flags -------------------------------------------------------------------------------------

std::string NodeMap::NodeLabelText(std::int32_t flags) { return NodeDisplay::NodeLabelText(flags); }
char NodeMap::OverlayLetter(std::int32_t flags) { return NodeDisplay::OverlayLetter(flags); }

}  // namespace varnex2::judging
