#include "platform/settings_file_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/settings_document.h"

namespace varnex2::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTempInfix = ".tmp-";

enum class ReadResult { kOk, kMissing, kError };

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  int Close() {
    int rc = 0;
    if (fd_ >= 0) rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

ReadResult ReadWholeFile(const fs::path& file, std::string& out) {
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kError;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadResult::kError;
  if (static_cast<std::uint64_t>(st.st_size) > kMaxSettingsFileBytes) return ReadResult::kError;
  out.clear();
  char buffer[16 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadResult::kError;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
    if (out.size() > kMaxSettingsFileBytes) return ReadResult::kError;
  }
  return ReadResult::kOk;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void SyncDirectory(const fs::path& dir) {
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Valid()) ::fsync(fd.Get());
}

// The advisory lock on the side file, held for one write.
class FileLock {
 public:
  bool Acquire(const fs::path& lockFile, std::chrono::milliseconds timeout) {
    fd_.Reset(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd_.Valid()) return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (::flock(fd_.Get(), LOCK_EX | LOCK_NB) == 0) return true;
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) return false;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

 private:
  Fd fd_;  // closing it releases the lock
};

class FileSettingsStore final : public SettingsStore {
 public:
  FileSettingsStore(fs::path file, SettingsFileOptions options) : file_(std::move(file)), options_(std::move(options)) {
    if (options_.writeChunk == 0) options_.writeChunk = 1;
  }

  SettingsStatus GetDword(std::string_view key, std::string_view name, std::int32_t& value) override {
    const SettingsValue* v = nullptr;
    SettingsDocument doc;
    const SettingsStatus status = Lookup(key, name, doc, v);
    if (status != SettingsStatus::Ok) return status;
    if (!v->isDword) return SettingsStatus::WrongType;
    value = v->dword;
    return SettingsStatus::Ok;
  }

  SettingsStatus GetString(std::string_view key, std::string_view name, std::string& value,
                           std::size_t maxBytes) override {
    const SettingsValue* v = nullptr;
    SettingsDocument doc;
    const SettingsStatus status = Lookup(key, name, doc, v);
    if (status != SettingsStatus::Ok) return status;
    if (v->isDword) return SettingsStatus::WrongType;
    if (v->text.size() > maxBytes) return SettingsStatus::TooLong;
    value = v->text;
    return SettingsStatus::Ok;
  }

  SettingsStatus SetDword(std::string_view key, std::string_view name, std::int32_t value) override {
    return Modify(key, [&](SettingsDocument& doc) {
      Store(doc.AddKey(key), name, SettingsValue{std::string(name), true, value, {}});
      return SettingsStatus::Ok;
    });
  }

  SettingsStatus SetString(std::string_view key, std::string_view name, std::string_view value) override {
    return Modify(key, [&](SettingsDocument& doc) {
      Store(doc.AddKey(key), name, SettingsValue{std::string(name), false, 0, std::string(value)});
      return SettingsStatus::Ok;
    });
  }

  SettingsStatus DeleteValue(std::string_view key, std::string_view name) override {
    return Modify(key, [&](SettingsDocument& doc) {
      SettingsKey* k = doc.FindKey(key);
      if (k == nullptr) return doc.KeyExists(key) ? SettingsStatus::NoValue : SettingsStatus::NoKey;
      for (auto it = k->values.begin(); it != k->values.end(); ++it) {
        if (SettingsNameEquals(it->name, name)) {
          k->values.erase(it);
          return SettingsStatus::Ok;
        }
      }
      return SettingsStatus::NoValue;
    });
  }

 private:
  static void Store(SettingsKey& key, std::string_view name, SettingsValue value) {
    if (SettingsValue* existing = key.Find(name)) {
      value.name = std::move(existing->name);  // keep the stored spelling
      *existing = std::move(value);
    } else {
      key.values.push_back(std::move(value));
    }
  }

  SettingsStatus Lookup(std::string_view key, std::string_view name, SettingsDocument& doc,
                        const SettingsValue*& value) const {
    if (!IsValidSettingsKeyPath(key)) return SettingsStatus::NoKey;
    std::string text;
    if (ReadWholeFile(file_, text) != ReadResult::kOk) return SettingsStatus::NoKey;
    doc = SettingsDocument::Parse(text);
    const SettingsKey* k = doc.FindKey(key);
    if (k == nullptr) return doc.KeyExists(key) ? SettingsStatus::NoValue : SettingsStatus::NoKey;
    value = k->Find(name);
    return value == nullptr ? SettingsStatus::NoValue : SettingsStatus::Ok;
  }

  bool Crash(SettingsWriteStage stage, std::size_t bytes) const {
    return options_.crashAt && options_.crashAt(stage, bytes);
  }

  SettingsStatus Modify(std::string_view key, const std::function<SettingsStatus(SettingsDocument&)>& change) {
    if (!IsValidSettingsKeyPath(key)) return SettingsStatus::WriteFailed;
    std::lock_guard<std::mutex> guard(mutex_);
    const fs::path target = WriteTarget();
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return SettingsStatus::WriteFailed;

    FileLock lock;
    if (!lock.Acquire(SettingsLockFile(target), options_.lockTimeout)) return SettingsStatus::WriteFailed;
    if (Crash(SettingsWriteStage::kLocked, 0)) return SettingsStatus::WriteFailed;

    std::string oldText;
    const ReadResult read = ReadWholeFile(target, oldText);
    if (read == ReadResult::kError) return SettingsStatus::WriteFailed;  // leave what we cannot read alone
    SettingsDocument doc = SettingsDocument::Parse(oldText);
    const SettingsStatus status = change(doc);
    if (status != SettingsStatus::Ok) return status;
    const std::string newText = doc.Serialize();
    if (read == ReadResult::kOk && newText == oldText) return SettingsStatus::Ok;

    RemoveStaleTemps(target, dir);
    return WriteAtomically(target, dir, newText) ? SettingsStatus::Ok : SettingsStatus::WriteFailed;
  }

  // A settings file that is a symbolic link is replaced where the link points, so the link stays.
  // A dangling link gets its target created; a chain longer than 8 links is not followed.
  fs::path WriteTarget() const {
    fs::path target = file_;
    for (int depth = 0; depth < 8; ++depth) {
      std::error_code ec;
      if (!fs::is_symlink(target, ec)) return target;
      const fs::path next = fs::read_symlink(target, ec);
      if (ec) return target;
      target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
  }

  // Only writers holding the lock create temporary files, so any found now is a dead writer's.
  static void RemoveStaleTemps(const fs::path& target, const fs::path& dir) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (IsSettingsTempFile(target, it->path())) {
        std::error_code ignored;
        fs::remove(it->path(), ignored);
      }
    }
  }

  bool WriteAtomically(const fs::path& target, const fs::path& dir, const std::string& text) {
    static std::atomic<unsigned> counter{0};
    fs::path temp;
    Fd fd;
    for (int attempt = 0; attempt < 16 && !fd.Valid(); ++attempt) {
      temp = target;
      temp += std::string(kTempInfix) + std::to_string(::getpid()) + "-" + std::to_string(counter++);
      fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      if (!fd.Valid() && errno != EEXIST) return false;
    }
    if (!fd.Valid()) return false;
    auto fail = [&] {
      fd.Close();
      ::unlink(temp.c_str());
      return false;
    };
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) ::fchmod(fd.Get(), st.st_mode & 07777);  // keep the file's mode
    if (Crash(SettingsWriteStage::kTempCreated, 0)) return false;

    std::size_t written = 0;
    while (written < text.size()) {
      const std::size_t n = std::min(options_.writeChunk, text.size() - written);
      if (!WriteAll(fd.Get(), text.data() + written, n)) return fail();
      written += n;
      if (Crash(SettingsWriteStage::kPartial, written)) return false;
    }
    if (Crash(SettingsWriteStage::kWritten, written)) return false;
    if (::fsync(fd.Get()) != 0) return fail();
    if (fd.Close() != 0) {
      ::unlink(temp.c_str());
      return false;
    }
    if (Crash(SettingsWriteStage::kSynced, written)) return false;
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      ::unlink(temp.c_str());
      return false;
    }
    if (Crash(SettingsWriteStage::kRenamed, written)) return false;
    SyncDirectory(dir);  // the new content is in place; this makes the rename itself durable
    return true;
  }

  const fs::path file_;
  SettingsFileOptions options_;
  std::mutex mutex_;
};

fs::path HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  struct passwd pw {};
  struct passwd* result = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return fs::path(".");
}

}  // namespace

std::unique_ptr<SettingsStore> CreateFileSettingsStore(const fs::path& file, SettingsFileOptions options) {
  return std::make_unique<FileSettingsStore>(file, std::move(options));
}

std::unique_ptr<SettingsStore> CreateFileSettingsStore(const fs::path& file) {
  return CreateFileSettingsStore(file, SettingsFileOptions{});
}

fs::path SettingsLockFile(const fs::path& file) {
  fs::path lock = file;
  lock += ".lock";
  return lock;
}

bool IsSettingsTempFile(const fs::path& file, const fs::path& candidate) {
  const std::string prefix = file.filename().string() + std::string(kTempInfix);
  return candidate.filename().string().starts_with(prefix);
}

fs::path DefaultSettingsFile() {
  fs::path dir;
  if (const char* own = std::getenv("VARNEX2_CONFIG_DIR"); own != nullptr && *own != '\0') {
    dir = own;
  } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    dir = fs::path(xdg) / "varnex2";  // relative values are to be ignored
  } else {
    dir = HomeDirectory() / ".config" / "varnex2";
  }
  return dir / "settings.reg";
}

}  // namespace varnex2::platform
