#include "config/legacy_ini.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <limits>
#include <sstream>

#include "platform/text_encoding.h"

namespace varnex2::config {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsUtf8(std::string_view s) {
  while (!s.empty()) {
    const std::size_t n = platform::Utf8SequenceLength(s);
    if (n == 0) return false;
    s.remove_prefix(n);
  }
  return true;
}

// glibc's converter to UTF-8; a byte it cannot take becomes U+FFFD.
std::string ConvertToUtf8(std::string_view in, const char* from) {
  platform::TextConverter converter("UTF-8", from);
  std::string out;
  if (!converter.Ok()) {
    // No converter: keep the ASCII bytes, replace the others.
    for (char c : in) {
      if (static_cast<unsigned char>(c) < 0x80)
        out += c;
      else
        out += kReplacement;
    }
    return out;
  }
  converter.Append(in, kReplacement, out);
  return out;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Fold(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), FoldAscii);
  return out;
}

std::string_view Trim(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

// The part of a UTF-8 value that fits the buffer: at most kLegacyIniValueBuffer - 1 UTF-16 code
// units, whole characters only.
std::string CutToBuffer(std::string_view value) {
  std::size_t nUnits = 0;
  std::size_t pos = 0;
  while (pos < value.size()) {
    std::size_t n = platform::Utf8SequenceLength(value.substr(pos));
    if (n == 0) n = 1;  // not reached: values are decoded UTF-8
    const std::size_t nCharUnits = n == 4 ? 2 : 1;
    if (nUnits + nCharUnits > kLegacyIniValueBuffer - 1) break;
    nUnits += nCharUnits;
    pos += n;
  }
  return std::string(value.substr(0, pos));
}

}  // namespace

std::string DecodeLegacyText(std::string_view bytes, LegacyTextEncoding* used) {
  LegacyTextEncoding encoding = LegacyTextEncoding::kUtf8;
  std::string text;
  if (bytes.substr(0, kUtf16LeBom.size()) == kUtf16LeBom) {
    encoding = LegacyTextEncoding::kUtf16Le;
    text = ConvertToUtf8(bytes.substr(kUtf16LeBom.size()), "UTF-16LE");
  } else {
    std::string_view body = bytes;
    if (body.substr(0, kUtf8Bom.size()) == kUtf8Bom) body.remove_prefix(kUtf8Bom.size());
    if (IsUtf8(body)) {
      text = std::string(body);
    } else {
      encoding = LegacyTextEncoding::kGb18030;
      text = ConvertToUtf8(bytes, "GB18030");
    }
  }
  if (used != nullptr) *used = encoding;
  return text;
}

int32_t LenientDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min(value * 10 + (text[i] - '0'), kLimit);
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

LegacyIniFile LegacyIniFile::Parse(std::string_view bytes) {
  LegacyIniFile file;
  const std::string text = DecodeLegacyText(bytes, &file.encoding_);
  Section* current = nullptr;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = Trim(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (line.empty()) continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::string_view name = Trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      file.sections_.push_back(Section{Fold(name), {}});
      current = &file.sections_.back();
      continue;
    }
    const std::size_t eq = line.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    // A value in matching quotes is read without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    current->entries.push_back(Entry{Fold(Trim(line.substr(0, eq))), std::string(value)});
  }
  return file;
}

std::optional<LegacyIniFile> LegacyIniFile::Load(const std::filesystem::path& path, std::string& error) {
  try {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
      error = "is a folder";
      return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      error = "cannot open the file";
      return std::nullopt;
    }
    const std::uintmax_t nSize = std::filesystem::file_size(path, ec);
    if (!ec && nSize > kMaxLegacyIniBytes) {
      error = "the file is too large (" + std::to_string(nSize) + " bytes)";
      return std::nullopt;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
      error = "cannot read the file";
      return std::nullopt;
    }
    return Parse(std::move(buffer).str());
  } catch (const std::exception&) {
    error = "cannot read the file";
    return std::nullopt;
  }
}

const LegacyIniFile::Section* LegacyIniFile::FindSection(std::string_view section) const {
  const std::string name = Fold(section);
  for (const Section& s : sections_) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

bool LegacyIniFile::HasSection(std::string_view section) const { return FindSection(section) != nullptr; }

std::string LegacyIniFile::GetString(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return {};
  const std::string name = Fold(key);
  for (const Entry& e : s->entries) {
    if (e.key == name) return CutToBuffer(e.value);
  }
  return {};
}

}  // namespace varnex2::config
