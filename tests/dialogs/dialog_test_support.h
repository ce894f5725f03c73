#pragma once
// Shared pieces of the dialog tests: one QApplication for the run, the operator messages
// collected instead of shown, control lookup by object name and the PNG snapshots.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "dialogs/message_box.h"
#include "platform/settings_store.h"

namespace varnex2::dialogs::testing {

inline QApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_dialogs";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);  // lives for the whole run
  return *app;
}

inline QString U(const char* text) { return QString::fromUtf8(text); }

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    SetMessageHook([this](const QString& text, MessageIcon) { messages.push_back(text); });
  }
  void TearDown() override { SetMessageHook({}); }

  std::vector<QString> messages;
};

template <typename W = QLineEdit>
W* Find(QWidget& parent, const char* name) {
  W* w = parent.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

inline QStringList ButtonTexts(QWidget& dialog) {
  QStringList texts;
  for (QDialogButtonBox* box : dialog.findChildren<QDialogButtonBox*>()) {
    for (QAbstractButton* b : box->buttons()) texts << b->text();
  }
  texts.sort();
  return texts;
}

inline QStringList LabelTexts(QWidget& dialog) {
  QStringList texts;
  for (QLabel* l : dialog.findChildren<QLabel*>()) texts << l->text();
  return texts;
}

inline void ClickOk(QWidget& dialog) { Find<QPushButton>(dialog, "ok")->click(); }
inline void ClickCancel(QWidget& dialog) { Find<QPushButton>(dialog, "cancel")->click(); }

inline std::optional<std::int32_t> Stored(platform::SettingsStore& store, std::string_view key,
                                          std::string_view name) {
  std::int32_t value = 0;
  if (store.GetDword(key, name, value) != platform::SettingsStatus::Ok) return std::nullopt;
  return value;
}

// Renders the shown dialog into VARNEX2_OUTPUT_DIR/<file>.
inline void Snapshot(QDialog& dialog, const char* file) {
  dialog.show();
  QApplication::processEvents();
  const QString path = QStringLiteral(VARNEX2_OUTPUT_DIR "/") + QString::fromLatin1(file);
  EXPECT_TRUE(dialog.grab().save(path)) << path.toStdString();
}

// Runs `act` on the modal dialog once it is open (the caller then runs exec()); a dialog still
// open after the bound is rejected so that a failing test cannot hang.
inline void WhenModal(std::function<void(QDialog&)> act) {
  auto* poll = new QTimer;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  QObject::connect(poll, &QTimer::timeout, [poll, act, deadline] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog != nullptr && dialog->isVisible()) {
      poll->stop();
      poll->deleteLater();
      act(*dialog);
      if (dialog->isVisible()) {
        QTimer::singleShot(std::chrono::seconds(5), dialog, [dialog] { dialog->reject(); });
      }
      return;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "no modal dialog opened";
      poll->stop();
      poll->deleteLater();
    }
  });
  poll->start(10);
}

}  // namespace varnex2::dialogs::testing
