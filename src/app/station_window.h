// CVarnex2Dlg: the station window. It fills itself with the node map, keeps the
// status bar at the bottom, carries the main menu and the node map's context
// menu, and is the station core's StationView: the core's worker threads reach
// the window thread through Post and Send.
//
// Threads: the widget lives on the window thread. Post, Send and the two
// NodeMapListener notifications may be called from any thread; everything else
// on the window thread only.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/station_commands.h"
#include "app/message_box.h"
#include "app/status_bar_ex.h"
#include "judging/widget/color_grid.h"
#include "judging/node_map.h"

class QAction;
class QIcon;
class QKeyEvent;
class QMenu;
class QMenuBar;

namespace varnex2::tools {
class CAboutDlg;
}

namespace varnex2::app {

// The program's icon (every size), for the window and the application.
QIcon StationIcon();

class CVarnex2Dlg : public QWidget, public StationView, public judging::NodeMapListener {
  Q_OBJECT

 public:
  struct Options {
    // Put in front of every title, e.g. "【模拟】" while the box is simulated.
    QString titlePrefix;
    // Where the test records go (their day and "TestLog" folders are made
    // inside it); empty: the working directory. A simulated station keeps its
    // records in a folder of their own.
    QString recordsDirectory;
  };

  // What a file command asks the operator for.
  struct FileRequest {
    int id = 0;             // the command
    bool save = false;      // a save dialog (else an open dialog)
    QString filter;         // "数据文件(*.csv)" or "配置文件(*.xml)"
    QString defaultSuffix;  // given to a name typed without an extension
  };
  // Asks for a file; an empty result cancels. The default shows the file dialog;
  // tests replace it. A name without an extension gets the default one either way.
  using FileChooser = std::function<QString(const FileRequest& request)>;
  // Sees every key press aimed at the window or its children before the window
  // swallows its keys (the keyboard scanner's capture and trigger handling).
  using KeyHook = std::function<void(const QKeyEvent& key)>;

  // `model` is the station core's node map; it outlives the window.
  explicit CVarnex2Dlg(judging::NodeMap& model, Options options = {}, QWidget* parent = nullptr);
  ~CVarnex2Dlg() override;

  judging::CColorGrid* Grid() const { return grid_; }
  CStatusBarEx* StatusBar() const { return statusBar_; }
  QMenuBar* MainMenu() const { return menuBar_; }
  QMenu* ContextMenu() const { return contextMenu_; }
  // The action of a command id in the main or the context menu; null when none.
  QAction* FindAction(int id) const;

  // The core, once it exists (null: the commands that need it do nothing).
  // It must outlive the window, or be detached (null) first.
  void AttachStation(StationCommands* station) { station_ = station; }
  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
  void SetKeyHook(KeyHook hook) { keyHook_ = std::move(hook); }
  // Who answers the set-up procedures' questions; null (the default): the dialogs.
  void SetPrompts(station::SetupPrompts* prompts) { prompts_ = prompts; }

  QString BaseTitle() const { return baseTitle_; }
  // The folder the records are written in (absolute).
  QString RecordsDirectory() const;
  // Evaluations reported by the node map since the window was created.
  std::uint64_t JudgedFrames() const { return judged_.load(); }
  // When the first evaluation was reported (steady clock); epoch when none was.
  std::chrono::steady_clock::time_point FirstJudgedAt() const {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(firstJudged_.load()));
  }
  // When the latest evaluation was reported (steady clock); epoch when none was.
  std::chrono::steady_clock::time_point LastJudgedAt() const {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastJudged_.load()));
  }

  // ---- StationView ----------------------------------------------------------
  void Post(std::function<void()> call) override;
  bool Send(std::function<void()> call, std::stop_token stop = {}) override;
  void SetTitle(const std::string& title) override;
  void SetStatusPane(int pane, const std::string& text, std::uint32_t textColour, std::uint32_t backColour) override;
  void SetStatusPaneWidth(int pane, int width) override;
  void EnableTopMenus(bool enabled) override;
  void RepaintGrid() override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override;
  // The written-record beep, or the error sound (three short beeps) of a record not written.
  void PlaySound(Sound sound) override;
  // The record notice at the right of the status bar (red for an error).
  void ShowRecordNotice(const std::string& text, bool error) override;
  QString RecordNotice() const;
  bool RecordNoticeIsError() const { return recordNoticeError_; }
  // How many record beeps of each kind were played (tests).
  int RecordBeeps(Sound sound) const { return sound == Sound::RecordWritten ? beeps_[0] : beeps_[1]; }
  void ExitProgram(int code) override;
  // On with QT_LOGGING_RULES="varnex2.cycle.debug=true"; off by default.
  bool CycleTraceEnabled() const override;
  void CycleTrace(const std::string& line) override;

  // ---- NodeMapListener (evaluating thread: only queues) ----------------------
  void OnShowTitleStats(int lParam) override;
  void OnShowStatusStats(int lParam) override;

  // ---- Handlers (window thread) -----------------------------------------------
  // WM_SHOW_TITLE_STATS: 0 base title, 1 base title + eight spaces + statistics.
  void ShowTitleStats(int lParam);
  // WM_SHOW_STATUS_STATS: 1 puts the statistics into pane 1, coloured by the
  // verdict; 0 does nothing.
  void ShowStatusStats(int lParam);
  // Brings check marks and enabled states of a menu's items up to date.
  void UpdateMenuState(QMenu* menu);
  // Runs command `id` as if chosen in a menu. False when the command does not
  // exist, is not built yet, or is disabled now; nothing runs then.
  bool RunCommand(int id);
  // Whether command `id` has a handler in this build (the items without one are
  // shown disabled).
  bool CommandBuilt(int id) const;
  // The simulated box's buzzer output, shown beside the status panes.
  void ShowBuzzerOutput(bool sounding);
  // The modeless About window while it is open (null otherwise).
  tools::CAboutDlg* AboutWindow() const;

 signals:
  // After a command ran (tests and tracing).
  void commandDone(int id);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct SendGate {
    std::mutex mutex;
    std::condition_variable_any changed;
    bool closing = false;
  };

  // One entry of the command table (menu_commands.cpp): every menu command is
  // declared there once.
  struct MenuCommand {
    int id = 0;
    const char* text = "";
    // What choosing it does; empty: its dialog or tool is not built yet, and
    // the item is shown disabled with a tip saying so.
    std::function<void()> run;
    // Checkable items: whether the check mark shows; empty: not checkable.
    std::function<bool()> checked;
    // When the item may be chosen; empty: always.
    std::function<bool()> enabled;
  };

  void BuildCommandTable();
  void BuildMainMenu();
  void BuildContextMenu();
  const MenuCommand* Command(int id) const;
  bool Enabled(const MenuCommand& command) const;
  QAction* AddCommand(QMenu* menu, int id);
  std::uint32_t TestModes() const;
  // The file commands (bracketed as their handlers need).
  void OpenParameterFile();
  void SaveParameterFile();
  void CaptureFrame();
  void ShowContextMenu();
  // The set-up handlers (setup_handlers.cpp).
  station::SetupPrompts& Prompts();
  void DefineArea(bool key);  // 32780, 32781
  void OnGridAreaDone(qintptr wParam, qintptr lParam);
  void OnGridNodeEdit(qintptr wParam, qintptr lParam);
  void OnGridNodeMark(qintptr wParam, qintptr lParam);
  void OpenMaxMinDialog();            // 32861
  void OpenPlacementTriggerDialog();  // 32906
  void OpenSampleLimitEditor();       // 32797
  void OpenScannerSettingDialog();    // 32815
  // The Help menu (help_handlers.cpp).
  void OpenAbout(bool systemMenu);  // 32794 (modeless, connected only); 16 (modal, fields empty)
  void CheckForUpdate();            // 32808
  void OpenHelpEntry(int id);       // 32845..32848, 32858
  void OpenVendorSite();            // 32804
  void LayoutChildren();
  void ApplyTitle(const QString& title);
  void ScheduleStatsNotice();
  QString StatisticsText() const;
  QString ChooseFile(int id);
  void MarkClosing();

  Options options_;
  judging::CColorGrid* grid_ = nullptr;
  CStatusBarEx* statusBar_ = nullptr;
  QMenuBar* menuBar_ = nullptr;
  QMenu* contextMenu_ = nullptr;
  QMenu* topMenus_[4] = {};
  StationCommands* station_ = nullptr;
  FileChooser chooser_;
  KeyHook keyHook_;
  station::SetupPrompts* prompts_ = nullptr;
  std::unique_ptr<station::SetupPrompts> ownPrompts_;
  QPointer<tools::CAboutDlg> about_;
  bool areaDragStopped_ = false;  // 32780/32781 stopped the cycle for a drag not yet ended
  std::vector<MenuCommand> commands_;
  QString baseTitle_;
  bool bRegionPending = false;  // a region selection for adjacent percentages was asked for
  bool warmedUp_ = false;
  bool recordNoticeError_ = false;
  int beeps_[2] = {0, 0};

  std::shared_ptr<SendGate> gate_ = std::make_shared<SendGate>();
  std::atomic<std::uint64_t> judged_{0};
  std::atomic<std::chrono::steady_clock::rep> firstJudged_{0};
  std::atomic<std::chrono::steady_clock::rep> lastJudged_{0};
  std::atomic<int> titleParam_{0};
  std::atomic<bool> statusShow_{false};
  std::atomic<bool> noticePending_{false};
};

}  // namespace varnex2::app
