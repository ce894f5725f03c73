// Arbitrary bytes as the companion files of an old parameter set: the same bytes stand for an
// integer frame store, a 2-D array, a table of wide strings, flags and real display values. Every
// input must end without a crash or an exception, and what is taken must agree with itself and
// fit the editor's set: frames from the front of the store, 9-column tables, 3 x 8 limit lists.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/legacy_import.h"

namespace {

using namespace varnex2::config;
namespace fs = std::filesystem;

const fs::path& Folder() {
  static const fs::path folder = [] {
    fs::path f = fs::temp_directory_path() / ("fuzz_legacy_companion_" + std::to_string(::getpid()));
    fs::create_directories(f);
    return f;
  }();
  return folder;
}

constexpr const char* kFiles[] = {"RawDataArry.xml",        "RawDataAvg.xml",       "RawDataUpper.xml",
                                  "sample_list_Ctl1.xml",   "sample_list_Ctl3.xml", "para_list_Ctl1.xml",
                                  "TestUpperExternPara.xml"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const char* name : kFiles) {
    std::ofstream(Folder() / name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  LegacyCompanion companion = ReadLegacyCompanion(Folder());
  if (companion.frameStore && companion.nCountedFrames > companion.frameStore->Pages()) std::abort();
  if (companion.sampleTable && companion.sampleTable->nColumns != kLegacyTableColumns) std::abort();
  if (companion.limitTable && companion.limitTable->nRows != kLegacyLimitTableRows) std::abort();

  SampleLimitSet set;
  ConvertLegacyCompanion(companion, set);
  if (companion.frameStore && set.sampleFrames.Pages() != companion.nCountedFrames) std::abort();
  if (companion.sampleTable && set.sampleList.Cols() != kLegacyTableColumns) std::abort();
  if (companion.limitTable && (set.paraList.Rows() != 3 || set.paraList.Cols() != 8)) std::abort();
  if (companion.rawAvg && !(set.rawAvg == *companion.rawAvg)) std::abort();
  return 0;
}
