#pragma once
// The update check (command 32808): the update information is fetched from the update server,
// its version compared with the program's own, and a newer program downloaded beside the running
// one (it is neither installed nor started). Window thread.

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/settings_store.h"
#include "station/station_view.h"
#include "tools/download_file.h"
#include "tools/own_version.h"

namespace varnex2::tools {

inline constexpr const char* kVersionInfoFile = "varnex2_version_info.ini";
inline constexpr const char* kVersionInfoPath = "/software/varnex2_version_info.ini";

// Where the update server's base address is kept (a text, e.g. "https://updates.example.com").
inline constexpr const char* kUpdateKey = "Software\\Varnx2\\Update";
inline constexpr const char* kUpdateBaseUrlName = "BaseUrl";

// The base address from the settings; a missing value is created empty, so that the key shows
// in the settings file for the technician to fill in.
QString UpdateBaseUrl(platform::SettingsStore& settings);

// "ver": up to four decimal parts separated by "."; parts beyond four are ignored, missing ones
// count as 0, each part is reduced to its low 8 bits, packed first part in the top byte. Empty,
// or a part that is not a plain decimal number: nullopt.
std::optional<std::uint32_t> ParseVersion(const QString& ver);

// The new program's file name: the last segment of the address's path, decoded.
QString ProgramFileName(const QString& url);

// What the check asks of the station and the window.
struct UpdateHooks {
  std::function<bool()> deviceConnected;  // bDeviceConnected
  std::function<void()> stopTest;         // StopTestThread
  std::function<void()> resumeTest;       // ResumeTest
  std::function<void(const QString& text, station::MessageIcon icon)> show;
};

enum class UpdateOutcome {
  NoServer,        // no base address set: said so, nothing fetched
  InfoFailed,      // the update information could not be fetched (its code's text shown)
  BadVersion,      // "错误的版本号!" (the information file stays for inspection)
  UpToDate,        // "当前为最新版本，无需升级！"
  ProgramFetched,  // newer version: the program download ran (its code's text shown)
};

struct UpdateRequest {
  QString baseUrl;
  ProgramVersion own;
  DownloadOptions download;  // its directory is where both files go (empty: working directory)
};

// Runs the check; the test cycle is stopped around it when the box is connected.
UpdateOutcome CheckForUpdate(const UpdateRequest& request, const UpdateHooks& hooks);

}  // namespace varnex2::tools
