#include "tools/gain_t46_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdlib>

#include "dialogs/message_box.h"
#include "tools/tool_texts.h"

namespace varnex2::tools {

namespace {

constexpr int kBeforeResetMs = 500;
constexpr int kAfterResetMs = 1500;
constexpr int kSliderWidth = 260;

QString Text(const char* text) { return QString::fromUtf8(text); }

// The slider and, beside it, the value it stands at.
QSlider* AddSlider(QGridLayout* grid, int row, const char* caption, const char* id, QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setObjectName(QString::fromLatin1(id));
  slider->setRange(0, service::kGainStepMax);
  slider->setSingleStep(1);
  slider->setPageStep(1);
  slider->setTickInterval(1);
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setMinimumWidth(kSliderWidth);
  auto* value = new QLabel(parent);
  value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("00")) + 4);
  value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QObject::connect(slider, &QSlider::valueChanged, value, [value](int v) { value->setNum(v); });
  value->setNum(0);
  grid->addWidget(new QLabel(Text(caption), parent), row, 0);
  grid->addWidget(slider, row, 1);
  grid->addWidget(value, row, 2);
  return slider;
}

}  // namespace

void WaitWithoutInput(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

CSptCTEConfigT46::CSptCTEConfigT46(service::GainAccess& station, const QIcon& icon, QWidget* parent)
    : QDialog(parent), station_(station), icon_(icon) {
  setWindowTitle(Text(texts::kGainTitle));

  enable_ = new QCheckBox(Text(texts::kGainEnable), this);
  enable_->setObjectName(QStringLiteral("1061"));
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(12);
  grid->addWidget(enable_, 0, 0, 1, 3);
  xVoltage_ = AddSlider(grid, 1, texts::kXDriveVoltage, "1060", this);
  adcGain_ = AddSlider(grid, 2, texts::kAdcGain, "1059", this);

  auto* readError = new QLabel(this);
  readError->setObjectName(QStringLiteral("readError"));
  readError->setStyleSheet(QStringLiteral("color: #c00000;"));
  readError->setWordWrap(true);
  readError->hide();

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  ok_->setObjectName(QStringLiteral("1"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("2"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CSptCTEConfigT46::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CSptCTEConfigT46::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(readError);
  layout->addSpacing(6);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // The controller's T46 as it stands (the caller has stopped the test).
  readResult_ = station_.ReadObject(service::kT46Object, image_);
  if (readResult_ != 0) {
    image_ = {};
    readError->setText(Text(texts::kGainReadFailed).arg(46).arg(readResult_));
    readError->show();
    ok_->setEnabled(false);
  }
  const service::T46Fields fields = service::ReadT46Fields(image_);
  adcGain_->setValue(fields.adcGain);
  xVoltage_->setValue(fields.xVoltage);
  enable_->setChecked(fields.enabled);
}

void CSptCTEConfigT46::accept() {
  if (!ReadSucceeded()) return;  // never overwrite what could not be read
  service::T46Fields fields;
  fields.enabled = enable_->isChecked();
  fields.xVoltage = xVoltage_->value();
  fields.adcGain = adcGain_->value();
  const service::T46Image image = service::BuildT46Image(fields);

  // A failed write or backup: the controller is not reset (a reset would bring back the saved
  // configuration anyway); the dialog ends as cancelled, so the test resumes.
  if (const int rc = station_.WriteObject(service::kT46Object, image); rc != 0) {
    dialogs::ShowStationMessage(this, Text(texts::kGainWriteFailed).arg(46).arg(rc), dialogs::MessageIcon::Error);
    reject();
    return;
  }
  image_ = image;
  if (!station_.BackupSettings()) {
    dialogs::ShowStationMessage(this, Text(texts::kGainBackupFailed).arg(46), dialogs::MessageIcon::Error);
    reject();
    return;
  }
  station_.StopTestThread();
  ShowRestartNotice();
  WaitWithoutInput(kBeforeResetMs);
  station_.ResetController();  // its return is handled as a replug
  WaitWithoutInput(kAfterResetMs);
  QDialog::accept();
}

void CSptCTEConfigT46::ShowRestartNotice() {
  const QString caption = Text(texts::kRestartCaption);
  QString text = Text(texts::kRestartText);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (notice_) {
    notice_(caption, text);
    return;
  }
  QMessageBox box(this);
  box.setWindowTitle(caption);
  box.setWindowIcon(icon_);
  box.setText(text);
  box.setIconPixmap(icon_.pixmap(32, 32));
  box.setStandardButtons(QMessageBox::Ok);
  if (const char* timeout = std::getenv("VARNEX2_MESSAGE_TIMEOUT_MS"); timeout != nullptr) {
    const int ms = std::atoi(timeout);
    QTimer::singleShot(ms > 0 ? ms : 0, &box, &QMessageBox::accept);
  }
  box.exec();
}

}  // namespace varnex2::tools
