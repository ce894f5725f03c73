#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace varnex2::app {

bool InstallQtChineseTranslations(QCoreApplication& app) {
  // "qt_zh_CN" names the catalogues of every installed Qt module (qtbase, ...).
  auto* translator = new QTranslator(&app);
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qt"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace varnex2::app
