#include "tools/about_dlg.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>

#include "tools/help_links.h"
#include "tools/tool_texts.h"

namespace varnex2::tools {

namespace {

QString Text(const char* text) { return QString::fromUtf8(text); }

// Rows 1, 16, 17 and 38 are the program line's published releases. The other rows are this
// station's own history: the date and abbreviated commit of each milestone of its repository.
constexpr std::array<HistoryRow, 38> kHistory = {{
    {"1", "2017.04.04", "1.0.0.1", "Initial release."},
    {"2", "2026.12.09", "cc74705", "Project skeleton, build script and CI."},
    {"3", "2026.12.09", "2d25497", "USB, HID and device-monitor seams."},
    {"4", "2026.12.09", "cc2cf87", "Node map judging, statistics, capture."},
    {"5", "2026.12.09", "6c36f3d", "Panel configuration, parameter file."},
    {"6", "2026.12.09", "b6a057b", "Node map widget: painting, area editing."},
    {"7", "2026.12.09", "9bcd3e9", "Simulated test box with scenarios."},
    {"8", "2026.12.09", "e025b44", "Bridge channel and controller link."},
    {"9", "2026.12.09", "6589765", "Emulated USB box and varnex2-simbox."},
    {"10", "2026.12.09", "eef3333", "Offline judge varnex2-judge."},
    {"11", "2026.12.09", "3f4f77e", "Settings file, written atomically."},
    {"12", "2026.12.09", "894b1d7", "Settings groups: output, limits, gain."},
    {"13", "2026.12.09", "812d2f2", "Test cycle and device presence."},
    {"14", "2026.12.09", "44d9ec3", "Station window, status bar and menus."},
    {"14", "2026.12.09", "d2a37a5", "Scanner settings record."},
    {"15", "2019.09.11", "1.3.0.4", "Save rawdata to CSV supported."},
    {"16", "2019.09.20", "1.3.0.5", "Add 1D/2D scanner supported(HID/COM mode)."},
    {"17", "2026.12.09", "91ab83d", "udev rules, desktop entry and icon."},
    {"18", "2026.12.09", "3efbc2e", "Single instance, --simulate start-up."},
    {"19", "2026.12.09", "f121242", "Simulated buzzer in the status bar."},
    {"20", "2026.12.10", "27f6aaf", "Station core below the window, Qt-free."},
    {"21", "2026.12.10", "15ef242", "Operator's quick guide with screenshot."},
    {"22", "2026.12.10", "9aa61dc", "Menu commands in one command table."},
    {"23", "2026.12.10", "d1c5b3a", "Usage text (--help)."},
    {"24", "2026.12.10", "9c3d8e0", "Restoring defaults keeps difference mode."},
    {"25", "2026.12.10", "f54922c", "Sample-limit learning."},
    {"26", "2026.12.10", "9712f72", "Area, adjacent, limit, trigger dialogs."},
    {"27", "2026.12.10", "90a16de", "Sample-limit editor window."},
    {"28", "2026.12.10", "2627fc3", "varnex2-judge --learn."},
    {"29", "2026.12.10", "1f63b00", "Simulated touch messages."},
    {"30", "2026.12.10", "b09b332", "Keyboard scanner read through evdev."},
    {"31", "2026.12.10", "a20bab0", "Test record files, GB18030 option."},
    {"32", "2026.12.10", "24475a6", "Scanner settings dialog."},
    {"33", "2026.12.10", "7713390", "Scanner input paths and triggers."},
    {"34", "2026.12.10", "4cb0b96", "One record per panel and verdict."},
    {"35", "2026.12.10", "bc9c3a8", "Serial scanner on Qt SerialPort."},
    {"36", "2026.12.11", "32ccfcc", "Driver detach is no unplug."},
    {"37", "2022.07.29", "1.3.0.26", "Added PASS/FIAL output optional."},
}};

QLineEdit* ReadOnlyField(const QString& text, const char* id, QWidget* parent) {
  auto* field = new QLineEdit(text, parent);
  field->setObjectName(QLatin1String(id));
  field->setReadOnly(true);
  return field;
}

}  // namespace

QString FirmwareText(std::uint8_t version, std::uint8_t build) {
  return QString::asprintf("%u.%u.%02X", static_cast<unsigned>(version >> 4), static_cast<unsigned>(version & 0x0F),
                           static_cast<unsigned>(build));
}

std::span<const HistoryRow> VersionHistory() { return kHistory; }

CAboutDlg::CAboutDlg(const AboutInfo& info, const QIcon& icon, QWidget* parent) : QDialog(parent) {
  setWindowTitle(Text(texts::kAboutTitle));
  setWindowIcon(icon);

  auto* iconLabel = new QLabel(this);
  iconLabel->setObjectName(QStringLiteral("icon"));
  iconLabel->setPixmap(icon.pixmap(48, 48));
  auto* caption = new QLabel(Text(texts::kAboutCaption), this);
  caption->setObjectName(QStringLiteral("caption"));
  QFont captionFont = caption->font();
  captionFont.setPointSizeF(captionFont.pointSizeF() * 1.4);
  captionFont.setBold(true);
  caption->setFont(captionFont);

  auto* versions = new QFormLayout;
  versions->addRow(
      Text(texts::kFirmwareVersion),
      ReadOnlyField(info.firmwareVersion ? FirmwareText(*info.firmwareVersion, info.firmwareBuild) : QString(), "1018",
                    this));
  versions->addRow(Text(texts::kSoftwareVersion), ReadOnlyField(info.softwareText.value_or(QString()), "1021", this));

  auto* head = new QVBoxLayout;
  head->addWidget(caption);
  head->addLayout(versions);

  logoPath_ = VendorLogo(info.vendorCode);
  auto* logo = new QLabel(this);
  logo->setObjectName(QStringLiteral("1023"));
  logo->setPixmap(QIcon(logoPath_).pixmap(QSize(200, 64)));

  auto* top = new QHBoxLayout;
  top->addWidget(iconLabel, 0, Qt::AlignTop);
  top->addLayout(head, 1);
  top->addWidget(logo, 0, Qt::AlignTop);

  auto* history = new QTableWidget(static_cast<int>(kHistory.size()), 4, this);
  history->setObjectName(QStringLiteral("1022"));
  history->setHorizontalHeaderLabels({Text(texts::kHistoryNumber), Text(texts::kHistoryDate),
                                      Text(texts::kHistoryVersion), Text(texts::kHistoryNote)});
  const std::array<int, 4> widths = {60, 100, 100, 200};
  for (int column = 0; column < 4; ++column) history->setColumnWidth(column, widths[static_cast<std::size_t>(column)]);
  history->horizontalHeader()->setStretchLastSection(true);
  history->verticalHeader()->setVisible(false);
  history->setSelectionBehavior(QAbstractItemView::SelectRows);  // full-row selection
  history->setSelectionMode(QAbstractItemView::SingleSelection);
  history->setEditTriggers(QAbstractItemView::NoEditTriggers);
  history->setShowGrid(true);         // grid lines
  history->setSortingEnabled(false);  // the rows stay in their fixed order
  history->setWordWrap(false);
  history->verticalHeader()->setDefaultSectionSize(history->fontMetrics().height() + 6);
  for (int row = 0; row < static_cast<int>(kHistory.size()); ++row) {
    const HistoryRow& entry = kHistory[static_cast<std::size_t>(row)];
    const std::array<const char*, 4> cells = {entry.number, entry.date, entry.version, entry.note};
    for (int column = 0; column < 4; ++column) {
      history->setItem(row, column, new QTableWidgetItem(QString::fromUtf8(cells[static_cast<std::size_t>(column)])));
    }
  }
  history->setMinimumSize(60 + 100 + 100 + 200 + 24, 260);

  auto* close = new QPushButton(Text(texts::kAboutClose), this);
  close->setObjectName(QStringLiteral("1"));
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(history, 1);
  layout->addLayout(buttons);
  resize(640, 540);  // the longest note shows whole
}

}  // namespace varnex2::tools
