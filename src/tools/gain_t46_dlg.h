#pragma once
// CSptCTEConfigT46 (32806, title "高阶增益设置"): the global gain of the controller's T46 object.
// It reads T46 when it opens; OK writes the image built from its three controls, backs the
// configuration up, announces the restart and resets the controller. Object names are the
// control ids: "1059" ADC gain slider, "1060" X drive voltage slider, "1061" the enable, "1"
// OK, "2" Cancel, "readError" the note shown when T46 could not be read (OK is then disabled).
// A write or backup that fails is shown and ends the dialog as cancelled: nothing is reset and
// the caller resumes the test.

#include <QDialog>
#include <QIcon>
#include <QString>

#include <functional>

#include "service/gain_access.h"
#include "service/gain_images.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace varnex2::tools {

// Serves the window's events except the operator's input for `ms` milliseconds (a timer ends
// the wait), so that the screen keeps painting while the controller settles.
void WaitWithoutInput(int ms);

class CSptCTEConfigT46 : public QDialog {
  Q_OBJECT

 public:
  // The restart notice: caption, text. By default a message box with the program's icon.
  using RestartNotice = std::function<void(const QString& caption, const QString& text)>;

  CSptCTEConfigT46(service::GainAccess& station, const QIcon& icon, QWidget* parent = nullptr);

  void SetRestartNotice(RestartNotice notice) { notice_ = std::move(notice); }
  bool ReadSucceeded() const { return readResult_ == 0; }
  // The image as read, and after OK as written.
  const service::T46Image& Image() const { return image_; }

  void accept() override;  // OK

 private:
  void ShowRestartNotice();

  service::GainAccess& station_;
  QIcon icon_;
  RestartNotice notice_;
  service::T46Image image_{};
  int readResult_ = 0;
  QSlider* adcGain_ = nullptr;   // 1059
  QSlider* xVoltage_ = nullptr;  // 1060
  QCheckBox* enable_ = nullptr;  // 1061
  QPushButton* ok_ = nullptr;
};

}  // namespace varnex2::tools
