#include "tools/recover_tools.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QToolButton>
#include <QVBoxLayout>

#include "dialogs/message_box.h"
#include "tools/tool_texts.h"

namespace varnex2::tools {

namespace {

QString Text(const char* text) { return QString::fromUtf8(text); }
QString Text(const std::string& text) { return QString::fromStdString(text); }

QToolButton* PictureButton(const char* text, const QString& icon, const char* id, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(id));
  button->setText(Text(text));
  button->setIcon(QIcon(icon));
  button->setIconSize(QSize(64, 64));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setMinimumSize(150, 110);
  button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  return button;
}

}  // namespace

CRecoverTools::CRecoverTools(service::ToolConnection& connection, platform::DeviceMonitor* monitor, QWidget* parent)
    : QDialog(parent), connection_(connection), monitor_(monitor) {
  auto* label = new QLabel(Text(texts::kFirmwareVersion), this);
  version_ = new QLineEdit(this);
  version_->setObjectName(QStringLiteral("1054"));
  version_->setReadOnly(true);
  // Wide enough for the longest version text.
  version_->setMinimumWidth(
      version_->fontMetrics().horizontalAdvance(QStringLiteral("固件版本F.F,Family=0xFF Variant=0xFF Build=0xFF")) +
      24);
  label->setBuddy(version_);

  oldButton_ = PictureButton(texts::kSwitchToOld, QStringLiteral(":/varnex2/icons/switch_old.svg"), "1055", this);
  newButton_ = PictureButton(texts::kSwitchToNew, QStringLiteral(":/varnex2/icons/switch_new.svg"), "1056", this);
  connect(oldButton_, &QToolButton::clicked, this, [this] { RunSwitch(service::Generation::Old); });
  connect(newButton_, &QToolButton::clicked, this, [this] { RunSwitch(service::Generation::New); });

  auto* versionRow = new QHBoxLayout;
  versionRow->addWidget(label);
  versionRow->addWidget(version_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(16);
  buttons->addWidget(oldButton_);
  buttons->addWidget(newButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(versionRow);
  layout->addSpacing(8);
  layout->addLayout(buttons, 1);

  // Only the main interface's changes matter; they are handled on this window's thread.
  if (monitor_) {
    mailbox_ = new ThreadMailbox(this);
    const int started = monitor_->Start([this](const platform::DeviceEvent& event) {
      if (!service::ConcernsController(event)) return;
      mailbox_->Post([this, kind = event.kind] { OnControllerChange(kind); });
    });
    if (started != 0) {
      monitor_ = nullptr;  // nothing to stop
      dialogs::ShowStationMessage(this, Text(texts::kDeviceNotificationFailed), station::MessageIcon::Warning);
    }
  }
  Refresh();
}

CRecoverTools::~CRecoverTools() {
  // No callback may run once the window starts going away.
  if (monitor_) monitor_->Stop();
}

void CRecoverTools::Refresh() {
  auto lock = connection_.Lock();
  if (connection_.Open() != 0) {
    ShowNotFound();
    return;
  }
  const device::ControllerRecord& record = *connection_.Record();
  setWindowTitle(Text(service::ToolConnectedTitle(record)));
  version_->setText(Text(service::FirmwareVersionText(record)));
  oldButton_->setEnabled(service::OldSwitchAllowed(record));
  newButton_->setEnabled(true);
}

void CRecoverTools::ShowNotFound() {
  setWindowTitle(Text(service::kToolNotFoundTitle));
  version_->clear();
  oldButton_->setEnabled(false);
  newButton_->setEnabled(false);
}

void CRecoverTools::OnControllerChange(platform::DeviceEventKind kind) {
  if (kind == platform::DeviceEventKind::Arrival) {
    Refresh();
    return;
  }
  connection_.Close();
  ShowNotFound();
}

void CRecoverTools::RunSwitch(service::Generation generation) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const service::SwitchResult result = service::RunFirmwareSwitch(connection_, generation, sleep_);
  QApplication::restoreOverrideCursor();
  dialogs::ShowStationMessage(this, Text(result.message),
                              result.Ok() ? station::MessageIcon::Information : station::MessageIcon::Error);
}

}  // namespace varnex2::tools
