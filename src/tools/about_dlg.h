#pragma once
// CAboutDlg: the About window (title "关于") with the program's icon, caption, firmware and
// software versions, the version history and the vendor's logo; "已阅" closes it.
// Object names are the control ids: "1018" firmware, "1021" software, "1022" history,
// "1023" logo, "1" the close button.

#include <QDialog>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace varnex2::tools {

struct ProgramVersion;

// "%u.%u.%02X": the high and low nibble of the information block's version byte, and its build byte.
QString FirmwareText(std::uint8_t version, std::uint8_t build);

struct HistoryRow {
  const char* number;
  const char* date;
  const char* version;
  const char* note;
};
// The version history in the order it is listed (38 rows).
std::span<const HistoryRow> VersionHistory();

struct AboutInfo {
  // The controller's version and build bytes; empty: the field stays empty.
  std::optional<std::uint8_t> firmwareVersion;
  std::uint8_t firmwareBuild = 0;
  // The program's own version; empty: the field stays empty.
  std::optional<QString> softwareText;
  QString vendorCode;  // picks the logo
};

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  CAboutDlg(const AboutInfo& info, const QIcon& icon, QWidget* parent = nullptr);

  QString LogoPath() const { return logoPath_; }

 private:
  QString logoPath_;
};

}  // namespace varnex2::tools
