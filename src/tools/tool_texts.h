#pragma once
// The operator-facing texts of the Help menu's tools, each defined once.

namespace varnex2::tools::texts {

// DownloadFile's result codes.
inline constexpr const char* kDownloadOk = "下载成功！";
inline constexpr const char* kDownloadBadAddress = "不正确！";
inline constexpr const char* kDownloadConnectFailed = "建立网络连接失败！";
inline constexpr const char* kDownloadRequestFailed = "向服务器发起GET请求失败！";
inline constexpr const char* kDownloadRefused = "服务器不接受请求！";
inline constexpr const char* kDownloadNoAddress = "参数一不能为空！";
inline constexpr const char* kDownloadNoFileName = "参数二不能为空！";
inline constexpr const char* kDownloadFileFailed = "保存文件时创建或写入文件失败！";
inline constexpr const char* kDownloadUnknown = "未知错误！";

// The update check.
inline constexpr const char* kBadVersion = "错误的版本号!";
inline constexpr const char* kNewVersionFound = "发现新版本，将会自动下载到本程序同路径！\r\n";
inline constexpr const char* kUpToDate = "当前为最新版本，无需升级！";
// No update server address in the settings (this station's own text).
inline constexpr const char* kNoUpdateServer =
    "未设置升级服务器地址，无法检查新版本。\r\n请在设置文件中设置 [Software\\Varnx2\\Update] \"BaseUrl\"。";
// The new program's name from the server would leave the working directory or replace the
// running program (this station's own text, after the code's text).
inline constexpr const char* kUnsafeFileName = "服务器给出的文件名“%1”无效，未下载。";

// The About window.
inline constexpr const char* kAboutTitle = "关于";
inline constexpr const char* kAboutCaption = "通用触摸屏测试系统";
inline constexpr const char* kFirmwareVersion = "固件版本";
inline constexpr const char* kSoftwareVersion = "软件版本";
inline constexpr const char* kHistoryNumber = "版次";
inline constexpr const char* kHistoryDate = "发布时间";
inline constexpr const char* kHistoryVersion = "版本号";
inline constexpr const char* kHistoryNote = "说明";
inline constexpr const char* kAboutClose = "已阅";

// The help entries and the vendor site.
inline constexpr const char* kNoVendorSite = "未设置有效的供应商或者该供应商没有有效的网站链接！";
// A guide that is not installed (this station's own text).
inline constexpr const char* kGuideMissing = "找不到帮助文档“%1”。\r\n请检查程序的安装（帮助文档位于 %2）。";

// The self-test window.
inline constexpr const char* kSelfTestStart = "测试";
inline constexpr const char* kSelfTestAbort = "强制终止测试";
inline constexpr const char* kSelfTestFixture = "使用测试治具进行测试";
// "测试" pressed while an aborted run is still ending its step (this station's own text).
inline constexpr const char* kSelfTestStillEnding = "上一次测试仍在结束当前步骤，请稍候再按“测试”。";
// The firmware-generation switch window (its results are the service library's texts).
inline constexpr const char* kSwitchToOld = "切换为老版本";
inline constexpr const char* kSwitchToNew = "切换为新版本";
// Device changes cannot be followed (three spaces, the self-test and switch windows say so).
inline constexpr const char* kDeviceNotificationFailed = "RegisterDeviceNotification   failed";
// ---- The gain dialogs (global gain T46, single-layer sensor T56) ----
inline constexpr const char* kGainTitle = "高阶增益设置";
inline constexpr const char* kGainEnable = "增益设置使能";
inline constexpr const char* kXDriveVoltage = "X驱动电压调整";
inline constexpr const char* kAdcGain = "ADC 增益控制";
inline constexpr const char* kRestartCaption = "请注意设备将自动重启！";
inline constexpr const char* kRestartText =
    "增益调整后需要重新插拔USB才能生效！软件将自动重新插拔设备，请不要关掉软件！\r\n"
    "如发生错误请先关闭软件，等待15秒后再插拔一次USB，然后再开启测试软件！";
inline constexpr const char* kShieldlessEnable = "单层膜高级设定使能";
inline constexpr const char* kCalibrationOptimise = "校准优化（不建议使用）";
inline constexpr const char* kIntegrationControl = "最佳集成控制";
inline constexpr const char* kIntegrationTime = "整合时间";
inline constexpr const char* kXDelays = "X 延时序列(每个数字对应一个X行数)";
inline constexpr const char* kMultiYFilter = "使能多个Y杂讯滤除";
inline constexpr const char* kCalcMode = "计算模式";
inline constexpr const char* kModeOr = "或";
inline constexpr const char* kModeAnd = "与";
inline constexpr const char* kNoiseThreshold = "杂讯滤除阈值";
inline constexpr const char* kNoiseControl = "使能杂讯控制";
inline constexpr const char* kTouchBias = "触摸偏压";
inline constexpr const char* kReferenceScale = "基准尺度";
inline constexpr const char* kOffsetLimit = "偏移限量";
inline constexpr const char* kLowYMultiplier = "Low Y 乘数";
inline constexpr const char* kLowYDivisor = "Low Y 除数";
inline constexpr const char* kHighYMultiplier = "High Y 乘数";
inline constexpr const char* kHighYDivisor = "High Y 除数";
inline constexpr const char* kRowTimes = "*";
inline constexpr const char* kRowPer256 = "/256";
inline constexpr const char* kApplyAndClose = "应用并关闭窗体";
inline constexpr const char* kCancel = "取消";
inline constexpr const char* kApply = "应用";
// This station's own texts: the controller access failed, or a field is not a number.
// %1 the object (46, 56), %2 the result code.
inline constexpr const char* kGainReadFailed = "读取T%1失败（代码%2），不能写入。";
inline constexpr const char* kGainWriteFailed = "写入T%1失败（代码%2），设置未生效。";
inline constexpr const char* kGainBackupFailed = "T%1已写入，但保存到控制器失败，断电后设置将丢失。";
inline constexpr const char* kGainBadNumber = "“%1”不是有效的数字。";
inline constexpr const char* kGainBadDelays = "“%1”需要32个以逗号分隔的数字（第%2个无效或缺少）。";

}  // namespace varnex2::tools::texts
