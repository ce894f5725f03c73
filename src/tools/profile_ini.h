#pragma once
// A minimal reader of one value of an INI file, for the update information. It reads as the
// private-profile functions do: sections and keys case-insensitive, the first match taken,
// blanks around names and values dropped, a value in matching quotes unquoted, a missing file,
// section or key giving the default, values cut to the buffer (bufferChars - 1 characters).
// (Private to the tools: the full INI reader of the legacy import lives in config.)

#include <QString>

namespace varnex2::tools {

// Files up to 1 MiB are read; the text is UTF-8 (a BOM is skipped), or GB18030 when it is
// not valid UTF-8.
QString ReadProfileString(const QString& file, const QString& section, const QString& key, const QString& defaultValue,
                          int bufferChars);

}  // namespace varnex2::tools
