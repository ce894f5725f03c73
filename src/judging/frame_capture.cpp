#include "judging/frame_capture.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <string>

namespace varnex2::judging {

std::string BuildCaptureText(const NodeFrame& rawFrame, const NodeFrame& flags, int mapCols, int mapRows) {
  const int rows = std::min(mapRows, rawFrame.Rows());
  const int cols = std::min(mapCols, rawFrame.Columns());
  std::string text;
  if (rows <= 0 || cols <= 0) return text;
  text.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols) * 7);
  char field[16];
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const std::int32_t raw = rawFrame(c, r);
      const std::int32_t f = flags.InRange(c, r) ? flags(c, r) : 0;
      if ((f & (NodeFlag::TOUCH | NodeFlag::KEY)) != 0 && raw != 0) {
        const int n = std::snprintf(field, sizeof field, "%d", static_cast<int>(raw));
        if (n > 0) text.append(field, static_cast<std::size_t>(n));
      }
      if (c + 1 < cols) text.push_back(',');
    }
    text.push_back('\n');
  }
  return text;
}

std::string BuildCaptureText(const NodeMap& map) {
  std::lock_guard<std::recursive_mutex> lock(map.Mutex());
  return BuildCaptureText(map.GetRawFrame(), map.GetFlagsFrame(), map.Columns(), map.Rows());
}

bool AppendCaptureToFile(const std::string& path, std::string_view text) {
  if (path.empty()) return false;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return false;
  bool ok = true;
  std::size_t start = 0;
  while (ok && start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    const std::size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::size_t len = end - start;
    // A line that already ends in CR keeps a single CR.
    if (nl != std::string_view::npos && len > 0 && text[end - 1] == '\r') --len;
    if (len > 0 && std::fwrite(text.data() + start, 1, len, file) != len) ok = false;
    if (ok && nl != std::string_view::npos && std::fwrite("\r\n", 1, 2, file) != 2) ok = false;
    start = nl == std::string_view::npos ? text.size() : nl + 1;
  }
  if (std::fclose(file) != 0) ok = false;
  return ok;
}

namespace {

bool IsBlankChar(char ch) { return ch == ' ' || ch == '\t' || ch == '\r'; }

bool IsBlankLine(std::string_view line) {
  for (char ch : line)
    if (!IsBlankChar(ch)) return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Shows at most 32 bytes of an offending field, escaping control bytes.
std::string Quote(std::string_view field) {
  std::string out = "\"";
  const std::size_t shown = std::min<std::size_t>(field.size(), 32);
  for (std::size_t i = 0; i < shown; ++i) {
    const unsigned char ch = static_cast<unsigned char>(field[i]);
    if (ch < 0x20 || ch == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", ch);
      out += esc;
    } else {
      out += static_cast<char>(ch);
    }
  }
  if (field.size() > shown) out += "...";
  out += "\"";
  return out;
}

std::string Where(std::size_t line, std::size_t field) {
  return "line " + std::to_string(line) + ", field " + std::to_string(field);
}

// Rows of the block being read, as parsed fields.
struct Block {
  std::vector<std::vector<std::int32_t>> rows;
  std::size_t width = 0;
  std::size_t firstLine = 0;
};

NodeFrame ToFrame(const Block& block) {
  NodeFrame frame(static_cast<int>(block.width), static_cast<int>(block.rows.size()));
  for (std::size_t r = 0; r < block.rows.size(); ++r)
    for (std::size_t c = 0; c < block.rows[r].size(); ++c)
      frame(static_cast<int>(c), static_cast<int>(r)) = block.rows[r][c];
  return frame;
}

}  // namespace

bool ParseFrames(std::string_view text, std::vector<NodeFrame>& out, std::string& error, FrameShape shape) {
  out.clear();
  error.clear();
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  Block block;
  auto fail = [&](std::string message) {
    out.clear();
    error = std::move(message);
    return false;
  };
  auto shapeFits = [&] {
    if (shape.lines <= 0 || block.rows.empty() || block.rows.size() == static_cast<std::size_t>(shape.lines))
      return true;
    fail("the frame starting at line " + std::to_string(block.firstLine) + " has " + std::to_string(block.rows.size()) +
         " lines, but the configuration has " + std::to_string(shape.lines) + " X lines (one line each)");
    return false;
  };
  auto finishBlock = [&] {
    if (!block.rows.empty()) out.push_back(ToFrame(block));
    block.rows.clear();
    block.width = 0;
  };

  std::size_t lineNo = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    const std::size_t end = nl == std::string_view::npos ? text.size() : nl;
    const std::string_view line = text.substr(pos, end - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    ++lineNo;

    if (IsBlankLine(line)) {
      if (!shapeFits()) return false;
      finishBlock();
      continue;
    }
    if (block.rows.empty()) block.firstLine = lineNo;
    if (block.rows.size() >= static_cast<std::size_t>(kMaxFrameLines))
      return fail("line " + std::to_string(lineNo) + ": the frame starting at line " + std::to_string(block.firstLine) +
                  " has more than " + std::to_string(kMaxFrameLines) + " rows");

    std::vector<std::int32_t> row;
    std::size_t fieldStart = 0;
    std::size_t fieldNo = 0;
    while (true) {
      const std::size_t comma = line.find(',', fieldStart);
      const std::size_t fieldEnd = comma == std::string_view::npos ? line.size() : comma;
      const std::string_view raw = line.substr(fieldStart, fieldEnd - fieldStart);
      ++fieldNo;
      if (fieldNo > static_cast<std::size_t>(kMaxFrameLines))
        return fail(Where(lineNo, fieldNo) + ": more than " + std::to_string(kMaxFrameLines) + " columns");
      const std::string_view field = Trim(raw);
      std::int32_t value = 0;
      if (!field.empty()) {
        std::string_view digits = field;
        bool negative = false;
        if (digits.front() == '+' || digits.front() == '-') {
          negative = digits.front() == '-';
          digits.remove_prefix(1);
        }
        if (digits.empty() || !(digits.front() >= '0' && digits.front() <= '9'))
          return fail(Where(lineNo, fieldNo) + ": " + Quote(field) + " is not an integer");
        std::int64_t magnitude = 0;
        const char* first = digits.data();
        const char* last = digits.data() + digits.size();
        // Parse the digits as unsigned 64-bit to tell "too large" from "not a number".
        std::uint64_t u = 0;
        const auto [ptr, ec] = std::from_chars(first, last, u);
        if (ptr != last) return fail(Where(lineNo, fieldNo) + ": " + Quote(field) + " is not an integer");
        const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
        if (ec == std::errc::result_out_of_range || u > limit)
          return fail(Where(lineNo, fieldNo) + ": " + Quote(field) + " is out of the 32-bit integer range");
        magnitude = static_cast<std::int64_t>(u);
        value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
      }
      row.push_back(value);
      if (comma == std::string_view::npos) break;
      fieldStart = comma + 1;
    }
    if (shape.fields > 0 && row.size() != static_cast<std::size_t>(shape.fields))
      return fail("line " + std::to_string(lineNo) + " has " + std::to_string(row.size()) +
                  " fields, but the configuration has " + std::to_string(shape.fields) + " Y lines (one field each)");
    const std::size_t width = std::max(block.width, row.size());
    if (width * (block.rows.size() + 1) > static_cast<std::size_t>(kMaxFrameNodes))
      return fail("line " + std::to_string(lineNo) + ": the frame starting at line " + std::to_string(block.firstLine) +
                  " has more than " + std::to_string(kMaxFrameNodes) + " nodes");
    block.width = width;
    block.rows.push_back(std::move(row));
  }
  if (!shapeFits()) return false;
  finishBlock();
  return true;
}

}  // namespace varnex2::judging
