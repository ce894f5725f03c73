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

// CScannerSettingDlg: the barcode scanner and the record file.
inline constexpr const char* kScannerTitle = "扫描枪设置";
inline constexpr const char* kScannerNotice =
    "说明：此设置界面仅用于设置扫描枪启动自动存储测试结果的功能，如无必要请勿开启此功能。\n"
    "在键盘侦测模式下由于启用了全局键盘钩子技术，若杀毒软件报错，请关闭杀毒软件。";
inline constexpr const char* kScannerConnectGroup = "扫描枪接入方式";
inline constexpr const char* kScannerTriggerGroup = "测试触发方式";
inline constexpr const char* kScannerFileModeGroup = "文件记录方式";
inline constexpr const char* kScannerFileFormatGroup = "文件记录格式";
inline constexpr const char* kUsbKeyboard = "USB键盘(USB Keyboard)";
inline constexpr const char* kHidModeGlobalHook = "键盘侦测";
inline constexpr const char* kHidModeForeground = "程序置顶有效";
inline constexpr const char* kUsbSerial = "USB虚拟串口(USB COM)";
inline constexpr const char* kTriggerControlChar = "控制符方式";
inline constexpr const char* kTriggerCrLf = "回车换行 CRLF";
inline constexpr const char* kTriggerCr = "回车 CR";
inline constexpr const char* kTriggerTab = "制表符 TAB";
inline constexpr const char* kTriggerSpace = "空格 SPACE";
inline constexpr const char* kTriggerPattern = "文本格式比对方式(支持正则表达式)";
inline constexpr const char* kFileDaily = "单一文件，追加测试结果存储至文件末尾。";
inline constexpr const char* kFilePerRecord = "独立文件，文件名称按格式存储。";
inline constexpr const char* kRecordCounter = "测试计数";
inline constexpr const char* kRecordProductModel = "测试产品型号";
inline constexpr const char* kRecordScannerResult = "扫描枪数据";
inline constexpr const char* kRecordTestResult = "测试结果";
inline constexpr const char* kRecordOnlyPass = "只保留PASS";
inline constexpr const char* kRecordOnlyFail = "只保留FAIL";
inline constexpr const char* kRecordSummary = "测试简报";
inline constexpr const char* kRecordRawdata = "测试原始采样数据";
inline constexpr const char* kRecordTestTime = "测试时间（年月日-时分秒）";
inline constexpr const char* kRecordAdditionalInfo = "其它自定义信息（操作员，工号等）";
// Shown when the control-character trigger is chosen while the global keyboard hook is on.
inline constexpr const char* kGlobalHookControlCharWarning =
    "警告:在键盘侦测模式下并启用控制符方式，会导致即使软件最小化，操作键盘会触发测试记录动作。\r\n"
    "如无必要，建议设置为字符串匹配触发，或者程序置顶模式！";
// OK refuses a counter that is not an unsigned 32-bit decimal number.
inline constexpr const char* kCounterNotDecimal = "测试计数必须是0到4294967295之间的十进制数";
// OK refuses a text over its byte limit: %1 the field, %2 the limit, %3 the text's size.
inline constexpr const char* kTextTooLong = "“%1”最多%2字节（UTF-8），现有%3字节";
inline constexpr const char* kTriggerStringName = "触发字符串";
inline constexpr const char* kFilenameFormatName = "文件名称格式";
inline constexpr const char* kProductModelName = "测试产品型号";
inline constexpr const char* kAdditionalInfoName = "其它自定义信息";

// CUserMenuEdit: the file-name pattern's pop-up menu.
inline constexpr const char* kTokenCounter = "{测试计数}";
inline constexpr const char* kTokenProductModel = "{产品型号}";
inline constexpr const char* kTokenScannerData = "{扫描枪数据}";
inline constexpr const char* kTokenTestResult = "{测试结果}";
inline constexpr const char* kTokenTestTime = "{测试时间}";
inline constexpr const char* kEditCut = "剪贴";
inline constexpr const char* kEditCopy = "复制";
inline constexpr const char* kEditPaste = "粘贴";
inline constexpr const char* kEditClear = "清空";

}  // namespace varnex2::dialogs::texts
