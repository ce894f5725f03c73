#pragma once
// Pieces the set-up dialogs share: their button rows, read-only text boxes and the
// checked reading of an integer edit.

#include <QString>

#include <cstdint>
#include <optional>

class QDialog;
class QDialogButtonBox;
class QLineEdit;
class QPlainTextEdit;

namespace varnex2::dialogs {

// A button row: the accept button `okText` (the default button, object name "ok") and the
// reject button `cancelText` ("cancel"; none when null), which rejects the dialog. The caller
// adds the row to its layout and connects `accepted` to its own checks.
QDialogButtonBox* MakeButtonRow(QDialog* dialog, const char* okText, const char* cancelText);

// A read-only, multi-line text box about `lines` lines high.
QPlainTextEdit* MakeReadOnlyText(const QString& text, int lines, QDialog* dialog);

// A line edit for a 32-bit integer, shown with "%d".
QLineEdit* MakeIntegerEdit(std::int32_t value, QDialog* dialog);

// The edit's text by the strict conversion. When it is not a 32-bit integer: the message
// naming `label` (a trailing colon dropped), the edit gets the focus with its text selected,
// and no value.
std::optional<std::int32_t> ReadStrictField(QDialog* dialog, QLineEdit* edit, const char* label);

// Shows `message` and puts the focus on `edit` with its text selected.
void RefuseField(QDialog* dialog, QLineEdit* edit, const QString& message);

}  // namespace varnex2::dialogs
