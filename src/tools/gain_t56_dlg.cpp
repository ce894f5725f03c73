#include "tools/gain_t56_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <span>
#include <string>

#include "dialogs/message_box.h"
#include "tools/tool_texts.h"

namespace varnex2::tools {

namespace {

constexpr int kDelayLines = 3;  // the two lines of values and the empty one after the last CR LF

QString Text(const char* text) { return QString::fromUtf8(text); }

// The delay text as the edit shows it (Qt's line ends), and back.
QString DelayTextForEdit(const std::string& text) {
  return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QCheckBox* CheckBox(const char* text, const char* id, QWidget* parent) {
  auto* box = new QCheckBox(Text(text), parent);
  box->setObjectName(QString::fromLatin1(id));
  return box;
}

}  // namespace

QLineEdit* CSptCTEConfigT56::AddNumber(const char* id, const QString& caption) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(QString::fromLatin1(id));
  edit->setAccessibleName(caption);
  edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("-00000")) + 12);
  return edit;
}

CSptCTEConfigT56::CSptCTEConfigT56(service::GainAccess& station, QWidget* parent)
    : QDialog(parent), station_(station) {
  setWindowTitle(Text(texts::kGainTitle));
  const auto number = [this](NumberField& field, const char* id, const char* caption) {
    field.caption = Text(caption);
    field.edit = AddNumber(id, field.caption);
    return field.edit;
  };

  // Left: the switches and the single-byte numbers.
  enable_ = CheckBox(texts::kShieldlessEnable, "1062", this);
  calibration_ = CheckBox(texts::kCalibrationOptimise, "1063", this);
  calibration_->setEnabled(false);  // not recommended: shown, not offered
  integration_ = CheckBox(texts::kIntegrationControl, "1064", this);
  multiYFilter_ = CheckBox(texts::kMultiYFilter, "1067", this);
  noiseControl_ = CheckBox(texts::kNoiseControl, "1071", this);

  auto* mode = new QGroupBox(Text(texts::kCalcMode), this);
  modeOr_ = new QRadioButton(Text(texts::kModeOr), mode);
  modeOr_->setObjectName(QStringLiteral("1068"));
  modeAnd_ = new QRadioButton(Text(texts::kModeAnd), mode);
  modeAnd_->setObjectName(QStringLiteral("1069"));
  auto* radios = new QButtonGroup(mode);  // exclusive; neither may be selected
  radios->addButton(modeOr_);
  radios->addButton(modeAnd_);
  auto* modeLayout = new QHBoxLayout(mode);
  modeLayout->addWidget(modeOr_);
  modeLayout->addWidget(modeAnd_);
  modeLayout->addStretch(1);

  // Left: the switches, the calculation mode and the noise filter; right: the single-byte
  // numbers above the four 16-bit rows (caption, high byte, "*", low byte, "/256").
  auto* left = new QGridLayout;
  int row = 0;
  const auto numberRow = [&](QGridLayout* grid, NumberField& field, const char* id, const char* caption) {
    grid->addWidget(new QLabel(Text(caption), this), row, 0);
    grid->addWidget(number(field, id, caption), row++, 1, Qt::AlignLeft);
  };
  left->addWidget(enable_, row++, 0, 1, 2);
  left->addWidget(calibration_, row++, 0, 1, 2);
  left->addWidget(integration_, row++, 0, 1, 2);
  numberRow(left, integrationTime_, "1065", texts::kIntegrationTime);
  left->addWidget(multiYFilter_, row++, 0, 1, 2);
  left->addWidget(mode, row++, 0, 1, 2);
  numberRow(left, noiseThreshold_, "1070", texts::kNoiseThreshold);
  left->addWidget(noiseControl_, row++, 0, 1, 2);
  left->setRowStretch(row, 1);

  auto* right = new QGridLayout;
  right->setHorizontalSpacing(6);
  row = 0;
  numberRow(right, touchBias_, "1072", texts::kTouchBias);
  numberRow(right, referenceScale_, "1073", texts::kReferenceScale);
  numberRow(right, offsetLimit_, "1074", texts::kOffsetLimit);
  right->setRowMinimumHeight(row++, 12);
  const char* rowCaptions[4] = {texts::kLowYMultiplier, texts::kLowYDivisor, texts::kHighYMultiplier,
                                texts::kHighYDivisor};
  const char* highIds[4] = {"1076", "1078", "1080", "1084"};
  const char* lowIds[4] = {"1075", "1077", "1079", "1083"};
  for (int r = 0; r < 4; ++r, ++row) {
    right->addWidget(new QLabel(Text(rowCaptions[r]), this), row, 0);
    right->addWidget(number(rowHigh_[r], highIds[r], rowCaptions[r]), row, 1);
    right->addWidget(new QLabel(Text(texts::kRowTimes), this), row, 2, Qt::AlignCenter);
    right->addWidget(number(rowLow_[r], lowIds[r], rowCaptions[r]), row, 3);
    right->addWidget(new QLabel(Text(texts::kRowPer256), this), row, 4);
  }
  right->setRowStretch(row, 1);

  auto* columns = new QHBoxLayout;
  columns->addLayout(left);
  columns->addSpacing(32);
  columns->addLayout(right);
  columns->addStretch(1);

  // Below: the 32 X delays, two lines of 16.
  xDelays_ = new QPlainTextEdit(this);
  xDelays_->setObjectName(QStringLiteral("1066"));
  xDelays_->setLineWrapMode(QPlainTextEdit::NoWrap);
  xDelays_->setTabChangesFocus(true);
  xDelays_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  {
    const QFontMetrics metrics(xDelays_->font());
    const int frame = 2 * xDelays_->frameWidth() + 2 * static_cast<int>(xDelays_->document()->documentMargin());
    xDelays_->setMinimumWidth(metrics.horizontalAdvance(QString(4 * 16 + 2, QLatin1Char('0'))) + frame);
    xDelays_->setFixedHeight(metrics.lineSpacing() * kDelayLines + frame + 4);
  }

  auto* readError = new QLabel(this);
  readError->setObjectName(QStringLiteral("readError"));
  readError->setStyleSheet(QStringLiteral("color: #c00000;"));
  readError->setWordWrap(true);
  readError->hide();

  ok_ = new QPushButton(Text(texts::kApplyAndClose), this);
  ok_->setObjectName(QStringLiteral("1"));
  ok_->setDefault(true);
  auto* cancel = new QPushButton(Text(texts::kCancel), this);
  cancel->setObjectName(QStringLiteral("2"));
  apply_ = new QPushButton(Text(texts::kApply), this);
  apply_->setObjectName(QStringLiteral("3"));
  connect(ok_, &QPushButton::clicked, this, &CSptCTEConfigT56::accept);
  connect(cancel, &QPushButton::clicked, this, &CSptCTEConfigT56::reject);
  connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  buttons->addWidget(apply_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addSpacing(6);
  layout->addWidget(new QLabel(Text(texts::kXDelays), this));
  layout->addWidget(xDelays_);
  layout->addWidget(readError);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // The controller's T56 as it stands, read with the test stopped.
  station_.StopTestThread();
  readResult_ = station_.ReadObject(service::kT56Object, image_);
  station_.ResumeTest();
  if (readResult_ != 0) {
    image_ = {};
    readError->setText(Text(texts::kGainReadFailed).arg(56).arg(readResult_));
    readError->show();
    ok_->setEnabled(false);
    apply_->setEnabled(false);
    cancel->setDefault(true);
  }
  Fill(service::ReadT56Fields(image_));
}

void CSptCTEConfigT56::Fill(const service::T56Fields& f) {
  enable_->setChecked(f.enable);
  calibration_->setChecked(f.calibration);
  integration_->setChecked(f.integration);
  integrationTime_.edit->setText(QString::number(f.integrationTime));
  xDelays_->setPlainText(DelayTextForEdit(service::FormatXDelays(f.xDelays)));
  multiYFilter_->setChecked(f.multiYFilter);
  modeOr_->setChecked(f.mode == service::kT56ModeOr);
  modeAnd_->setChecked(f.mode == service::kT56ModeAnd);
  noiseThreshold_.edit->setText(QString::number(f.noiseThreshold));
  noiseControl_->setChecked(f.noiseControl);
  touchBias_.edit->setText(QString::number(f.touchBias));
  referenceScale_.edit->setText(QString::number(f.referenceScale));
  offsetLimit_.edit->setText(QString::number(f.offsetLimit));
  for (std::size_t r = 0; r < f.rows.size(); ++r) {
    rowHigh_[r].edit->setText(QString::number(f.rows[r].high));
    rowLow_[r].edit->setText(QString::number(f.rows[r].low));
  }
}

std::optional<int> CSptCTEConfigT56::Number(const NumberField& field) {
  const std::optional<int> value = service::ParseDecimalField(field.edit->text().toStdString());
  if (!value) {
    dialogs::ShowStationMessage(this, Text(texts::kGainBadNumber).arg(field.caption), dialogs::MessageIcon::Warning);
    field.edit->setFocus();
    field.edit->selectAll();
  }
  return value;
}

std::optional<service::T56Fields> CSptCTEConfigT56::Collect() {
  service::T56Fields f;
  f.enable = enable_->isChecked();
  f.calibration = calibration_->isChecked();
  f.integration = integration_->isChecked();
  f.multiYFilter = multiYFilter_->isChecked();
  f.noiseControl = noiseControl_->isChecked();
  f.mode = modeOr_->isChecked() ? service::kT56ModeOr : modeAnd_->isChecked() ? service::kT56ModeAnd : 0;
  // In the order of the fields on screen, so that the first refused one is named.
  const auto take = [this](const NumberField& field, int& out) {
    const std::optional<int> value = Number(field);
    if (value) out = *value;
    return value.has_value();
  };
  if (!take(integrationTime_, f.integrationTime) || !take(noiseThreshold_, f.noiseThreshold) ||
      !take(touchBias_, f.touchBias) || !take(referenceScale_, f.referenceScale) ||
      !take(offsetLimit_, f.offsetLimit)) {
    return std::nullopt;
  }
  for (std::size_t r = 0; r < f.rows.size(); ++r) {
    if (!take(rowHigh_[r], f.rows[r].high) || !take(rowLow_[r], f.rows[r].low)) return std::nullopt;
  }
  std::size_t found = 0;
  const auto delays = service::ParseXDelays(xDelays_->toPlainText().toStdString(), &found);
  if (!delays) {
    dialogs::ShowStationMessage(this, Text(texts::kGainBadDelays).arg(Text(texts::kXDelays)).arg(found + 1),
                                dialogs::MessageIcon::Warning);
    xDelays_->setFocus();
    return std::nullopt;
  }
  f.xDelays = *delays;
  return f;
}

bool CSptCTEConfigT56::Apply() {
  if (!ReadSucceeded()) return false;  // never overwrite what could not be read
  const std::optional<service::T56Fields> fields = Collect();
  if (!fields) return false;
  service::T56Image image = image_;
  service::ApplyT56Fields(*fields, image);

  station_.StopTestThread();
  const int written = station_.WriteObject(service::kT56Object, image);
  const bool backedUp = written == 0 && station_.BackupSettings();
  station_.ResumeTest();  // before any message, so the test does not wait for the operator
  if (written != 0) {
    dialogs::ShowStationMessage(this, Text(texts::kGainWriteFailed).arg(56).arg(written), dialogs::MessageIcon::Error);
    return false;
  }
  image_ = image;
  if (!backedUp) {
    dialogs::ShowStationMessage(this, Text(texts::kGainBackupFailed).arg(56), dialogs::MessageIcon::Error);
    return false;
  }
  return true;
}

void CSptCTEConfigT56::accept() {
  if (Apply()) QDialog::accept();
}

}  // namespace varnex2::tools
