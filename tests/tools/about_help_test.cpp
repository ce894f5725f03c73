// The About window (rendered offscreen), the guides and the vendor table.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QUrl>

#include <vector>

#include "dialogs/message_box.h"
#include "platform/memory_settings_store.h"
#include "tools/about_dlg.h"
#include "tools/help_links.h"
#include "tools/own_version.h"
#include "tools_test_support.h"

namespace varnex2::tools {
namespace {

QStringList Row(QTableWidget& table, int row) {
  QStringList cells;
  for (int column = 0; column < table.columnCount(); ++column) cells << table.item(row, column)->text();
  return cells;
}

TEST(AboutWindow, FieldsHistoryAndLogo) {
  testing::App();
  AboutInfo info;
  info.firmwareVersion = 0x21;
  info.firmwareBuild = 0x0A;
  info.softwareText = VersionText(OwnVersion());
  CAboutDlg dialog(info, QIcon(":/varnex2/logos/logo_default.svg"));
  EXPECT_EQ(dialog.windowTitle(), "关于");
  EXPECT_EQ(dialog.findChild<QLineEdit*>("1018")->text(), "2.1.0A");
  EXPECT_TRUE(dialog.findChild<QLineEdit*>("1018")->isReadOnly());
  EXPECT_EQ(dialog.findChild<QLineEdit*>("1021")->text(), VersionText(OwnVersion()));
  EXPECT_TRUE(dialog.findChild<QLineEdit*>("1021")->isReadOnly());
  QStringList labels;
  for (QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
  EXPECT_TRUE(labels.contains("通用触摸屏测试系统"));
  EXPECT_TRUE(labels.contains("固件版本"));
  EXPECT_TRUE(labels.contains("软件版本"));

  auto* table = dialog.findChild<QTableWidget*>("1022");
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->rowCount(), 38);
  ASSERT_EQ(table->columnCount(), 4);
  const std::vector<std::pair<QString, int>> columns = {
      {"版次", 60}, {"发布时间", 100}, {"版本号", 100}, {"说明", 200}};
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(table->horizontalHeaderItem(c)->text(), columns[c].first);
    EXPECT_EQ(table->columnWidth(c), columns[c].second);
  }
  EXPECT_EQ(table->horizontalHeaderItem(3)->text(), "说明");
  EXPECT_GE(table->columnWidth(3), 200);
  EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_TRUE(table->showGrid());
  EXPECT_EQ(Row(*table, 0), (QStringList{"1", "2017.04.04", "1.0.0.1", "Initial release."}));
  EXPECT_EQ(Row(*table, 15), (QStringList{"15", "2019.09.11", "1.3.0.4", "Save rawdata to CSV supported."}));
  EXPECT_EQ(Row(*table, 16),
            (QStringList{"16", "2019.09.20", "1.3.0.5", "Add 1D/2D scanner supported(HID/COM mode)."}));
  EXPECT_EQ(Row(*table, 37), (QStringList{"37", "2022.07.29", "1.3.0.26", "Added PASS/FIAL output optional."}));
  // Numbered 1 to 37 in order, "14" twice.
  QStringList numbers;
  for (int row = 0; row < 38; ++row) numbers << table->item(row, 0)->text();
  QStringList expected;
  for (int n = 1; n <= 37; ++n) expected << QString::number(n);
  expected.insert(14, "14");
  EXPECT_EQ(numbers, expected);

  EXPECT_EQ(dialog.LogoPath(), ":/varnex2/logos/logo_default.svg");
  auto* logo = dialog.findChild<QLabel*>("1023");
  ASSERT_NE(logo, nullptr);
  EXPECT_FALSE(logo->pixmap().isNull());

  dialog.show();
  QApplication::processEvents();
  const QString png = QStringLiteral(VARNEX2_OUTPUT_DIR "/about_dialog.png");
  EXPECT_TRUE(dialog.grab().save(png)) << png.toStdString();

  auto* close = dialog.findChild<QPushButton*>("1");
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close->text(), "已阅");
  close->click();
  EXPECT_FALSE(dialog.isVisible());
}

TEST(AboutWindow, FirmwareTextAndEmptyFields) {
  testing::App();
  EXPECT_EQ(FirmwareText(0x20, 0xAA), "2.0.AA");
  EXPECT_EQ(FirmwareText(0xF3, 0x05), "15.3.05");
  CAboutDlg dialog(AboutInfo{}, QIcon());
  EXPECT_EQ(dialog.findChild<QLineEdit*>("1018")->text(), "");
  EXPECT_EQ(dialog.findChild<QLineEdit*>("1021")->text(), "");
}

TEST(AboutWindow, TheLogoFollowsTheVendorCode) {
  EXPECT_EQ(VendorLogo(""), ":/varnex2/logos/logo_default.svg");
  EXPECT_EQ(VendorLogo("QQQQ"), ":/varnex2/logos/logo_default.svg");
  EXPECT_EQ(VendorLogo("VNX2"), ":/varnex2/logos/logo_vnx2.svg");
  EXPECT_EQ(VendorLogo("zrvt"), ":/varnex2/logos/logo_zrvt.svg");
  for (const char* logo :
       {":/varnex2/logos/logo_default.svg", ":/varnex2/logos/logo_vnx2.svg", ":/varnex2/logos/logo_zrvt.svg"}) {
    EXPECT_TRUE(QFileInfo::exists(logo)) << logo;
  }
}

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    SetUrlOpener([this](const QUrl& url) {
      opened.push_back(url);
      return true;
    });
    dialogs::SetMessageHook([this](const QString& text, station::MessageIcon) { messages << text; });
  }
  void TearDown() override {
    SetUrlOpener({});
    dialogs::SetMessageHook({});
    qunsetenv("VARNEX2_HELP_DIR");
  }
  std::vector<QUrl> opened;
  QStringList messages;
  std::unique_ptr<platform::SettingsStore> settings = platform::CreateMemorySettingsStore();
};

TEST_F(LinkTest, EveryHelpEntryOpensAShippedGuideAtItsSection) {
  for (int command : {32845, 32846, 32847, 32848, 32858}) {
    ASSERT_TRUE(OpenHelpEntry(command, nullptr)) << command;
    const QUrl url = opened.back();
    EXPECT_TRUE(url.isLocalFile());
    EXPECT_TRUE(QFileInfo(url.toLocalFile()).isFile()) << url.toString().toStdString();
    EXPECT_FALSE(url.fragment().isEmpty());
    // The section exists in the guide.
    QFile guide(url.toLocalFile());
    ASSERT_TRUE(guide.open(QIODevice::ReadOnly));
    EXPECT_TRUE(guide.readAll().contains(QByteArray("id=\"") + url.fragment().toUtf8() + "\"")) << command;
  }
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_FALSE(OpenHelpEntry(32800, nullptr));
}

TEST_F(LinkTest, AMissingGuideIsNamedAndNothingOpens) {
  EXPECT_TRUE(FindHelpDocument("operator.html").endsWith("docs/help/operator.html"));  // the source tree
  QTemporaryDir empty;
  qputenv("VARNEX2_HELP_DIR", empty.path().toUtf8());
  EXPECT_EQ(HelpFolders(), QStringList{empty.path()});
  EXPECT_FALSE(OpenHelpEntry(32846, nullptr));
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains("technician.html")) << messages[0].toStdString();
  EXPECT_TRUE(messages[0].contains(empty.path()));
  EXPECT_TRUE(opened.empty());
}

TEST_F(LinkTest, TheVendorSiteComesFromTheTableOrTheSettings) {
  EXPECT_FALSE(OpenVendorSite(*settings, nullptr));  // no code set
  EXPECT_EQ(messages, QStringList{"未设置有效的供应商或者该供应商没有有效的网站链接！"});
  std::string code = "unset";
  EXPECT_EQ(settings->GetString(kVendorKey, kVendorCodeName, code, 100), platform::SettingsStatus::Ok);
  EXPECT_EQ(code, "");  // created for the technician

  settings->SetString(kVendorKey, kVendorCodeName, "QQQQ");
  EXPECT_FALSE(OpenVendorSite(*settings, nullptr));
  EXPECT_EQ(messages.size(), 2);
  EXPECT_TRUE(opened.empty());

  settings->SetString(kVendorSitesKey, "QQQQ", "https://qqqq.example.org/touch");
  EXPECT_TRUE(OpenVendorSite(*settings, nullptr));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened.back(), QUrl("https://qqqq.example.org/touch"));

  settings->SetString(kVendorKey, kVendorCodeName, "VNX2");
  EXPECT_TRUE(OpenVendorSite(*settings, nullptr));
  EXPECT_EQ(opened.back().scheme(), "https");

  settings->SetString(kVendorSitesKey, "QQQQ", "javascript:alert(1)");  // not a web address
  settings->SetString(kVendorKey, kVendorCodeName, "QQQQ");
  EXPECT_FALSE(OpenVendorSite(*settings, nullptr));
  EXPECT_EQ(messages.size(), 3);
}

}  // namespace
}  // namespace varnex2::tools
