#pragma once
// CTestTools: the test box's self-test window (`varnex2 test`). The node map of the box's
// matrix, the coloured report, "测试" / "强制终止测试" and the fixture check box; the sequence
// runs on the service library's worker thread and reaches this window through queued calls.

#include <QDialog>

#include <memory>

#include "judging/node_map.h"
#include "platform/device_monitor.h"
#include "service/self_test.h"
#include "service/tool_connection.h"
#include "tools/thread_mailbox.h"

class QCheckBox;
class QPushButton;
class QTextEdit;

namespace varnex2::judging {
class CColorGrid;
}

namespace varnex2::tools {

class CTestTools : public QDialog {
  Q_OBJECT

 public:
  // `monitor` (may be null) tells the controller's arrivals and removals; the window starts it
  // and stops it before it goes.
  CTestTools(service::ToolConnection& connection, platform::DeviceMonitor* monitor, QWidget* parent = nullptr);
  ~CTestTools() override;

  // "测试" and "强制终止测试" (also what their buttons do).
  void StartTest();
  void AbortTest();

  // Tests: the controls, the worker and its options.
  QPushButton* StartButton() const { return start_; }
  QPushButton* AbortButton() const { return abort_; }
  QCheckBox* FixtureBox() const { return fixture_; }
  QTextEdit* Report() const { return report_; }
  judging::CColorGrid* Grid() const { return grid_; }
  judging::NodeMap& Model() { return map_; }
  service::SelfTestWorker& Worker() { return *worker_; }
  // Pauses of the sequence (tests shorten them).
  void SetSequenceSleep(std::function<void(std::chrono::milliseconds)> sleep) { sleep_ = std::move(sleep); }

  // The device-change handling on the window's thread (public for tests).
  void OnControllerArrival();
  void OnControllerRemoval();

 private:
  class View;
  void Refresh();            // reopen the box and show what it is, or the not-found state
  void ShowNotFound();
  void EndRunningTest();
  void AppendPiece(service::ReportPiece piece, const QString& text);

  service::ToolConnection& connection_;
  platform::DeviceMonitor* monitor_;
  judging::NodeMap map_;
  judging::CColorGrid* grid_ = nullptr;
  QTextEdit* report_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* abort_ = nullptr;
  QCheckBox* fixture_ = nullptr;
  std::function<void(std::chrono::milliseconds)> sleep_;
  ThreadMailbox* mailbox_ = nullptr;  // child of the window
  std::unique_ptr<View> view_;
  std::unique_ptr<service::SelfTestWorker> worker_;
};

}  // namespace varnex2::tools
