#pragma once
// The help entries (32845..32848, 32858) and the vendor's web site (32804): the guides that
// ship with the station, the vendor table, and the seam every link is opened through.

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

#include "platform/settings_store.h"

class QWidget;

namespace varnex2::tools {

// The box's vendor code (four characters), kept in the settings: [Software\Varnx2\Vendor] "Code".
// Created empty when missing.
inline constexpr const char* kVendorKey = "Software\\Varnx2\\Vendor";
inline constexpr const char* kVendorCodeName = "Code";
// Sites beyond the built-in table: one text value per code, e.g. "ABCD"="https://abcd.example.com/".
// An entry here wins over the built-in one.
inline constexpr const char* kVendorSitesKey = "Software\\Varnx2\\VendorSites";

QString VendorCode(platform::SettingsStore& settings);

// The vendor's site: the settings' entry, else the built-in table's; nullopt when neither has a
// valid http or https address for the code.
std::optional<QUrl> VendorSite(const QString& code, platform::SettingsStore& settings);

// The About window's logo for a vendor code (a Qt resource path); the default one for an empty
// or unknown code.
QString VendorLogo(const QString& code);

// One help entry: its guide and the section in it.
struct HelpEntry {
  int command = 0;
  const char* file = "";
  const char* section = "";
};
// The entry of a help command; nullopt for another id.
std::optional<HelpEntry> HelpEntryFor(int command);

// Where a guide is found: the installed data folder relative to the program
// (../share/varnex2/help), "help" beside the program, then the source tree's docs/help; only
// $VARNEX2_HELP_DIR when that is set.
// The first folder that holds the file; empty when none does.
QString FindHelpDocument(const QString& file);
// The folders searched, in order (for the message of a missing guide).
QStringList HelpFolders();

// Every link is opened through this; the default is the desktop's (the default browser).
// Tests put a recorder in its place. An empty opener restores the default.
using UrlOpener = std::function<bool(const QUrl& url)>;
void SetUrlOpener(UrlOpener opener);

// 32845..32848, 32858: opens the entry's guide; a guide that is not installed is named in a
// message. False when nothing was opened.
bool OpenHelpEntry(int command, QWidget* parent);
// 32804: opens the vendor's site, or shows "未设置有效的供应商或者该供应商没有有效的网站链接！".
bool OpenVendorSite(platform::SettingsStore& settings, QWidget* parent);

}  // namespace varnex2::tools
