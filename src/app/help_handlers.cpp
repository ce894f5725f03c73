// The station window's Help menu: About, the update check, the guides and the vendor's site.
#include <QIcon>

#include "app/menu_ids.h"
#include "app/message_box.h"
#include "app/station_window.h"
#include "tools/about_dlg.h"
#include "tools/help_links.h"
#include "tools/own_version.h"
#include "tools/update_check.h"

namespace varnex2::app {

tools::CAboutDlg* CVarnex2Dlg::AboutWindow() const { return about_.data(); }

// Like every command, the Help menu's do nothing before the core exists.

// 32794 opens the About window modeless, only while the box is connected; the system menu's
// entry opens it modally with its fields left empty.
void CVarnex2Dlg::OpenAbout(bool systemMenu) {
  if (station_ == nullptr) return;
  tools::AboutInfo info;
  info.vendorCode = tools::VendorCode(station_->Settings());
  if (systemMenu) {
    tools::CAboutDlg dialog(info, StationIcon(), this);
    dialog.exec();
    return;
  }
  if (!station_->DeviceConnected()) return;
  std::uint8_t version = 0;
  std::uint8_t build = 0;
  if (station_->FirmwareVersion(version, build)) {
    info.firmwareVersion = version;
    info.firmwareBuild = build;
  }
  info.softwareText = tools::VersionText(tools::OwnVersion());
  if (about_) about_->close();  // one About window at a time, filled afresh
  about_ = new tools::CAboutDlg(info, StationIcon(), this);
  about_->setAttribute(Qt::WA_DeleteOnClose);
  about_->setModal(false);
  about_->show();
}

void CVarnex2Dlg::CheckForUpdate() {
  if (station_ == nullptr) return;
  tools::UpdateRequest request;
  request.baseUrl = tools::UpdateBaseUrl(station_->Settings());
  request.own = tools::OwnVersion();
  tools::UpdateHooks hooks;
  hooks.deviceConnected = [this] { return station_->DeviceConnected(); };
  hooks.stopTest = [this] { station_->StopTestThread(); };
  hooks.resumeTest = [this] { station_->ResumeTest(); };
  hooks.show = [this](const QString& text, MessageIcon icon) { ShowStationMessage(this, text, icon); };
  tools::CheckForUpdate(request, hooks);
}

void CVarnex2Dlg::OpenHelpEntry(int id) {
  if (station_ != nullptr) tools::OpenHelpEntry(id, this);
}

void CVarnex2Dlg::OpenVendorSite() {
  if (station_ != nullptr) tools::OpenVendorSite(station_->Settings(), this);
}

}  // namespace varnex2::app
