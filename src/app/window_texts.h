#pragma once
// The station window's operator-facing texts, each defined once and gathered for a
// later translation. Texts the core shows as well (titles, pane texts) are the
// core's own (station/station_texts.h).

#include "station/station_texts.h"

namespace varnex2::app::texts {

using station::texts::kPaneDisconnected;
using station::texts::kPaneSystem;
using station::texts::kTitleDisconnected;

// Top-level menus and sub-menus.
inline constexpr const char* kMenuFile = "文件(&F)";
inline constexpr const char* kMenuEdit = "编辑(&E）";
inline constexpr const char* kMenuTools = "工具(&T)";
inline constexpr const char* kMenuHelp = "帮助(&H)";
inline constexpr const char* kMenuBuzzer = "蜂鸣器";
inline constexpr const char* kMenuLamp = "指示灯";
inline constexpr const char* kMenuTutorials = "使用帮助";
inline constexpr const char* kMenuStyle = "显示风格";

// Command items (ids in menu_ids.h).
inline constexpr const char* kAboutBox = "关于 Varnex2(&A)...";
inline constexpr const char* kOpenFile = "打开文件(O&pen)";
inline constexpr const char* kSaveFile = "保存文件(S&ave)";
inline constexpr const char* kMaxMinLimits = "最大最小值限定";
inline constexpr const char* kSampleLimits = "样本上下限比对设定(&A）";
inline constexpr const char* kEnableSampleLimits = "使能样本上下限比对设定(&E)";
inline constexpr const char* kAdjacent = "相邻点数据比较";
inline constexpr const char* kEnableAdjacent = "使能相邻点数据比较";
inline constexpr const char* kLineNumberBase = "序号起始从1开始";
inline constexpr const char* kPlacementThreshold = "指示阈值设定";
inline constexpr const char* kGlobalGain = "全局增益设定(&C)";
inline constexpr const char* kShieldlessGain = "单层膜Sensor设定(&S)";
inline constexpr const char* kEnable = "使能";  // under "蜂鸣器" and under "指示灯"
inline constexpr const char* kInvert = "反转";  // under "蜂鸣器" and under "指示灯"
inline constexpr const char* kScanner = "扫描枪(&S)";
inline constexpr const char* kVideoBasics = "基本操作视频教程";
inline constexpr const char* kVideoConnect = "连接方法视频教程";
inline constexpr const char* kVideoSample = "样本比对功能视频教程";
inline constexpr const char* kVideoAdjacent = "相邻点比对功能视频教程";
inline constexpr const char* kFirmwareTutorial = "固件恢复教程";
inline constexpr const char* kWebSite = "网址(&U)";
inline constexpr const char* kUpdate = "软件升级(P)";
inline constexpr const char* kAbout = "关于（&A）";
inline constexpr const char* kTouchArea = "触摸屏区域设置(&T)";
inline constexpr const char* kKeyArea = "按键区域设置(&K)";
inline constexpr const char* kMarkRegion = "定义标记区域(&M)";
inline constexpr const char* kResetDefaults = "恢复默认(&D)";
inline constexpr const char* kStyleColour = "彩色";
inline constexpr const char* kStyleMono = "单色";
inline constexpr const char* kStyleText = "文本";
inline constexpr const char* kStyleBackground = "背景";
inline constexpr const char* kCaptureFrame = "抓取当前帧数据";
inline constexpr const char* kDiffMode = "差值模式";

// The tip of a command whose dialog or tool this build does not have yet.
inline constexpr const char* kNotAvailable = "此功能尚未提供";
inline constexpr const char* kNoTouchArea = "请您先设置触摸屏区域！";
inline constexpr const char* kPlacementStatisticsFormat = "最大值=%d,最小值=%d,平均值=%d";

// File dialogs: filter and default extension.
inline constexpr const char* kDataFileFilter = "数据文件(*.csv)";
inline constexpr const char* kDataFileSuffix = "csv";
inline constexpr const char* kConfigFileFilter = "配置文件(*.xml)";
inline constexpr const char* kConfigFileSuffix = "xml";

// The simulated box's buzzer output beside the status panes.
inline constexpr const char* kBuzzerSounding = "蜂鸣器 响";
inline constexpr const char* kBuzzerQuiet = "蜂鸣器 静";

// In front of the title while the box is simulated.
inline constexpr const char* kSimulatedPrefix = "【模拟】";

// Start-up of the program.
inline constexpr const char* kAlreadyRunning = "已经运行了一个程序，禁止同时开启两个相同的程序!";
inline constexpr const char* kUnknownArgument = "错误：未知参数命令！";
// A tool's window asked for where no display is (this station's own text).
inline constexpr const char* kToolNeedsDisplay =
    "没有可用的图形界面，无法打开窗口。无界面时请用 varnex2 test --run 或 varnex2 recover --switch=old|new。";

}  // namespace varnex2::app::texts
