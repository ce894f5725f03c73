#pragma once
// GroupSetting: an area's upper and lower threshold and gain, asked when an area is marked on
// the node map or one of its nodes is edited.

#include <QDialog>

#include <cstdint>

#include "station/setup_prompts.h"

class QLineEdit;
class QPlainTextEdit;

namespace varnex2::dialogs {

class GroupSetting : public QDialog {
  Q_OBJECT

 public:
  // Shows the prompt's scope (as the title), statistics text, thresholds and gain.
  explicit GroupSetting(const station::AreaPrompt& prompt, QWidget* parent = nullptr);

  // The window title for a scope: -1 whole panel, 0 touch area, 1 key area.
  static QString TitleForScope(int scope);

  // The values accepted by OK (the initial ones before that).
  std::int32_t Upper() const { return upper_; }
  std::int32_t Lower() const { return lower_; }
  std::int32_t Gain() const { return gain_; }
  // Copies the accepted thresholds and gain into `prompt`.
  void ReadInto(station::AreaPrompt& prompt) const;

 private:
  void OnOk();

  QPlainTextEdit* info_ = nullptr;
  QLineEdit* upperEdit_ = nullptr;
  QLineEdit* lowerEdit_ = nullptr;
  QLineEdit* gainEdit_ = nullptr;
  std::int32_t upper_ = 0;
  std::int32_t lower_ = 0;
  std::int32_t gain_ = 0;
};

}  // namespace varnex2::dialogs
