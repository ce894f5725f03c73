#include "station/scanner_records.h"

#include <cstdio>
#include <utility>

#include "station/station_texts.h"

namespace varnex2::station {

namespace {

// The serial settings the connection procedure opens the scanner's port with: 9600 8N1.
scanner::SerialSettings ScannerPortSettings(const std::string& port) {
  scanner::SerialSettings s;
  s.port = port;
  s.baudRate = 9600;
  s.dataBits = 8;
  s.parity = scanner::SerialSettings::Parity::None;
  s.stopBits = scanner::SerialSettings::StopBits::One;
  s.hardwareFlowControl = false;
  s.readBufferSize = 512;
  return s;
}

std::string Format(const char* format, const std::string& path, int code) {
  char text[512];
  std::snprintf(text, sizeof text, format, path.c_str(), code);
  return text;
}

}  // namespace

ScannerRecords::ScannerRecords(judging::NodeMap& grid, PanelState& panel, StationView& view,
                               platform::SettingsStore& settings, Parts parts)
    : grid_(grid),
      panel_(panel),
      view_(view),
      parts_(std::move(parts)),
      writer_(panel.ScannerSettings(), settings, *this, parts_.files),
      input_(panel.ScannerSettings(), [this](const std::string& text, int lParam) { Deliver(text, lParam); }) {
  if (parts_.serial) {
    parts_.serial->SetReadReady([this](const std::string& chunk) { input_.OnSerialChunk(chunk); });
  }
}

ScannerRecords::~ScannerRecords() { Shutdown(); }

void ScannerRecords::Deliver(const std::string& text, int /*lParam*/) {
  // WM_LOG_RESULT is sent: the scanner's thread waits until the record is written. The
  // window thread itself (foreground path) runs it directly.
  view_.Send([this, text] { OnScannerData(text); }, stopping_.get_token());
}

void ScannerRecords::OnScannerData(const std::string& scanned) { Report(writer_.OnScannerData(scanned)); }

void ScannerRecords::OnCycleRecordRequest() {
  OnScannerData(std::string());
  input_.ClearBuffer();
}

void ScannerRecords::Report(const scanner::RecordOutcome& outcome) {
  if (outcome.failed > 0) {
    view_.PlaySound(StationView::Sound::RecordFailed);
    view_.ShowRecordNotice(outcome.error, true);
  } else if (outcome.written > 0) {
    view_.PlaySound(StationView::Sound::RecordWritten);
    // The file as the records folder names it ("TestLog/7.TP-NEW888 ... .txt").
    std::string shown = outcome.path;
    const std::string& base = parts_.files.directory;
    if (!base.empty() && shown.size() > base.size() + 1 && shown.compare(0, base.size(), base) == 0 &&
        shown[base.size()] == '/')
      shown.erase(0, base.size() + 1);
    view_.ShowRecordNotice(std::string(texts::kRecordWritten) + shown, false);
  }
}

void ScannerRecords::SetShortPositions(std::uint8_t xLine, std::uint8_t yLine) {
  shortX_.store(xLine);
  shortY_.store(yLine);
}

void ScannerRecords::StartKeyboardHook() {
  if (!parts_.keys) return;
  std::call_once(hookStarted_, [this] {
    const bool started = parts_.keys->Start([this](const platform::KeyEvent& key) {
      if (key.action == platform::KeyEvent::Action::Release) return;
      input_.OnHookKeyDown(scanner::VirtualKeyOfEvdev(key.code), key.character);
    });
    const std::string problem = parts_.keys->Problem();
    if (started && (parts_.keys->KeyboardCount() > 0 || problem.empty())) return;
    {
      std::lock_guard lock(keyboardMutex_);
      keyboardProblem_ = problem.empty() ? "?" : problem;
    }
    TellUnreadableKeyboard();
  });
}

void ScannerRecords::TellUnreadableKeyboard() {
  std::string problem;
  {
    std::lock_guard lock(keyboardMutex_);
    // Told once both are known: the keyboards' state and the loaded settings.
    if (keyboardProblem_.empty() || !settingsLoaded_ || keyboardTold_) return;
    // Only worth a word when the settings choose the keyboard scanner.
    const scanner::ScannerSetting s = panel_.ScannerSettings().Get();
    if (s.nConnectType != scanner::kConnectUsbKeyboard || s.nHIDMode != scanner::kHidModeGlobalHook) return;
    keyboardTold_ = true;
    problem = keyboardProblem_;
  }
  const std::string text = std::string(texts::kKeyboardUnreadable) + problem;
  view_.Post([this, text] { view_.ShowMessage(text, MessageIcon::Warning); });
}

void ScannerRecords::OnConnected(std::stop_token stop) {
  {
    std::lock_guard lock(keyboardMutex_);
    settingsLoaded_ = true;
  }
  TellUnreadableKeyboard();
  if (!parts_.serial) return;
  std::lock_guard lock(serialMutex_);
  scanner::ScannerSetting s = panel_.ScannerSettings().Get();
  if (s.nConnectType != scanner::kConnectUsbSerial) return;
  if (parts_.serial->IsOpened()) return;  // a later connection changes nothing while it is open
  const std::vector<std::string> ports = parts_.serial->AvailablePorts();
  if (ports.empty()) return;
  // An index beyond the list takes the last port (in memory only).
  if (s.nCOMNum < 0 || static_cast<std::size_t>(s.nCOMNum) >= ports.size()) {
    const auto last = static_cast<std::int32_t>(ports.size() - 1);
    panel_.ScannerSettings().Update([last](scanner::ScannerSetting& live) {
      if (live.nCOMNum < 0 || live.nCOMNum > last) live.nCOMNum = last;
    });
    s.nCOMNum = last;
  }
  parts_.serial->Init(ScannerPortSettings(ports[static_cast<std::size_t>(s.nCOMNum)]));
  const scanner::SerialOpenResult result = parts_.serial->Open();
  const char* format = nullptr;
  if (result.error == scanner::SerialOpenError::NotFound) format = texts::kComFileNotFound;
  if (result.error == scanner::SerialOpenError::AccessDenied) format = texts::kComAccessDenied;
  if (format == nullptr) return;
  const std::string text = Format(format, result.path, result.code);
  view_.Send([this, text] { view_.ShowMessage(texts::kComInitPortErrorCaption, text, MessageIcon::Error); }, stop);
}

bool ScannerRecords::OnForegroundKeyDown(int vk) { return input_.OnForegroundKeyDown(vk); }
bool ScannerRecords::OnForegroundChar(char32_t character) { return input_.OnForegroundChar(character); }

std::vector<std::string> ScannerRecords::AvailablePorts() {
  if (!parts_.serial) return {};
  std::lock_guard lock(serialMutex_);
  return parts_.serial->AvailablePorts();
}

void ScannerRecords::Shutdown() {
  stopping_.request_stop();
  if (parts_.keys) parts_.keys->Stop();
  if (parts_.serial) {
    std::lock_guard lock(serialMutex_);
    parts_.serial->Close();
  }
}

std::string ScannerRecords::VerdictText() { return grid_.GetVerdictText(); }

std::uint32_t ScannerRecords::TestModeFlags() { return static_cast<std::uint32_t>(grid_.TestModeFlags()); }

scanner::RecordRawMap ScannerRecords::RawMap() {
  std::lock_guard lock(grid_.Mutex());
  scanner::RecordRawMap map;
  // On screen the rows are the X lines and the columns the Y lines.
  map.xLines = grid_.Rows();
  map.yLines = grid_.Columns();
  const auto size = static_cast<std::size_t>(map.xLines) * static_cast<std::size_t>(map.yLines);
  map.counts.assign(size, 0);
  map.inArea.assign(size, false);
  for (int x = 0; x < map.xLines; ++x) {
    for (int y = 0; y < map.yLines; ++y) {
      const judging::GridCell& cell = grid_.Cell(y, x);
      const auto i = static_cast<std::size_t>(x) * static_cast<std::size_t>(map.yLines) + static_cast<std::size_t>(y);
      map.counts[i] = cell.nRaw;
      map.inArea[i] = (cell.nFlags & (judging::NodeFlag::TOUCH | judging::NodeFlag::KEY)) != 0;
    }
  }
  return map;
}

}  // namespace varnex2::station
