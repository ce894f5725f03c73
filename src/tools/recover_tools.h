#pragma once
// CRecoverTools: the firmware-generation switch window. It shows the controller's firmware
// version ("固件版本", read-only) and two picture buttons, "切换为老版本" (only for firmware below
// 1.2) and "切换为新版本"; a click runs the switch on the window's thread (about half a second)
// and reports its result in the operator's message box. The title and the buttons follow the
// controller's arrivals and removals while the window is open.
// Object names are the control ids: "1054" the version field, "1055" and "1056" the buttons.

#include <QDialog>

#include "platform/device_monitor.h"
#include "service/firmware_switch.h"
#include "service/tool_connection.h"
#include "tools/thread_mailbox.h"

class QLineEdit;
class QToolButton;

namespace varnex2::tools {

class CRecoverTools : public QDialog {
  Q_OBJECT

 public:
  // `monitor` (may be null: no automatic refresh) is started here and stopped in the
  // destructor; both it and `connection` must outlive the window.
  CRecoverTools(service::ToolConnection& connection, platform::DeviceMonitor* monitor, QWidget* parent = nullptr);
  ~CRecoverTools() override;
  CRecoverTools(const CRecoverTools&) = delete;
  CRecoverTools& operator=(const CRecoverTools&) = delete;

  // Tests shorten the switch's waits.
  void SetSleep(service::SleepFunction sleep) { sleep_ = std::move(sleep); }

 private:
  // Reopens the controller and shows what it reports, or the not-found state.
  void Refresh();
  void ShowNotFound();
  void OnControllerChange(platform::DeviceEventKind kind);
  void RunSwitch(service::Generation generation);

  service::ToolConnection& connection_;
  platform::DeviceMonitor* monitor_ = nullptr;
  ThreadMailbox* mailbox_ = nullptr;  // child of the window: the monitor's events onto its thread
  service::SleepFunction sleep_ = service::RealSleep;
  QLineEdit* version_ = nullptr;
  QToolButton* oldButton_ = nullptr;
  QToolButton* newButton_ = nullptr;
};

}  // namespace varnex2::tools
