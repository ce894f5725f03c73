#pragma once
// CAdvancedDlg: the sample-limit editor's window. The operator takes samples of
// known-good panels, selects the ones that count and computes per-node upper and
// lower limits from them; the logic is judging::SampleLimitEditor, shared with
// the offline judge.
//
// The window that opens it stops the test cycle first, supplies the fresh-frame
// call (resume the cycle, wait 50 ms, stop it, wait 50 ms) and, after exec(),
// copies Result() back and sets the test-mode word with
// judging::TestModeAfterConfirm / TestModeAfterCancel.

#include <QDialog>

#include <cstdint>
#include <functional>

#include "config/legacy_import.h"
#include "config/panel_config.h"
#include "judging/node_map.h"
#include "judging/sample_limits.h"

class QAction;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace varnex2::dialogs {

namespace advanced_texts {
inline constexpr const char* kTitle = "样本上下限比对设置窗口";
inline constexpr const char* kFileMenu = "文件(&F)";
inline constexpr const char* kLegacyImport = "老版本参数文件导入(&O)";
inline constexpr const char* kLegacySave = "老版本参数统一保存在主界面新版参数文件中(&S)";
inline constexpr const char* kNotAvailable = "此功能尚未提供";
inline constexpr const char* kSample = "采样";
inline constexpr const char* kPercentMode = "百分比模式";
inline constexpr const char* kOffsetMode = "偏移量模式";
inline constexpr const char* kLower = "下限";
inline constexpr const char* kUpper = "上限";
inline constexpr const char* kBase = "基准";
inline constexpr const char* kCompute = "设置上下限";
inline constexpr const char* kClear = "清空&&默认值";
inline constexpr const char* kOk = "确认";
inline constexpr const char* kCancel = "放弃";
}  // namespace advanced_texts

inline constexpr int kMenuLegacyImport = 32800;
inline constexpr int kMenuLegacySave = 32801;

class CAdvancedDlg : public QDialog {
  Q_OBJECT

 public:
  CAdvancedDlg(judging::NodeMap& map, const config::SampleLimitSet& data, std::function<void()> freshFrame,
               QWidget* parent = nullptr);
  ~CAdvancedDlg() override;

  // The edited set, to copy back into the record after OK.
  const config::SampleLimitSet& Result() const { return editor_.Data(); }

  // The node map is repainted through this after it shows another array.
  void SetRepaint(std::function<void()> repaint) { repaint_ = std::move(repaint); }
  // The legacy import (menu 32800); until one is set the menu says it is not available.
  void SetLegacyImport(std::function<void(CAdvancedDlg&)> import) { legacyImport_ = std::move(import); }
  // The logic behind the window, e.g. for an import to replace the data; Reload()
  // refills the tables and the controls from it afterwards.
  judging::SampleLimitEditor& Editor() { return editor_; }
  judging::NodeMap& Map() { return map_; }
  void Reload();
  // The percent/offset controls as they stand (radio buttons and the three edits' texts), and
  // set from an imported parameter set; neither button ticked shows the offset mode, which is
  // what reading the controls gives then.
  config::LegacyLimitControls LimitControls() const;
  void SetLimitControls(const config::LegacyLimitControls& controls);
  // The sample table and "设置上下限" usable (after an import).
  void EnableLimitEditing();
  // Repaints the node map through the repaint call.
  void RepaintMap() { Repaint(); }

  // Text of a table value: spread columns (4 and 8) divided by 1000, three decimals;
  // negative values empty, and zero too when `zeroEmpty`.
  static QString CellText(int column, std::int32_t value, bool zeroEmpty);

 private:
  void BuildTables();
  void FillSampleTable();
  void FillLimitTable();
  void AppendSampleRow(int row, bool zeroEmpty);
  void SetDefaultControls();
  void SetControlsFromData();
  void Repaint();

  void OnSample();
  void OnCompute();
  void OnClear();
  void OnSampleCellClicked(int tableRow, int column);
  void OnLimitCellClicked(int tableRow, int column);
  void OnLegacyImport();

  judging::NodeMap& map_;
  judging::SampleLimitEditor editor_;
  std::function<void()> freshFrame_;
  std::function<void()> repaint_;
  std::function<void(CAdvancedDlg&)> legacyImport_;

  QTableWidget* sampleTable_ = nullptr;
  QTableWidget* limitTable_ = nullptr;
  QRadioButton* percentMode_ = nullptr;
  QRadioButton* offsetMode_ = nullptr;
  QLineEdit* percentEdit_ = nullptr;
  QLineEdit* lowerEdit_ = nullptr;
  QLineEdit* upperEdit_ = nullptr;
  QPushButton* compute_ = nullptr;
};

}  // namespace varnex2::dialogs
