#include "tools/test_tools.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include "dialogs/message_box.h"
#include "judging/widget/color_grid.h"
#include "tools/tool_texts.h"

namespace varnex2::tools {

namespace {

QString ReportText(const std::string& text) {
  QString t = QString::fromStdString(text);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return t;
}

}  // namespace

// The worker's side: every call goes through the window's mailbox onto its thread. The window
// outlives the worker (its destructor joins it before the mailbox goes).
class CTestTools::View final : public service::SelfTestView {
 public:
  View(CTestTools* window, ThreadMailbox* mailbox) : window_(window), mailbox_(mailbox) {}
  void ClearReport() override {
    Post([](CTestTools& w) { w.report_->clear(); });
  }
  void Append(service::ReportPiece piece, const std::string& text) override {
    Post([piece, t = ReportText(text)](CTestTools& w) { w.AppendPiece(piece, t); });
  }
  void SetButtons(bool startEnabled, bool abortEnabled) override {
    Post([startEnabled, abortEnabled](CTestTools& w) {
      w.start_->setEnabled(startEnabled);
      w.abort_->setEnabled(abortEnabled);
    });
  }
  void Repaint() override {
    Post([](CTestTools& w) { w.grid_->update(); });
  }

 private:
  template <typename F>
  void Post(F f) {
    mailbox_->Post([window = window_, f] { f(*window); });
  }
  CTestTools* window_;
  ThreadMailbox* mailbox_;
};

CTestTools::CTestTools(service::ToolConnection& connection, platform::DeviceMonitor* monitor, QWidget* parent)
    : QDialog(parent), connection_(connection), monitor_(monitor) {
  setObjectName(QStringLiteral("CTestTools"));
  setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
  resize(900, 760);

  grid_ = new judging::CColorGrid(map_, this);
  grid_->setObjectName(QStringLiteral("grid1011"));
  report_ = new QTextEdit(this);
  report_->setObjectName(QStringLiteral("report1053"));
  report_->setReadOnly(true);
  start_ = new QPushButton(QString::fromUtf8(texts::kSelfTestStart), this);
  abort_ = new QPushButton(QString::fromUtf8(texts::kSelfTestAbort), this);
  abort_->setEnabled(false);
  fixture_ = new QCheckBox(QString::fromUtf8(texts::kSelfTestFixture), this);

  auto* side = new QVBoxLayout;
  side->addWidget(start_);
  side->addWidget(abort_);
  side->addWidget(fixture_);
  side->addStretch(1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(report_, 1);
  bottom->addLayout(side);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(grid_, 3);
  layout->addLayout(bottom, 2);

  connect(start_, &QPushButton::clicked, this, &CTestTools::StartTest);
  connect(abort_, &QPushButton::clicked, this, &CTestTools::AbortTest);

  mailbox_ = new ThreadMailbox(this);
  view_ = std::make_unique<View>(this, mailbox_);
  worker_ = std::make_unique<service::SelfTestWorker>(connection_, map_, *view_);

  if (monitor_ != nullptr) {
    // The monitor is stopped in the destructor, before the mailbox goes.
    const int r = monitor_->Start([this](const platform::DeviceEvent& event) {
      if (!service::ConcernsController(event)) return;
      const bool arrival = event.kind == platform::DeviceEventKind::Arrival;
      mailbox_->Post([this, arrival] {
        if (arrival) {
          OnControllerArrival();
        } else {
          OnControllerRemoval();
        }
      });
    });
    if (r != 0) {
      dialogs::ShowStationMessage(this, QString::fromUtf8(texts::kDeviceNotificationFailed), dialogs::MessageIcon::Warning);
    }
  }
  Refresh();
}

CTestTools::~CTestTools() {
  if (monitor_ != nullptr) monitor_->Stop();
  worker_.reset();  // aborts and joins the run before the view and the map go
}

void CTestTools::Refresh() {
  int r = 0;
  {
    auto turn = connection_.Lock();
    r = connection_.Open();
  }
  if (r != 0 || connection_.Record() == nullptr) {
    ShowNotFound();
    return;
  }
  const device::ControllerRecord& record = *connection_.Record();
  setWindowTitle(QString::fromStdString(service::ToolConnectedTitle(record)));
  map_.SetGridSize(record.MatrixY(), record.MatrixX());
  map_.SetAllNodeFlags(0, judging::FlagOp::Set);
  map_.SetResultFlags(map_.ResultFlags() & ~judging::ResultFlag::EVALUATION_SHOWN);
  grid_->update();
  start_->setEnabled(true);
  abort_->setEnabled(false);
  report_->clear();
}

void CTestTools::ShowNotFound() {
  setWindowTitle(QString::fromUtf8(service::kToolNotFoundTitle));
  map_.SetGridSize(0, 0);
  grid_->update();
  report_->clear();
  start_->setEnabled(true);
  abort_->setEnabled(false);
}

// A run in progress is ended before the link is reopened or closed under it.
void CTestTools::EndRunningTest() {
  if (!worker_->Running()) return;
  worker_->RequestAbort();
  worker_->WaitFinished(std::chrono::milliseconds(1000));
}

void CTestTools::OnControllerArrival() {
  EndRunningTest();
  Refresh();
}

void CTestTools::OnControllerRemoval() {
  EndRunningTest();
  connection_.Close();
  ShowNotFound();
}

void CTestTools::StartTest() {
  service::SelfTestOptions options;
  options.fixture = fixture_->isChecked();
  options.sleep = sleep_;
  // A run that was aborted ends its step first; each step's controller calls are bounded.
  if (!worker_->Start(options, std::chrono::milliseconds(3000))) {
    dialogs::ShowStationMessage(this, QString::fromUtf8(texts::kSelfTestStillEnding), dialogs::MessageIcon::Warning);
    return;
  }
  report_->verticalScrollBar()->setValue(report_->verticalScrollBar()->maximum());
}

void CTestTools::AbortTest() {
  worker_->RequestAbort();
  worker_->WaitFinished(std::chrono::milliseconds(1000));
  AppendPiece(service::ReportPiece::Abort, ReportText(service::kAbortText));
  start_->setEnabled(true);
  abort_->setEnabled(false);
}

void CTestTools::AppendPiece(service::ReportPiece piece, const QString& text) {
  const service::PieceFormat f = service::FormatOf(piece);
  QTextCharFormat format;
  format.setFontFamilies({QString::fromUtf8(service::kReportFace)});
  format.setFontPointSize(f.twips / 20.0);
  format.setFontWeight(f.bold ? QFont::Bold : QFont::Normal);
  format.setForeground(QColor(f.red, f.green, f.blue));
  QTextCursor cursor(report_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(text, format);
  report_->setTextCursor(cursor);
  report_->ensureCursorVisible();
}

}  // namespace varnex2::tools
