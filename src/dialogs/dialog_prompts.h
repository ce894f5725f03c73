#pragma once
// The window's answers to the set-up procedures' questions: each question opens its dialog
// modally over the given parent and, on OK, fills the prompt with the entered values.

#include "station/setup_prompts.h"

class QWidget;

namespace varnex2::dialogs {

class DialogPrompts : public station::SetupPrompts {
 public:
  explicit DialogPrompts(QWidget* parent) : parent_(parent) {}

  bool AskAreaParams(station::AreaPrompt& prompt) override;
  bool AskAdjacentPercent(station::AdjacentPrompt& prompt) override;
  bool AskCellLimits(station::CellLimitsPrompt& prompt) override;

 private:
  QWidget* parent_;
};

}  // namespace varnex2::dialogs
