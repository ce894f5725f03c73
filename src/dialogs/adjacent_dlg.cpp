#include "dialogs/adjacent_dlg.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "dialogs/dialog_parts.h"
#include "dialogs/dialog_texts.h"

namespace varnex2::dialogs {

CAdjacentDlg::CAdjacentDlg(const station::AdjacentPrompt& prompt, QWidget* parent)
    : QDialog(parent), percent_(prompt.percent) {
  setWindowTitle(TitleForScope(prompt.scope));

  auto* group = new QGroupBox(QString::fromUtf8(texts::kAdjacentGroup), this);
  auto* explanation = new QLabel(QString::fromUtf8(texts::kAdjacentExplanation), group);
  explanation->setObjectName(QStringLiteral("explanation"));
  explanation->setWordWrap(true);

  auto* percentLabel = new QLabel(QString::fromUtf8(texts::kPercent), group);
  percentEdit_ = MakeIntegerEdit(prompt.percent, this);
  percentEdit_->setObjectName(QStringLiteral("percent"));
  percentEdit_->setMaximumWidth(120);
  percentLabel->setBuddy(percentEdit_);
  auto* percentRow = new QHBoxLayout;
  percentRow->addWidget(percentLabel);
  percentRow->addWidget(percentEdit_);
  percentRow->addStretch(1);

  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(explanation);
  groupLayout->addLayout(percentRow);

  scopeText_ = MakeReadOnlyText(ScopeText(prompt), 1, this);
  scopeText_->setObjectName(QStringLiteral("scope"));

  QDialogButtonBox* buttons = MakeButtonRow(this, texts::kOk, texts::kCancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &CAdjacentDlg::OnOk);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(scopeText_);
  layout->addWidget(buttons);
  setFixedWidth(400);
  setFixedHeight(sizeHint().height());
  percentEdit_->setFocus();
  percentEdit_->selectAll();
}

QString CAdjacentDlg::TitleForScope(int scope) {
  switch (scope) {
    case 0:
      return QString::fromUtf8(texts::kAdjacentTitleNode);
    case 1:
      return QString::fromUtf8(texts::kAdjacentTitleAll);
    default:
      return QString::fromUtf8(texts::kAdjacentTitleRect);
  }
}

QString CAdjacentDlg::ScopeText(const station::AdjacentPrompt& prompt) {
  const int n = prompt.lineBase;
  if (prompt.scope == 0) {
    return QString::fromUtf8(texts::kAdjacentNodeScope).arg(prompt.y0 + n).arg(prompt.x0 + n);
  }
  return QString::fromUtf8(texts::kAdjacentRectScope)
      .arg(prompt.y0 + n)
      .arg(prompt.x0 + n)
      .arg(prompt.y1 + n)
      .arg(prompt.x1 + n);
}

void CAdjacentDlg::OnOk() {
  const auto percent = ReadStrictField(this, percentEdit_, texts::kPercent);
  if (!percent) return;
  if (*percent > kMaxPercent || *percent < -kMaxPercent) {
    RefuseField(this, percentEdit_,
                QString::fromUtf8(texts::kOutOfRange)
                    .arg(QString::fromUtf8(texts::kPercent))
                    .arg(-kMaxPercent)
                    .arg(kMaxPercent));
    return;
  }
  percent_ = *percent;
  accept();
}

}  // namespace varnex2::dialogs
