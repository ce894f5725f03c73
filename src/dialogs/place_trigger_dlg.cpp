#include "dialogs/place_trigger_dlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "config/reg_edit_class.h"
#include "dialogs/dialog_parts.h"
#include "dialogs/dialog_texts.h"

namespace varnex2::dialogs {

CPlaceTriggerDlg::CPlaceTriggerDlg(const QString& statisticsText, platform::SettingsStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
  setWindowTitle(QString::fromUtf8(texts::kTriggerTitle));
  config::LoadOutputSetting(store_, triggerLevel_, stableFrameCount_);

  statistics_ = MakeReadOnlyText(statisticsText, 1, this);
  statistics_->setObjectName(QStringLiteral("statistics"));
  triggerEdit_ = MakeIntegerEdit(triggerLevel_, this);
  triggerEdit_->setObjectName(QStringLiteral("trigger"));
  framesEdit_ = MakeIntegerEdit(stableFrameCount_, this);
  framesEdit_->setObjectName(QStringLiteral("stableFrames"));

  auto* fields = new QFormLayout;
  fields->addRow(QString::fromUtf8(texts::kTriggerStatistics), statistics_);
  fields->addRow(QString::fromUtf8(texts::kTriggerLevel), triggerEdit_);
  fields->addRow(QString::fromUtf8(texts::kStableFrames), framesEdit_);

  QDialogButtonBox* buttons = MakeButtonRow(this, texts::kTriggerOk, texts::kTriggerCancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &CPlaceTriggerDlg::OnOk);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  triggerEdit_->setFocus();
  triggerEdit_->selectAll();
}

// Both texts are checked before either is stored, so that a refused OK stores nothing.
void CPlaceTriggerDlg::OnOk() {
  const auto trigger = ReadStrictField(this, triggerEdit_, texts::kTriggerLevel);
  if (!trigger) return;
  const auto frames = ReadStrictField(this, framesEdit_, texts::kStableFrames);
  if (!frames) return;
  config::CRegEditClass reg(store_);
  triggerLevel_ = *trigger;
  reg.WriteRegDword(config::kRegKeyOutPutSetting, "Trigger", triggerLevel_);
  stableFrameCount_ = *frames;
  reg.WriteRegDword(config::kRegKeyOutPutSetting, "StableFrameCnt", stableFrameCount_);
  accept();
}

}  // namespace varnex2::dialogs
