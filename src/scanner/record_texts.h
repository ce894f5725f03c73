#pragma once
// The fixed texts of the test record: section headers, file-name tokens, the
// brief's sentences and the messages shown when a record cannot be written.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace varnex2::scanner {

// Section headers, in the order the record holds them.
inline constexpr std::string_view kHeaderCounter = "[测试计数序列]";
inline constexpr std::string_view kHeaderProductModel = "[测试产品型号]";
inline constexpr std::string_view kHeaderScan = "[扫描枪数据]";
inline constexpr std::string_view kHeaderVerdict = "[测试结果]";
inline constexpr std::string_view kHeaderBrief = "[测试简报]";
inline constexpr std::string_view kHeaderRawdata = "[测试原始采样数据]";
inline constexpr std::string_view kHeaderTime = "[测试时间]";
inline constexpr std::string_view kHeaderAdditionalInfo = "[自定义信息]";
// The line that closes every record.
inline constexpr std::size_t kSeparatorLength = 88;

// File-name tokens, in the order they are replaced.
inline constexpr std::string_view kTokenCounter = "{测试计数}";
inline constexpr std::string_view kTokenProductModel = "{产品型号}";
inline constexpr std::string_view kTokenScan = "{扫描枪数据}";
inline constexpr std::string_view kTokenVerdict = "{测试结果}";
inline constexpr std::string_view kTokenTime = "{测试时间}";
// The characters the scan token drops, in the order they are removed.
inline constexpr std::string_view kScanTokenRemoved = "\n\r\\/\":;*?<>[]|";

// The verdicts a record is written for.
inline constexpr std::string_view kVerdictPass = "PASS";
inline constexpr std::string_view kVerdictFail = "FAIL";

// The brief: the test mode (first set bit of the mode word decides), then the shorts.
inline constexpr std::uint32_t kModeMaxMin = 0x1;
inline constexpr std::uint32_t kModeThreshold = 0x2;
inline constexpr std::uint32_t kModeAdjacent = 0x4;
inline constexpr std::string_view kBriefModeMaxMin = "测试模式为上下限模式 ";
inline constexpr std::string_view kBriefModeThreshold = "测试模式为阈值模式 ";
inline constexpr std::string_view kBriefModeAdjacent = "测试模式为相邻点比对模式 ";
inline constexpr std::string_view kBriefShortX = "X有短路,短路点在X";  // followed by the X line
inline constexpr std::string_view kBriefShortY = "Y有短路,短路点在Y";  // followed by the Y line

// Folders and files.
inline constexpr std::string_view kPerRecordFolder = "TestLog";
inline constexpr std::string_view kRecordFileExtension = ".txt";
inline constexpr std::string_view kDailyFileSuffix = "log.txt";
// A file name's limit in bytes (extension included), as most Linux file systems have it.
inline constexpr std::size_t kFileNameMaxBytes = 255;

// The encoding setting, a text beside the file-recorder values.
inline constexpr std::string_view kEncodingValueName = "Encoding";
inline constexpr std::string_view kEncodingGb18030 = "GB18030";

// Messages for the operator when a record cannot be written: the prefix, the file, the
// separator, then the reason.
inline constexpr std::string_view kRecordWriteFailed = "测试记录写入失败：";
inline constexpr std::string_view kRecordReasonSeparator = "：";
inline constexpr std::string_view kReasonFolder = "无法创建文件夹 ";       // followed by the folder and the cause
inline constexpr std::string_view kReasonShortWrite = "只写入了部分内容";  // the file system took fewer bytes
inline constexpr std::string_view kReasonNoConverter = "系统不支持 GB18030 编码转换";

}  // namespace varnex2::scanner
