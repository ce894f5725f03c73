#include "dialogs/dialog_parts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

#include <algorithm>

#include "dialogs/dialog_texts.h"
#include "dialogs/integer_text.h"
#include "dialogs/message_box.h"

namespace varnex2::dialogs {

namespace {
constexpr int kMaxTextWidth = 520;
}  // namespace

QDialogButtonBox* MakeButtonRow(QDialog* dialog, const char* okText, const char* cancelText) {
  auto* box = new QDialogButtonBox(dialog);
  QPushButton* ok = box->addButton(QString::fromUtf8(okText), QDialogButtonBox::AcceptRole);
  ok->setDefault(true);
  ok->setAutoDefault(true);
  ok->setObjectName(QStringLiteral("ok"));
  if (cancelText != nullptr) {
    QPushButton* cancel = box->addButton(QString::fromUtf8(cancelText), QDialogButtonBox::RejectRole);
    cancel->setAutoDefault(false);
    cancel->setObjectName(QStringLiteral("cancel"));
  }
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

QPlainTextEdit* MakeReadOnlyText(const QString& text, int lines, QDialog* dialog) {
  auto* edit = new QPlainTextEdit(text, dialog);
  edit->setReadOnly(true);
  edit->setFocusPolicy(Qt::NoFocus);
  edit->setTabChangesFocus(true);
  edit->ensurePolished();
  const QFontMetrics metrics(edit->font());
  const int frame = 2 * edit->frameWidth() + 2 * static_cast<int>(edit->document()->documentMargin());
  edit->setFixedHeight(lines * metrics.lineSpacing() + frame + 6);
  // Wide enough for the longest line up to a sensible limit; longer text wraps.
  int widest = 0;
  for (const QString& line : text.split(u'\n')) widest = std::max(widest, metrics.horizontalAdvance(line));
  edit->setMinimumWidth(std::min(widest + frame + 24, kMaxTextWidth));
  edit->setVerticalScrollBarPolicy(lines == 1 ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
  return edit;
}

QLineEdit* MakeIntegerEdit(std::int32_t value, QDialog* dialog) {
  auto* edit = new QLineEdit(QString::number(value), dialog);
  edit->setMaxLength(16);
  edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return edit;
}

void RefuseField(QDialog* dialog, QLineEdit* edit, const QString& message) {
  ShowStationMessage(dialog, message, MessageIcon::Warning);
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
}

std::optional<std::int32_t> ReadStrictField(QDialog* dialog, QLineEdit* edit, const char* label) {
  if (std::optional<std::int32_t> value = StrictInt32(edit->text())) return value;
  QString name = QString::fromUtf8(label);
  if (name.endsWith(u':') || name.endsWith(u'：')) name.chop(1);
  RefuseField(dialog, edit, QString::fromUtf8(texts::kNotAnInteger).arg(name));
  return std::nullopt;
}

}  // namespace varnex2::dialogs
