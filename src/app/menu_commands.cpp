// The station window's commands: the command table, the menus built from it, their
// check/enable rules and the file commands.
#include <QAction>
#include <QActionGroup>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>

#include "app/menu_ids.h"
#include "app/station_window.h"
#include "app/window_texts.h"
#include "tools/gain_t46_dlg.h"
#include "tools/gain_t56_dlg.h"

namespace varnex2::app {

namespace {

using judging::TestMode::ADJACENT;
using judging::TestMode::LIMITS;
using judging::TestMode::THRESHOLD;

// The gain commands give the controller this long after the test has stopped.
constexpr int kGainSettleMs = 500;

// Bits of the bridge's configuration byte.
constexpr std::uint8_t kBuzzerEnableBit = 0x1;
constexpr std::uint8_t kBuzzerInvertBit = 0x2;

int IdOf(const QAction* action) {
  bool ok = false;
  const int id = action->data().toInt(&ok);
  return ok ? id : 0;
}

std::filesystem::path PathOf(const QString& file) { return QFile::encodeName(file).toStdString(); }

// A name typed without an extension gets the default one. An open dialog keeps a
// name without one that exists as it stands.
QString WithDefaultSuffix(const QString& file, const CVarnex2Dlg::FileRequest& request) {
  if (file.isEmpty() || request.defaultSuffix.isEmpty()) return file;
  const QFileInfo info(file);
  if (!info.suffix().isEmpty() || info.fileName().isEmpty()) return file;
  if (!request.save && info.exists()) return file;
  return file + (file.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".")) + request.defaultSuffix;
}

// 32806: the test stopped, the T46 dialog. After OK the controller has been reset and its
// return is handled as a replug; otherwise threshold mode goes on and the test resumes.
void RunGlobalGain(StationCommands& station, QWidget* parent) {
  service::GainAccess* gain = station.Gain();
  if (gain == nullptr) return;
  station.StopTestThread();
  tools::WaitWithoutInput(kGainSettleMs);
  tools::CSptCTEConfigT46 dialog(*gain, StationIcon(), parent);
  if (dialog.exec() == QDialog::Accepted) return;
  if ((station.TestModeFlags() & static_cast<std::uint32_t>(THRESHOLD)) == 0) {
    station.ToggleTestModeBit(static_cast<std::uint32_t>(THRESHOLD));
  }
  station.ResumeTest();
}

// 32837: the T56 dialog, which stops and resumes the test around each of its accesses.
void RunShieldlessGain(StationCommands& station, QWidget* parent) {
  service::GainAccess* gain = station.Gain();
  if (gain == nullptr) return;
  tools::WaitWithoutInput(kGainSettleMs);
  tools::CSptCTEConfigT56 dialog(*gain, parent);
  dialog.exec();
}

}  // namespace

// ---- The command table ------------------------------------------------------------------------

void CVarnex2Dlg::BuildCommandTable() {
  namespace t = texts;
  // A command that asks the core for something; nothing before the core exists.
  const auto core = [this](void (StationCommands::*call)()) {
    return [this, call] {
      if (station_ != nullptr) (station_->*call)();
    };
  };
  const auto toggleMode = [this](std::int32_t bit) {
    return [this, bit] {
      if (station_ != nullptr) station_->ToggleTestModeBit(static_cast<std::uint32_t>(bit));
    };
  };
  const auto modeSet = [this](std::int32_t bit) {
    return [this, bit] { return (TestModes() & static_cast<std::uint32_t>(bit)) != 0; };
  };
  const auto style = [this](int value) {
    return [this, value] {
      if (station_ != nullptr) station_->SetDisplayStyle(value);
    };
  };
  const auto styleIs = [this](int value) {
    return [this, value] { return (station_ ? station_->DisplayStyle() : grid_->Model().GetDisplayStyle()) == value; };
  };
  const auto buzzerBit = [this](std::uint8_t bit) {
    return [this, bit] { return station_ != nullptr && (station_->BuzzerByte() & bit) != 0; };
  };
  // The lamp items have no function at the station: they stay usable and do nothing.
  const auto nothing = [] {};
  const auto gain = [this](void (*run)(StationCommands&, QWidget*)) {
    return [this, run] {
      if (station_ != nullptr) run(*station_, this);
    };
  };
  const auto gainReady = [this] { return station_ != nullptr && station_->Gain() != nullptr; };

  commands_ = {
      // id, text, run, checked, enabled
      {menu::kAboutBox, t::kAboutBox, [this] { OpenAbout(true); }, {}, {}},
      {menu::kOpenFile, t::kOpenFile, [this] { OpenParameterFile(); }, {}, {}},
      {menu::kSaveFile, t::kSaveFile, [this] { SaveParameterFile(); }, {}, {}},
      {menu::kMaxMinLimits,
       t::kMaxMinLimits,
       [this] { OpenMaxMinDialog(); },
       [this] { return grid_->Model().GetScreenThresholdEnable(); },
       {}},
      {menu::kSampleLimits, t::kSampleLimits, [this] { OpenSampleLimitEditor(); }, {}, {}},
      {menu::kEnableSampleLimits, t::kEnableSampleLimits, toggleMode(LIMITS), modeSet(LIMITS), {}},
      {menu::kAdjacent,
       t::kAdjacent,
       [this] {
         if (station_ != nullptr) station_->AdjacentWholeMap(Prompts());
       },
       {},
       {}},
      {menu::kEnableAdjacent, t::kEnableAdjacent, toggleMode(ADJACENT), modeSet(ADJACENT), {}},
      {menu::kLineNumberBase,
       t::kLineNumberBase,
       core(&StationCommands::ToggleLineNumberBase),
       [this] { return grid_->Model().LineNumberBase() == 1; },
       {}},
      {menu::kPlacementThreshold, t::kPlacementThreshold, [this] { OpenPlacementTriggerDialog(); }, {}, {}},
      {menu::kGlobalGain, t::kGlobalGain, gain(RunGlobalGain), {}, gainReady},
      {menu::kShieldlessGain, t::kShieldlessGain, gain(RunShieldlessGain), {}, gainReady},
      {menu::kBuzzerEnable, t::kEnable, core(&StationCommands::ToggleBuzzerEnable), buzzerBit(kBuzzerEnableBit), {}},
      {menu::kBuzzerInvert, t::kInvert, core(&StationCommands::ToggleBuzzerInvert), buzzerBit(kBuzzerInvertBit), {}},
      {menu::kLampEnable, t::kEnable, nothing, {}, {}},
      {menu::kLampInvert, t::kInvert, nothing, {}, {}},
      {menu::kScanner, t::kScanner, [this] { OpenScannerSettingDialog(); }, {}, {}},
      {menu::kVideoBasics, t::kVideoBasics, [this] { OpenHelpEntry(menu::kVideoBasics); }, {}, {}},
      {menu::kVideoConnect, t::kVideoConnect, [this] { OpenHelpEntry(menu::kVideoConnect); }, {}, {}},
      {menu::kVideoSample, t::kVideoSample, [this] { OpenHelpEntry(menu::kVideoSample); }, {}, {}},
      {menu::kVideoAdjacent, t::kVideoAdjacent, [this] { OpenHelpEntry(menu::kVideoAdjacent); }, {}, {}},
      {menu::kFirmwareTutorial,
       t::kFirmwareTutorial,
       [this] { OpenHelpEntry(menu::kFirmwareTutorial); },
       {},
       {}},
      {menu::kWebSite, t::kWebSite, [this] { OpenVendorSite(); }, {}, {}},
      {menu::kUpdate, t::kUpdate, [this] { CheckForUpdate(); }, {}, {}},
      {menu::kAbout, t::kAbout, [this] { OpenAbout(false); }, {}, [this] { return station_ != nullptr && station_->DeviceConnected(); }},
      // The node map's context menu.
      {menu::kTouchArea, t::kTouchArea, [this] { DefineArea(false); }, {}, {}},
      {menu::kKeyArea, t::kKeyArea, [this] { DefineArea(true); }, {}, {}},
      {menu::kMarkRegion,
       t::kMarkRegion,
       [this] {
         grid_->SetRegionSelect(true);
         bRegionPending = true;
       },
       {},
       modeSet(ADJACENT)},
      {menu::kResetDefaults, t::kResetDefaults, core(&StationCommands::ResetPanelConfig), {}, {}},
      {menu::kStyleColour, t::kStyleColour, style(0), styleIs(0), {}},
      {menu::kStyleMono, t::kStyleMono, style(1), styleIs(1), {}},
      {menu::kStyleText, t::kStyleText, style(2), styleIs(2), {}},
      {menu::kStyleBackground, t::kStyleBackground, style(3), styleIs(3), {}},
      {menu::kCaptureFrame, t::kCaptureFrame, [this] { CaptureFrame(); }, {}, {}},
      {menu::kDiffMode,
       t::kDiffMode,
       core(&StationCommands::ToggleDiffMode),
       [this] { return station_ != nullptr && station_->DiffMode(); },
       {}},
  };
}

const CVarnex2Dlg::MenuCommand* CVarnex2Dlg::Command(int id) const {
  for (const MenuCommand& command : commands_) {
    if (command.id == id) return &command;
  }
  return nullptr;
}

bool CVarnex2Dlg::CommandBuilt(int id) const {
  const MenuCommand* command = Command(id);
  return command != nullptr && command->run;
}

bool CVarnex2Dlg::Enabled(const MenuCommand& command) const {
  return command.run && (!command.enabled || command.enabled());
}

std::uint32_t CVarnex2Dlg::TestModes() const {
  return station_ ? station_->TestModeFlags() : static_cast<std::uint32_t>(grid_->Model().TestModeFlags());
}

// ---- Menus ------------------------------------------------------------------------------------

QAction* CVarnex2Dlg::AddCommand(QMenu* menu, int id) {
  const MenuCommand* command = Command(id);
  Q_ASSERT(command != nullptr);
  QAction* action = menu->addAction(QString::fromUtf8(command->text));
  action->setData(id);
  action->setCheckable(static_cast<bool>(command->checked));
  if (!command->run) {
    action->setEnabled(false);
    action->setToolTip(QString::fromUtf8(texts::kNotAvailable));
    action->setStatusTip(QString::fromUtf8(texts::kNotAvailable));
    menu->setToolTipsVisible(true);
  }
  connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
  return action;
}

void CVarnex2Dlg::BuildMainMenu() {
  const auto title = [](const char* text) { return QString::fromUtf8(text); };
  QMenu* file = menuBar_->addMenu(title(texts::kMenuFile));
  AddCommand(file, menu::kOpenFile);
  AddCommand(file, menu::kSaveFile);

  QMenu* edit = menuBar_->addMenu(title(texts::kMenuEdit));
  AddCommand(edit, menu::kMaxMinLimits);
  edit->addSeparator();
  AddCommand(edit, menu::kSampleLimits);
  AddCommand(edit, menu::kEnableSampleLimits);
  edit->addSeparator();
  AddCommand(edit, menu::kAdjacent);
  AddCommand(edit, menu::kEnableAdjacent);
  edit->addSeparator();
  AddCommand(edit, menu::kGlobalGain);
  AddCommand(edit, menu::kShieldlessGain);
  edit->addSeparator();
  AddCommand(edit, menu::kLineNumberBase);
  AddCommand(edit, menu::kPlacementThreshold);

  QMenu* tools = menuBar_->addMenu(title(texts::kMenuTools));
  QMenu* buzzer = tools->addMenu(title(texts::kMenuBuzzer));
  AddCommand(buzzer, menu::kBuzzerEnable);
  AddCommand(buzzer, menu::kBuzzerInvert);
  QMenu* lamp = tools->addMenu(title(texts::kMenuLamp));
  AddCommand(lamp, menu::kLampEnable);
  AddCommand(lamp, menu::kLampInvert);
  tools->addSeparator();
  AddCommand(tools, menu::kScanner);

  QMenu* help = menuBar_->addMenu(title(texts::kMenuHelp));
  QMenu* tutorials = help->addMenu(title(texts::kMenuTutorials));
  AddCommand(tutorials, menu::kVideoBasics);
  AddCommand(tutorials, menu::kVideoConnect);
  AddCommand(tutorials, menu::kVideoSample);
  AddCommand(tutorials, menu::kVideoAdjacent);
  AddCommand(help, menu::kFirmwareTutorial);
  help->addSeparator();
  AddCommand(help, menu::kWebSite);
  AddCommand(help, menu::kUpdate);
  AddCommand(help, menu::kAbout);

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
  AddCommand(contextMenu_, menu::kTouchArea);
  AddCommand(contextMenu_, menu::kKeyArea);
  AddCommand(contextMenu_, menu::kMarkRegion);
  contextMenu_->addSeparator();
  AddCommand(contextMenu_, menu::kResetDefaults);
  QMenu* style = contextMenu_->addMenu(QString::fromUtf8(texts::kMenuStyle));
  auto* radio = new QActionGroup(style);
  radio->setExclusive(true);
  for (int id : {menu::kStyleColour, menu::kStyleMono, menu::kStyleText, menu::kStyleBackground}) {
    radio->addAction(AddCommand(style, id));
  }
  contextMenu_->addSeparator();
  AddCommand(contextMenu_, menu::kCaptureFrame);
  AddCommand(contextMenu_, menu::kDiffMode);
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
  for (QAction* action : menu->actions()) {
    if (QMenu* sub = action->menu()) {
      UpdateMenuState(sub);
      continue;
    }
    const MenuCommand* command = Command(IdOf(action));
    if (command == nullptr) continue;
    action->setEnabled(Enabled(*command));
    if (command->checked) action->setChecked(command->checked());
  }
}

bool CVarnex2Dlg::RunCommand(int id) {
  const MenuCommand* command = Command(id);
  const bool run = command != nullptr && Enabled(*command);
  if (run) command->run();
  // A checkable action toggles itself when chosen; the state it shows is the
  // station's, so bring it back in line at once.
  if (QAction* action = FindAction(id); action != nullptr && action->isCheckable()) {
    UpdateMenuState(qobject_cast<QMenu*>(action->parent()));
  }
  emit commandDone(id);
  return run;
}

// ---- File commands ----------------------------------------------------------------------------

QString CVarnex2Dlg::ChooseFile(int id) {
  FileRequest request;
  request.id = id;
  request.save = id != menu::kOpenFile;
  const bool data = id == menu::kCaptureFrame;
  request.filter = QString::fromUtf8(data ? texts::kDataFileFilter : texts::kConfigFileFilter);
  request.defaultSuffix = QString::fromUtf8(data ? texts::kDataFileSuffix : texts::kConfigFileSuffix);
  if (chooser_) return WithDefaultSuffix(chooser_(request), request);

  QFileDialog dialog(this);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilter(request.filter);
  dialog.setDefaultSuffix(request.defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return WithDefaultSuffix(dialog.selectedFiles().constFirst(), request);
}

// The parameter file commands stop the test cycle before their dialog and resume it
// when the operator cancels; loading and saving resume it when they are done.
void CVarnex2Dlg::OpenParameterFile() {
  if (station_ == nullptr) return;
  station_->StopTestThread();
  const QString file = ChooseFile(menu::kOpenFile);
  if (file.isEmpty()) {
    station_->ResumeTest();
    return;
  }
  station_->LoadParameterFile(PathOf(file));
}

void CVarnex2Dlg::SaveParameterFile() {
  if (station_ == nullptr) return;
  station_->StopTestThread();
  const QString file = ChooseFile(menu::kSaveFile);
  if (file.isEmpty()) {
    station_->ResumeTest();
    return;
  }
  station_->SaveParameterFile(PathOf(file));
}

// The capture keeps the cycle running: it copies the counts shown when the command
// starts, so the file holds the frame the operator chose it on, however long the
// dialog stays open.
void CVarnex2Dlg::CaptureFrame() {
  if (station_ == nullptr) return;
  const std::string text = station_->CaptureFrameText();
  const QString file = ChooseFile(menu::kCaptureFrame);
  if (file.isEmpty()) return;
  station_->WriteFrameCapture(PathOf(file), text);
}

}  // namespace varnex2::app
