#include "tools/update_check.h"

#include <QDir>
#include <QFile>
#include <QCursor>
#include <QGuiApplication>
#include <QUrl>

#include <filesystem>
#include <string>

#include "config/legacy_ini.h"
#include "tools/tool_texts.h"

namespace varnex2::tools {

namespace {

using station::MessageIcon;

constexpr std::size_t kBaseUrlMaxBytes = 1023;

QString Text(const char* text) { return QString::fromUtf8(text); }

// The window takes no input while a download runs; the cursor says so.
class WaitCursor {
 public:
  WaitCursor() : active_(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    if (active_) QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  }
  ~WaitCursor() {
    if (active_) QGuiApplication::restoreOverrideCursor();
  }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  bool active_;
};

int Download(const QString& address, const QString& fileName, const DownloadOptions& options) {
  WaitCursor wait;
  return DownloadFile(address, fileName, options);
}

}  // namespace

QString UpdateBaseUrl(platform::SettingsStore& settings) {
  std::string value;
  if (settings.GetString(kUpdateKey, kUpdateBaseUrlName, value, kBaseUrlMaxBytes) != platform::SettingsStatus::Ok) {
    settings.SetString(kUpdateKey, kUpdateBaseUrlName, "");
    return {};
  }
  return QString::fromStdString(value).trimmed();
}

std::optional<std::uint32_t> ParseVersion(const QString& ver) {
  if (ver.isEmpty()) return std::nullopt;
  const QStringList parts = ver.split(QLatin1Char('.'));
  std::uint32_t packed = 0;
  for (int index = 0; index < 4; ++index) {
    std::uint32_t low = 0;
    if (index < parts.size()) {
      const QString part = parts[index].trimmed();
      if (part.isEmpty()) return std::nullopt;
      for (const QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
        low = (low * 10 + static_cast<std::uint32_t>(c.unicode() - '0')) & 0xFFu;  // the low 8 bits
      }
    }
    packed = packed << 8 | low;
  }
  return packed;
}

QString ProgramFileName(const QString& url) {
  const QString path = QUrl(url).path(QUrl::FullyDecoded);
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  return slash < 0 ? path : path.mid(slash + 1);
}

UpdateOutcome CheckForUpdate(const UpdateRequest& request, const UpdateHooks& hooks) {
  if (request.baseUrl.isEmpty()) {
    hooks.show(Text(texts::kNoUpdateServer), MessageIcon::Information);
    return UpdateOutcome::NoServer;
  }
  // Only a cycle this check stopped is resumed: a station without its box has none to resume.
  const bool stopped = hooks.deviceConnected();
  if (stopped) hooks.stopTest();
  const auto resume = [&] {
    if (stopped) hooks.resumeTest();
  };

  QString base = request.baseUrl;
  while (base.endsWith(QLatin1Char('/'))) base.chop(1);
  const QString infoName = QString::fromLatin1(kVersionInfoFile);
  const int infoCode = Download(base + QLatin1String(kVersionInfoPath), infoName, request.download);
  if (infoCode < 0) {
    hooks.show(DownloadText(infoCode), MessageIcon::Warning);
    resume();
    return UpdateOutcome::InfoFailed;
  }

  const QDir directory(request.download.directory.isEmpty() ? QDir::currentPath() : request.download.directory);
  const QString infoFile = directory.absoluteFilePath(infoName);
  // Read by the private-profile rules the old parameter files follow too; a file that cannot
  // be read gives empty values, which the version check refuses.
  std::string readError;
  const std::optional<config::LegacyIniFile> info =
      config::LegacyIniFile::Load(std::filesystem::path(infoFile.toStdString()), readError);
  const auto read = [&](const char* section, const char* key) {
    return info ? QString::fromStdString(info->GetString(section, key)) : QString();
  };
  const std::optional<std::uint32_t> newest = ParseVersion(read("VERSION", "ver"));
  if (!newest) {
    hooks.show(Text(texts::kBadVersion), MessageIcon::Information);
    resume();
    return UpdateOutcome::BadVersion;
  }

  UpdateOutcome outcome = UpdateOutcome::UpToDate;
  if (PackVersion(request.own) < *newest) {
    hooks.show(Text(texts::kNewVersionFound) + read("INFO", "info"), MessageIcon::Warning);
    const QString url = read("URL", "url");
    const QString name = ProgramFileName(url);
    const int code = Download(url, name, request.download);
    QString text = DownloadText(code);
    if (code == kDownloadFileFailed && !url.isEmpty() &&
        !IsSafeDownloadName(name, directory.absolutePath(), request.download.programFile)) {
      text += QLatin1String("\r\n") + Text(texts::kUnsafeFileName).arg(name);
    }
    hooks.show(text, MessageIcon::Warning);
    outcome = UpdateOutcome::ProgramFetched;
  } else {
    hooks.show(Text(texts::kUpToDate), MessageIcon::Information);
  }
  QFile::remove(infoFile);
  resume();
  return outcome;
}

}  // namespace varnex2::tools
