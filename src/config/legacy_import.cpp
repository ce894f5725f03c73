#include "config/legacy_import.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include "config/xml_archive_in.h"

namespace varnex2::config {

namespace {

std::string Num(int64_t v) { return std::to_string(v); }

struct Lang {
  bool bEnglish = false;
  std::string operator()(std::string zh, std::string en) const { return bEnglish ? std::move(en) : std::move(zh); }
};

// ---------------------------------------------------------------------------------------------
// INI part

// Origins and sizes the controller can store (it holds them as bytes).
std::optional<std::string> OutsideBytes(const char* section, const AreaParams& a, const Lang& tr) {
  const std::array<std::pair<const char*, int32_t>, 4> values = {
      {{"XORIGN", a.nXOrigin}, {"YORIGN", a.nYOrigin}, {"XSIZE", a.nXSize}, {"YSIZE", a.nYSize}}};
  for (const auto& [key, value] : values) {
    if (value >= 0 && value <= 255) continue;
    const std::string where = std::string("[") + section + "] " + key + " = " + Num(value);
    return tr(where + "：起始值与尺寸须在 0 至 255 之间", where + ": origins and sizes must lie within 0..255");
  }
  return std::nullopt;
}

AreaParams ReadArea(const LegacyIniFile& ini, const char* s) {
  AreaParams a;
  a.nXOrigin = ini.GetInt(s, "XORIGN");
  a.nYOrigin = ini.GetInt(s, "YORIGN");
  a.nXSize = ini.GetInt(s, "XSIZE");
  a.nYSize = ini.GetInt(s, "YSIZE");
  a.nGain = static_cast<uint8_t>(ini.GetInt(s, "GAIN"));
  a.nThresUpper = static_cast<uint16_t>(ini.GetInt(s, "THRESUPPER"));
  a.nThresLower = static_cast<uint16_t>(ini.GetInt(s, "THRESLOWER"));
  return a;
}

// ---------------------------------------------------------------------------------------------
// Companion files

// Thrown inside this file only: why a file's data is not taken.
struct NotTaken {
  std::string strReason;
};

// One companion archive, element by element in file order (element names are not compared;
// the nested "count", "item_version" and "item" names are).
class CompanionReader {
 public:
  CompanionReader(std::string text, const Lang& tr) : text_(std::move(text)), is_(text_), tr_(tr) {
    if (const std::size_t nAt = detail::FindOverlongTagName(text_); nAt != std::string::npos)
      throw NotTaken{tr_("标签名过长", "a tag name is too long")};
    try {
      archive_.emplace(is_);
    } catch (const std::exception& e) {
      throw NotTaken{tr_("文件头无效（", "invalid header (") + e.what() + tr_("）", ")")};
    }
    if (const auto error = detail::CheckArchiveHeader(text_, boost::archive::BOOST_ARCHIVE_VERSION()))
      throw NotTaken{tr_("文件头无效（", "invalid header (") + *error + tr_("）", ")")};
  }

  template <class T>
  std::vector<T> Read(const char* label, std::size_t nMax) {
    ++nIndex_;
    detail::BoundedVector<T> v{nMax, {}};
    try {
      *archive_ >> boost::serialization::make_nvp(label, v);
    } catch (const std::length_error&) {
      throw NotTaken{Where(label) + tr_("：数值个数超过上限 ", ": more than ") + Num(static_cast<int64_t>(nMax)) +
                     tr_("", " values")};
    } catch (const std::exception& e) {
      throw NotTaken{Where(label) + tr_("：XML 格式错误（", ": malformed XML (") + e.what() + tr_("）", ")")};
    }
    return std::move(v.values);
  }

  template <class T>
  std::vector<T> ReadExact(const char* label, std::size_t nExpected) {
    std::vector<T> v = Read<T>(label, nExpected);
    if (v.size() != nExpected) {
      throw NotTaken{Where(label) + tr_("：数值个数为 ", ": ") + Num(static_cast<int64_t>(v.size())) +
                     tr_("，应为 ", " values, expected ") + Num(static_cast<int64_t>(nExpected))};
    }
    return v;
  }

  std::string Where(const char* label) const {
    return tr_("第 " + Num(nIndex_) + " 个元素 " + label, "element " + Num(nIndex_) + " " + label);
  }

 private:
  std::string text_;
  std::istringstream is_;
  std::optional<detail::StationXmlArchive> archive_;
  const Lang& tr_;
  int nIndex_ = 0;
};

constexpr int32_t kMaxLines = kMaxFileLines;

void CheckExtent(const std::string& what, int32_t value, int32_t limit, const Lang& tr) {
  if (value >= 0 && value <= limit) return;
  throw NotTaken{tr(what + " 为 " + Num(value) + "，超出范围（0 至 " + Num(limit) + "）",
                    what + " is " + Num(value) + ", beyond 0 to " + Num(limit))};
}

Int32Array3D ReadFrameStore(CompanionReader& r, const Lang& tr) {
  const std::vector<int32_t> dims = r.ReadExact<int32_t>("V1", 3);
  const int32_t nY = dims[0], nX = dims[1], nFrames = dims[2];
  CheckExtent("Y", nY, kMaxLines, tr);
  CheckExtent("X", nX, kMaxLines, tr);
  CheckExtent("N", nFrames, kMaxLegacyFrames, tr);
  if (int64_t{nY} * nX * nFrames > kMaxLegacyFrameValues) throw NotTaken{tr("数据量过大", "too many values")};
  std::vector<int32_t> values;
  values.reserve(static_cast<std::size_t>(int64_t{nY} * nX * nFrames));
  if (nX > 0) {
    for (int64_t i = 0; i < int64_t{nFrames} * nY; ++i) {
      const std::vector<int32_t> row = r.ReadExact<int32_t>("PLAN", static_cast<std::size_t>(nX));
      values.insert(values.end(), row.begin(), row.end());
    }
  }
  Int32Array3D store;
  store.Assign(nFrames, nY, nX, std::move(values));
  return store;
}

Int32Array2D Read2D(CompanionReader& r, const Lang& tr) {
  const std::vector<int32_t> dims = r.ReadExact<int32_t>("V1", 2);
  const int32_t nRows = dims[0], nCols = dims[1];
  CheckExtent(tr("行数", "rows"), nRows, kMaxLines, tr);
  CheckExtent(tr("列数", "columns"), nCols, kMaxLines, tr);
  std::vector<int32_t> values;
  if (nCols > 0) {
    for (int32_t i = 0; i < nRows; ++i) {
      const std::vector<int32_t> row = r.ReadExact<int32_t>("PLAN", static_cast<std::size_t>(nCols));
      values.insert(values.end(), row.begin(), row.end());
    }
  }
  Int32Array2D a;
  a.Assign(nRows, nCols, std::move(values));
  return a;
}

// A table's texts; its shape must be the editor's (kLegacyTableColumns columns; `nRows` rows
// when given, else at most `nMaxRows`).
LegacyTable ReadTable(CompanionReader& r, int32_t nRows, int32_t nMaxRows, const Lang& tr) {
  const std::vector<int32_t> dims = r.ReadExact<int32_t>("V1", 2);
  LegacyTable t;
  t.nColumns = dims[0];
  t.nRows = dims[1];
  if (t.nColumns != kLegacyTableColumns) {
    throw NotTaken{tr("表格列数为 " + Num(t.nColumns) + "，应为 " + Num(kLegacyTableColumns),
                      "the table has " + Num(t.nColumns) + " columns, expected " + Num(kLegacyTableColumns))};
  }
  if (nRows > 0 && t.nRows != nRows) {
    throw NotTaken{tr("表格行数为 " + Num(t.nRows) + "，应为 " + Num(nRows),
                      "the table has " + Num(t.nRows) + " rows, expected " + Num(nRows))};
  }
  CheckExtent(tr("表格行数", "table rows"), t.nRows, nMaxRows, tr);
  t.texts.assign(static_cast<std::size_t>(t.nRows), std::vector<std::string>(static_cast<std::size_t>(t.nColumns)));
  for (int32_t row = 1; row < t.nRows; ++row) {
    std::vector<std::string> cells = r.ReadExact<std::string>("PLAN", static_cast<std::size_t>(t.nColumns - 1));
    for (int32_t c = 1; c < t.nColumns; ++c)
      t.texts[static_cast<std::size_t>(row)][static_cast<std::size_t>(c)] =
          DecodeLegacyText(cells[static_cast<std::size_t>(c - 1)]);
  }
  return t;
}

std::vector<int32_t> ReadFlags(CompanionReader& r, std::size_t nMax) { return r.Read<int32_t>("V1", nMax); }

std::array<double, kLegacyDisplayValues> ReadDisplayValues(CompanionReader& r) {
  const std::vector<double> v = r.ReadExact<double>("V1", kLegacyDisplayValues);
  std::array<double, kLegacyDisplayValues> a{};
  std::copy(v.begin(), v.end(), a.begin());
  return a;
}

// Reads one file with `read`; on any failure the piece stays empty and a problem is added.
template <class T, class Read>
std::optional<T> ReadFile(const std::filesystem::path& folder, const char* name, LegacyCompanion& out, const Lang& tr,
                          Read read) {
  const std::filesystem::path path = folder / name;
  const auto problem = [&](std::string reason) {
    out.problems.push_back(LegacyFileProblem{name, std::move(reason)});
    return std::nullopt;
  };
  try {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return problem(tr("文件不存在", "missing"));
    const std::uintmax_t nSize = std::filesystem::file_size(path, ec);
    if (ec) return problem(tr("无法读取", "cannot be read"));
    if (nSize > kMaxLegacyFileBytes) return problem(tr("文件过大", "too large"));
    std::ifstream in(path, std::ios::binary);
    if (!in) return problem(tr("无法打开", "cannot be opened"));
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return problem(tr("无法读取", "cannot be read"));
    CompanionReader reader(std::move(buffer).str(), tr);
    return read(reader);
  } catch (const NotTaken& e) {
    return problem(e.strReason);
  } catch (const std::bad_alloc&) {
    return problem(tr("内存不足", "out of memory"));
  } catch (const std::exception& e) {
    return problem(e.what());
  }
}

int64_t FrameSum(const Int32Array3D& store, int32_t frame) {
  int64_t sum = 0;
  for (int32_t y = 0; y < store.Rows(); ++y) {
    for (int32_t v : store.Row(frame, y)) sum += v;
  }
  return sum;
}

// Re-shapes `a` to rows x cols keeping the overlapping part; new cells 0.
Int32Array2D Reshaped(const Int32Array2D& a, int32_t nRows, int32_t nCols) {
  Int32Array2D out(nRows, nCols, 0);
  for (int32_t r = 0; r < std::min(nRows, a.Rows()); ++r) {
    for (int32_t c = 0; c < std::min(nCols, a.Cols()); ++c) out(r, c) = a(r, c);
  }
  return out;
}

bool IsBlank(std::string_view s) { return s.find_first_not_of(" \t\r\n") == std::string_view::npos; }

int32_t CellValue(const std::string& text, bool spread) {
  return spread ? ScaledDecimal(text, 3) : LenientDecimal(text);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

LegacyIniPart ReadLegacyIniPart(const LegacyIniFile& ini, const PanelConfig& current, const ControllerFacts& controller,
                                TextLanguage language) {
  const Lang tr{language == TextLanguage::kEnglish};
  LegacyIniPart part;
  part.touch = ReadArea(ini, "PANEL");
  part.touch.bEnable = 1;
  if (part.touch.nThresUpper >= kLegacyMaxTouchUpper) part.touch.nThresUpper = kLegacyMaxTouchUpper;
  if (part.touch.nThresLower <= kLegacyMinTouchLower) part.touch.nThresLower = kLegacyMinTouchLower;
  part.key = ReadArea(ini, "KEY");
  part.key.bEnable = ini.GetInt("KEY", "ENABLE") != 0 ? 1 : 0;

  part.validation = ValidatePanelConfig(part.touch, part.key, controller.nMatrixXSize, controller.nMatrixYSize,
                                        controller.nFirmwareVersion, language);
  if (part.validation.nCode == kValidOk) {
    std::optional<std::string> outside = OutsideBytes("PANEL", part.touch, tr);
    int nCode = kInvalidTouchGeometry;
    if (!outside && part.key.bEnable != 0) {
      outside = OutsideBytes("KEY", part.key, tr);
      nCode = kInvalidKeyGeometry;
    }
    if (outside) part.validation = ValidationResult{nCode, *outside};
  }
  if (!part.Valid()) return part;

  part.nUiColorMode = static_cast<uint8_t>(ini.GetInt("CONFIG", "UICOLORMODE") & 0x3);
  part.nLegacyTestMode = static_cast<uint8_t>(ini.GetInt("CONFIG", "TESTMODE") & 0x3);
  part.marks = current.marks;
  for (int k = 0; k < kUserMarkCount; ++k) {
    const std::string section = "MARK" + std::to_string(k);
    UserMark& m = part.marks[static_cast<std::size_t>(k)];
    m.nType = static_cast<uint8_t>(ini.GetInt(section, "TYPE") & 0x3);
    m.bEnable = static_cast<uint8_t>(ini.GetInt(section, "ENABLE") & 0x1);
    m.nX = static_cast<uint8_t>(ini.GetInt(section, "X") & 0x1F);
    m.nY = static_cast<uint8_t>(ini.GetInt(section, "Y") & 0x3F);
  }
  LegacyLimitControls& c = part.controls;
  c.bPercentChecked = ini.GetInt("EXTERNPARA", "PERCENTMODE") != 0;
  c.strPercent = ini.GetString("EXTERNPARA", "PERCENTVAL");
  c.bOffsetChecked = ini.GetInt("EXTERNPARA", "OFFSETMODE") != 0;
  c.strOffsetUpper = ini.GetString("EXTERNPARA", "OFFSETUPPER");
  c.strOffsetLower = ini.GetString("EXTERNPARA", "OFFSETLOWR");
  return part;
}

void TakeLegacyIniPart(const LegacyIniPart& part, PanelConfig& config) {
  if (!part.Valid()) return;
  config.touchArea = part.touch;
  config.keyArea = part.key;
  config.nUiColorMode = part.nUiColorMode & 0x3;
  config.nLegacyTestMode = part.nLegacyTestMode & 0x3;
  config.marks = part.marks;
}

std::filesystem::path LegacyCompanionFolder(const std::filesystem::path& iniPath) {
  std::filesystem::path folder = iniPath;
  folder.replace_extension();
  folder += "_ExternPara";
  return folder;
}

LegacyCompanion ReadLegacyCompanion(const std::filesystem::path& folder, TextLanguage language) {
  const Lang tr{language == TextLanguage::kEnglish};
  LegacyCompanion c;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    c.problems.push_back(LegacyFileProblem{"", tr("文件夹不存在", "the folder is missing")});
    return c;
  }
  const int32_t nMaxSampleRows = kMaxFileSamples + 1;
  c.frameStore = ReadFile<Int32Array3D>(folder, "RawDataArry.xml", c, tr, [&](CompanionReader& r) {
    Int32Array3D store = ReadFrameStore(r, tr);
    int32_t nCounted = 0;
    for (int32_t f = 0; f < store.Pages(); ++f) nCounted += FrameSum(store, f) != 0;
    if (nCounted > kMaxFileSamples)
      throw NotTaken{tr(Num(nCounted) + " 帧样本超过上限 " + Num(kMaxFileSamples),
                        Num(nCounted) + " sampled frames, more than " + Num(kMaxFileSamples))};
    c.nCountedFrames = nCounted;
    return store;
  });
  const auto read2D = [&](CompanionReader& r) { return Read2D(r, tr); };
  c.rawFrame = ReadFile<Int32Array2D>(folder, "RawDataFrame.xml", c, tr, read2D);
  c.rawAvg = ReadFile<Int32Array2D>(folder, "RawDataAvg.xml", c, tr, read2D);
  c.rawUpper = ReadFile<Int32Array2D>(folder, "RawDataUpper.xml", c, tr, read2D);
  c.rawLower = ReadFile<Int32Array2D>(folder, "RawDataLower.xml", c, tr, read2D);
  c.sampleTable = ReadFile<LegacyTable>(folder, "sample_list_Ctl1.xml", c, tr,
                                        [&](CompanionReader& r) { return ReadTable(r, 0, nMaxSampleRows, tr); });
  const auto flags = [&](std::size_t nMax) { return [nMax](CompanionReader& r) { return ReadFlags(r, nMax); }; };
  c.sampleColumnFlags = ReadFile<std::vector<int32_t>>(folder, "sample_list_Ctl2.xml", c, tr, flags(kMaxLines));
  c.sampleRowFlags = ReadFile<std::vector<int32_t>>(folder, "sample_list_Ctl3.xml", c, tr,
                                                    flags(static_cast<std::size_t>(nMaxSampleRows)));
  c.limitTable = ReadFile<LegacyTable>(folder, "para_list_Ctl1.xml", c, tr, [&](CompanionReader& r) {
    return ReadTable(r, kLegacyLimitTableRows, kLegacyLimitTableRows, tr);
  });
  c.limitColumnFlags = ReadFile<std::vector<int32_t>>(folder, "para_list_Ctl2.xml", c, tr, flags(kMaxLines));
  c.limitRowFlags = ReadFile<std::vector<int32_t>>(folder, "para_list_Ctl3.xml", c, tr, flags(kMaxLines));
  const auto display = [](CompanionReader& r) { return ReadDisplayValues(r); };
  c.upperDisplay =
      ReadFile<std::array<double, kLegacyDisplayValues>>(folder, "TestUpperExternPara.xml", c, tr, display);
  c.lowerDisplay =
      ReadFile<std::array<double, kLegacyDisplayValues>>(folder, "TestLowerExternPara.xml", c, tr, display);

  // The column check boxes belong to the sample table's header: one flag per column.
  if (c.sampleColumnFlags && c.sampleColumnFlags->size() != static_cast<std::size_t>(kLegacyTableColumns)) {
    c.problems.push_back(LegacyFileProblem{
        "sample_list_Ctl2.xml",
        tr("数值个数为 " + Num(static_cast<int64_t>(c.sampleColumnFlags->size())) + "，应为 " +
               Num(kLegacyTableColumns),
           Num(static_cast<int64_t>(c.sampleColumnFlags->size())) + " values, expected " + Num(kLegacyTableColumns))});
    c.sampleColumnFlags.reset();
  }
  return c;
}

void ConvertLegacyCompanion(LegacyCompanion& c, SampleLimitSet& set, TextLanguage language) {
  const Lang tr{language == TextLanguage::kEnglish};
  if (c.frameStore) {
    const Int32Array3D& store = *c.frameStore;
    const int32_t nSamples = std::min(c.nCountedFrames, store.Pages());
    std::vector<int32_t> values(
        store.Values().begin(),
        store.Values().begin() + static_cast<std::ptrdiff_t>(int64_t{nSamples} * store.Rows() * store.Cols()));
    set.sampleFrames.Assign(nSamples, store.Rows(), store.Cols(), std::move(values));
  }
  if (c.rawAvg) set.rawAvg = *c.rawAvg;
  if (c.rawUpper) set.rawUpper = *c.rawUpper;
  if (c.rawLower) set.rawLower = *c.rawLower;

  // Row check states: one flag per row of the table they belong to.
  const int32_t nTableRows = c.sampleTable ? c.sampleTable->nRows : std::max<int32_t>(set.sampleList.Rows(), 1);
  if (c.sampleRowFlags && c.sampleRowFlags->size() != static_cast<std::size_t>(nTableRows)) {
    c.problems.push_back(LegacyFileProblem{"sample_list_Ctl3.xml",
                                           tr("数值个数为 " + Num(static_cast<int64_t>(c.sampleRowFlags->size())) +
                                                  "，与样本表的行数 " + Num(nTableRows) + " 不符",
                                              Num(static_cast<int64_t>(c.sampleRowFlags->size())) +
                                                  " values, the sample table has " + Num(nTableRows) + " rows")});
    c.sampleRowFlags.reset();
  }
  const auto checked = [&](int32_t row) {
    return c.sampleRowFlags && (*c.sampleRowFlags)[static_cast<std::size_t>(row)] == 1 ? 1 : 0;
  };
  if (c.sampleTable) {
    const LegacyTable& t = *c.sampleTable;
    Int32Array2D list = Reshaped(set.sampleList, t.nRows, t.nColumns);
    for (int32_t row = 1; row < t.nRows; ++row) {
      list(row, 0) = checked(row);
      for (int32_t col = 1; col < t.nColumns; ++col) {
        const std::string& text = t.texts[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
        if (!IsBlank(text)) list(row, col) = CellValue(text, col == 4 || col == 8);
      }
    }
    set.sampleList = std::move(list);
  } else if (c.sampleRowFlags && set.sampleList.Cols() > 0) {
    for (int32_t row = 1; row < set.sampleList.Rows(); ++row) set.sampleList(row, 0) = checked(row);
  }
  if (c.limitTable) {
    const LegacyTable& t = *c.limitTable;
    Int32Array2D para = Reshaped(set.paraList, t.nRows - 1, t.nColumns - 1);
    for (int32_t i = 0; i + 1 < t.nRows; ++i) {
      for (int32_t j = 0; j + 1 < t.nColumns; ++j) {
        const std::string& text = t.texts[static_cast<std::size_t>(i + 1)][static_cast<std::size_t>(j + 1)];
        if (!IsBlank(text)) para(i, j) = CellValue(text, j == 3 || j == 7);
      }
    }
    set.paraList = std::move(para);
  }
}

std::string LegacyProblemsText(const std::filesystem::path& folder, const std::vector<LegacyFileProblem>& problems,
                               TextLanguage language) {
  if (problems.empty()) return {};
  const Lang tr{language == TextLanguage::kEnglish};
  std::string text = tr("以下旧版附属数据未导入（" + folder.string() + "）：",
                        "companion data not taken from " + folder.string() + ":");
  for (const LegacyFileProblem& p : problems) {
    const std::string name = p.strFile.empty() ? folder.filename().string() : p.strFile;
    text += tr("\n" + name + "：" + p.strReason, " " + name + " (" + p.strReason + ");");
  }
  if (tr.bEnglish && text.back() == ';') text.back() = '.';
  return text;
}

int32_t ScaledDecimal(std::string_view text, int nDigits) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  const std::size_t intEnd = i;
  std::size_t fracStart = i, fracEnd = i;
  if (i < text.size() && text[i] == '.') {
    fracStart = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    fracEnd = i;
  }
  if (intEnd == start && fracEnd == fracStart) return 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  // An exponent: the value as a real number, truncated.
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    double v = 0;
    const auto res = std::from_chars(text.data() + start, text.data() + text.size(), v);
    if (res.ec == std::errc{} && std::isfinite(v)) {
      const double scaled = std::trunc(v * std::pow(10.0, nDigits)) * (negative ? -1 : 1);
      return static_cast<int32_t>(std::clamp(scaled, -static_cast<double>(kLimit), static_cast<double>(kLimit - 1)));
    }
  }
  int64_t value = 0;
  for (std::size_t k = start; k < intEnd; ++k) value = std::min(value * 10 + (text[k] - '0'), kLimit);
  for (int d = 0; d < nDigits; ++d) {
    const std::size_t k = fracStart + static_cast<std::size_t>(d);
    const int digit = k < fracEnd ? text[k] - '0' : 0;
    value = std::min(value * 10 + digit, kLimit);
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(std::min<int64_t>(value, kLimit - 1));
}

}  // namespace varnex2::config
