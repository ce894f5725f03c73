#include "dialogs/legacy_import_dlg.h"

#include <QFileDialog>
#include <QFileInfo>

#include <filesystem>
#include <string>
#include <utility>

#include "dialogs/advanced_dlg.h"
#include "dialogs/message_box.h"
#include "judging/legacy_limits.h"

namespace varnex2::dialogs {

namespace {

LegacyFileChooser& Chooser() {
  static LegacyFileChooser chooser;
  return chooser;
}

// The open dialog: INI files, read-only box hidden (Qt has none), ".ini" added to a bare name.
QString ChooseIniFile(QWidget* parent) {
  QString file;
  if (Chooser()) {
    file = Chooser()(parent);
  } else {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QString::fromUtf8(legacy_texts::kFilter));
    dialog.setDefaultSuffix(QString::fromLatin1(legacy_texts::kSuffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    file = dialog.selectedFiles().constFirst();
  }
  if (!file.isEmpty() && QFileInfo(file).suffix().isEmpty() && !QFileInfo::exists(file))
    file += QLatin1Char('.') + QString::fromLatin1(legacy_texts::kSuffix);
  return file;
}

}  // namespace

void SetLegacyFileChooser(LegacyFileChooser chooser) { Chooser() = std::move(chooser); }

void ImportLegacyParameters(CAdvancedDlg& dialog, const LegacyIniApplier& applyIni) {
  const QString file = ChooseIniFile(&dialog);
  if (file.isEmpty()) return;
  ShowStationMessage(&dialog, QString::fromUtf8(config::kLegacyNotice), MessageIcon::Information,
                     QString::fromUtf8(config::kLegacyNoticeCaption));

  const std::filesystem::path path(file.toStdString());
  std::string error;
  const std::optional<config::LegacyIniFile> ini = config::LegacyIniFile::Load(path, error);
  if (!ini) {
    ShowStationMessage(&dialog, QString::fromUtf8(legacy_texts::kUnreadable) + file, MessageIcon::Warning);
    return;
  }

  // The INI part on the station; its controls only when its areas were taken.
  const config::LegacyIniPart part = applyIni(*ini);
  if (part.Valid()) dialog.SetLimitControls(part.controls);

  // The companion files, the node map and the editor.
  const std::filesystem::path folder = config::LegacyCompanionFolder(path);
  config::LegacyCompanion companion = config::ReadLegacyCompanion(folder);
  const config::LegacyLimitControls controls = dialog.LimitControls();
  judging::ImportLegacyCompanion(dialog.Map(), dialog.Editor(), companion, controls);
  dialog.RepaintMap();
  dialog.Reload();
  dialog.SetLimitControls(controls);

  const std::string problems = config::LegacyProblemsText(folder, companion.problems);
  if (!problems.empty()) ShowStationMessage(&dialog, QString::fromStdString(problems), MessageIcon::Warning);
  ShowStationMessage(&dialog, QString::fromUtf8(config::kMsgLegacyImported), MessageIcon::Information);
  dialog.EnableLimitEditing();
}

}  // namespace varnex2::dialogs
