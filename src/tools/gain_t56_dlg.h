#pragma once
// CSptCTEConfigT56 (32837, title "高阶增益设置"): the single-layer sensor settings of the
// controller's T56 object. It reads T56 when it opens (the test stopped around the read) and
// writes the fields back onto the image read with "应用并关闭窗体" (OK) and "应用" (Apply), each
// write followed by a backup, the test stopped around both. Object names are the control ids
// ("1062" ... "1084", "1" OK, "2" Cancel, "3" Apply) and "readError", the note shown when T56
// could not be read: OK and Apply are then disabled. A field that is not a number, or a delay
// text without 32 numbers, is refused with a message naming it and nothing is written.

#include <QDialog>
#include <QString>

#include <array>
#include <optional>

#include "service/gain_access.h"
#include "service/gain_images.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace varnex2::tools {

class CSptCTEConfigT56 : public QDialog {
  Q_OBJECT

 public:
  explicit CSptCTEConfigT56(service::GainAccess& station, QWidget* parent = nullptr);

  bool ReadSucceeded() const { return readResult_ == 0; }
  // The image as read, and after each successful write as written.
  const service::T56Image& Image() const { return image_; }

  // "应用": true when the image was written and backed up.
  bool Apply();
  void accept() override;  // "应用并关闭窗体": Apply, then close when it succeeded

 private:
  struct NumberField {
    QLineEdit* edit = nullptr;
    QString caption;  // what a refusal names
  };
  QLineEdit* AddNumber(const char* id, const QString& caption);
  void Fill(const service::T56Fields& fields);
  // The fields from the controls; nullopt (after the message) when one is refused.
  std::optional<service::T56Fields> Collect();
  std::optional<int> Number(const NumberField& field);

  service::GainAccess& station_;
  service::T56Image image_{};
  int readResult_ = 0;
  QCheckBox* enable_ = nullptr;        // 1062
  QCheckBox* calibration_ = nullptr;   // 1063
  QCheckBox* integration_ = nullptr;   // 1064
  NumberField integrationTime_;        // 1065
  QPlainTextEdit* xDelays_ = nullptr;  // 1066
  QCheckBox* multiYFilter_ = nullptr;  // 1067
  QRadioButton* modeOr_ = nullptr;     // 1068
  QRadioButton* modeAnd_ = nullptr;    // 1069
  NumberField noiseThreshold_;         // 1070
  QCheckBox* noiseControl_ = nullptr;  // 1071
  NumberField touchBias_;              // 1072
  NumberField referenceScale_;         // 1073
  NumberField offsetLimit_;            // 1074
  std::array<NumberField, 4> rowLow_;   // 1075, 1077, 1079, 1083 (right of "*")
  std::array<NumberField, 4> rowHigh_;  // 1076, 1078, 1080, 1084 (left of "*")
  QPushButton* ok_ = nullptr;
  QPushButton* apply_ = nullptr;
};

}  // namespace varnex2::tools
