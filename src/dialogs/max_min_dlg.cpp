#include "dialogs/max_min_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include <optional>

#include "config/reg_edit_class.h"
#include "dialogs/dialog_parts.h"
#include "dialogs/dialog_texts.h"

namespace varnex2::dialogs {

namespace {

using config::ScreenLevelSettings;

// One limit: its check box text, its two fields and their value names' places in
// kScreenLevelValueNames. In the order OK reads and stores them.
struct LimitSpec {
  const char* text;
  const char* objectName;
  int32_t ScreenLevelSettings::*enable;
  int32_t ScreenLevelSettings::*value;
  std::size_t enableName;
  std::size_t valueName;
};

constexpr std::array<LimitSpec, CMaxMinDlg::kLimitCount> kLimits = {{
    {texts::kRawdataMax, "RawdataMax", &ScreenLevelSettings::RawdataMaxEnable, &ScreenLevelSettings::RawdataMax, 3,
     2},
    {texts::kRawdataMin, "RawdataMin", &ScreenLevelSettings::RawdataMinEnable, &ScreenLevelSettings::RawdataMin, 5,
     4},
    {texts::kRawdataRange, "RawdataRange", &ScreenLevelSettings::RawdataRangeEnable,
     &ScreenLevelSettings::RawdataRange, 7, 6},
    {texts::kRawdataRangeDiscardVariance, "RawdataRangeDiscardVariance",
     &ScreenLevelSettings::RawdataRangeDiscardVarianceEnable, &ScreenLevelSettings::RawdataRangeDiscardVariance, 11,
     10},
    {texts::kRawdataVariance, "RawdataVariance", &ScreenLevelSettings::RawdataVarianceEnable,
     &ScreenLevelSettings::RawdataVariance, 9, 8},
}};
constexpr std::size_t kViewModeName = 0;

constexpr int32_t kViewArea = 1;
constexpr int32_t kViewTitle = 2;
constexpr int32_t kViewStatus = 4;

}  // namespace

CMaxMinDlg::CMaxMinDlg(config::ScreenLevelSettings& group, platform::SettingsStore& store, QWidget* parent)
    : QDialog(parent), group_(group), store_(store) {
  setWindowTitle(QString::fromUtf8(texts::kMaxMinTitle));

  auto* limitsBox = new QGroupBox(QString::fromUtf8(texts::kMaxMinLimitsGroup), this);
  auto* grid = new QGridLayout(limitsBox);
  for (std::size_t i = 0; i < kLimitCount; ++i) {
    const LimitSpec& spec = kLimits[i];
    LimitRow& row = limits_[i];
    row.box = new QCheckBox(QString::fromUtf8(spec.text), limitsBox);
    row.box->setObjectName(QString::fromLatin1(spec.objectName) + QStringLiteral("Enable"));
    row.box->setChecked(group_.*spec.enable != 0);
    row.edit = MakeIntegerEdit(group_.*spec.value, this);
    row.edit->setObjectName(QString::fromLatin1(spec.objectName));
    row.edit->setEnabled(row.box->isChecked());
    row.edit->setMinimumWidth(90);
    const int r = static_cast<int>(i);
    grid->addWidget(row.box, r, 0);
    grid->addWidget(row.edit, r, 1);
    connect(row.box, &QCheckBox::clicked, this, [this, i](bool checked) {
      group_.*kLimits[i].enable = checked ? 1 : 0;
      limits_[i].edit->setEnabled(checked);
    });
  }
  grid->setColumnStretch(1, 1);

  auto* viewBox = new QGroupBox(QString::fromUtf8(texts::kMaxMinViewGroup), this);
  auto* viewRow = new QHBoxLayout(viewBox);
  viewArea_ = new QCheckBox(QString::fromUtf8(texts::kViewArea), viewBox);
  viewArea_->setObjectName(QStringLiteral("viewArea"));
  viewTitle_ = new QCheckBox(QString::fromUtf8(texts::kViewTitleBar), viewBox);
  viewTitle_->setObjectName(QStringLiteral("viewTitleBar"));
  viewStatus_ = new QCheckBox(QString::fromUtf8(texts::kViewStatusBar), viewBox);
  viewStatus_->setObjectName(QStringLiteral("viewStatusBar"));
  viewArea_->setChecked((group_.ViewMode & kViewArea) != 0);
  viewTitle_->setChecked((group_.ViewMode & kViewTitle) != 0);
  viewStatus_->setChecked((group_.ViewMode & kViewStatus) != 0);
  viewRow->addWidget(viewArea_);
  viewRow->addWidget(viewTitle_);
  viewRow->addWidget(viewStatus_);
  viewRow->addStretch(1);
  // The first two display switches act at once; the status bar's only on OK.
  connect(viewArea_, &QCheckBox::clicked, this, [this](bool checked) {
    group_.ViewMode = checked ? (group_.ViewMode | kViewArea) : (group_.ViewMode & ~kViewArea);
  });
  connect(viewTitle_, &QCheckBox::clicked, this, [this](bool checked) {
    group_.ViewMode = checked ? (group_.ViewMode | kViewTitle) : (group_.ViewMode & ~kViewTitle);
  });

  QDialogButtonBox* buttons = MakeButtonRow(this, texts::kOk, texts::kCancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &CMaxMinDlg::OnOk);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(limitsBox);
  layout->addWidget(viewBox);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

// Every text is checked before anything is stored, so that a refused OK leaves the store as
// it was; then each field is taken and written in turn.
void CMaxMinDlg::OnOk() {
  std::array<int32_t, kLimitCount> values{};
  for (std::size_t i = 0; i < kLimitCount; ++i) {
    const std::optional<int32_t> value = ReadStrictField(this, limits_[i].edit, kLimits[i].text);
    if (!value) return;
    values[i] = *value;
  }

  config::CRegEditClass reg(store_);
  const auto write = [&reg](std::size_t name, int32_t value) {
    reg.WriteRegDword(config::kRegKeyScreenThreshold, config::kScreenLevelValueNames[name], value);
  };
  for (std::size_t i = 0; i < kLimitCount; ++i) {
    const LimitSpec& spec = kLimits[i];
    group_.*spec.enable = limits_[i].box->isChecked() ? 1 : 0;
    write(spec.enableName, group_.*spec.enable);
    group_.*spec.value = values[i];
    write(spec.valueName, group_.*spec.value);
  }
  group_.ViewMode = (viewArea_->isChecked() ? kViewArea : 0) | (viewTitle_->isChecked() ? kViewTitle : 0) |
                    (viewStatus_->isChecked() ? kViewStatus : 0);
  write(kViewModeName, group_.ViewMode);
  accept();
}

}  // namespace varnex2::dialogs
