#include "dialogs/message_box.h"

#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace varnex2::dialogs {

namespace {
MessageHook& Hook() {
  static MessageHook hook;
  return hook;
}
}  // namespace

void SetMessageHook(MessageHook hook) { Hook() = std::move(hook); }


void ShowStationMessage(QWidget* parent, const QString& text, MessageIcon icon, const QString& caption) {
  std::fprintf(stderr, "%s\n", text.toUtf8().constData());
  std::fflush(stderr);
  if (Hook()) {
    Hook()(text, icon);
    return;
  }
  QMessageBox box(parent);
  box.setWindowTitle(caption);
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

}  // namespace varnex2::dialogs
