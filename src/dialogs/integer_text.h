#pragma once
// The dialogs' conversions of an edit's text to a number.

#include <QString>

#include <cstdint>
#include <optional>

namespace varnex2::dialogs {

// Strict: an optional sign followed by decimal digits, nothing else (no blanks), within the
// 32-bit signed range. Anything else gives no value.
std::optional<std::int32_t> StrictInt32(const QString& text);

// Lenient: leading blanks skipped, an optional sign applied, then the leading decimal digits;
// 0 when there are none. Values beyond the 32-bit range saturate.
std::int32_t LenientInt32(const QString& text);

}  // namespace varnex2::dialogs
