#pragma once
// The settings file back-end and the hooks its tests use to cut a write short.
//
// Every operation reads the file anew (nothing is cached, like the registry). Every change
// rewrites the whole file atomically: a temporary file beside it is written, flushed, synced and
// renamed over the old one, then the directory is synced; a crash at any point leaves the old or
// the new file, never a torn one. Writers in one process are serialised by a mutex, writers in
// different processes by an advisory lock (flock) on "<file>.lock", taken with a bounded wait.
// Temporary files left behind by a crashed writer are removed by the next writer.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/settings_store.h"

namespace varnex2::platform {

// The points at which a test can make a write stop as if the process had died there: nothing
// after the point is done (no clean-up, the temporary file stays). The write reports WriteFailed.
enum class SettingsWriteStage {
  kLocked,       // the lock is held, nothing written
  kTempCreated,  // the temporary file exists, empty
  kPartial,      // `crashAfterBytes` bytes of the new content are in the temporary file
  kWritten,      // all bytes written, not yet synced
  kSynced,       // temporary file synced and closed, not yet renamed
  kRenamed,      // renamed over the settings file, directory not yet synced
};

struct SettingsFileOptions {
  // How long a writer waits for another process's lock before it gives up (WriteFailed).
  std::chrono::milliseconds lockTimeout{2000};
  // Test hook: called at every stage of a write; returning true abandons the write there.
  // For kPartial it is asked once per chunk with the byte count written so far.
  std::function<bool(SettingsWriteStage stage, std::size_t bytesWritten)> crashAt;
  // Size of the chunks the temporary file is written in (small values let a test stop inside).
  std::size_t writeChunk = 64 * 1024;
};

// A file larger than this is not read (reads see no keys, writes fail and leave it alone).
inline constexpr std::size_t kMaxSettingsFileBytes = 4 * 1024 * 1024;

std::unique_ptr<SettingsStore> CreateFileSettingsStore(const std::filesystem::path& file, SettingsFileOptions options);

// The name of the side lock file of `file`.
std::filesystem::path SettingsLockFile(const std::filesystem::path& file);

// True for the names of the temporary files a writer of `file` creates.
bool IsSettingsTempFile(const std::filesystem::path& file, const std::filesystem::path& candidate);

}  // namespace varnex2::platform
