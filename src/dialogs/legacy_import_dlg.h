#pragma once
// The sample-limit editor's command 32800 "老版本参数文件导入(&O)": the operator picks an old INI
// parameter set, reads the notice, the station takes the INI part (its message when the areas
// are invalid), and the companion folder's data goes to the node map and into the editor, whose
// tables and controls are refilled; "参数导入成功！" at the end. The decisions are the shared
// ones of config/legacy_import.h and judging/legacy_limits.h; this side asks for the file, shows
// the texts and fills the controls.

#include <QString>

#include <functional>

#include "config/legacy_import.h"

class QWidget;

namespace varnex2::dialogs {

class CAdvancedDlg;

namespace legacy_texts {
inline constexpr const char* kFilter = "配置文件(*.ini)";
inline constexpr const char* kSuffix = "ini";
inline constexpr const char* kUnreadable = "无法读取参数文件：";
}  // namespace legacy_texts

// The station's INI part (Station::ImportLegacyIni).
using LegacyIniApplier = std::function<config::LegacyIniPart(const config::LegacyIniFile&)>;

// Tests: the file is chosen by `chooser` instead of the open dialog ("" cancels); an empty
// chooser restores the dialog. Window thread only.
using LegacyFileChooser = std::function<QString(QWidget* parent)>;
void SetLegacyFileChooser(LegacyFileChooser chooser);

void ImportLegacyParameters(CAdvancedDlg& dialog, const LegacyIniApplier& applyIni);

}  // namespace varnex2::dialogs
