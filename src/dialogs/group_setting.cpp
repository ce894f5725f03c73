#include "dialogs/group_setting.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "dialogs/dialog_parts.h"
#include "dialogs/dialog_texts.h"

namespace varnex2::dialogs {

GroupSetting::GroupSetting(const station::AreaPrompt& prompt, QWidget* parent)
    : QDialog(parent), upper_(prompt.upper), lower_(prompt.lower), gain_(prompt.gain) {
  setObjectName(QString::fromUtf8(texts::kGroupDialogName));
  setWindowTitle(TitleForScope(prompt.scope));

  info_ = MakeReadOnlyText(QString::fromStdString(prompt.info), 2, this);
  info_->setObjectName(QStringLiteral("info"));
  upperEdit_ = MakeIntegerEdit(prompt.upper, this);
  upperEdit_->setObjectName(QStringLiteral("upper"));
  lowerEdit_ = MakeIntegerEdit(prompt.lower, this);
  lowerEdit_->setObjectName(QStringLiteral("lower"));
  gainEdit_ = MakeIntegerEdit(prompt.gain, this);
  gainEdit_->setObjectName(QStringLiteral("gain"));

  auto* fields = new QFormLayout;
  fields->addRow(QString::fromUtf8(texts::kUpperThreshold), upperEdit_);
  fields->addRow(QString::fromUtf8(texts::kLowerThreshold), lowerEdit_);
  fields->addRow(QString::fromUtf8(texts::kGain), gainEdit_);

  QDialogButtonBox* buttons = MakeButtonRow(this, texts::kGroupOk, texts::kGroupCancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &GroupSetting::OnOk);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(info_);
  layout->addLayout(fields);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setMinimumWidth(340);
  upperEdit_->setFocus();
  upperEdit_->selectAll();
}

QString GroupSetting::TitleForScope(int scope) {
  switch (scope) {
    case -1:
      return QString::fromUtf8(texts::kGroupTitleDefault);
    case 0:
      return QString::fromUtf8(texts::kGroupTitleTouch);
    case 1:
      return QString::fromUtf8(texts::kGroupTitleKey);
    default:
      return QString::fromUtf8(texts::kGroupTitleUnknown);
  }
}

void GroupSetting::ReadInto(station::AreaPrompt& prompt) const {
  prompt.upper = upper_;
  prompt.lower = lower_;
  prompt.gain = gain_;
}

void GroupSetting::OnOk() {
  const auto upper = ReadStrictField(this, upperEdit_, texts::kUpperThreshold);
  if (!upper) return;
  const auto lower = ReadStrictField(this, lowerEdit_, texts::kLowerThreshold);
  if (!lower) return;
  const auto gain = ReadStrictField(this, gainEdit_, texts::kGain);
  if (!gain) return;
  if (*lower >= *upper) {
    RefuseField(this, lowerEdit_, QString::fromUtf8(texts::kLowerNotBelowUpper));
    return;
  }
  if (*gain <= 0 || *gain >= 255) {
    RefuseField(this, gainEdit_, QString::fromUtf8(texts::kGainOutOfRange));
    return;
  }
  upper_ = *upper;
  lower_ = *lower;
  gain_ = *gain;
  accept();
}

}  // namespace varnex2::dialogs
