#pragma once
// The test record's pure text builders: times, file-name tokens and names, the
// brief, the raw-count lines, line ends and the GB18030 conversion. No files,
// no settings: each takes what it needs and returns a text.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "scanner/record_writer.h"

namespace varnex2::scanner {

// "%04d%02d%02d-%02d%02d%02d": the time in a file name.
std::string FormatNameTime(const std::tm& t);
// "%04d年%02d月%02d日 %02d时%02d分%02d秒": the time in the record.
std::string FormatRecordTime(const std::tm& t);
// "%04d%02d%02d": the day folder and the day file's name.
std::string FormatDate(const std::tm& t);

// The scan text as the file-name token carries it: the fourteen characters a file name
// cannot hold removed.
std::string ScanTextForName(std::string_view scan);
// The text without carriage returns and line feeds.
std::string RemoveLineBreaks(std::string_view text);
// Every occurrence of `token` in `text` replaced by `value` (the value is not searched again).
void ReplaceAll(std::string& text, std::string_view token, std::string_view value);

// A name that stays inside its folder and that Windows shares accept: path separators,
// control characters, NUL, the characters Windows refuses (: * ? " < > |) and bytes that are
// not UTF-8 become '_'; an empty name, "." and ".." become "_".
std::string SafeFileName(std::string_view name);
// The longest prefix of `text` of at most `maxBytes` bytes that ends on a UTF-8 character
// boundary.
std::string TruncateUtf8(std::string_view text, std::size_t maxBytes);

// The brief's mode text for the test-mode word (first set bit of 0x1, 0x2, 0x4); empty when
// none of them is set.
std::string_view BriefModeText(std::uint32_t modeFlags);
// The short sentences for WM_RECORD_BRIEF's lParam (bits 0-7: X + 1, bits 8-15: Y + 1).
std::string BriefShortText(std::uint32_t lParam);
// WM_RECORD_BRIEF's lParam from the short positions, each position + 1 (0: none).
std::uint32_t PackShorts(std::uint8_t shortX, std::uint8_t shortY);

// One line per X line, one field per Y line: the count of an in-area node with a non-zero
// count, else nothing; "," between fields, one space after the last, "\n" at the line's end.
std::string BuildRawText(const RecordRawMap& map);

// Every "\n" written as "\r\n" (as a text-mode file does: an existing "\r\n" becomes "\r\r\n").
std::string ToFileLineEnds(std::string_view text);

// UTF-8 to GB18030 with glibc's iconv. A byte sequence that is not UTF-8 becomes
// `replacement`. False only when the converter is not available.
bool ConvertToGb18030(std::string_view utf8, char replacement, std::string& out);

// A safe name (see SafeFileName) shortened at a character boundary so that in the file's
// encoding and with ".txt" it fits kFileNameMaxBytes: `fitted` is the shortened UTF-8 name,
// `encoded` the same in the file's encoding. False only when the converter is not available
// (then `fitted` is shortened as UTF-8).
bool FitFileName(std::string_view safeName, RecordEncoding encoding, std::string& fitted, std::string& encoded);

}  // namespace varnex2::scanner
