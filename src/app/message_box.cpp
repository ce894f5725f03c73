#include "app/message_box.h"

#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace varnex2::app {

void ShowStationMessage(QWidget* parent, const QString& text, MessageIcon icon) {
  std::fprintf(stderr, "%s\n", text.toUtf8().constData());
  std::fflush(stderr);
  QMessageBox box(parent);
  box.setWindowTitle(QString());
  box.setText(text);
  switch (icon) {
    case MessageIcon::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case MessageIcon::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case MessageIcon::Error:
      box.setIcon(QMessageBox::Critical);
      box.setWindowFlag(Qt::WindowStaysOnTopHint);
      break;
  }
  box.setStandardButtons(QMessageBox::Ok);
  if (const char* timeout = std::getenv("VARNEX2_MESSAGE_TIMEOUT_MS"); timeout != nullptr) {
    const int ms = std::atoi(timeout);
    QTimer::singleShot(ms > 0 ? ms : 0, &box, &QMessageBox::accept);
  }
  box.exec();
}

}  // namespace varnex2::app
