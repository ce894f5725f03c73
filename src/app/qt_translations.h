#pragma once
// Qt's own texts (file dialogs, standard buttons, context menus of edit fields) in
// Chinese, to match the station's texts.

class QCoreApplication;

namespace varnex2::app {

// Installs Qt's Simplified Chinese translations (from Qt's translations folder)
// into `app`, whatever the system's language. False when they are not installed;
// Qt's texts stay English then.
bool InstallQtChineseTranslations(QCoreApplication& app);

}  // namespace varnex2::app
