#include "platform/settings_document.h"

#include "platform/text_encoding.h"

#include <optional>
#include <unordered_map>

namespace varnex2::platform {
namespace {

constexpr std::string_view kHeaderComment =
    "; Varnex2 settings. Sections name keys; values are \"Name\"=dword:XXXXXXXX (hex) or \"Name\"=\"text\".\n";

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string FoldAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = Utf8SequenceLength(s.substr(i));
    if (len == 0) return false;
    i += len;
  }
  return true;
}

void AppendQuoted(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else if (u >= 0x80) {
      const std::size_t len = Utf8SequenceLength(s.substr(i));
      if (len == 0) {
        out += "\\x";
        out += kHex[u >> 4];
        out += kHex[u & 0xF];
      } else {
        out.append(s.substr(i, len));
        i += len;
        continue;
      }
    } else {
      out += c;
    }
    ++i;
  }
  out += '"';
}

// Reads a quoted text at line[pos] (which must be '"'); on success pos is past the closing quote.
std::optional<std::string> ReadQuoted(std::string_view line, std::size_t& pos) {
  if (pos >= line.size() || line[pos] != '"') return std::nullopt;
  std::string out;
  std::size_t i = pos + 1;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= line.size()) return std::nullopt;
    const char e = line[i + 1];
    switch (e) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'x': {
        if (i + 3 >= line.size()) return std::nullopt;
        const int h = HexDigit(line[i + 2]);
        const int l = HexDigit(line[i + 3]);
        if (h < 0 || l < 0) return std::nullopt;
        out += static_cast<char>((h << 4) | l);
        i += 4;
        continue;
      }
      default:
        return std::nullopt;
    }
    i += 2;
  }
  return std::nullopt;  // no closing quote: a truncated line
}

void SkipBlanks(std::string_view line, std::size_t& pos) {
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// "Name"=dword:XXXXXXXX or "Name"="text". Exactly eight hex digits, so a line cut short inside
// the number is not taken for a smaller number.
std::optional<SettingsValue> ParseValueLine(std::string_view line) {
  std::size_t pos = 0;
  auto name = ReadQuoted(line, pos);
  if (!name) return std::nullopt;
  SkipBlanks(line, pos);
  if (pos >= line.size() || line[pos] != '=') return std::nullopt;
  ++pos;
  SkipBlanks(line, pos);
  SettingsValue value;
  value.name = std::move(*name);
  constexpr std::string_view kDword = "dword:";
  if (pos < line.size() && line[pos] == '"') {
    auto text = ReadQuoted(line, pos);
    if (!text) return std::nullopt;
    value.text = std::move(*text);
  } else if (SettingsNameEquals(line.substr(pos, kDword.size()), kDword)) {
    pos += kDword.size();
    if (line.size() - pos < 8) return std::nullopt;
    std::uint32_t n = 0;
    for (std::size_t k = 0; k < 8; ++k) {
      const int d = HexDigit(line[pos + k]);
      if (d < 0) return std::nullopt;
      n = (n << 4) | static_cast<std::uint32_t>(d);
    }
    pos += 8;
    value.isDword = true;
    value.dword = static_cast<std::int32_t>(n);
  } else {
    return std::nullopt;
  }
  SkipBlanks(line, pos);
  if (pos != line.size()) return std::nullopt;
  return value;
}

}  // namespace

bool SettingsNameEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool IsValidSettingsKeyPath(std::string_view path) {
  if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
  if (!IsValidUtf8(path)) return false;
  char previous = 0;
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '[' || c == ']') return false;
    if (c == '\\' && previous == '\\') return false;
    previous = c;
  }
  return true;
}

const SettingsValue* SettingsKey::Find(std::string_view name) const {
  for (const auto& v : values) {
    if (SettingsNameEquals(v.name, name)) return &v;
  }
  return nullptr;
}

SettingsValue* SettingsKey::Find(std::string_view name) {
  return const_cast<SettingsValue*>(static_cast<const SettingsKey&>(*this).Find(name));
}

const SettingsKey* SettingsDocument::FindKey(std::string_view path) const {
  for (const auto& k : keys_) {
    if (SettingsNameEquals(k.path, path)) return &k;
  }
  return nullptr;
}

SettingsKey* SettingsDocument::FindKey(std::string_view path) {
  return const_cast<SettingsKey*>(static_cast<const SettingsDocument&>(*this).FindKey(path));
}

bool SettingsDocument::KeyExists(std::string_view path) const {
  if (!IsValidSettingsKeyPath(path)) return false;
  for (const auto& k : keys_) {
    if (k.path.size() < path.size()) continue;
    if (!SettingsNameEquals(std::string_view(k.path).substr(0, path.size()), path)) continue;
    if (k.path.size() == path.size() || k.path[path.size()] == '\\') return true;
  }
  return false;
}

SettingsKey& SettingsDocument::AddKey(std::string_view path) {
  if (SettingsKey* k = FindKey(path)) return *k;
  keys_.push_back(SettingsKey{std::string(path), {}});
  return keys_.back();
}

SettingsDocument SettingsDocument::Parse(std::string_view text) {
  SettingsDocument doc;
  // Indexes by folded name, so that a large file costs linear time, not quadratic.
  std::unordered_map<std::string, std::size_t> keyIndex;
  std::vector<std::unordered_map<std::string, std::size_t>> valueIndex;
  // A byte-order mark in front is tolerated (an editor may add one).
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t current = kNone;  // index of the section values go into
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;

    if (line.front() == '[') {
      current = kNone;
      if (line.back() != ']' || !IsValidSettingsKeyPath(line.substr(1, line.size() - 2))) {
        ++doc.skippedLines_;  // values below an unreadable header belong to no key
        continue;
      }
      const std::string_view path = line.substr(1, line.size() - 2);
      const auto [it, added] = keyIndex.try_emplace(FoldAscii(path), doc.keys_.size());
      if (added) {
        doc.keys_.push_back(SettingsKey{std::string(path), {}});
        valueIndex.emplace_back();
      }
      current = it->second;
      continue;
    }

    auto value = ParseValueLine(line);
    if (!value || current == kNone) {
      ++doc.skippedLines_;
      continue;
    }
    SettingsKey& key = doc.keys_[current];
    const auto [it, added] = valueIndex[current].try_emplace(FoldAscii(value->name), key.values.size());
    if (added) {
      key.values.push_back(std::move(*value));
    } else {
      SettingsValue& existing = key.values[it->second];
      std::string name = std::move(existing.name);  // first spelling stays
      existing = std::move(*value);
      existing.name = std::move(name);
    }
  }
  return doc;
}

std::string SettingsDocument::Serialize() const {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(kHeaderComment);
  for (const auto& key : keys_) {
    out += '\n';
    out += '[';
    out += key.path;
    out += "]\n";
    for (const auto& v : key.values) {
      AppendQuoted(out, v.name);
      out += '=';
      if (v.isDword) {
        out += "dword:";
        const auto n = static_cast<std::uint32_t>(v.dword);
        for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(n >> shift) & 0xF];
      } else {
        AppendQuoted(out, v.text);
      }
      out += '\n';
    }
  }
  return out;
}

}  // namespace varnex2::platform
