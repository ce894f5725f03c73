#include "dialogs/scanner_setting_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <utility>

#include "dialogs/dialog_parts.h"
#include "dialogs/dialog_texts.h"
#include "dialogs/message_box.h"
#include "dialogs/user_menu_edit.h"

namespace varnex2::dialogs {

namespace {

using scanner::ScannerSetting;

constexpr std::array<std::int32_t, 4> kFlagBits = {scanner::kTriggerFlagCrLf, scanner::kTriggerFlagCr,
                                                    scanner::kTriggerFlagTab, scanner::kTriggerFlagSpace};

// The counter as the operator sees it: the stored 32 bits read as unsigned, so that every
// value the counter can reach reads back on OK.
QString CounterText(std::int32_t value) { return QString::number(static_cast<std::uint32_t>(value)); }

// A decimal number 0..4294967295 (blanks around it allowed), as the 32-bit pattern stored.
std::optional<std::int32_t> ParseCounter(const QString& text) {
  const QString digits = text.trimmed();
  if (digits.isEmpty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const QChar c : digits) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c.unicode() - u'0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// The custom information is stored with CR LF line ends; the edit works with "\n".
QString FromStoredLines(const std::string& stored) {
  QString text = QString::fromStdString(stored);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  return text;
}

std::string ToStoredLines(QString text) {
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return text.toStdString();
}

QString U8(const char* text) { return QString::fromUtf8(text); }

template <class W>
W* Named(W* widget, int id) {
  widget->setObjectName(QString::number(id));
  return widget;
}

}  // namespace

CScannerSettingDlg::CScannerSettingDlg(scanner::SharedScannerSetting& live, platform::SettingsStore& store,
                                       config::ScreenLevelSettings& screen, std::int32_t& diffModeGain,
                                       PortLister ports, QWidget* parent)
    : QDialog(parent), live_(live), store_(store), ports_(std::move(ports)) {
  setWindowTitle(U8(texts::kScannerTitle));
  ScannerSetting loaded;
  scanner::LoadScannerSetting(store_, loaded, screen, diffModeGain);
  live_.Set(loaded);
  BuildControls();
  FillControls(loaded);
}

void CScannerSettingDlg::BuildControls() {
  auto* notice = new QLabel(U8(texts::kScannerNotice), this);
  notice->setObjectName(QStringLiteral("notice"));

  // How the scanner is connected.
  auto* connectBox = new QGroupBox(U8(texts::kScannerConnectGroup), this);
  usbKeyboard_ = Named(new QCheckBox(U8(texts::kUsbKeyboard), connectBox), 1087);
  hidMode_ = Named(new QComboBox(connectBox), 1086);
  hidMode_->addItem(U8(texts::kHidModeGlobalHook));
  hidMode_->addItem(U8(texts::kHidModeForeground));
  usbSerial_ = Named(new QCheckBox(U8(texts::kUsbSerial), connectBox), 1088);
  port_ = Named(new QComboBox(connectBox), 1070);
  port_->setMinimumContentsLength(12);
  port_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  auto* connectGrid = new QGridLayout(connectBox);
  connectGrid->addWidget(usbKeyboard_, 0, 0);
  connectGrid->addWidget(hidMode_, 0, 1);
  connectGrid->addWidget(usbSerial_, 1, 0);
  connectGrid->addWidget(port_, 1, 1);
  connectGrid->setColumnStretch(2, 1);
  connect(usbKeyboard_, &QCheckBox::clicked, this, [this] { OnConnectClicked(usbKeyboard_); });
  connect(usbSerial_, &QCheckBox::clicked, this, [this] { OnConnectClicked(usbSerial_); });

  // What completes a scan.
  auto* triggerBox = new QGroupBox(U8(texts::kScannerTriggerGroup), this);
  controlChar_ = Named(new QRadioButton(U8(texts::kTriggerControlChar), triggerBox), 1071);
  const std::array<const char*, 4> flagTexts = {texts::kTriggerCrLf, texts::kTriggerCr, texts::kTriggerTab,
                                                texts::kTriggerSpace};
  auto* flagRow = new QHBoxLayout;
  flagRow->addWidget(controlChar_);
  for (std::size_t i = 0; i < triggerFlags_.size(); ++i) {
    triggerFlags_[i] = Named(new QCheckBox(U8(flagTexts[i]), triggerBox), 1089 + static_cast<int>(i));
    flagRow->addWidget(triggerFlags_[i]);
  }
  flagRow->addStretch(1);
  pattern_ = Named(new QRadioButton(U8(texts::kTriggerPattern), triggerBox), 1072);
  triggerString_ = Named(new QLineEdit(triggerBox), 1093);
  triggerString_->setMaxLength(static_cast<int>(scanner::kScannerTextMaxBytes));
  auto* patternRow = new QHBoxLayout;
  patternRow->addWidget(pattern_);
  patternRow->addWidget(triggerString_, 1);
  auto* triggerLayout = new QVBoxLayout(triggerBox);
  triggerLayout->addLayout(flagRow);
  triggerLayout->addLayout(patternRow);
  connect(controlChar_, &QRadioButton::clicked, this, [this] { OnTriggerClicked(scanner::kTriggerControlChar); });
  connect(pattern_, &QRadioButton::clicked, this, [this] { OnTriggerClicked(scanner::kTriggerPattern); });

  // Which files the records go to.
  auto* fileModeBox = new QGroupBox(U8(texts::kScannerFileModeGroup), this);
  fileDaily_ = Named(new QRadioButton(U8(texts::kFileDaily), fileModeBox), 1073);
  filePerRecord_ = Named(new QRadioButton(U8(texts::kFilePerRecord), fileModeBox), 1074);
  filenameFormat_ = Named(new CUserMenuEdit(fileModeBox), 1067);
  filenameFormat_->setMaxLength(static_cast<int>(scanner::kScannerTextMaxBytes));
  // The pattern gets a row of its own under its radio, wide enough for the default.
  auto* fileModeLayout = new QGridLayout(fileModeBox);
  fileModeLayout->addWidget(fileDaily_, 0, 0, 1, 2);
  fileModeLayout->addWidget(filePerRecord_, 1, 0, 1, 2);
  fileModeLayout->addWidget(filenameFormat_, 2, 1);
  fileModeLayout->setColumnMinimumWidth(0, 16);
  connect(fileDaily_, &QRadioButton::clicked, this, [this] { OnFileTypeClicked(scanner::kFileDaily); });
  connect(filePerRecord_, &QRadioButton::clicked, this, [this] { OnFileTypeClicked(scanner::kFilePerRecord); });

  // What each record holds.
  auto* formatBox = new QGroupBox(U8(texts::kScannerFileFormatGroup), this);
  counter_ = Named(new QCheckBox(U8(texts::kRecordCounter), formatBox), 1066);
  counterNum_ = Named(new QLineEdit(formatBox), 1094);
  counterNum_->setMaxLength(16);
  counterNum_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  productModel_ = Named(new QCheckBox(U8(texts::kRecordProductModel), formatBox), 1076);
  productModelText_ = Named(new QLineEdit(formatBox), 1095);
  productModelText_->setMaxLength(static_cast<int>(scanner::kScannerTextMaxBytes));
  scannerResult_ = Named(new QCheckBox(U8(texts::kRecordScannerResult), formatBox), 1078);
  testResult_ = Named(new QCheckBox(U8(texts::kRecordTestResult), formatBox), 1080);
  onlyPass_ = Named(new QCheckBox(U8(texts::kRecordOnlyPass), formatBox), 1081);
  onlyFail_ = Named(new QCheckBox(U8(texts::kRecordOnlyFail), formatBox), 1082);
  summary_ = Named(new QCheckBox(U8(texts::kRecordSummary), formatBox), 1096);
  rawdata_ = Named(new QCheckBox(U8(texts::kRecordRawdata), formatBox), 1079);
  testTime_ = Named(new QCheckBox(U8(texts::kRecordTestTime), formatBox), 1083);
  additionalInfo_ = Named(new QCheckBox(U8(texts::kRecordAdditionalInfo), formatBox), 1084);
  additionalText_ = Named(new QPlainTextEdit(formatBox), 1085);
  additionalText_->setTabChangesFocus(true);
  additionalText_->setLineWrapMode(QPlainTextEdit::NoWrap);
  {
    // Six lines without scrolling: the five-line default and room for one more.
    additionalText_->ensurePolished();
    // Chinese lines come from a fallback font that may be taller than the edit's own.
    const QFontMetrics metrics(additionalText_->font());
    const int line = std::max(metrics.lineSpacing(), metrics.boundingRect(U8(texts::kRecordTestTime)).height());
    const int margins = 2 * additionalText_->frameWidth() +
                        2 * static_cast<int>(additionalText_->document()->documentMargin());
    additionalText_->setFixedHeight(6 * line + margins + 4);
  }

  auto* formatGrid = new QGridLayout(formatBox);
  formatGrid->addWidget(counter_, 0, 0);
  formatGrid->addWidget(counterNum_, 0, 1);
  formatGrid->addWidget(productModel_, 0, 2);
  formatGrid->addWidget(productModelText_, 0, 3);
  formatGrid->addWidget(scannerResult_, 1, 0);
  auto* resultRow = new QHBoxLayout;
  resultRow->addWidget(testResult_);
  resultRow->addWidget(onlyPass_);
  resultRow->addWidget(onlyFail_);
  resultRow->addStretch(1);
  formatGrid->addLayout(resultRow, 1, 2, 1, 2);
  formatGrid->addWidget(summary_, 2, 0);
  formatGrid->addWidget(rawdata_, 2, 2, 1, 2);
  formatGrid->addWidget(testTime_, 3, 0, 1, 2);
  formatGrid->addWidget(additionalInfo_, 3, 2, 1, 2);
  formatGrid->addWidget(additionalText_, 4, 0, 1, 4);
  formatGrid->setColumnStretch(1, 1);
  formatGrid->setColumnStretch(3, 2);

  // Boxes whose field follows a click at once; those with an edit also enable it.
  const auto follow = [this](QCheckBox* box, std::int32_t ScannerSetting::*field, QWidget* edit) {
    connect(box, &QCheckBox::clicked, this, [this, field, edit](bool checked) {
      live_.Update([&](ScannerSetting& s) { s.*field = checked ? 1 : 0; });
      if (edit != nullptr) edit->setEnabled(checked);
    });
  };
  follow(counter_, &ScannerSetting::bCounter, counterNum_);
  follow(productModel_, &ScannerSetting::bProductModel, productModelText_);
  follow(additionalInfo_, &ScannerSetting::bAdditionalInfo, additionalText_);
  follow(scannerResult_, &ScannerSetting::bScannerResult, nullptr);
  follow(rawdata_, &ScannerSetting::bTestRawdata, nullptr);
  follow(testResult_, &ScannerSetting::bTestResult, nullptr);
  follow(onlyPass_, &ScannerSetting::bTestResultOnlyPass, nullptr);
  follow(onlyFail_, &ScannerSetting::bTestResultOnlyFail, nullptr);
  follow(testTime_, &ScannerSetting::bTestTime, nullptr);

  QDialogButtonBox* buttons = MakeButtonRow(this, texts::kOk, texts::kCancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &CScannerSettingDlg::OnOk);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(notice);
  layout->addWidget(connectBox);
  layout->addWidget(triggerBox);
  layout->addWidget(fileModeBox);
  layout->addWidget(formatBox);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CScannerSettingDlg::FillControls(const ScannerSetting& s) {
  const bool keyboard = s.nConnectType == scanner::kConnectUsbKeyboard;
  usbKeyboard_->setChecked(keyboard);
  hidMode_->setCurrentIndex(s.nHIDMode >= 0 && s.nHIDMode < hidMode_->count() ? s.nHIDMode : -1);
  hidMode_->setEnabled(keyboard);
  usbSerial_->setChecked(s.nConnectType == scanner::kConnectUsbSerial);
  FillPorts();

  const bool controlChar = s.nTriggerType == scanner::kTriggerControlChar;
  const bool pattern = s.nTriggerType == scanner::kTriggerPattern;
  controlChar_->setChecked(controlChar);
  pattern_->setChecked(pattern);
  for (std::size_t i = 0; i < triggerFlags_.size(); ++i) {
    triggerFlags_[i]->setChecked((s.nTriggerFlag & kFlagBits[i]) != 0);
    triggerFlags_[i]->setEnabled(controlChar);
  }
  triggerString_->setText(QString::fromStdString(s.strTriggerString));
  triggerString_->setEnabled(pattern);

  fileDaily_->setChecked(s.nFileType == scanner::kFileDaily);
  filePerRecord_->setChecked(s.nFileType == scanner::kFilePerRecord);
  filenameFormat_->setText(QString::fromStdString(s.strFilenameFormat));
  filenameFormat_->setCursorPosition(0);
  filenameFormat_->setEnabled(s.nFileType == scanner::kFilePerRecord);

  counter_->setChecked(s.bCounter != 0);
  counterNum_->setText(CounterText(s.nCounterNum));
  counterNum_->setEnabled(s.bCounter != 0);
  productModel_->setChecked(s.bProductModel != 0);
  productModelText_->setText(QString::fromStdString(s.strProductModel));
  productModelText_->setEnabled(s.bProductModel != 0);
  scannerResult_->setChecked(s.bScannerResult != 0);
  testResult_->setChecked(s.bTestResult != 0);
  onlyPass_->setChecked(s.bTestResultOnlyPass != 0);
  onlyFail_->setChecked(s.bTestResultOnlyFail != 0);
  summary_->setChecked(s.bTestResultSummer != 0);
  rawdata_->setChecked(s.bTestRawdata != 0);
  testTime_->setChecked(s.bTestTime != 0);
  additionalInfo_->setChecked(s.bAdditionalInfo != 0);
  additionalText_->setPlainText(FromStoredLines(s.strAdditionalInfo));
  additionalText_->setEnabled(s.bAdditionalInfo != 0);
}

// Refills the port list from the station's ports. A stored index beyond the list selects the
// last port and becomes the live index (a negative one the first).
void CScannerSettingDlg::FillPorts() {
  port_->clear();
  const std::vector<std::string> names = ports_ ? ports_() : std::vector<std::string>{};
  for (const std::string& name : names) port_->addItem(QString::fromStdString(name));
  if (names.empty()) {
    port_->setCurrentIndex(-1);
    port_->setEnabled(false);
    return;
  }
  const int last = static_cast<int>(names.size()) - 1;
  std::int32_t index = 0;
  std::int32_t type = 0;
  live_.Update([&](ScannerSetting& s) {
    s.nCOMNum = std::clamp(s.nCOMNum, 0, last);
    index = s.nCOMNum;
    type = s.nConnectType;
  });
  port_->setCurrentIndex(index);
  port_->setEnabled(type == scanner::kConnectUsbSerial);
}

// At most one of the two connection boxes stays checked; neither means no scanner.
void CScannerSettingDlg::OnConnectClicked(QCheckBox* clicked) {
  QCheckBox* other = clicked == usbKeyboard_ ? usbSerial_ : usbKeyboard_;
  if (clicked->isChecked() && other->isChecked()) other->setChecked(false);
  const std::int32_t type = usbKeyboard_->isChecked() ? scanner::kConnectUsbKeyboard
                            : usbSerial_->isChecked() ? scanner::kConnectUsbSerial
                                                      : scanner::kConnectNone;
  live_.Update([type](ScannerSetting& s) { s.nConnectType = type; });
  hidMode_->setEnabled(type == scanner::kConnectUsbKeyboard);
  FillPorts();
}

void CScannerSettingDlg::OnTriggerClicked(std::int32_t type) {
  const bool controlChar = type == scanner::kTriggerControlChar;
  controlChar_->setChecked(controlChar);
  pattern_->setChecked(!controlChar);
  for (QCheckBox* box : triggerFlags_) box->setEnabled(controlChar);
  triggerString_->setEnabled(!controlChar);
  const int hidIndex = hidMode_->currentIndex();
  std::int32_t hidMode = 0;
  live_.Update([&](ScannerSetting& s) {
    s.nTriggerType = type;
    if (hidIndex >= 0) s.nHIDMode = hidIndex;
    hidMode = s.nHIDMode;
  });
  // With the global hook, control characters typed on any keyboard would write records.
  if (hidMode == scanner::kHidModeGlobalHook && controlChar) {
    ShowStationMessage(this, U8(texts::kGlobalHookControlCharWarning), MessageIcon::Information);
  }
}

void CScannerSettingDlg::OnFileTypeClicked(std::int32_t type) {
  fileDaily_->setChecked(type == scanner::kFileDaily);
  filePerRecord_->setChecked(type == scanner::kFilePerRecord);
  filenameFormat_->setEnabled(type == scanner::kFilePerRecord);
  live_.Update([type](ScannerSetting& s) { s.nFileType = type; });
}

// Every text is checked before anything changes, so that a refused OK leaves the record and
// the store as they were and the dialog open.
void CScannerSettingDlg::OnOk() {
  struct TextField {
    QWidget* edit;
    std::string text;
    std::size_t limit;
    const char* name;
  };
  std::array<TextField, 4> textFields = {{
      {triggerString_, triggerString_->text().toStdString(), scanner::kScannerTextMaxBytes,
       texts::kTriggerStringName},
      {filenameFormat_, filenameFormat_->text().toStdString(), scanner::kScannerTextMaxBytes,
       texts::kFilenameFormatName},
      {productModelText_, productModelText_->text().toStdString(), scanner::kScannerTextMaxBytes,
       texts::kProductModelName},
      {additionalText_, ToStoredLines(additionalText_->toPlainText()), scanner::kAdditionalInfoMaxBytes,
       texts::kAdditionalInfoName},
  }};
  for (const TextField& f : textFields) {
    if (f.text.size() <= f.limit) continue;
    ShowStationMessage(this,
                       U8(texts::kTextTooLong)
                           .arg(U8(f.name))
                           .arg(static_cast<qulonglong>(f.limit))
                           .arg(static_cast<qulonglong>(f.text.size())),
                       MessageIcon::Warning);
    f.edit->setFocus(Qt::OtherFocusReason);
    return;
  }
  const std::optional<std::int32_t> counter = ParseCounter(counterNum_->text());
  if (!counter) {
    RefuseField(this, counterNum_, U8(texts::kCounterNotDecimal));
    return;
  }

  const int hidIndex = hidMode_->currentIndex();
  const int portIndex = port_->count() > 0 ? port_->currentIndex() : -1;
  std::int32_t flags = 0;
  for (std::size_t i = 0; i < triggerFlags_.size(); ++i) {
    if (triggerFlags_[i]->isChecked()) flags |= kFlagBits[i];
  }
  const auto bit = [](const QCheckBox* box) { return box->isChecked() ? 1 : 0; };
  ScannerSetting taken;
  live_.Update([&](ScannerSetting& s) {
    if (usbKeyboard_->isChecked()) {
      s.nConnectType = scanner::kConnectUsbKeyboard;
    } else if (usbSerial_->isChecked()) {
      s.nConnectType = scanner::kConnectUsbSerial;
    }
    if (hidIndex >= 0) s.nHIDMode = hidIndex;
    if (portIndex >= 0) s.nCOMNum = portIndex;
    if (controlChar_->isChecked()) {
      s.nTriggerType = scanner::kTriggerControlChar;
    } else if (pattern_->isChecked()) {
      s.nTriggerType = scanner::kTriggerPattern;
    }
    s.nTriggerFlag = flags;
    s.strTriggerString = std::move(textFields[0].text);
    if (fileDaily_->isChecked()) {
      s.nFileType = scanner::kFileDaily;
    } else if (filePerRecord_->isChecked()) {
      s.nFileType = scanner::kFilePerRecord;
    }
    s.strFilenameFormat = std::move(textFields[1].text);
    s.bCounter = bit(counter_);
    s.nCounterNum = *counter;
    s.bProductModel = bit(productModel_);
    s.strProductModel = std::move(textFields[2].text);
    s.bScannerResult = bit(scannerResult_);
    s.bTestResult = bit(testResult_);
    s.bTestResultOnlyPass = bit(onlyPass_);
    s.bTestResultOnlyFail = bit(onlyFail_);
    s.bTestResultSummer = bit(summary_);
    s.bTestRawdata = bit(rawdata_);
    s.bTestTime = bit(testTime_);
    s.bAdditionalInfo = bit(additionalInfo_);
    s.strAdditionalInfo = std::move(textFields[3].text);
    taken = s;
  });
  scanner::SaveScannerSetting(store_, taken);
  accept();
}

}  // namespace varnex2::dialogs
