#pragma once
// The station core's operator-facing texts, gathered for a later translation.

namespace varnex2::station::texts {

inline constexpr const char* kTitleConnected = "Varnex2 - 设备已连接";
inline constexpr const char* kTitleDisconnected = "Varnex2 - 设备未连接";
inline constexpr const char* kTitleOem = "DBT_DEVTYP_OEM";
inline constexpr const char* kPaneConnected = "设备已连接";
inline constexpr const char* kPaneDisconnected = "设备未连接";
inline constexpr const char* kPaneSystem = "通用触摸屏测试系统";
inline constexpr const char* kRegisterFailed = "RegisterDeviceNotification   failed";
inline constexpr const char* kExitSuffix = ",本程序即将退出！";
inline constexpr const char* kCountdownFirst = "请等待 15 秒程序拔出设备";
inline constexpr const char* kCountdownFormat = "请等待 %d 秒程序拔出设备";
inline constexpr const char* kReplug = "重新插入设备！";
inline constexpr const char* kTimeout = "超时！";
inline constexpr const char* kUnknownError = "未知错误！";
inline constexpr const char* kCaptureSaved = "保存成功！";
inline constexpr const char* kMarksUsedUp = "用户自定义Mark数量已经用完，最多只能标记12个Mark!";
inline constexpr const char* kNoTouchArea = "请您先设置触摸屏区域！";
inline constexpr const char* kAreaBriefFormat = "最大值=%d,最小值=%d,平均值=%d";
inline constexpr const char* kAreaStatisticsFormat = "最大值=%d,最小值=%d,平均值=%d,均方差=%.2f";

// The scanner's serial port could not be opened (%s: the device path, %d: the error number).
inline constexpr const char* kComInitPortErrorCaption = "COM InitPort Error";
inline constexpr const char* kComFileNotFound = "%s ERROR_FILE_NOT_FOUND,Error Code:%d";
inline constexpr const char* kComAccessDenied = "%s ERROR_ACCESS_DENIED,Error Code:%d";
// The keyboard scanner is chosen but no keyboard can be read (followed by the reason).
inline constexpr const char* kKeyboardUnreadable = "扫描枪（键盘侦测）无法读取键盘输入，扫描的条码不会被记录：";
// A test record was written (followed by the file).
inline constexpr const char* kRecordWritten = "测试记录已保存：";

}  // namespace varnex2::station::texts
