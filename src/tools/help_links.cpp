#include "tools/help_links.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include <array>
#include <string>
#include <utility>

#include "dialogs/message_box.h"
#include "tools/tool_texts.h"

namespace varnex2::tools {

namespace {

constexpr std::size_t kSettingTextBytes = 1023;

struct Vendor {
  const char* code;
  const char* site;
  const char* logo;
};

// The built-in vendor table; the settings add sites (kVendorSitesKey).
constexpr std::array<Vendor, 2> kVendors = {{
    {"VNX2", "https://varnex2.example.com/", ":/varnex2/logos/logo_vnx2.svg"},
    {"ZRVT", "https://zorvat.example.com/", ":/varnex2/logos/logo_zrvt.svg"},
}};
constexpr const char* kDefaultLogo = ":/varnex2/logos/logo_default.svg";

// The help commands (the window's menu ids) and their guides.
constexpr std::array<HelpEntry, 5> kHelpEntries = {{
    {32845, "operator.html", "basics"},
    {32846, "technician.html", "connect"},
    {32847, "operator.html", "samples"},
    {32848, "operator.html", "adjacent"},
    {32858, "technician.html", "firmware"},
}};

const Vendor* FindVendor(const QString& code) {
  for (const Vendor& vendor : kVendors) {
    if (code.compare(QLatin1String(vendor.code), Qt::CaseInsensitive) == 0) return &vendor;
  }
  return nullptr;
}

std::optional<QUrl> WebAddress(const QString& text) {
  const QUrl url(text.trimmed(), QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
    return std::nullopt;
  }
  return url;
}

UrlOpener& Opener() {
  static UrlOpener opener;
  return opener;
}

bool Open(const QUrl& url) {
  if (Opener()) return Opener()(url);
  return QDesktopServices::openUrl(url);  // a failed open shows nothing
}

}  // namespace

QString VendorCode(platform::SettingsStore& settings) {
  std::string value;
  if (settings.GetString(kVendorKey, kVendorCodeName, value, kSettingTextBytes) != platform::SettingsStatus::Ok) {
    settings.SetString(kVendorKey, kVendorCodeName, "");
    return {};
  }
  return QString::fromStdString(value).trimmed();
}

std::optional<QUrl> VendorSite(const QString& code, platform::SettingsStore& settings) {
  if (code.isEmpty()) return std::nullopt;
  std::string site;
  if (settings.GetString(kVendorSitesKey, code.toStdString(), site, kSettingTextBytes) ==
      platform::SettingsStatus::Ok) {
    if (auto url = WebAddress(QString::fromStdString(site))) return url;
  }
  if (const Vendor* vendor = FindVendor(code)) return WebAddress(QLatin1String(vendor->site));
  return std::nullopt;
}

QString VendorLogo(const QString& code) {
  const Vendor* vendor = code.isEmpty() ? nullptr : FindVendor(code);
  return QLatin1String(vendor != nullptr ? vendor->logo : kDefaultLogo);
}

std::optional<HelpEntry> HelpEntryFor(int command) {
  for (const HelpEntry& entry : kHelpEntries) {
    if (entry.command == command) return entry;
  }
  return std::nullopt;
}

QStringList HelpFolders() {
  // A folder named in the environment is the only one searched.
  if (const QString env = qEnvironmentVariable("VARNEX2_HELP_DIR"); !env.isEmpty()) return {env};
  QStringList folders;
  const QString programDir = QCoreApplication::applicationDirPath();
  if (!programDir.isEmpty()) {
    folders << QDir::cleanPath(programDir + QLatin1Char('/') + QLatin1String(VARNEX2_HELP_FROM_BIN));
    folders << QDir::cleanPath(programDir + QLatin1String("/help"));
  }
  folders << QDir::cleanPath(QLatin1String(VARNEX2_SOURCE_DIR) + QLatin1String("/docs/help"));
  return folders;
}

QString FindHelpDocument(const QString& file) {
  for (const QString& folder : HelpFolders()) {
    const QFileInfo info(QDir(folder).filePath(file));
    if (info.isFile()) return info.absoluteFilePath();
  }
  return {};
}

void SetUrlOpener(UrlOpener opener) { Opener() = std::move(opener); }

bool OpenHelpEntry(int command, QWidget* parent) {
  const std::optional<HelpEntry> entry = HelpEntryFor(command);
  if (!entry) return false;
  const QString file = QString::fromLatin1(entry->file);
  const QString path = FindHelpDocument(file);
  if (path.isEmpty()) {
    dialogs::ShowStationMessage(
        parent, QString::fromUtf8(texts::kGuideMissing).arg(file, HelpFolders().join(QLatin1String("; "))),
        station::MessageIcon::Warning);
    return false;
  }
  QUrl url = QUrl::fromLocalFile(path);
  url.setFragment(QString::fromLatin1(entry->section));
  return Open(url);
}

bool OpenVendorSite(platform::SettingsStore& settings, QWidget* parent) {
  const std::optional<QUrl> site = VendorSite(VendorCode(settings), settings);
  if (!site) {
    dialogs::ShowStationMessage(parent, QString::fromUtf8(texts::kNoVendorSite), station::MessageIcon::Warning);
    return false;
  }
  return Open(*site);
}

}  // namespace varnex2::tools
