// The station window's set-up handlers: the node map's notifications (area drawn, node
// double-clicked, node marked), the area commands of the context menu and the limit dialogs
// of the main menu. The procedures themselves are the station core's; the window supplies the
// dialogs that answer their questions.
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "app/station_window.h"
#include "app/window_texts.h"
#include "dialogs/advanced_dlg.h"
#include "dialogs/dialog_prompts.h"
#include "dialogs/legacy_import_dlg.h"
#include "dialogs/max_min_dlg.h"
#include "dialogs/place_trigger_dlg.h"
#include "dialogs/scanner_setting_dlg.h"

namespace varnex2::app {

namespace {

using judging::TestMode::ADJACENT;
using judging::TestMode::LIMITS;
using judging::TestMode::THRESHOLD;

// lParam of the node messages: column in the low byte, row in the next.
int ColOf(qintptr lParam) { return static_cast<int>(lParam & 0xFF); }
int RowOf(qintptr lParam) { return static_cast<int>((lParam >> 8) & 0xFF); }

// A sample's fresh frame: the cycle runs for at least 50 ms and until it has judged a frame
// (at most one second), with the window's events served meanwhile.
constexpr int kSampleWindowMs = 50;
constexpr int kSampleFrameWaitMs = 1000;

void ServeEventsFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

station::SetupPrompts& CVarnex2Dlg::Prompts() {
  if (prompts_ != nullptr) return *prompts_;
  if (!ownPrompts_) ownPrompts_ = std::make_unique<dialogs::DialogPrompts>(this);
  return *ownPrompts_;
}

// ---- context-menu commands ----------------------------------------------------------------------

void CVarnex2Dlg::DefineArea(bool key) {
  if (station_ == nullptr) return;
  station_->StopTestThread();
  const int areas = grid_->Model().AreaCount();
  if (key && areas == 0) {
    ShowMessage(texts::kNoTouchArea, MessageIcon::Warning);
    station_->ResumeTest();
    return;
  }
  if (key) {
    if (areas >= 2)
      grid_->BeginAreaDefine(1);
    else
      grid_->StartNewArea();
  } else {
    if (areas > 0)
      grid_->BeginAreaDefine(0);
    else
      grid_->StartNewArea();
  }
  // The drag's end resumes the cycle: through the area dialog, or at once when there is none.
  areaDragStopped_ = true;
}

// ---- the node map's notifications -------------------------------------------------------------

void CVarnex2Dlg::OnGridAreaDone(qintptr wParam, qintptr lParam) {
  const bool dragStopped = std::exchange(areaDragStopped_, false);
  if (station_ == nullptr) return;
  if ((TestModes() & ADJACENT) != 0) {
    if (bRegionPending) {
      const judging::NodePos start = grid_->SelectionStart();
      const judging::NodePos end = grid_->SelectionEnd();
      station_->AdjacentRegion(start.col, start.row, end.col, end.row, Prompts());
      bRegionPending = false;
      grid_->SetRegionSelect(false);
      grid_->ShowSelection(false);
      grid_->RepaintIfIdle();
    }
    if (dragStopped) station_->ResumeTest();
    return;
  }
  if (lParam != 1 && lParam != 2) {
    // Released outside the map (or no area drawn): no dialog, the cycle goes on.
    if (dragStopped) station_->ResumeTest();
    return;
  }
  (void)wParam;
  station_->AreaDefined(static_cast<int>(lParam), Prompts());
  grid_->RepaintIfIdle();
}

void CVarnex2Dlg::OnGridNodeEdit(qintptr wParam, qintptr lParam) {
  if (station_ == nullptr) return;
  const int nArea = static_cast<int>(wParam);
  const std::uint32_t modes = TestModes();
  if ((modes & ADJACENT) != 0)
    station_->EditNodePercent(nArea, ColOf(lParam), RowOf(lParam), Prompts());
  else if ((modes & LIMITS) != 0)
    station_->EditNodeLimits(ColOf(lParam), RowOf(lParam), Prompts());
  else if ((modes & THRESHOLD) != 0)
    station_->EditAreaOfNode(nArea, Prompts());
  grid_->RepaintIfIdle();
}

void CVarnex2Dlg::OnGridNodeMark(qintptr wParam, qintptr lParam) {
  if (station_ == nullptr) return;
  const int oldFlags = static_cast<int>((wParam >> 8) & 0xFF);
  const int nArea = static_cast<int>(static_cast<std::int8_t>(wParam & 0xFF));
  station_->MarkNode(oldFlags, nArea, ColOf(lParam), RowOf(lParam));
  grid_->RepaintIfIdle();
}

// ---- main-menu dialogs ------------------------------------------------------------------------

void CVarnex2Dlg::OpenMaxMinDialog() {
  if (station_ == nullptr) return;
  config::ScreenLevelSettings group = station_->LoadScreenLevel();
  dialogs::CMaxMinDlg dialog(group, station_->Settings(), this);
  const bool confirmed = dialog.exec() == QDialog::Accepted;
  station_->ApplyScreenLevel(group, confirmed);
  grid_->RepaintIfIdle();
}

void CVarnex2Dlg::OpenPlacementTriggerDialog() {
  if (station_ == nullptr) return;
  std::int32_t max = 0, min = 0, average = 0;
  grid_->Model().GetStatisticsBrief(0, max, min, average);
  const QString statistics = QString::asprintf(texts::kPlacementStatisticsFormat, max, min, average);
  dialogs::CPlaceTriggerDlg dialog(statistics, station_->Settings(), this);
  // Opening reloads the stored values, so the cycle uses them from now on.
  station_->SetTriggerLevel(dialog.TriggerLevel());
  station_->SetStableFrameCount(dialog.StableFrameCount());
  if (dialog.exec() != QDialog::Accepted) return;
  station_->SetTriggerLevel(dialog.TriggerLevel());
  station_->SetStableFrameCount(dialog.StableFrameCount());
}

void CVarnex2Dlg::OpenSampleLimitEditor() {
  if (station_ == nullptr) return;
  station_->StopTestThread();
  const auto freshFrame = [this] {
    const std::uint64_t before = JudgedFrames();
    station_->ResumeTest();
    ServeEventsFor(kSampleWindowMs);
    QElapsedTimer waited;
    waited.start();
    while (JudgedFrames() == before && waited.elapsed() < kSampleFrameWaitMs) ServeEventsFor(5);
    station_->StopTestThread();
    ServeEventsFor(kSampleWindowMs);
  };
  dialogs::CAdvancedDlg dialog(grid_->Model(), station_->PanelConfigCopy().sampleLimits, freshFrame, this);
  dialog.SetRepaint([this] { grid_->repaint(); });
  dialog.SetLegacyImport([this](dialogs::CAdvancedDlg& editor) {
    dialogs::ImportLegacyParameters(editor,
                                    [this](const config::LegacyIniFile& ini) { return station_->ImportLegacyIni(ini); });
  });
  if (dialog.exec() == QDialog::Accepted) {
    const config::SampleLimitSet result = dialog.Result();
    station_->FinishSampleLimits(&result);
  } else {
    station_->FinishSampleLimits(nullptr);
  }
  grid_->RepaintIfIdle();
}

void CVarnex2Dlg::OpenScannerSettingDialog() {
  if (station_ == nullptr) return;
  station_->StopTestThread();
  {
    // Opening reloads the settings (the screen-level group and the gain with them; those are
    // the max/min dialog's and stay as the connection loaded them).
    config::ScreenLevelSettings screen;
    std::int32_t diffModeGain = 0;
    StationCommands* station = station_;
    dialogs::CScannerSettingDlg dialog(station->ScannerSettings(), station->Settings(), screen, diffModeGain,
                                       [station] { return station->ScannerPorts(); }, this);
    dialog.exec();
  }
  station_->ResumeTest();
}

}  // namespace varnex2::app
