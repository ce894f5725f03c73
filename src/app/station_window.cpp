#include "app/station_window.h"

#include <QApplication>
#include <QDir>
#include <QCloseEvent>
#include <QCursor>
#include <QIcon>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QThread>
#include <QTimer>

#include <cstdio>

#include "app/menu_ids.h"
#include "app/qt_virtual_keys.h"
#include "app/message_box.h"
#include "app/window_texts.h"

// The cycle's debugging trace: silent unless switched on by a logging rule.
Q_LOGGING_CATEGORY(lcCycle, "varnex2.cycle", QtWarningMsg)

namespace varnex2::app {

namespace {

constexpr int kBarHeight = CStatusBarEx::kHeight;
constexpr int kWarmUpDelayMs = 50;

// 0x00BBGGRR as the texts of the station give colours.
QColor FromColourRef(std::uint32_t c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

}  // namespace

QIcon StationIcon() {
  // Built into the library from dist/ (CMakeLists.txt); drawn by the SVG icon engine.
  return QIcon(QStringLiteral(":/varnex2/varnex2.svg"));
}

CVarnex2Dlg::CVarnex2Dlg(judging::NodeMap& model, Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)) {
  grid_ = new judging::CColorGrid(model, this);
  grid_->setObjectName("grid");
  statusBar_ = new CStatusBarEx(this);
  statusBar_->setObjectName("statusBar");
  statusBar_->SetPanes({
      {QString::fromUtf8(texts::kPaneDisconnected), 160, Qt::AlignCenter},
      {QString(), 400, Qt::AlignCenter},
      {QString::fromUtf8(texts::kPaneSystem), 100, Qt::AlignRight},
  });
  setWindowIcon(StationIcon());
  menuBar_ = new QMenuBar(this);
  BuildCommandTable();
  BuildMainMenu();
  BuildContextMenu();

  // The bar stands in for the system menu: it carries "关于 Varnex2(&A)...".
  statusBar_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* systemMenu = new QMenu(this);
  systemMenu->setObjectName("systemMenu");
  AddCommand(systemMenu, menu::kAboutBox);
  connect(statusBar_, &QWidget::customContextMenuRequested, this,
          [this, systemMenu](const QPoint& at) { systemMenu->popup(statusBar_->mapToGlobal(at)); });

  // The node map's notifications arrive posted, as from a child window.
  connect(
      grid_, &judging::CColorGrid::gridMenu, this, [this](qintptr, qintptr) { ShowContextMenu(); },
      Qt::QueuedConnection);
  connect(grid_, &judging::CColorGrid::gridAreaDone, this, &CVarnex2Dlg::OnGridAreaDone, Qt::QueuedConnection);
  connect(grid_, &judging::CColorGrid::gridNodeEdit, this, &CVarnex2Dlg::OnGridNodeEdit, Qt::QueuedConnection);
  connect(grid_, &judging::CColorGrid::gridNodeMark, this, &CVarnex2Dlg::OnGridNodeMark, Qt::QueuedConnection);
  grid_->Model().SetListener(this);

  qApp->installEventFilter(this);
  resize(1024, 768);
  SetTitle(texts::kTitleDisconnected);
}

CVarnex2Dlg::~CVarnex2Dlg() {
  MarkClosing();
  qApp->removeEventFilter(this);
  grid_->Model().SetListener(nullptr);
}

void CVarnex2Dlg::ShowContextMenu() { contextMenu_->popup(QCursor::pos()); }

void CVarnex2Dlg::ShowBuzzerOutput(bool sounding) {
  if (sounding) {
    statusBar_->SetIndicator(QString::fromUtf8(texts::kBuzzerSounding), Qt::white, QColor(0xC0, 0, 0));
  } else {
    statusBar_->SetIndicator(QString::fromUtf8(texts::kBuzzerQuiet), QColor(0xE0, 0xE0, 0xE0),
                             QColor(0x50, 0x50, 0x50));
  }
}

// ---- Geometry, keys, closing ------------------------------------------------------------------

void CVarnex2Dlg::LayoutChildren() {
  const int top = menuBar_->sizeHint().height();
  const int w = width();
  const int h = height();
  menuBar_->setGeometry(0, 0, w, top);
  // The client area lies below the menu bar: the map takes it all but two pixels
  // at the right and the bar's height at the bottom.
  grid_->setGeometry(0, top, std::max(0, w - 2), std::max(0, h - top - kBarHeight));
  statusBar_->setGeometry(0, h - kBarHeight, w, kBarHeight);
  statusBar_->update();
}

void CVarnex2Dlg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutChildren();
}

void CVarnex2Dlg::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // While the device threads wait out their start-up pauses the window is
  // idle: the map's fonts and verdict overlays are loaded then instead of in
  // the first paints of the panel. A moment later, once maximised.
  if (warmedUp_) return;
  warmedUp_ = true;
  QTimer::singleShot(kWarmUpDelayMs, grid_, [grid = grid_] { grid->WarmUp(); });
}

bool CVarnex2Dlg::eventFilter(QObject* watched, QEvent* event) {
  // Enter, Escape, Space and Tab never act on this window (no default button, no
  // close, no focus moves); it closes only through its close box. Dialogs and
  // menus are windows of their own and keep their keys.
  const QEvent::Type type = event->type();
  if ((type == QEvent::KeyPress || type == QEvent::KeyRelease || type == QEvent::ShortcutOverride) &&
      watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (type == QEvent::KeyPress && keyHook_) keyHook_(*key);
    // The keyboard scanner's foreground path sees the key-down first, then its character.
    if (type == QEvent::KeyPress && station_ != nullptr) {
      bool consumed = station_->ForegroundKeyDown(VirtualKeyOf(*key));
      const QString text = key->text();
      if (text.size() == 1 && (text[0] == QChar(13) || text[0] == QChar(27) || text[0] == QChar(32))) {
        consumed = station_->ForegroundChar(text[0].unicode()) || consumed;
      }
      if (consumed) {
        event->accept();
        return true;
      }
    }
    switch (key->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Escape:
      case Qt::Key_Space:
      case Qt::Key_Tab:
      case Qt::Key_Backtab:
        event->accept();
        return true;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CVarnex2Dlg::MarkClosing() {
  {
    std::lock_guard lock(gate_->mutex);
    gate_->closing = true;
  }
  gate_->changed.notify_all();
}

void CVarnex2Dlg::closeEvent(QCloseEvent* event) {
  // Senders waiting on the window give up first, so that stopping the threads
  // below never waits on a thread that waits on us.
  MarkClosing();
  if (station_ != nullptr) station_->Shutdown();
  QWidget::closeEvent(event);
}

// ---- StationView ------------------------------------------------------------------------------

void CVarnex2Dlg::Post(std::function<void()> call) {
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

bool CVarnex2Dlg::Send(std::function<void()> call, std::stop_token stop) {
  if (QThread::currentThread() == thread()) {
    call();
    return true;
  }
  enum class State { Pending, Running, Done, Abandoned };
  struct Call {
    State state = State::Pending;
  };
  const std::shared_ptr<SendGate> gate = gate_;
  auto sent = std::make_shared<Call>();
  {
    std::lock_guard lock(gate->mutex);
    if (gate->closing || stop.stop_requested()) return false;
  }
  // The queued part refers to `call` in this frame: it runs only while the state
  // is Pending, and this function does not return before it is Done or Abandoned.
  QMetaObject::invokeMethod(
      this,
      [gate, sent, &call] {
        {
          std::lock_guard lock(gate->mutex);
          if (sent->state != State::Pending) return;
          sent->state = State::Running;
        }
        call();
        {
          std::lock_guard lock(gate->mutex);
          sent->state = State::Done;
        }
        gate->changed.notify_all();
      },
      Qt::QueuedConnection);

  std::unique_lock lock(gate->mutex);
  gate->changed.wait(lock, stop, [&] { return sent->state == State::Done || gate->closing; });
  if (sent->state == State::Pending) {
    sent->state = State::Abandoned;
    return false;
  }
  // Already running on the window thread: it ends by itself, wait for that.
  gate->changed.wait(lock, [&] { return sent->state == State::Done; });
  return true;
}

void CVarnex2Dlg::ApplyTitle(const QString& title) { setWindowTitle(options_.titlePrefix + title); }

void CVarnex2Dlg::SetTitle(const std::string& title) {
  baseTitle_ = QString::fromStdString(title);
  ApplyTitle(baseTitle_);
}

void CVarnex2Dlg::SetStatusPane(int pane, const std::string& text, std::uint32_t textColour, std::uint32_t backColour) {
  statusBar_->SetPaneText(pane, QString::fromStdString(text));
  statusBar_->SetPaneColours(pane, FromColourRef(textColour), FromColourRef(backColour));
}

void CVarnex2Dlg::SetStatusPaneWidth(int pane, int width) { statusBar_->SetPaneWidth(pane, width); }

void CVarnex2Dlg::EnableTopMenus(bool enabled) {
  for (int i = 0; i < 3; ++i) topMenus_[i]->menuAction()->setEnabled(enabled);
  // The disconnected look: no verdict is shown next to "设备未连接" (a pane still
  // green with the last panel's statistics would read as a pass).
  if (!enabled) {
    statusBar_->SetPaneText(1, QString());
    statusBar_->SetPaneColours(1, FromColourRef(kColourWhite), FromColourRef(kColourGrey));
  }
}

QString CVarnex2Dlg::RecordsDirectory() const {
  return QDir(options_.recordsDirectory.isEmpty() ? QDir::currentPath() : options_.recordsDirectory).absolutePath();
}

void CVarnex2Dlg::RepaintGrid() { grid_->repaint(); }

void CVarnex2Dlg::ShowMessage(const std::string& text, MessageIcon icon) {
  ShowStationMessage(this, QString::fromStdString(text), icon);
}

void CVarnex2Dlg::ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) {
  ShowStationMessage(this, QString::fromStdString(text), icon, QString::fromStdString(caption));
}

void CVarnex2Dlg::PlaySound(Sound sound) {
  if (sound == Sound::RecordWritten) {
    ++beeps_[0];
    QApplication::beep();
    return;
  }
  // The error sound: three beeps 150 ms apart, so that it is told from a record's beep.
  ++beeps_[1];
  QApplication::beep();
  QTimer::singleShot(150, this, [] { QApplication::beep(); });
  QTimer::singleShot(300, this, [] { QApplication::beep(); });
}

void CVarnex2Dlg::ShowRecordNotice(const std::string& text, bool error) {
  // An error stays until a record is written again; a written record's notice replaces it.
  recordNoticeError_ = error;
  statusBar_->SetNotice(QString::fromStdString(text), error ? QColor(Qt::white) : QColor(Qt::black),
                        error ? QColor(0xC0, 0, 0) : QColor(0xE8, 0xE8, 0xE8));
  if (error) std::fprintf(stderr, "%s\n", text.c_str());
}

QString CVarnex2Dlg::RecordNotice() const { return statusBar_->NoticeText(); }

bool CVarnex2Dlg::CycleTraceEnabled() const { return lcCycle().isDebugEnabled(); }

void CVarnex2Dlg::CycleTrace(const std::string& line) { qCDebug(lcCycle).noquote() << QString::fromStdString(line); }

void CVarnex2Dlg::ExitProgram(int code) {
  MarkClosing();
  QCoreApplication::exit(code);
}

// ---- Statistics notices -----------------------------------------------------------------------

void CVarnex2Dlg::OnShowTitleStats(int lParam) {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  if (judged_.fetch_add(1, std::memory_order_relaxed) == 0) firstJudged_.store(now);
  lastJudged_.store(now);
  titleParam_.store(lParam, std::memory_order_relaxed);
  ScheduleStatsNotice();
}

void CVarnex2Dlg::OnShowStatusStats(int lParam) {
  if (lParam == 0) return;
  statusShow_.store(true, std::memory_order_relaxed);
  ScheduleStatsNotice();
}

// Notices that arrive faster than the window handles them are merged into one
// queued call (the latest title state, the status pane when any asked for it):
// the evaluation neither waits nor piles up calls.
void CVarnex2Dlg::ScheduleStatsNotice() {
  if (noticePending_.exchange(true)) return;
  Post([this] {
    noticePending_.store(false);
    ShowTitleStats(titleParam_.load(std::memory_order_relaxed));
    if (statusShow_.exchange(false)) ShowStatusStats(1);
  });
}

QString CVarnex2Dlg::StatisticsText() const {
  return QString::fromStdString(station_ ? station_->StatisticsText() : grid_->Model().StatisticsText());
}

void CVarnex2Dlg::ShowTitleStats(int lParam) {
  if (lParam == 0) {
    ApplyTitle(baseTitle_);
  } else {
    ApplyTitle(baseTitle_ + QString(8, QLatin1Char(' ')) + StatisticsText());
  }
}

void CVarnex2Dlg::ShowStatusStats(int lParam) {
  if (lParam == 0) return;
  statusBar_->SetPaneText(1, StatisticsText());
  const std::string verdict = grid_->Model().GetVerdictText();
  if (verdict == "PASS") {
    statusBar_->SetPaneColours(1, FromColourRef(kColourWhite), FromColourRef(kColourGreen));
  } else if (verdict == "FAIL") {
    statusBar_->SetPaneColours(1, FromColourRef(kColourWhite), FromColourRef(kColourDarkRed));
  }
}

}  // namespace varnex2::app
