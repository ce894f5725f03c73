#pragma once
// Command ids of the station window's menus (the main menu and the node map's
// context menu). Every QAction carries its id as its data.

namespace varnex2::app::menu {

inline constexpr int kAboutBox = 16;  // "关于 Varnex2(&A)..."

// 文件
inline constexpr int kOpenFile = 32856;
inline constexpr int kSaveFile = 32857;
// 编辑
inline constexpr int kMaxMinLimits = 32861;
inline constexpr int kSampleLimits = 32797;
inline constexpr int kEnableSampleLimits = 32802;
inline constexpr int kAdjacent = 32851;
inline constexpr int kEnableAdjacent = 32853;
inline constexpr int kLineNumberBase = 32822;
inline constexpr int kPlacementThreshold = 32906;
// 工具
inline constexpr int kGlobalGain = 32806;
inline constexpr int kShieldlessGain = 32837;
inline constexpr int kBuzzerEnable = 32901;
inline constexpr int kBuzzerInvert = 32902;
inline constexpr int kLampEnable = 32903;
inline constexpr int kLampInvert = 32904;
inline constexpr int kScanner = 32815;
// 帮助
inline constexpr int kAbout = 32794;
inline constexpr int kWebSite = 32804;
inline constexpr int kUpdate = 32808;
inline constexpr int kVideoBasics = 32845;
inline constexpr int kVideoConnect = 32846;
inline constexpr int kVideoSample = 32847;
inline constexpr int kVideoAdjacent = 32848;
inline constexpr int kFirmwareTutorial = 32858;
// Context menu of the node map
inline constexpr int kTouchArea = 32780;
inline constexpr int kKeyArea = 32781;
inline constexpr int kMarkRegion = 32782;
inline constexpr int kResetDefaults = 32783;
inline constexpr int kStyleColour = 32790;  // 32790..32793: display styles 0..3
inline constexpr int kStyleMono = 32791;
inline constexpr int kStyleText = 32792;
inline constexpr int kStyleBackground = 32793;
inline constexpr int kCaptureFrame = 32812;
inline constexpr int kDiffMode = 32863;

}  // namespace varnex2::app::menu
