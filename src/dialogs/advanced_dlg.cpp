#include "dialogs/advanced_dlg.h"

#include <QAction>
#include <QBrush>
#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <utility>

#include "dialogs/integer_text.h"
#include "dialogs/message_box.h"

namespace varnex2::dialogs {

namespace {

namespace t = advanced_texts;

constexpr int kColumns = 9;
constexpr int kRowHeight = 25;
constexpr int kItemColumnWidth = 50;
constexpr int kValueColumnWidth = 100;
constexpr int kLimitRows = 3;  // "上限", "基准", "下限" below the header
const QColor kTableBackground(255, 255, 224);

const char* const kHeaders[kColumns] = {"项目",       "触摸最大值", "触摸最小值", "触摸平均值", "触摸均方差",
                                        "按键最大值", "按键最小值", "按键平均值", "按键均方差"};
const char* const kDefaultPercent = "10";
const char* const kDefaultOffset = "1000";

// A table of the editor: header row, item column, fixed row and column sizes,
// light yellow, read only (the data behind it changes only through the buttons).
QTableWidget* MakeTable(QWidget* parent, const char* name) {
  auto* table = new QTableWidget(0, kColumns, parent);
  table->setObjectName(QString::fromLatin1(name));
  QStringList headers;
  for (const char* h : kHeaders) headers << QString::fromUtf8(h);
  table->setHorizontalHeaderLabels(headers);
  table->verticalHeader()->hide();
  table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table->verticalHeader()->setDefaultSectionSize(kRowHeight);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table->horizontalHeader()->setFixedHeight(kRowHeight);
  table->horizontalHeader()->setHighlightSections(false);
  table->setColumnWidth(0, kItemColumnWidth);
  for (int c = 1; c < kColumns; ++c) table->setColumnWidth(c, kValueColumnWidth);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette palette = table->palette();
  palette.setColor(QPalette::Base, kTableBackground);
  table->setPalette(palette);
  const int width = kItemColumnWidth + (kColumns - 1) * kValueColumnWidth + 2 * table->frameWidth();
  table->setMinimumWidth(width + table->verticalScrollBar()->sizeHint().width());
  return table;
}

QTableWidgetItem* ValueItem(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  item->setTextAlignment(Qt::AlignCenter);
  return item;
}

}  // namespace

CAdvancedDlg::CAdvancedDlg(judging::NodeMap& map, const config::SampleLimitSet& data, std::function<void()> freshFrame,
                           QWidget* parent)
    : QDialog(parent), map_(map), editor_(map, data), freshFrame_(std::move(freshFrame)) {
  setWindowTitle(QString::fromUtf8(t::kTitle));

  auto* menuBar = new QMenuBar(this);
  QMenu* file = menuBar->addMenu(QString::fromUtf8(t::kFileMenu));
  QAction* import = file->addAction(QString::fromUtf8(t::kLegacyImport));
  import->setData(kMenuLegacyImport);
  import->setObjectName(QStringLiteral("legacyImport"));
  QAction* save = file->addAction(QString::fromUtf8(t::kLegacySave));
  save->setData(kMenuLegacySave);
  save->setObjectName(QStringLiteral("legacySave"));
  connect(import, &QAction::triggered, this, &CAdvancedDlg::OnLegacyImport);

  sampleTable_ = MakeTable(this, "sampleTable");
  limitTable_ = MakeTable(this, "limitTable");
  limitTable_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  limitTable_->setFixedHeight(kRowHeight * (kLimitRows + 1) + 2 * limitTable_->frameWidth());
  limitTable_->setSelectionMode(QAbstractItemView::NoSelection);
  connect(sampleTable_, &QTableWidget::cellClicked, this, &CAdvancedDlg::OnSampleCellClicked);
  connect(limitTable_, &QTableWidget::cellClicked, this, &CAdvancedDlg::OnLimitCellClicked);

  auto* sample = new QPushButton(QString::fromUtf8(t::kSample), this);
  sample->setObjectName(QStringLiteral("sampleButton"));
  percentMode_ = new QRadioButton(QString::fromUtf8(t::kPercentMode), this);
  percentMode_->setObjectName(QStringLiteral("percentMode"));
  offsetMode_ = new QRadioButton(QString::fromUtf8(t::kOffsetMode), this);
  offsetMode_->setObjectName(QStringLiteral("offsetMode"));
  percentEdit_ = new QLineEdit(this);
  percentEdit_->setObjectName(QStringLiteral("percentEdit"));
  lowerEdit_ = new QLineEdit(this);
  lowerEdit_->setObjectName(QStringLiteral("lowerEdit"));
  upperEdit_ = new QLineEdit(this);
  upperEdit_->setObjectName(QStringLiteral("upperEdit"));
  for (QLineEdit* edit : {percentEdit_, lowerEdit_, upperEdit_}) edit->setFixedWidth(70);
  auto* compute = compute_ = new QPushButton(QString::fromUtf8(t::kCompute), this);
  compute->setObjectName(QStringLiteral("computeButton"));
  auto* clear = new QPushButton(QString::fromUtf8(t::kClear), this);
  clear->setObjectName(QStringLiteral("clearButton"));
  auto* ok = new QPushButton(QString::fromUtf8(t::kOk), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QString::fromUtf8(t::kCancel), this);
  cancel->setObjectName(QStringLiteral("cancelButton"));

  connect(sample, &QPushButton::clicked, this, &CAdvancedDlg::OnSample);
  connect(compute, &QPushButton::clicked, this, &CAdvancedDlg::OnCompute);
  connect(clear, &QPushButton::clicked, this, &CAdvancedDlg::OnClear);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  // The mode follows the operator's click at once; the edits are read by "compute" only.
  connect(percentMode_, &QRadioButton::clicked, this, [this] { editor_.SetLimitMode(0); });
  connect(offsetMode_, &QRadioButton::clicked, this, [this] { editor_.SetLimitMode(1); });

  auto* controls = new QHBoxLayout;
  controls->addWidget(sample);
  controls->addSpacing(16);
  controls->addWidget(percentMode_);
  controls->addWidget(percentEdit_);
  controls->addWidget(new QLabel(QStringLiteral("%"), this));
  controls->addSpacing(16);
  controls->addWidget(offsetMode_);
  controls->addWidget(new QLabel(QString::fromUtf8(t::kLower), this));
  controls->addWidget(lowerEdit_);
  controls->addWidget(new QLabel(QString::fromUtf8(t::kUpper), this));
  controls->addWidget(upperEdit_);
  controls->addSpacing(16);
  controls->addWidget(compute);
  controls->addWidget(clear);
  controls->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menuBar);
  layout->addWidget(sampleTable_, 1);
  layout->addWidget(limitTable_);
  layout->addLayout(controls);
  layout->addLayout(buttons);
  resize(sampleTable_->minimumWidth() + 24, 560);

  Reload();
}

CAdvancedDlg::~CAdvancedDlg() = default;

void CAdvancedDlg::Reload() {
  SetDefaultControls();
  SetControlsFromData();
  FillSampleTable();
  FillLimitTable();
}

QString CAdvancedDlg::CellText(int column, std::int32_t value, bool zeroEmpty) {
  if (value < 0 || (zeroEmpty && value == 0)) return {};
  if (column == 4 || column == 8) return QString::number(value / 1000.0, 'f', 3);
  return QString::number(value);
}

void CAdvancedDlg::SetDefaultControls() {
  percentMode_->setChecked(true);
  offsetMode_->setChecked(false);
  percentEdit_->setText(QString::fromLatin1(kDefaultPercent));
  lowerEdit_->setText(QString::fromLatin1(kDefaultOffset));
  upperEdit_->setText(QString::fromLatin1(kDefaultOffset));
}

void CAdvancedDlg::SetControlsFromData() {
  const config::SampleLimitSet& d = editor_.Data();
  if (d.nLimitMode == 0) percentMode_->setChecked(true);
  if (d.nLimitMode == 1) offsetMode_->setChecked(true);
  percentEdit_->setText(QString::asprintf("%g", d.nPercentX100 / 100.0));
  lowerEdit_->setText(QString::asprintf("%d", d.nOffsetLower));
  upperEdit_->setText(QString::asprintf("%d", d.nOffsetUpper));
}

config::LegacyLimitControls CAdvancedDlg::LimitControls() const {
  config::LegacyLimitControls c;
  c.bPercentChecked = percentMode_->isChecked();
  c.bOffsetChecked = offsetMode_->isChecked();
  c.strPercent = percentEdit_->text().toStdString();
  c.strOffsetLower = lowerEdit_->text().toStdString();
  c.strOffsetUpper = upperEdit_->text().toStdString();
  return c;
}

void CAdvancedDlg::SetLimitControls(const config::LegacyLimitControls& c) {
  if (c.bPercentChecked)
    percentMode_->setChecked(true);
  else
    offsetMode_->setChecked(true);
  percentEdit_->setText(QString::fromStdString(c.strPercent));
  lowerEdit_->setText(QString::fromStdString(c.strOffsetLower));
  upperEdit_->setText(QString::fromStdString(c.strOffsetUpper));
}

void CAdvancedDlg::EnableLimitEditing() {
  sampleTable_->setEnabled(true);
  compute_->setEnabled(true);
}

// Table row i is the editor's row i + 1 (the header row is the table's header).
void CAdvancedDlg::AppendSampleRow(int row, bool zeroEmpty) {
  const config::Int32Array2D& list = editor_.Data().sampleList;
  const int tableRow = sampleTable_->rowCount();
  sampleTable_->insertRow(tableRow);
  auto* item = ValueItem(QString::number(row));
  item->setCheckState(editor_.IsSelected(row) ? Qt::Checked : Qt::Unchecked);
  sampleTable_->setItem(tableRow, 0, item);
  for (int c = 1; c < kColumns; ++c) {
    const QString text = c < list.Cols() ? CellText(c, list(row, c), zeroEmpty) : QString();
    sampleTable_->setItem(tableRow, c, ValueItem(text));
  }
}

void CAdvancedDlg::FillSampleTable() {
  sampleTable_->setRowCount(0);
  for (int row = 1; row < editor_.SampleTableRows(); ++row) AppendSampleRow(row, true);
}

void CAdvancedDlg::FillLimitTable() {
  static const char* const kTitles[kLimitRows] = {t::kUpper, t::kBase, t::kLower};
  const config::Int32Array2D& para = editor_.Data().paraList;
  const bool filled = para.Rows() == judging::kParaListRows && para.Cols() == judging::kParaListColumns;
  limitTable_->setRowCount(kLimitRows);
  for (int r = 0; r < kLimitRows; ++r) {
    limitTable_->setItem(r, 0, ValueItem(QString::fromUtf8(kTitles[r])));
    for (int c = 1; c < kColumns; ++c)
      limitTable_->setItem(r, c, ValueItem(filled ? CellText(c, para(r, c - 1), true) : QString()));
  }
}

void CAdvancedDlg::Repaint() {
  if (repaint_) repaint_();
}

void CAdvancedDlg::OnSample() {
  const int row = editor_.TakeSample(freshFrame_);
  AppendSampleRow(row, false);
  sampleTable_->scrollToBottom();
}

void CAdvancedDlg::OnCompute() {
  judging::LimitParameters p;
  p.nLimitMode = percentMode_->isChecked() ? 0 : 1;
  p.nPercentX100 = judging::PercentTextToX100(percentEdit_->text().toStdString());
  p.nOffsetLower = LenientInt32(lowerEdit_->text());
  p.nOffsetUpper = LenientInt32(upperEdit_->text());
  const judging::SampleLimitStatus status = editor_.ComputeLimits(p);
  if (status == judging::SampleLimitStatus::kNoSampleSelected) {
    ShowStationMessage(this, QString::fromUtf8(judging::kMsgNoSampleSelected), MessageIcon::Warning);
    return;
  }
  if (status != judging::SampleLimitStatus::kOk) return;  // preconditions: silently nothing
  FillLimitTable();
  Repaint();
}

void CAdvancedDlg::OnClear() {
  editor_.Clear();
  FillSampleTable();
  FillLimitTable();
  SetDefaultControls();
}

void CAdvancedDlg::OnSampleCellClicked(int tableRow, int column) {
  const int row = tableRow + 1;
  if (column == 0) {
    QTableWidgetItem* item = sampleTable_->item(tableRow, 0);
    const judging::SampleLimitStatus status = editor_.SetSelected(row, !editor_.IsSelected(row));
    if (status == judging::SampleLimitStatus::kLastSelectedSample)
      ShowStationMessage(this, QString::fromUtf8(judging::kMsgKeepOneSampleSelected), MessageIcon::Warning);
    if (item != nullptr) item->setCheckState(editor_.IsSelected(row) ? Qt::Checked : Qt::Unchecked);
    return;
  }
  if (editor_.ShowSample(row) == judging::SampleLimitStatus::kOk) Repaint();
}

void CAdvancedDlg::OnLimitCellClicked(int tableRow, int /*column*/) {
  const int row = tableRow + 1;
  if (row < 1 || row > kLimitRows) return;
  if (editor_.ShowLimitArray(static_cast<judging::LimitRow>(row)) == judging::SampleLimitStatus::kOk) Repaint();
}

void CAdvancedDlg::OnLegacyImport() {
  if (legacyImport_) {
    legacyImport_(*this);
    return;
  }
  ShowStationMessage(this, QString::fromUtf8(t::kNotAvailable), MessageIcon::Information);
}

}  // namespace varnex2::dialogs
