#include "app/station_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QCloseEvent>
#include <QCursor>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QThread>
#include <QTimer>

#include "app/menu_ids.h"
#include "app/message_box.h"

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

int IdOf(const QAction* action) {
  bool ok = false;
  const int id = action->data().toInt(&ok);
  return ok ? id : 0;
}

}  // namespace

CVarnex2Dlg::CVarnex2Dlg(judging::NodeMap& model, Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)) {
  grid_ = new judging::CColorGrid(model, this);
  grid_->setObjectName("grid");
  statusBar_ = new CStatusBarEx(this);
  statusBar_->setObjectName("statusBar");
  statusBar_->SetPanes({
      {QStringLiteral("设备未连接"), 160, Qt::AlignCenter},
      {QString(), 400, Qt::AlignCenter},
      {QStringLiteral("通用触摸屏测试系统"), 100, Qt::AlignRight},
  });
  menuBar_ = new QMenuBar(this);
  BuildMainMenu();
  BuildContextMenu();

  // The bar stands in for the system menu: it carries "关于 Varnex2(&A)...".
  statusBar_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* systemMenu = new QMenu(this);
  systemMenu->setObjectName("systemMenu");
  AddCommand(systemMenu, QStringLiteral("关于 Varnex2(&A)..."), menu::kAboutBox);
  connect(statusBar_, &QWidget::customContextMenuRequested, this,
          [this, systemMenu](const QPoint& at) { systemMenu->popup(statusBar_->mapToGlobal(at)); });

  // The node map's notifications arrive posted, as from a child window.
  connect(grid_, &judging::CColorGrid::gridMenu, this, [this](qintptr, qintptr) { ShowContextMenu(); },
          Qt::QueuedConnection);
  grid_->Model().SetListener(this);

  qApp->installEventFilter(this);
  resize(1024, 768);
  SetTitle("Varnex2 - 设备未连接");
}

CVarnex2Dlg::~CVarnex2Dlg() {
  MarkClosing();
  qApp->removeEventFilter(this);
  grid_->Model().SetListener(nullptr);
}

// ---- Menus ------------------------------------------------------------------------------------

QAction* CVarnex2Dlg::AddCommand(QMenu* menu, const QString& text, int id, bool checkable) {
  QAction* action = menu->addAction(text);
  action->setData(id);
  action->setCheckable(checkable);
  connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
  return action;
}

void CVarnex2Dlg::BuildMainMenu() {
  QMenu* file = menuBar_->addMenu(QStringLiteral("文件(&F)"));
  AddCommand(file, QStringLiteral("打开文件(O&pen)"), menu::kOpenFile);
  AddCommand(file, QStringLiteral("保存文件(S&ave)"), menu::kSaveFile);

  QMenu* edit = menuBar_->addMenu(QStringLiteral("编辑(&E）"));
  AddCommand(edit, QStringLiteral("最大最小值限定"), menu::kMaxMinLimits, true);
  edit->addSeparator();
  AddCommand(edit, QStringLiteral("样本上下限比对设定(&A）"), menu::kSampleLimits);
  AddCommand(edit, QStringLiteral("使能样本上下限比对设定(&E)"), menu::kEnableSampleLimits, true);
  edit->addSeparator();
  AddCommand(edit, QStringLiteral("相邻点数据比较"), menu::kAdjacent);
  AddCommand(edit, QStringLiteral("使能相邻点数据比较"), menu::kEnableAdjacent, true);
  edit->addSeparator();
  AddCommand(edit, QStringLiteral("序号起始从1开始"), menu::kLineNumberBase, true);
  AddCommand(edit, QStringLiteral("指示阈值设定"), menu::kPlacementThreshold);

  QMenu* tools = menuBar_->addMenu(QStringLiteral("工具(&T)"));
  AddCommand(tools, QStringLiteral("全局增益设定(&C)"), menu::kGlobalGain);
  AddCommand(tools, QStringLiteral("单层膜Sensor设定(&S)"), menu::kShieldlessGain);
  tools->addSeparator();
  QMenu* buzzer = tools->addMenu(QStringLiteral("蜂鸣器"));
  AddCommand(buzzer, QStringLiteral("使能"), menu::kBuzzerEnable, true);
  AddCommand(buzzer, QStringLiteral("反转"), menu::kBuzzerInvert, true);
  QMenu* lamp = tools->addMenu(QStringLiteral("指示灯"));
  AddCommand(lamp, QStringLiteral("使能"), menu::kLampEnable, true);
  AddCommand(lamp, QStringLiteral("反转"), menu::kLampInvert, true);
  tools->addSeparator();
  AddCommand(tools, QStringLiteral("扫描枪(&S)"), menu::kScanner);

  QMenu* help = menuBar_->addMenu(QStringLiteral("帮助(&H)"));
  QMenu* tutorials = help->addMenu(QStringLiteral("使用帮助"));
  AddCommand(tutorials, QStringLiteral("基本操作视频教程"), menu::kVideoBasics);
  AddCommand(tutorials, QStringLiteral("连接方法视频教程"), menu::kVideoConnect);
  AddCommand(tutorials, QStringLiteral("样本比对功能视频教程"), menu::kVideoSample);
  AddCommand(tutorials, QStringLiteral("相邻点比对功能视频教程"), menu::kVideoAdjacent);
  AddCommand(help, QStringLiteral("固件恢复教程"), menu::kFirmwareTutorial);
  help->addSeparator();
  AddCommand(help, QStringLiteral("网址(&U)"), menu::kWebSite);
  AddCommand(help, QStringLiteral("软件升级(P)"), menu::kUpdate);
  AddCommand(help, QStringLiteral("关于（&A）"), menu::kAbout);

  topMenus_[0] = file;
  topMenus_[1] = edit;
  topMenus_[2] = tools;
  topMenus_[3] = help;
  // Sub-menus are updated with their parent, so a check mark is right however the
  // operator gets there.
  for (QMenu* top : topMenus_) {
    connect(top, &QMenu::aboutToShow, this, [this, top] { UpdateMenuState(top); });
  }
}

void CVarnex2Dlg::BuildContextMenu() {
  contextMenu_ = new QMenu(this);
  contextMenu_->setObjectName("contextMenu");
  AddCommand(contextMenu_, QStringLiteral("触摸屏区域设置(&T)"), menu::kTouchArea);
  AddCommand(contextMenu_, QStringLiteral("按键区域设置(&K)"), menu::kKeyArea);
  AddCommand(contextMenu_, QStringLiteral("定义标记区域(&M)"), menu::kMarkRegion);
  contextMenu_->addSeparator();
  AddCommand(contextMenu_, QStringLiteral("恢复默认(&D)"), menu::kResetDefaults);
  QMenu* style = contextMenu_->addMenu(QStringLiteral("显示风格"));
  auto* radio = new QActionGroup(style);
  radio->setExclusive(true);
  const char* const styles[] = {"彩色", "单色", "文本", "背景"};
  for (int i = 0; i < 4; ++i) {
    radio->addAction(AddCommand(style, QString::fromUtf8(styles[i]), menu::kStyleColour + i, true));
  }
  contextMenu_->addSeparator();
  AddCommand(contextMenu_, QStringLiteral("抓取当前帧数据"), menu::kCaptureFrame);
  AddCommand(contextMenu_, QStringLiteral("差值模式"), menu::kDiffMode, true);
  connect(contextMenu_, &QMenu::aboutToShow, this, [this] { UpdateMenuState(contextMenu_); });
}

QAction* CVarnex2Dlg::FindAction(int id) const {
  for (QMenu* menu : findChildren<QMenu*>()) {
    for (QAction* action : menu->actions()) {
      if (!action->menu() && IdOf(action) == id) return action;
    }
  }
  return nullptr;
}

void CVarnex2Dlg::UpdateMenuState(QMenu* menu) {
  if (menu == nullptr) return;
  const judging::NodeMap& model = grid_->Model();
  const std::uint32_t modes =
      station_ ? station_->TestModeFlags() : static_cast<std::uint32_t>(model.TestModeFlags());
  const int style = station_ ? station_->DisplayStyle() : model.GetDisplayStyle();
  const std::uint8_t buzzer = station_ ? station_->BuzzerByte() : 0;
  const bool diff = station_ && station_->DiffMode();

  for (QAction* action : menu->actions()) {
    if (QMenu* sub = action->menu()) {
      UpdateMenuState(sub);
      continue;
    }
    switch (IdOf(action)) {
      case menu::kMaxMinLimits: action->setChecked(model.GetScreenThresholdEnable()); break;
      case menu::kEnableSampleLimits: action->setChecked((modes & 0x2) != 0); break;
      case menu::kEnableAdjacent: action->setChecked((modes & 0x4) != 0); break;
      case menu::kMarkRegion: action->setEnabled((modes & 0x4) != 0); break;
      case menu::kLineNumberBase: action->setChecked(model.LineNumberBase() == 1); break;
      case menu::kBuzzerEnable: action->setChecked((buzzer & 0x1) != 0); break;
      case menu::kBuzzerInvert: action->setChecked((buzzer & 0x2) != 0); break;
      case menu::kDiffMode: action->setChecked(diff); break;
      case menu::kStyleColour:
      case menu::kStyleMono:
      case menu::kStyleText:
      case menu::kStyleBackground: action->setChecked(IdOf(action) - menu::kStyleColour == style); break;
      default: break;
    }
  }
}

void CVarnex2Dlg::ShowContextMenu() {
  contextMenu_->popup(QCursor::pos());
}

QString CVarnex2Dlg::ChooseFile(int id, bool save) {
  if (chooser_) return chooser_(id, save);
  if (id == menu::kCaptureFrame) {
    return QFileDialog::getSaveFileName(this, QString(), QString(), QStringLiteral("CSV (*.csv);;* (*)"));
  }
  const QString filter = QStringLiteral("XML (*.xml);;* (*)");
  return save ? QFileDialog::getSaveFileName(this, QString(), QString(), filter)
              : QFileDialog::getOpenFileName(this, QString(), QString(), filter);
}

void CVarnex2Dlg::RunCommand(int id) {
  const auto path = [](const QString& file) { return std::filesystem::path(file.toStdString()); };
  switch (id) {
    case menu::kOpenFile:
    case menu::kSaveFile:
    case menu::kCaptureFrame: {
      if (station_ == nullptr) break;
      const QString file = ChooseFile(id, id != menu::kOpenFile);
      if (file.isEmpty()) break;
      if (id == menu::kOpenFile) {
        station_->LoadParameterFile(path(file));
      } else if (id == menu::kSaveFile) {
        station_->SaveParameterFile(path(file));
      } else {
        station_->CaptureFrame(path(file));
      }
      break;
    }
    case menu::kResetDefaults:
      if (station_) station_->ResetPanelConfig();
      break;
    case menu::kStyleColour:
    case menu::kStyleMono:
    case menu::kStyleText:
    case menu::kStyleBackground:
      if (station_) station_->SetDisplayStyle(id - menu::kStyleColour);
      break;
    case menu::kDiffMode:
      if (station_) station_->ToggleDiffMode();
      break;
    case menu::kBuzzerEnable:
      if (station_) station_->ToggleBuzzerEnable();
      break;
    case menu::kBuzzerInvert:
      if (station_) station_->ToggleBuzzerInvert();
      break;
    case menu::kLineNumberBase:
      if (station_) station_->ToggleLineNumberBase();
      break;
    case menu::kEnableSampleLimits:
      if (station_) station_->ToggleTestModeBit(0x2);
      break;
    case menu::kEnableAdjacent:
      if (station_) station_->ToggleTestModeBit(0x4);
      break;
    case menu::kMarkRegion: {
      // Only offered in adjacent-point mode; a shortcut or a stale menu must not
      // start a selection outside it.
      const std::uint32_t modes = station_ ? station_->TestModeFlags()
                                           : static_cast<std::uint32_t>(grid_->Model().TestModeFlags());
      if ((modes & 0x4) == 0) break;
      grid_->SetRegionSelect(true);
      bRegionPending = true;
      break;
    }
    default:
      // The dialogs and tools behind the other items are not part of this window.
      break;
  }
  // A checkable action toggles itself when chosen; the state it shows is the
  // station's, so bring it back in line at once.
  if (QAction* action = FindAction(id); action != nullptr && action->isCheckable()) {
    UpdateMenuState(qobject_cast<QMenu*>(action->parent()));
  }
  emit commandDone(id);
}

void CVarnex2Dlg::ShowBuzzerOutput(bool sounding) {
  if (sounding) {
    statusBar_->SetIndicator(QStringLiteral("蜂鸣器 响"), Qt::white, QColor(0xC0, 0, 0));
  } else {
    statusBar_->SetIndicator(QStringLiteral("蜂鸣器 静"), QColor(0xE0, 0xE0, 0xE0), QColor(0x50, 0x50, 0x50));
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

void CVarnex2Dlg::ApplyTitle(const QString& title) {
  setWindowTitle(options_.titlePrefix + title);
}

void CVarnex2Dlg::SetTitle(const std::string& title) {
  baseTitle_ = QString::fromStdString(title);
  ApplyTitle(baseTitle_);
}

void CVarnex2Dlg::SetStatusPane(int pane, const std::string& text, std::uint32_t textColour,
                                std::uint32_t backColour) {
  statusBar_->SetPaneText(pane, QString::fromStdString(text));
  statusBar_->SetPaneColours(pane, FromColourRef(textColour), FromColourRef(backColour));
}

void CVarnex2Dlg::SetStatusPaneWidth(int pane, int width) {
  statusBar_->SetPaneWidth(pane, width);
}

void CVarnex2Dlg::EnableTopMenus(bool enabled) {
  for (int i = 0; i < 3; ++i) topMenus_[i]->menuAction()->setEnabled(enabled);
}

QString CVarnex2Dlg::RecordsDirectory() const {
  return QDir(options_.recordsDirectory.isEmpty() ? QDir::currentPath() : options_.recordsDirectory).absolutePath();
}

void CVarnex2Dlg::RepaintGrid() {
  grid_->repaint();
}

void CVarnex2Dlg::ShowMessage(const std::string& text, MessageIcon icon) {
  ShowStationMessage(this, QString::fromStdString(text), icon);
}

bool CVarnex2Dlg::CycleTraceEnabled() const { return lcCycle().isDebugEnabled(); }

void CVarnex2Dlg::CycleTrace(const std::string& line) {
  qCDebug(lcCycle).noquote() << QString::fromStdString(line);
}

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
