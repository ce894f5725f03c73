#pragma once
// CAdjacentDlg: the allowed deviation of adjacent nodes, in whole percent, for a single node
// (scope 0), the whole touch area (scope 1) or a rectangle selected on the node map (scope 2).

#include <QDialog>

#include <cstdint>

#include "station/setup_prompts.h"

class QLineEdit;
class QPlainTextEdit;

namespace varnex2::dialogs {

class CAdjacentDlg : public QDialog {
  Q_OBJECT

 public:
  // The largest magnitude accepted: the caller stores the percentage times 100 in 32 bits.
  static constexpr std::int32_t kMaxPercent = INT32_MAX / 100;

  explicit CAdjacentDlg(const station::AdjacentPrompt& prompt, QWidget* parent = nullptr);

  // The window title and the scope text for a prompt (line numbers shifted by its base).
  static QString TitleForScope(int scope);
  static QString ScopeText(const station::AdjacentPrompt& prompt);

  // The percentage taken by OK (the initial one before that).
  std::int32_t Percent() const { return percent_; }
  void ReadInto(station::AdjacentPrompt& prompt) const { prompt.percent = percent_; }

 private:
  void OnOk();

  QLineEdit* percentEdit_ = nullptr;
  QPlainTextEdit* scopeText_ = nullptr;
  std::int32_t percent_ = 0;
};

}  // namespace varnex2::dialogs
