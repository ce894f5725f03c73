#pragma once
// The test record: one per judged panel, written when a scan completes (or the
// test cycle asks for one), appended to the day's file or to a file of its own
// named by the file-name pattern.
//
// Threads: the window thread only (WM_LOG_RESULT and the providers run there).

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "scanner/scanner_setting.h"

namespace varnex2::scanner {

// The node map's raw counts as the record shows them: X lines are the rows.
struct RecordRawMap {
  int xLines = 0;
  int yLines = 0;
  std::vector<std::int32_t> counts;  // [x * yLines + y]
  std::vector<bool> inArea;          // [x * yLines + y]: a touch or key node
};

// What the record asks of the node map and of the cycle's pin-fault test
// (window thread).
class RecordSources {
 public:
  virtual ~RecordSources() = default;
  virtual std::string VerdictText() = 0;  // "PASS", "FAIL" or ""
  virtual std::uint32_t TestModeFlags() = 0;
  virtual RecordRawMap RawMap() = 0;
  // The last reported short, each as position + 1 (0: none on that axis).
  virtual std::uint8_t ShortX() = 0;
  virtual std::uint8_t ShortY() = 0;
};

enum class RecordEncoding { Utf8, Gb18030 };

struct RecordFileOptions {
  // The folder the day folders and "TestLog" go in, created with its parents when missing;
  // empty: the working directory.
  std::string directory;
  // The files' encoding: the record's text and the per-record file name are converted; the
  // folder names are ASCII either way.
  RecordEncoding encoding = RecordEncoding::Utf8;
  // The local time of the record; empty: the system clock.
  std::function<std::tm()> localTime;
};

// What one WM_LOG_RESULT did.
struct RecordOutcome {
  int written = 0;    // records written (0 or 1)
  int failed = 0;     // records that could not be written
  std::string path;   // the file written to (or that failed), as the file system names it
  std::string error;  // why it failed, one line for the operator; empty when none failed
};

class RecordWriter {
 public:
  RecordWriter(SharedScannerSetting& setting, platform::SettingsStore& store, RecordSources& sources,
               RecordFileOptions options);

  // WM_LOG_RESULT: stores the scan text and writes the record the verdict on
  // display and the settings call for. The counter advances and is saved only
  // for a record written; a record that cannot be written is reported in the
  // outcome (the caller shows the error to the operator).
  RecordOutcome OnScannerData(const std::string& scanned);

  // The file name without ".txt": the pattern's tokens replaced, then made safe (it cannot
  // leave the records folder) and shortened to fit with ".txt" in 255 bytes of the files'
  // encoding.
  std::string BuildRecordFileName();
  std::string BuildRecordText();

  // The providers (WM_RECORD_VERDICT, WM_RECORD_BRIEF, WM_RECORD_RAWDATA).
  void OnRecordVerdict();
  void OnRecordBrief(std::uint32_t lParam);
  void OnRecordRawdata();

  const std::string& ScanText() const { return scanText_; }
  const std::string& ResultText() const { return resultText_; }
  const std::string& BriefText() const { return briefText_; }
  const std::string& RawText() const { return rawText_; }

 private:
  SharedScannerSetting& setting_;
  platform::SettingsStore& store_;
  RecordSources& sources_;
  RecordFileOptions options_;
  std::string scanText_;
  std::string resultText_;
  std::string briefText_;
  std::string rawText_;
  // The brief's last mode text; the short sentences are rebuilt for every brief.
  std::string briefMode_;
  // The time of the record being written: its name, folder and text share one clock reading.
  std::optional<std::tm> recordTime_;

  std::tm Now() const;
  void WriteRecord(RecordOutcome& outcome);
};

// The records' encoding: the text value "Encoding" under "...\ScannerSetting\FileRecoder";
// "GB18030" (any case) chooses GB18030, anything else or no value UTF-8. Nothing is written.
RecordEncoding LoadRecordEncoding(platform::SettingsStore& store);

}  // namespace varnex2::scanner
