// An old parameter set as the older releases wrote it: the INI file and its companion folder of
// Boost.Serialization XML archives, written here with Boost's own XML output archive. Shared by
// the import tests of config/judging and the offline judge's command-line tests.
#pragma once

#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace varnex2::legacy_samples {

namespace fs = std::filesystem;

// The set's panel: a touch area of 5 X lines by 4 Y lines, 100 stored frames of which the first
// 7 are sampled, 7 sample rows and the three limit rows.
inline constexpr int kY = 4;
inline constexpr int kX = 5;
inline constexpr int kFrames = 100;
inline constexpr int kSampled = 7;
inline constexpr int kTableRows = kSampled + 1;

inline std::string Ini() {
  return "[PANEL]\r\nXORIGN=0\r\nYORIGN=0\r\nXSIZE=5\r\nYSIZE=4\r\nGAIN=80\r\nTHRESUPPER=35000\r\nTHRESLOWER=8000\r\n"
         "[CONFIG]\r\nUICOLORMODE=1\r\nTESTMODE=2\r\n"
         "[MARK3]\r\nTYPE=2\r\nENABLE=1\r\nX=40\r\nY=70\r\n"
         "[EXTERNPARA]\r\nPERCENTMODE=0\r\nPERCENTVAL=12.5\r\nOFFSETMODE=1\r\nOFFSETUPPER=1500\r\nOFFSETLOWR=800\r\n";
}

inline int32_t FrameValue(int f, int y, int x) { return f < kSampled ? 20000 + 100 * f + 10 * y + x : 0; }
inline int32_t AvgValue(int y, int x) { return 21000 + 10 * y + x; }
inline int32_t FrameFileValue(int y, int x) { return 30000 + 5 * y + x; }
inline constexpr int32_t kLimitBand = 2000;

// Sample table cell (row 1..7, column 1..8): the key columns of odd rows are empty.
inline std::wstring SampleCell(int row, int col) {
  if (row % 2 == 1 && col >= 5) return L"";
  if (col == 4 || col == 8) return L"0.402";
  return std::to_wstring(row * 100 + col);
}
inline int32_t SampleListValue(int row, int col) {
  if (row % 2 == 1 && col >= 5) return 0;
  if (col == 4 || col == 8) return 402;
  return row * 100 + col;
}
inline int32_t RowFlag(int row) { return row == 0 ? -1 : (row == 2 ? 0 : 1); }
inline std::wstring LimitCell(int row, int col) {
  return (col == 4 || col == 8) ? L"1.5" : std::to_wstring(row * 1000 + col);
}
inline int32_t ParaListValue(int i, int j) { return (j == 3 || j == 7) ? 1500 : (i + 1) * 1000 + (j + 1); }
inline const std::vector<double> kUpperDisplay = {1, 2, 3, 4, 5, 26000.7, 7, 8};
inline const std::vector<double> kLowerDisplay = {1, 2, 3, 4, 17000.9, 6, 7, 8};

template <class Write>
void WriteArchive(const fs::path& path, Write write) {
  std::ofstream os(path, std::ios::binary);
  boost::archive::xml_oarchive ar(os);
  write(ar);
}

inline void WriteInts(const fs::path& path, std::vector<int32_t> v1,
                      const std::vector<std::vector<int32_t>>& plan = {}) {
  WriteArchive(path, [&](boost::archive::xml_oarchive& ar) {
    ar << boost::serialization::make_nvp("V1", v1);
    for (std::vector<int32_t> row : plan) ar << boost::serialization::make_nvp("PLAN", row);
  });
}

inline void WriteTable(const fs::path& path, int32_t cols, int32_t rows, std::wstring (*cell)(int, int)) {
  WriteArchive(path, [&](boost::archive::xml_oarchive& ar) {
    std::vector<int32_t> v1{cols, rows};
    ar << boost::serialization::make_nvp("V1", v1);
    for (int r = 1; r < rows; ++r) {
      std::vector<std::wstring> texts;
      for (int c = 1; c < cols; ++c) texts.push_back(cell(r, c));
      ar << boost::serialization::make_nvp("PLAN", texts);
    }
  });
}

inline void WriteReals(const fs::path& path, std::vector<double> v1) {
  WriteArchive(path, [&](boost::archive::xml_oarchive& ar) { ar << boost::serialization::make_nvp("V1", v1); });
}

inline std::vector<std::vector<int32_t>> Rows(int32_t (*value)(int, int), int32_t add = 0) {
  std::vector<std::vector<int32_t>> rows(kY, std::vector<int32_t>(kX));
  for (int y = 0; y < kY; ++y)
    for (int x = 0; x < kX; ++x) rows[y][x] = value(y, x) + add;
  return rows;
}

// Writes `<dir>/<name>.ini` and `<dir>/<name>_ExternPara/...`; returns the INI path.
inline fs::path WriteFullSet(const fs::path& dir, const std::string& name) {
  const fs::path ini = dir / (name + ".ini");
  std::ofstream(ini, std::ios::binary) << Ini();
  const fs::path folder = dir / (name + "_ExternPara");
  fs::create_directories(folder);

  std::vector<std::vector<int32_t>> frames;
  for (int f = 0; f < kFrames; ++f)
    for (int y = 0; y < kY; ++y) {
      std::vector<int32_t> row;
      for (int x = 0; x < kX; ++x) row.push_back(FrameValue(f, y, x));
      frames.push_back(row);
    }
  WriteInts(folder / "RawDataArry.xml", {kY, kX, kFrames}, frames);
  WriteInts(folder / "RawDataFrame.xml", {kY, kX}, Rows(FrameFileValue));
  WriteInts(folder / "RawDataAvg.xml", {kY, kX}, Rows(AvgValue));
  WriteInts(folder / "RawDataUpper.xml", {kY, kX}, Rows(AvgValue, kLimitBand));
  WriteInts(folder / "RawDataLower.xml", {kY, kX}, Rows(AvgValue, -kLimitBand));
  WriteTable(folder / "sample_list_Ctl1.xml", 9, kTableRows, SampleCell);
  WriteInts(folder / "sample_list_Ctl2.xml", {-1, 0, -1, -1, -1, -1, -1, -1, -1});
  std::vector<int32_t> flags;
  for (int r = 0; r < kTableRows; ++r) flags.push_back(RowFlag(r));
  WriteInts(folder / "sample_list_Ctl3.xml", flags);
  WriteTable(folder / "para_list_Ctl1.xml", 9, 4, LimitCell);
  WriteInts(folder / "para_list_Ctl2.xml", std::vector<int32_t>(9, -1));
  WriteInts(folder / "para_list_Ctl3.xml", std::vector<int32_t>(4, -1));
  WriteReals(folder / "TestUpperExternPara.xml", kUpperDisplay);
  WriteReals(folder / "TestLowerExternPara.xml", kLowerDisplay);
  return ini;
}

}  // namespace varnex2::legacy_samples
