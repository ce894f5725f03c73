#pragma once
// The operator-facing texts of the set-up dialogs, gathered in one place so that a
// translation can be added later. UTF-8; turn them into QString with QString::fromUtf8.

namespace varnex2::dialogs::texts {

// Buttons shared by several dialogs.
inline constexpr const char* kOk = "OK";
inline constexpr const char* kCancel = "Cancel";

// A text that is not a 32-bit integer; %1 is the field's label (without a trailing colon).
inline constexpr const char* kNotAnInteger = "请在“%1”中输入一个整数（-2147483648 到 2147483647）";
// A number outside the range the field can hold; %1 the label, %2 and %3 the bounds.
inline constexpr const char* kOutOfRange = "请在“%1”中输入 %2 到 %3 之间的整数";

// GroupSetting: an area's thresholds and gain.
inline constexpr const char* kGroupDialogName = "参数设定";
inline constexpr const char* kGroupTitleDefault = "触摸屏参数设置(默认)";
inline constexpr const char* kGroupTitleTouch = "触摸屏参数设置";
inline constexpr const char* kGroupTitleKey = "按键参数设置";
inline constexpr const char* kGroupTitleUnknown = "无法识别";
inline constexpr const char* kUpperThreshold = "阈值上限";
inline constexpr const char* kLowerThreshold = "阈值下限";
inline constexpr const char* kGain = "增益";
inline constexpr const char* kGroupOk = "确认";
inline constexpr const char* kGroupCancel = "放弃";
inline constexpr const char* kLowerNotBelowUpper = "阈值下限不能大于阈值上限";
inline constexpr const char* kGainOutOfRange = "增益不能大于255或者为负数";

// CCellParaSettingDlg: one node's own limits.
inline constexpr const char* kCellTitle = "手动单独修改上下限";
inline constexpr const char* kSampleValue = "采样值";

// CAdjacentDlg: adjacent-point percentages.
inline constexpr const char* kAdjacentTitleNode = "相邻点数据比较(单点设置)";
inline constexpr const char* kAdjacentTitleAll = "相邻点数据比较(所有触摸区域设置)";
inline constexpr const char* kAdjacentTitleRect = "相邻点数据比较(所选区域设置)";
inline constexpr const char* kAdjacentGroup = "参数设置";
inline constexpr const char* kAdjacentExplanation =
    "所选区内所有的点与这个点相邻周围点的数据偏差监控，若相邻点超出当前点的百分比上下限，"
    "即监控偏差超出设置范围，不能出PASS。对于水滴屏圆角位置，可以单独设置点的百分比。";
inline constexpr const char* kPercent = "百分比";
// Scope texts: the node, or the rectangle's two corners ("tx" a Y line, "rx" an X line).
inline constexpr const char* kAdjacentNodeScope = "当前选择点(tx=%1,rx=%2)";
inline constexpr const char* kAdjacentRectScope = "当前选择范围(tx=%1,rx=%2)-(tx=%3,rx=%4)";

// CMaxMinDlg: screen-level limits and display switches.
inline constexpr const char* kMaxMinTitle = "最大最小值限定";
inline constexpr const char* kMaxMinLimitsGroup = "阈值";
inline constexpr const char* kMaxMinViewGroup = "显示";
inline constexpr const char* kRawdataMax = "屏幕数据不大于(最大值)";
inline constexpr const char* kRawdataMin = "屏幕数据不小于(最小值)";
inline constexpr const char* kRawdataRange = "幅度不大于（最大值减去最小值）";
inline constexpr const char* kRawdataRangeDiscardVariance = "幅度小于数值，忽略方差";
inline constexpr const char* kRawdataVariance = "方差（平整度）";
inline constexpr const char* kViewArea = "显示区域";
inline constexpr const char* kViewTitleBar = "程序标题栏";
inline constexpr const char* kViewStatusBar = "状态栏";

// CPlaceTriggerDlg: product-placement threshold.
inline constexpr const char* kTriggerTitle = "设定产品放置阈值对话框";
inline constexpr const char* kTriggerStatistics = "当前采样值:";
inline constexpr const char* kTriggerLevel = "设定有产品放置阈值:";
inline constexpr const char* kStableFrames = "稳定帧数:";
inline constexpr const char* kTriggerOk = "确定";
inline constexpr const char* kTriggerCancel = "取消";

}  // namespace varnex2::dialogs::texts
