#pragma once
// DownloadFile: one file fetched over HTTP or HTTPS into a file of the working directory, with
// the station's result codes. Runs on the calling (window) thread: it waits in a local event loop
// that takes no user input, and every phase of the wait is bounded.

#include <QString>

#include <chrono>

namespace varnex2::tools {

inline constexpr int kDownloadOk = 0;
inline constexpr int kDownloadBadAddress = -1;     // the address cannot be parsed
inline constexpr int kDownloadConnectFailed = -2;  // no connection, or a network error or time-out on the way
inline constexpr int kDownloadRequestFailed = -3;  // the request cannot be made (HTTPS without TLS support)
inline constexpr int kDownloadRefused = -4;        // the server's status is not 200
inline constexpr int kDownloadNoAddress = -5;      // empty address
inline constexpr int kDownloadNoFileName = -6;     // empty file name
inline constexpr int kDownloadFileFailed = -7;     // the file cannot be created or written (or may not be)

struct DownloadOptions {
  // Until the request has been sent: connecting (with TLS) and sending the request, retries
  // included. A refused connection is tried once more after the back-off.
  std::chrono::milliseconds connectTimeout{20000};
  std::chrono::milliseconds connectBackoff{1000};
  int connectRetries = 1;
  // The longest silence once the request is out: waiting for the answer and between its parts.
  std::chrono::milliseconds receiveTimeout{6000};
  // The whole download, however steadily the data trickles in.
  std::chrono::milliseconds totalLimit{std::chrono::minutes(10)};
  // Where the file goes; empty: the working directory.
  QString directory;
  // The running program, which a download never replaces; empty: the application's own file.
  QString programFile;
};

// Fetches `address` into `fileName` (a plain name inside the directory, replaced when it exists).
// The body goes to a temporary file beside it, renamed to `fileName` only once the whole body
// has arrived: a failed download leaves no file and keeps an existing one. A name with a path
// separator, "." or "..", or the running program's file, is refused with kDownloadFileFailed.
int DownloadFile(const QString& address, const QString& fileName, const DownloadOptions& options = {});

// The operator's text of a result code ("下载成功！" ... "未知错误！").
QString DownloadText(int code);

// Whether `fileName` may be written by a download into `directory` (empty: the working
// directory): a plain name that stays inside it and is not the running program `programFile`
// (empty: the application's own file).
bool IsSafeDownloadName(const QString& fileName, const QString& directory = {}, const QString& programFile = {});

}  // namespace varnex2::tools
