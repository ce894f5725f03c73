#include "config/parameter_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "config/xml_archive_in.h"

namespace varnex2::config {

namespace {

// ---------------------------------------------------------------------------------------------
// Shape limits of the arrays, shared by the reader (refused before reading) and the save
// (refused before writing), so that every file the station writes loads back.

constexpr std::array<int32_t, 2> kNodeArrayLimits = {kMaxFileLines, kMaxFileLines};
constexpr std::array<int32_t, 3> kSampleFramesLimits = {kMaxFileSamples, kMaxFileLines, kMaxFileLines};
constexpr std::array<int32_t, 2> kSampleListLimits = {kMaxFileSamples + 1, static_cast<int32_t>(kMaxElementValues)};
constexpr std::array<int32_t, 2> kParaListLimits = {kMaxFileLines, static_cast<int32_t>(kMaxElementValues)};

std::string Num(int64_t v) { return std::to_string(v); }

// Picks the text of the caller's language; both are built where they differ in word order.
struct Lang {
  bool bEnglish = false;
  std::string operator()(std::string zh, std::string en) const { return bEnglish ? std::move(en) : std::move(zh); }
};

// "a × b × c" of a shape.
template <std::size_t N>
std::string ShapeText(const std::array<int32_t, N>& dims) {
  std::string s;
  for (std::size_t i = 0; i < N; ++i) s += (i ? " × " : "") + Num(dims[i]);
  return s;
}

template <std::size_t N>
bool ShapeFits(const std::array<int32_t, N>& shape, const std::array<int32_t, N>& limits) {
  for (std::size_t i = 0; i < N; ++i) {
    if (shape[i] < 0 || shape[i] > limits[i]) return false;
  }
  return true;
}

// Why the configuration cannot be written as a file the reader takes, or nothing.
std::optional<std::string> BeyondFileLimits(const PanelConfig& c, const Lang& tr) {
  const auto check = [&tr](const std::string& name, const auto& shape,
                           const auto& limits) -> std::optional<std::string> {
    if (ShapeFits(shape, limits)) return std::nullopt;
    return tr(name + " 的形状 " + ShapeText(shape) + " 超出范围（0 至 " + ShapeText(limits) + "）",
              name + " has the shape " + ShapeText(shape) + ", beyond 0 to " + ShapeText(limits));
  };
  const auto shape2 = [](const Int32Array2D& a) { return std::array<int32_t, 2>{a.Rows(), a.Cols()}; };
  const SampleLimitSet& s = c.sampleLimits;
  const Int32Array3D& f = s.sampleFrames;
  for (auto problem :
       {check("ADJACRNYARRY", shape2(c.adjacentPercent), kNodeArrayLimits),
        check("OFFSETMODERAWDATAARRY", std::array<int32_t, 3>{f.Pages(), f.Rows(), f.Cols()}, kSampleFramesLimits),
        check("OFFSETMODERAWDATAAVG", shape2(s.rawAvg), kNodeArrayLimits),
        check("OFFSETMODERAWDATAUPPER", shape2(s.rawUpper), kNodeArrayLimits),
        check("OFFSETMODERAWDATALOWER", shape2(s.rawLower), kNodeArrayLimits),
        check("OFFSETMODESAMPLELIST", shape2(s.sampleList), kSampleListLimits),
        check("OFFSETMODEPARALIST", shape2(s.paraList), kParaListLimits)}) {
    if (problem) return problem;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Writing

constexpr const char* kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n"
    "<!DOCTYPE boost_serialization>\r\n"
    "<boost_serialization signature=\"serialization::archive\" version=\"14\">\r\n";
constexpr const char* kFooter = "</boost_serialization>\r\n";
constexpr const char* kClassAttributes = " class_id=\"0\" tracking_level=\"0\" version=\"0\"";

class ArchiveWriter {
 public:
  ArchiveWriter() { text_ = kHeader; }

  void Element(const char* name, std::span<const int32_t> values) {
    text_ += '<';
    text_ += name;
    if (bFirst_) {
      // The vector type's class information goes with its first occurrence only.
      text_ += kClassAttributes;
      bFirst_ = false;
    }
    text_ += ">\r\n\t<count>";
    AppendNumber(static_cast<int64_t>(values.size()));
    text_ += "</count>\r\n\t<item_version>0</item_version>\r\n";
    for (int32_t v : values) {
      text_ += "\t<item>";
      AppendNumber(v);
      text_ += "</item>\r\n";
    }
    text_ += "</";
    text_ += name;
    text_ += ">\r\n";
  }

  void Element(const char* name, std::initializer_list<int32_t> values) {
    Element(name, std::span<const int32_t>(values.begin(), values.size()));
  }

  // Shape element, then one element per row; an array with a zero extent has no rows.
  void Array(const char* shapeName, const char* rowName, const Int32Array2D& a) {
    Element(shapeName, {a.Rows(), a.Cols()});
    if (a.Empty()) return;
    for (int32_t r = 0; r < a.Rows(); ++r) Element(rowName, a.Row(r));
  }

  void Array(const char* shapeName, const char* rowName, const Int32Array3D& a) {
    Element(shapeName, {a.Pages(), a.Rows(), a.Cols()});
    if (a.Empty()) return;
    for (int32_t s = 0; s < a.Pages(); ++s) {
      for (int32_t r = 0; r < a.Rows(); ++r) Element(rowName, a.Row(s, r));
    }
  }

  std::string Finish() {
    text_ += kFooter;
    return std::move(text_);
  }

 private:
  void AppendNumber(int64_t v) {
    char buf[24];
    const auto res = std::to_chars(std::begin(buf), std::end(buf), v);
    text_.append(buf, res.ptr);
  }

  std::string text_;
  bool bFirst_ = true;
};

// ---------------------------------------------------------------------------------------------
// Reading

constexpr const char* kMsgFormatError = "参数文件格式错误,载入失败！";

// The format error's text with a detail (Chinese: on its own line).
std::string FormatErrorText(const Lang& tr, const std::string& strDetail) {
  if (tr.bEnglish) return "not a parameter file of the expected layout" + (strDetail.empty() ? "" : ": " + strDetail);
  return std::string(kMsgFormatError) + (strDetail.empty() ? "" : "\n" + strDetail);
}

using detail::CheckArchiveHeader;
using detail::FindOverlongTagName;
using detail::StationXmlArchive;

// Thrown inside this file only; LoadParameterText turns it into a message.
struct FormatError {
  std::string strDetail;
};

// Reads the top-level elements in order. Their names are not compared (the archive checks the
// nested "count", "item_version" and "item" names only); the expected names label messages.
class ElementReader {
 public:
  ElementReader(StationXmlArchive& ar, std::istringstream& is, std::string_view text, const Lang& tr)
      : ar_(ar), is_(is), text_(text), tr_(tr) {}

  std::vector<int32_t> Read(const std::string& label) {
    ++nIndex_;
    const std::size_t nStart = Position();
    detail::BoundedVector<int32_t> values{kMaxElementValues, {}};
    try {
      ar_ >> boost::serialization::make_nvp(label.c_str(), values);
    } catch (const std::length_error&) {
      throw FormatError{Where(label, nStart) + tr_("：数值个数超过上限 " + Num(kMaxElementValues),
                                                   ": more than " + Num(kMaxElementValues) + " values")};
    } catch (const std::exception& e) {
      is_.clear();
      const std::size_t nFailed = Position();
      if (OnlyEndRemains(nStart)) {
        throw FormatError{tr_("缺少第 " + Num(nIndex_) + " 个元素 " + label + "（文件提前结束）",
                              "element " + Num(nIndex_) + " " + label + " is missing (the file ends early)")};
      }
      throw FormatError{Where(label, nFailed) + tr_("：XML 格式错误（" + std::string(e.what()) + "）",
                                                    ": malformed XML (" + std::string(e.what()) + ")")};
    }
    return std::move(values.values);
  }

  std::vector<int32_t> ReadExact(const std::string& label, std::size_t nExpected) {
    const std::size_t nStart = Position();
    std::vector<int32_t> values = Read(label);
    if (values.size() != nExpected) {
      const std::string strFound = Num(static_cast<int64_t>(values.size()));
      const std::string strExpected = Num(static_cast<int64_t>(nExpected));
      throw FormatError{Where(label, nStart) + tr_("：数值个数为 " + strFound + "，应为 " + strExpected,
                                                   ": " + strFound + " values, expected " + strExpected)};
    }
    return values;
  }

  Int32Array2D Read2D(const char* shapeName, const char* rowName, const std::array<int32_t, 2>& limits) {
    const std::size_t nStart = Position();
    const std::vector<int32_t> shape = ReadExact(shapeName, 2);
    CheckShape(shapeName, nStart, shape, limits);
    const int32_t nRows = shape[0], nCols = shape[1];
    std::vector<int32_t> values;
    if (nRows > 0 && nCols > 0) {
      for (int32_t r = 0; r < nRows; ++r) {
        const std::vector<int32_t> row =
            ReadExact(std::string(rowName) + "[" + Num(r) + "]", static_cast<std::size_t>(nCols));
        values.insert(values.end(), row.begin(), row.end());
      }
    }
    Int32Array2D a;
    a.Assign(nRows, nCols, std::move(values));
    return a;
  }

  Int32Array3D Read3D(const char* shapeName, const char* rowName, const std::array<int32_t, 3>& limits) {
    const std::size_t nStart = Position();
    const std::vector<int32_t> shape = ReadExact(shapeName, 3);
    CheckShape(shapeName, nStart, shape, limits);
    const int32_t nPages = shape[0], nRows = shape[1], nCols = shape[2];
    std::vector<int32_t> values;
    if (nPages > 0 && nRows > 0 && nCols > 0) {
      for (int32_t s = 0; s < nPages; ++s) {
        for (int32_t r = 0; r < nRows; ++r) {
          const std::vector<int32_t> row =
              ReadExact(std::string(rowName) + "[" + Num(s) + "][" + Num(r) + "]", static_cast<std::size_t>(nCols));
          values.insert(values.end(), row.begin(), row.end());
        }
      }
    }
    Int32Array3D a;
    a.Assign(nPages, nRows, nCols, std::move(values));
    return a;
  }

  std::string Where(const std::string& label, std::size_t nPos) const {
    const std::string strLine = Num(LineAt(nPos));
    return tr_("第 " + Num(nIndex_) + " 个元素 " + label + "（第 " + strLine + " 行）",
               "element " + Num(nIndex_) + " " + label + " (line " + strLine + ")");
  }

 private:
  template <std::size_t N>
  void CheckShape(const char* shapeName, std::size_t nStart, const std::vector<int32_t>& values,
                  const std::array<int32_t, N>& limits) const {
    std::array<int32_t, N> shape{};
    std::copy(values.begin(), values.end(), shape.begin());
    if (!ShapeFits(shape, limits)) {
      throw FormatError{Where(shapeName, nStart) +
                        tr_("：数组形状 " + ShapeText(shape) + " 超出范围（0 至 " + ShapeText(limits) + "）",
                            ": array shape " + ShapeText(shape) + " beyond 0 to " + ShapeText(limits))};
    }
  }

  std::size_t Position() {
    const std::streampos pos = is_.tellg();
    if (pos < 0) return text_.size();
    return std::min(static_cast<std::size_t>(pos), text_.size());
  }

  // 1-based line of the first non-blank character at or after nPos.
  int64_t LineAt(std::size_t nPos) const {
    while (nPos < text_.size() &&
           (text_[nPos] == ' ' || text_[nPos] == '\t' || text_[nPos] == '\r' || text_[nPos] == '\n')) {
      ++nPos;
    }
    nPos = std::min(nPos, text_.size());
    int64_t nLine = 1;
    for (std::size_t i = 0; i < nPos; ++i) nLine += text_[i] == '\n';
    return nLine;
  }

  // True when nothing but blanks and the root's end tag follow nPos.
  bool OnlyEndRemains(std::size_t nPos) const {
    std::string_view rest = text_.substr(std::min(nPos, text_.size()));
    const auto first = rest.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return true;
    rest.remove_prefix(first);
    constexpr std::string_view kEnd = "</boost_serialization";
    return rest.substr(0, kEnd.size()) == kEnd;
  }

  StationXmlArchive& ar_;
  std::istringstream& is_;
  std::string_view text_;
  const Lang& tr_;
  int nIndex_ = 0;
};

// The controller holds origins and sizes as bytes; a value outside 0..255 cannot be stored there
// and would come back as something else at the next read-back. Checked after validation, so that
// whatever validation refuses gets its own text, and only for areas the controller uses.
std::optional<std::string> AreaOutsideBytes(const std::string& name, const AreaParams& a, const Lang& tr) {
  const std::array<int32_t, 4> values = {a.nXOrigin, a.nYOrigin, a.nXSize, a.nYSize};
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] < 0 || values[i] > 255) {
      const std::string strIndex = Num(static_cast<int64_t>(i) + 1);
      return tr(
          "元素 " + name + "：起始值与尺寸须在 0 至 255 之间（第 " + strIndex + " 个数值为 " + Num(values[i]) + "）",
          "element " + name + ": origins and sizes must lie within 0..255 (value " + strIndex + " is " +
              Num(values[i]) + ")");
    }
  }
  return std::nullopt;
}

ParameterFileStatus LoadText(std::string_view text, const PanelConfig& current, const ControllerFacts& controller,
                             const ProgramVersion& program, PanelConfig& out, std::string& message, const Lang& tr) {
  if (const std::size_t nAt = FindOverlongTagName(text); nAt != std::string_view::npos) {
    const auto nLine = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(nAt), '\n');
    message = FormatErrorText(
        tr, tr("第 " + Num(nLine) + " 行的标签名过长", "the tag name on line " + Num(nLine) + " is too long"));
    return ParameterFileStatus::kFormatError;
  }
  std::istringstream is{std::string(text)};
  std::optional<StationXmlArchive> archive;
  try {
    archive.emplace(is);
  } catch (const std::exception& e) {
    message = FormatErrorText(
        tr, tr("文件头无效（" + std::string(e.what()) + "）", "invalid header (" + std::string(e.what()) + ")"));
    return ParameterFileStatus::kFormatError;
  }
  if (const auto error = CheckArchiveHeader(text, boost::archive::BOOST_ARCHIVE_VERSION())) {
    message = FormatErrorText(tr, tr("文件头无效（" + *error + "）", "invalid header (" + *error + ")"));
    return ParameterFileStatus::kFormatError;
  }

  PanelConfig candidate = current;
  try {
    ElementReader reader(*archive, is, text, tr);

    const std::vector<int32_t> version = reader.ReadExact("VERSION", 4);
    const ProgramVersion fileVersion{version[0], version[1], version[2], version[3]};
    const ProgramVersion ownVersion{program.nMajor, program.nMinor & 0xFF, program.nBuild, program.nRevision & 0xFF};
    if (PackProgramVersion(fileVersion) > PackProgramVersion(ownVersion)) {
      message = tr(kMsgVersionTooNew, "written by a newer program version; not loaded");
      return ParameterFileStatus::kVersionTooNew;
    }

    const std::vector<int32_t> panel = reader.ReadExact("PANEL", 7);
    const std::vector<int32_t> key = reader.ReadExact("KEY", 8);
    const std::vector<int32_t> uiConfig = reader.ReadExact("CONFIG", 2);
    const std::vector<int32_t> marks = reader.ReadExact("MARK", 5 * kUserMarkCount);
    const std::vector<int32_t> testMode = reader.ReadExact("TESTMODE", 2);
    const std::vector<int32_t> screen = reader.ReadExact("PANELCTL", ScreenLevelSettings::kCount);
    Int32Array2D adjacent = reader.Read2D("ADJACRNYARRYEXT", "ADJACRNYARRY", kNodeArrayLimits);
    SampleLimitSet& limits = candidate.sampleLimits;
    limits.sampleFrames = reader.Read3D("OFFSETMODERAWDATAARRYDIMS", "OFFSETMODERAWDATAARRY", kSampleFramesLimits);
    limits.rawAvg = reader.Read2D("OFFSETMODERAWDATAAVGDIMS", "OFFSETMODERAWDATAAVG", kNodeArrayLimits);
    limits.rawUpper = reader.Read2D("OFFSETMODERAWDATAUPPERDIMS", "OFFSETMODERAWDATAUPPER", kNodeArrayLimits);
    limits.rawLower = reader.Read2D("OFFSETMODERAWDATALOWERDIMS", "OFFSETMODERAWDATALOWER", kNodeArrayLimits);
    limits.sampleList = reader.Read2D("OFFSETMODESAMPLELISTDIMS", "OFFSETMODESAMPLELIST", kSampleListLimits);
    limits.paraList = reader.Read2D("OFFSETMODEPARALISTDIMS", "OFFSETMODEPARALIST", kParaListLimits);
    const std::vector<int32_t> other = reader.ReadExact("OFFSETMODEOTHERPARA", 4);

    AreaParams& t = candidate.touchArea;
    t.nXOrigin = panel[0];
    t.nYOrigin = panel[1];
    t.nXSize = panel[2];
    t.nYSize = panel[3];
    t.nGain = static_cast<uint8_t>(panel[4]);
    t.bEnable = 1;
    t.nThresUpper = static_cast<uint16_t>(panel[5]);
    t.nThresLower = static_cast<uint16_t>(panel[6]);

    AreaParams& k = candidate.keyArea;
    k.nXOrigin = key[0];
    k.nYOrigin = key[1];
    k.nXSize = key[2];
    k.nYSize = key[3];
    k.nGain = static_cast<uint8_t>(key[4]);
    k.bEnable = static_cast<uint8_t>(key[5]);
    k.nThresUpper = static_cast<uint16_t>(key[6]);
    k.nThresLower = static_cast<uint16_t>(key[7]);

    candidate.nUiColorMode = static_cast<uint8_t>(uiConfig[0] & 0x3);
    candidate.nLegacyTestMode = static_cast<uint8_t>(uiConfig[1] & 0x3);

    // A mark is taken only when its slot carries its own index; the spare bits stay.
    for (int i = 0; i < kUserMarkCount; ++i) {
      const int32_t* m = &marks[static_cast<std::size_t>(5 * i)];
      if (m[0] != i) continue;
      UserMark& mark = candidate.marks[static_cast<std::size_t>(i)];
      mark.nType = static_cast<uint8_t>(m[1] & 0x3);
      mark.bEnable = static_cast<uint8_t>(m[2] & 0x1);
      mark.nX = static_cast<uint8_t>(m[3] & 0x1F);
      mark.nY = static_cast<uint8_t>(m[4] & 0x3F);
    }

    candidate.nTestModeFlags = static_cast<uint32_t>(testMode[0]);
    std::array<int32_t, ScreenLevelSettings::kCount> screenValues{};
    std::copy(screen.begin(), screen.end(), screenValues.begin());
    candidate.screen = ScreenLevelSettings::FromArray(screenValues);
    candidate.adjacentPercent = std::move(adjacent);
    limits.nLimitMode = other[0];
    limits.nPercentX100 = other[1];
    limits.nOffsetUpper = other[2];
    limits.nOffsetLower = other[3];
  } catch (const FormatError& e) {
    message = FormatErrorText(tr, e.strDetail);
    return ParameterFileStatus::kFormatError;
  }

  const ValidationResult valid =
      ValidatePanelConfig(candidate.touchArea, candidate.keyArea, controller.nMatrixXSize, controller.nMatrixYSize,
                          controller.nFirmwareVersion, tr.bEnglish ? TextLanguage::kEnglish : TextLanguage::kChinese);
  if (valid.nCode != kValidOk) {
    message = valid.strMessage;
    return ParameterFileStatus::kInvalidAreas;
  }
  std::optional<std::string> outside = AreaOutsideBytes("PANEL", candidate.touchArea, tr);
  if (!outside && candidate.keyArea.bEnable != 0) outside = AreaOutsideBytes("KEY", candidate.keyArea, tr);
  if (outside) {
    message = *outside;
    return ParameterFileStatus::kInvalidAreas;
  }
  out = std::move(candidate);
  message = tr(kMsgLoadSucceeded, "parameter file loaded");
  return ParameterFileStatus::kOk;
}

std::atomic<unsigned> g_nTempCounter{0};

}  // namespace

int32_t PackProgramVersion(const ProgramVersion& v) {
  uint32_t n = static_cast<uint32_t>(v.nMajor);
  n = (n << 8) | static_cast<uint32_t>(v.nMinor);
  n = (n << 8) | static_cast<uint32_t>(v.nBuild);
  n = (n << 8) | static_cast<uint32_t>(v.nRevision);
  return static_cast<int32_t>(n);
}

std::string WriteParameterFile(const PanelConfig& c, const ProgramVersion& version) {
  ArchiveWriter w;
  w.Element("VERSION", {version.nMajor, version.nMinor & 0xFF, version.nBuild, version.nRevision & 0xFF});
  const AreaParams& t = c.touchArea;
  w.Element("PANEL", {t.nXOrigin, t.nYOrigin, t.nXSize, t.nYSize, t.nGain, t.nThresUpper, t.nThresLower});
  const AreaParams& k = c.keyArea;
  w.Element("KEY", {k.nXOrigin, k.nYOrigin, k.nXSize, k.nYSize, k.nGain, k.bEnable, k.nThresUpper, k.nThresLower});
  w.Element("CONFIG", {c.nUiColorMode, c.nLegacyTestMode});
  std::vector<int32_t> marks;
  marks.reserve(5 * kUserMarkCount);
  for (int i = 0; i < kUserMarkCount; ++i) {
    const UserMark& m = c.marks[static_cast<std::size_t>(i)];
    marks.insert(marks.end(), {i, m.nType, m.bEnable, m.nX, m.nY});
  }
  w.Element("MARK", marks);
  w.Element("TESTMODE", {static_cast<int32_t>(c.nTestModeFlags), 0});
  const auto screen = c.screen.ToArray();
  w.Element("PANELCTL", screen);
  w.Array("ADJACRNYARRYEXT", "ADJACRNYARRY", c.adjacentPercent);
  const SampleLimitSet& s = c.sampleLimits;
  w.Array("OFFSETMODERAWDATAARRYDIMS", "OFFSETMODERAWDATAARRY", s.sampleFrames);
  w.Array("OFFSETMODERAWDATAAVGDIMS", "OFFSETMODERAWDATAAVG", s.rawAvg);
  w.Array("OFFSETMODERAWDATAUPPERDIMS", "OFFSETMODERAWDATAUPPER", s.rawUpper);
  w.Array("OFFSETMODERAWDATALOWERDIMS", "OFFSETMODERAWDATALOWER", s.rawLower);
  w.Array("OFFSETMODESAMPLELISTDIMS", "OFFSETMODESAMPLELIST", s.sampleList);
  w.Array("OFFSETMODEPARALISTDIMS", "OFFSETMODEPARALIST", s.paraList);
  w.Element("OFFSETMODEOTHERPARA", {s.nLimitMode, s.nPercentX100, s.nOffsetUpper, s.nOffsetLower});
  return w.Finish();
}

ParameterFileStatus SaveParameterFile(const std::filesystem::path& path, const PanelConfig& config,
                                      const ProgramVersion& version, std::string& message, TextLanguage language) {
  const Lang tr{language == TextLanguage::kEnglish};
  const auto failed = [&](const std::string& what) {
    return tr("参数文件保存失败：" + path.string() + "（" + what + "）", "not saved (" + what + ")");
  };
  const auto tooLarge = [&](const std::string& what) {
    message = failed(what);
    return ParameterFileStatus::kTooLarge;
  };
  if (const auto beyond = BeyondFileLimits(config, tr)) return tooLarge(*beyond);
  const std::string text = WriteParameterFile(config, version);
  if (text.size() > kMaxFileBytes) {
    const std::string strSize = std::to_string(text.size()), strLimit = std::to_string(kMaxFileBytes);
    return tooLarge(tr("文件大小 " + strSize + " 字节超过上限 " + strLimit + " 字节",
                       "the file would have " + strSize + " bytes, more than " + strLimit));
  }
  const auto fail = [&](const std::string& what, int nErr) {
    message = failed(what + tr("：", ": ") + std::strerror(nErr));
    return ParameterFileStatus::kIoError;
  };

  std::filesystem::path temp = path;
  temp += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(g_nTempCounter.fetch_add(1));
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return fail(tr("创建临时文件", "creating the temporary file"), errno);

  const char* p = text.data();
  std::size_t nLeft = text.size();
  while (nLeft > 0) {
    const ssize_t n = ::write(fd, p, nLeft);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int nErr = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(temp.c_str());
      return fail(tr("写入", "writing"), nErr);
    }
    p += n;
    nLeft -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) {
    const int nErr = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return fail(tr("写入", "writing"), nErr);
  }
  if (::close(fd) != 0) {
    const int nErr = errno;
    ::unlink(temp.c_str());
    return fail(tr("写入", "writing"), nErr);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int nErr = errno;
    ::unlink(temp.c_str());
    return fail(tr("替换", "replacing the file"), nErr);
  }
  message = tr(kMsgSaveSucceeded, "parameter file saved");
  return ParameterFileStatus::kOk;
}

ParameterFileStatus LoadParameterText(std::string_view text, const PanelConfig& current,
                                      const ControllerFacts& controller, const ProgramVersion& program,
                                      PanelConfig& out, std::string& message, TextLanguage language) {
  const Lang tr{language == TextLanguage::kEnglish};
  try {
    return LoadText(text, current, controller, program, out, message, tr);
  } catch (const std::bad_alloc&) {
    message = FormatErrorText(tr, tr("内存不足", "out of memory"));
  } catch (const std::exception& e) {
    message = FormatErrorText(tr, e.what());
  } catch (...) {
    message = FormatErrorText(tr, "");
  }
  return ParameterFileStatus::kFormatError;
}

ParameterFileStatus LoadParameterFile(const std::filesystem::path& path, const PanelConfig& current,
                                      const ControllerFacts& controller, const ProgramVersion& program,
                                      PanelConfig& out, std::string& message, TextLanguage language) {
  const Lang tr{language == TextLanguage::kEnglish};
  std::string text;
  try {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      message = tr("无法打开参数文件：" + path.string(), "cannot open the file");
      return ParameterFileStatus::kIoError;
    }
    std::error_code ec;
    const std::uintmax_t nSize = std::filesystem::file_size(path, ec);
    if (!ec && nSize > kMaxFileBytes) {
      message = FormatErrorText(tr, tr("文件过大（" + std::to_string(nSize) + " 字节）",
                                       "the file is too large (" + std::to_string(nSize) + " bytes)"));
      return ParameterFileStatus::kFormatError;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
      message = tr("读取参数文件失败：" + path.string(), "cannot read the file");
      return ParameterFileStatus::kIoError;
    }
    text = std::move(buffer).str();
  } catch (const std::exception&) {
    message = tr("读取参数文件失败：" + path.string(), "cannot read the file");
    return ParameterFileStatus::kIoError;
  }
  return LoadParameterText(text, current, controller, program, out, message, language);
}

}  // namespace varnex2::config
