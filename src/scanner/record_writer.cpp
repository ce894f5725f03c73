#include "scanner/record_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "scanner/record_text.h"
#include "scanner/record_texts.h"

namespace varnex2::scanner {
namespace {

namespace fs = std::filesystem;

std::tm SystemLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  ::localtime_r(&now, &t);
  return t;
}

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// The operator's message is one line whatever the folder's name holds.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

void Fail(RecordOutcome& outcome, const fs::path& file, const std::string& shownFile, std::string_view reason) {
  outcome.failed = 1;
  outcome.path = file.string();
  outcome.error =
      OneLine(std::string(kRecordWriteFailed) + shownFile + std::string(kRecordReasonSeparator) + std::string(reason));
}

// Creates `folder` with its parents; the reason it cannot be used, empty when it can.
std::string PrepareFolder(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::error_code isDirError;
  if (fs::is_directory(folder, isDirError)) return {};
  return std::string(kReasonFolder) + folder.string() + "（" + (ec ? ec.message() : ErrnoText(ENOTDIR)) + "）";
}

// Appends `bytes` to `file` in one write; the reason it failed, empty when all was written.
std::string AppendToFile(const fs::path& file, const std::string& bytes) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return ErrnoText(errno);
  ssize_t written = 0;
  do {
    written = ::write(fd, bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  const int writeError = errno;
  std::string reason;
  if (written < 0) {
    reason = ErrnoText(writeError);
  } else if (static_cast<std::size_t>(written) != bytes.size()) {
    reason =
        std::string(kReasonShortWrite) + "（" + std::to_string(written) + "/" + std::to_string(bytes.size()) + "）";
  }
  // close() reports errors of delayed writes (network folders); it is not retried.
  if (::close(fd) != 0 && reason.empty()) reason = ErrnoText(errno);
  return reason;
}

}  // namespace

RecordWriter::RecordWriter(SharedScannerSetting& setting, platform::SettingsStore& store, RecordSources& sources,
                           RecordFileOptions options)
    : setting_(setting), store_(store), sources_(sources), options_(std::move(options)) {}

std::tm RecordWriter::Now() const {
  if (recordTime_) return *recordTime_;
  return options_.localTime ? options_.localTime() : SystemLocalTime();
}

RecordOutcome RecordWriter::OnScannerData(const std::string& scanned) {
  RecordOutcome outcome;
  scanText_ = scanned;
  const std::string verdict = sources_.VerdictText();
  const ScannerSetting s = setting_.Get();
  // One verdict per scan, so at most one record.
  if (verdict == kVerdictPass && s.bTestResultOnlyPass != 0) {
    WriteRecord(outcome);
  } else if (verdict == kVerdictFail && s.bTestResultOnlyFail != 0) {
    WriteRecord(outcome);
  }
  return outcome;
}

void RecordWriter::WriteRecord(RecordOutcome& outcome) {
  recordTime_ = Now();
  const std::string name = BuildRecordFileName();
  const std::string text = BuildRecordText();
  const std::tm now = *recordTime_;
  recordTime_.reset();

  const ScannerSetting s = setting_.Get();
  const fs::path base = options_.directory.empty() ? fs::path() : fs::path(options_.directory);
  fs::path folder;
  fs::path file;
  std::string shownFile;  // UTF-8, for the operator
  // Any file type but the daily one writes a file per record, so no record goes nowhere.
  if (s.nFileType == kFileDaily) {
    const std::string date = FormatDate(now);
    folder = base / date;
    file = folder / (date + std::string(kDailyFileSuffix));
    shownFile = file.string();
  } else {
    folder = base / kPerRecordFolder;
    std::string fitted;
    std::string encodedName;
    const bool named = FitFileName(name, options_.encoding, fitted, encodedName);
    shownFile = (folder / (fitted + std::string(kRecordFileExtension))).string();
    if (!named) return Fail(outcome, folder / name, shownFile, kReasonNoConverter);
    file = folder / (encodedName + std::string(kRecordFileExtension));
  }

  std::string bytes = ToFileLineEnds(text);
  if (options_.encoding == RecordEncoding::Gb18030) {
    std::string converted;
    if (!ConvertToGb18030(bytes, '?', converted)) return Fail(outcome, file, shownFile, kReasonNoConverter);
    bytes = std::move(converted);
  }

  if (std::string reason = PrepareFolder(folder); !reason.empty()) return Fail(outcome, file, shownFile, reason);
  if (std::string reason = AppendToFile(file, bytes); !reason.empty()) return Fail(outcome, file, shownFile, reason);

  outcome.written = 1;
  outcome.path = file.string();
  ScannerSetting counted = setting_.Get();
  SaveRecordCounter(store_, counted);
  setting_.Update([&](ScannerSetting& current) { current.nCounterNum = counted.nCounterNum; });
}

std::string RecordWriter::BuildRecordFileName() {
  const ScannerSetting s = setting_.Get();
  std::string name = s.strFilenameFormat;
  const std::string counter = std::to_string(s.nCounterNum);
  const std::string scan = ScanTextForName(scanText_);
  OnRecordVerdict();
  const std::string time = FormatNameTime(Now());
  ReplaceAll(name, kTokenCounter, counter);
  ReplaceAll(name, kTokenProductModel, s.strProductModel);
  ReplaceAll(name, kTokenScan, scan);
  ReplaceAll(name, kTokenVerdict, resultText_);
  ReplaceAll(name, kTokenTime, time);
  std::string fitted;
  std::string encoded;
  FitFileName(SafeFileName(name), options_.encoding, fitted, encoded);
  return fitted;
}

std::string RecordWriter::BuildRecordText() {
  const ScannerSetting s = setting_.Get();
  std::string text = "\n";
  const auto section = [&text](std::string_view header, std::string_view value) {
    text += header;
    text += '\n';
    text += value;
    text += '\n';
  };
  if (s.bCounter != 0) section(kHeaderCounter, std::to_string(s.nCounterNum));
  if (s.bProductModel != 0) section(kHeaderProductModel, s.strProductModel);
  if (s.bScannerResult != 0) {
    scanText_ = RemoveLineBreaks(scanText_);  // the stored text keeps the change
    section(kHeaderScan, scanText_);
  }
  if (s.bTestResult != 0) {
    OnRecordVerdict();
    section(kHeaderVerdict, resultText_);
  }
  if (s.bTestResultSummer != 0) {
    OnRecordBrief(PackShorts(sources_.ShortX(), sources_.ShortY()));
    section(kHeaderBrief, briefText_);
  }
  if (s.bTestRawdata != 0) {
    OnRecordRawdata();
    section(kHeaderRawdata, rawText_);  // the raw text ends with its own line end
  }
  if (s.bTestTime != 0) section(kHeaderTime, FormatRecordTime(Now()));
  if (s.bAdditionalInfo != 0) section(kHeaderAdditionalInfo, s.strAdditionalInfo);
  text.append(kSeparatorLength, '-');
  text += '\n';
  return text;
}

void RecordWriter::OnRecordVerdict() {
  const ScannerSetting s = setting_.Get();
  if (s.nConnectType == kConnectNone || s.bTestResult == 0) return;
  resultText_ = sources_.VerdictText();
}

void RecordWriter::OnRecordBrief(std::uint32_t lParam) {
  const ScannerSetting s = setting_.Get();
  if (s.nConnectType == kConnectNone || s.bTestResultSummer == 0) return;
  // A mode word without a mode bit keeps the last mode text; the shorts are always this
  // brief's own, so they do not pile up from one record to the next.
  if (const std::string_view mode = BriefModeText(sources_.TestModeFlags()); !mode.empty()) briefMode_ = mode;
  briefText_ = briefMode_ + BriefShortText(lParam);
}

void RecordWriter::OnRecordRawdata() {
  const ScannerSetting s = setting_.Get();
  if (s.nConnectType == kConnectNone || s.bTestRawdata == 0) return;
  rawText_ = BuildRawText(sources_.RawMap());
}

RecordEncoding LoadRecordEncoding(platform::SettingsStore& store) {
  std::string value;
  if (store.GetString(kRegKeyFileRecoder, kEncodingValueName, value, kScannerTextMaxBytes) !=
      platform::SettingsStatus::Ok) {
    return RecordEncoding::Utf8;
  }
  if (value.size() != kEncodingGb18030.size()) return RecordEncoding::Utf8;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper != kEncodingGb18030[i]) return RecordEncoding::Utf8;
  }
  return RecordEncoding::Gb18030;
}

}  // namespace varnex2::scanner
