#include "dialogs/cell_para_setting_dlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "dialogs/dialog_parts.h"
#include "dialogs/dialog_texts.h"
#include "dialogs/integer_text.h"

namespace varnex2::dialogs {

CCellParaSettingDlg::CCellParaSettingDlg(const station::CellLimitsPrompt& prompt, QWidget* parent)
    : QDialog(parent), upper_(prompt.upper), lower_(prompt.lower) {
  setWindowTitle(QString::fromUtf8(texts::kCellTitle));

  upperEdit_ = MakeIntegerEdit(prompt.upper, this);
  upperEdit_->setObjectName(QStringLiteral("upper"));
  averageEdit_ = MakeIntegerEdit(prompt.average, this);
  averageEdit_->setObjectName(QStringLiteral("average"));
  averageEdit_->setReadOnly(true);
  averageEdit_->setFocusPolicy(Qt::NoFocus);
  lowerEdit_ = MakeIntegerEdit(prompt.lower, this);
  lowerEdit_->setObjectName(QStringLiteral("lower"));

  auto* fields = new QFormLayout;
  fields->addRow(QString::fromUtf8(texts::kUpperThreshold), upperEdit_);
  fields->addRow(QString::fromUtf8(texts::kSampleValue), averageEdit_);
  fields->addRow(QString::fromUtf8(texts::kLowerThreshold), lowerEdit_);

  QDialogButtonBox* buttons = MakeButtonRow(this, texts::kOk, nullptr);
  connect(buttons, &QDialogButtonBox::accepted, this, &CCellParaSettingDlg::OnOk);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setMinimumWidth(260);
  upperEdit_->setFocus();
  upperEdit_->selectAll();
}

void CCellParaSettingDlg::ReadInto(station::CellLimitsPrompt& prompt) const {
  prompt.upper = upper_;
  prompt.lower = lower_;
}

// The limits are taken as they are typed, by the lenient conversion, without checks.
void CCellParaSettingDlg::OnOk() {
  upper_ = LenientInt32(upperEdit_->text());
  lower_ = LenientInt32(lowerEdit_->text());
  accept();
}

}  // namespace varnex2::dialogs
